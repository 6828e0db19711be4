// Fuzzed bytes as a media file: written under a name outside the C locale's
// character set, so the file-name layer's own I/O reads them; probed (file
// and stream information, a picture); then the first two seconds converted to
// a small MPEG-1 file. Anything but a clean success or a reported failure is
// a finding.
#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "FFmpeg/custom_ffmpeg.h"
#include "Probe/av_probe.h"
#include "fuzz_support.h"

using namespace quillon;

namespace {

const std::filesystem::path input_name = "entr\xc3\xa9" "e.media";
const std::filesystem::path output_name = "sortie-\xc3\xa9t\xc3\xa9.mpg";

void probe(const std::string& file)
{
    TAVProbe probe;
    if (!probe.LoadFile(file)) return;
    probe.InfoText();
    TFileStreamInfo info;
    probe.GetFileStreamInfo(info);
    if (probe.FirstVideoStream() >= 0) probe.GetFrameBitmap(-1, 0);
}

void convert(const std::string& file)
{
    TCustomFFmpeg engine;
    engine.prepare_job();
    try {
        if (!engine.open_input_file(file)) return;
        for (const auto& [name, value] : {std::pair{"vcodec", "mpeg1video"}, {"acodec", "mp2"}, {"s", "160x120"},
                                          {"r", "25"}, {"t", "2"}})
            engine.parse_option(name, value);
        if (engine.open_output_file(output_name.string()) < 1) return;
    } catch (const FFmpegException&) {
        return; // a refused setting is a reported failure
    }
    engine.start_job(false);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::prepare();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string file = (std::filesystem::current_path() / input_name).string();
    fuzz::write_file(file, data, size);
    probe(file);
    convert(file);
    std::error_code ignored;
    std::filesystem::remove(output_name, ignored);
    return 0;
}
