// The damaged-file corpus: for every container we read, a good generated clip
// damaged in ways real files are (cut short, bytes inverted, zeroed or
// overwritten, absurd values patched into the headers), and things that only
// look like media. The in-process and the command-line hardening suites share it.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "fixtures/container_table.h"

namespace quillon::test::corpus {

// One damaged file: how to make it from the good clip of its container.
struct Case {
    std::string label;
    std::function<void(const std::filesystem::path& good, const std::filesystem::path& damaged)> make;
};

// The containers the corpus covers: every one the fixture generator writes.
std::vector<fixtures::Container> containers();

// The clip every case of the container is made from.
fixtures::ClipSpec source_spec(fixtures::Container container);

// Damage common to every container, then the container's absurd header values.
std::vector<Case> cases(fixtures::Container container);

// Makes every case of the container from `good` into `folder`; every other
// file takes a name outside the C locale's character set, so it is read
// through the file-name layer's own I/O. Returns the files in case order.
std::vector<std::filesystem::path> make_files(fixtures::Container container, const std::filesystem::path& good,
                                              const std::filesystem::path& folder);

// Zero-length files, text files and folders, all named like videos.
std::vector<std::filesystem::path> make_not_media(const std::filesystem::path& good,
                                                  const std::filesystem::path& folder);

} // namespace quillon::test::corpus
