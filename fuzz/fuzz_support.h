// What every fuzz target needs before its first input: the libraries loaded
// through the product's loader, their log silenced, and a private working
// folder for the files a run writes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace quillon::fuzz {

// Loads the libraries (aborts when that fails: no input could mean anything),
// silences their log, keeps allocations within the fuzzer's memory limit and
// makes a fresh working folder the current directory. Returns that folder.
std::filesystem::path prepare();

// Writes the bytes to the file, replacing it.
void write_file(const std::filesystem::path& file, const uint8_t* data, size_t size);

} // namespace quillon::fuzz
