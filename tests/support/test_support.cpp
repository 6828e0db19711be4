#include "support/test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "FFmpegLoader/loader.h"

namespace quillon::test {

std::filesystem::path build_dir()
{
    if (const char* dir = std::getenv("QUILLON_BUILD_DIR")) return dir;
    return QUILLON_BUILD_DIR;
}

void load_libraries()
{
    TFFmpegLoader::set_library_folder((build_dir() / "lib").string());
    ASSERT_TRUE(TFFmpegLoader::load(required_libraries)) << TFFmpegLoader::last_error();
}

ScratchDir::ScratchDir(const std::string& name)
{
    path_ = std::filesystem::temp_directory_path() /
            ("quillon-" + name + "-" + std::to_string(getpid()) + "-" + std::to_string(reinterpret_cast<uintptr_t>(this)));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

} // namespace quillon::test
