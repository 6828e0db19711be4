// Output file names: the format's extension, the base name and the "_(n)"
// suffix that keeps an existing file from being overwritten.
#include "ChoiceMapping/output_choices.h"

#include <cctype>
#include <filesystem>
#include <system_error>

namespace quillon {

bool FileExists(const std::string& file_name)
{
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(file_name, error));
}

std::string OutputExtension(int format)
{
    const auto list = OutputFormats();
    if (format < 0 || format >= int(list.size())) format = 0;
    std::string stem;
    for (char c : list[format].Tip.ShortName) stem += char(std::tolower(static_cast<unsigned char>(c)));
    return list[format].Target > 0 ? "_" + stem + ".mpg" : "." + stem;
}

std::string OutputBaseName(const std::string& source_file, const std::string& output_folder)
{
    const std::filesystem::path source(source_file);
    if (output_folder.empty()) return (source.parent_path() / source.stem()).string();
    std::string base = output_folder;
    if (base.back() != '/') base += '/';
    return base + source.stem().string();
}

std::string FreeOutputName(const std::string& base, const std::string& extension, const NameTaken& taken)
{
    std::string name = base + extension;
    for (int n = 1; taken && taken(name); ++n) name = base + "_(" + std::to_string(n) + ")" + extension;
    return name;
}

} // namespace quillon
