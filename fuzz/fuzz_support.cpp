#include "fuzz_support.h"

extern "C" {
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "FFmpegLoader/loader.h"

namespace quillon::fuzz {

namespace {

void no_log(void*, int, const char*, va_list) {}

// A single allocation above this is refused by the libraries (they report
// ENOMEM), rather than reaching the fuzzer's malloc limit and counting as a crash:
// absurd sizes in a header are expected here, not faults.
constexpr size_t largest_allocation = size_t{512} << 20;

} // namespace

std::filesystem::path prepare()
{
    TFFmpegLoader::set_library_folder(QUILLON_LIBRARY_DIR);
    if (!TFFmpegLoader::load(required_libraries)) {
        std::fprintf(stderr, "cannot load the media libraries: %s\n", TFFmpegLoader::last_error().c_str());
        std::abort();
    }
    // The loader opened the same shared objects this program links, so these
    // settings reach the libraries the product code calls.
    av_log_set_callback(no_log);
    av_max_alloc(largest_allocation);
    static char folder[] = "/tmp/quillon-fuzz-XXXXXX";
    if (!mkdtemp(folder) || chdir(folder) != 0) std::abort();
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    });
    return folder;
}

void write_file(const std::filesystem::path& file, const uint8_t* data, size_t size)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

} // namespace quillon::fuzz
