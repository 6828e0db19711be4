// Helpers shared by the suites.
#pragma once

#include <filesystem>
#include <string>

namespace quillon::test {

// The build tree (for tools, test libraries and generated media).
std::filesystem::path build_dir();

// Loads the required libraries once; fails the current test when that fails.
void load_libraries();

// A fresh, empty folder for one test, removed when the object goes away.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& name);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

} // namespace quillon::test
