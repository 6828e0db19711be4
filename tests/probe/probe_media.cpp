#include "probe/probe_media.h"

#include <algorithm>

#include "support/test_support.h"

namespace quillon::test {
namespace {

namespace fx = quillon::fixtures;

fx::ClipSpec spec(fx::Container container)
{
    fx::ClipSpec s;
    s.container = container;
    return s;
}

ProbeMedia make_media(const std::filesystem::path& folder)
{
    ProbeMedia m;
    m.folder = folder;

    m.mp4 = m.folder / "clip.mp4";
    fx::make_clip(m.mp4, spec(fx::Container::mp4));

    m.ntsc_mp4 = m.folder / "ntsc.mp4";
    fx::ClipSpec ntsc = spec(fx::Container::mp4);
    ntsc.frame_rate = {30000, 1001};
    ntsc.duration = 1;
    fx::make_clip(m.ntsc_mp4, ntsc);

    m.wav = m.folder / "tone.wav";
    fx::ClipSpec wav = spec(fx::Container::wav);
    wav.video = false;
    fx::make_clip(m.wav, wav);

    m.ts_two = m.folder / "two.ts";
    fx::ClipSpec ts = spec(fx::Container::mpeg_ts);
    ts.programs = 2;
    fx::make_clip(m.ts_two, ts);

    m.png = m.folder / "still.png";
    fx::ClipSpec png = spec(fx::Container::png);
    png.audio = false;
    fx::make_clip(m.png, png);

    for (auto [path, width] : {std::pair{&m.bgr_even, 320}, std::pair{&m.bgr_odd, 321}}) {
        *path = m.folder / ("bgr" + std::to_string(width) + ".avi");
        fx::ClipSpec raw = spec(fx::Container::avi);
        raw.video_codec = "rawvideo";
        raw.pixel_format = "bgr24";
        raw.width = width;
        raw.audio = false;
        raw.duration = 1;
        fx::make_clip(*path, raw);
    }
    return m;
}

} // namespace

const ProbeMedia& probe_media()
{
    static const ScratchDir folder("probe-media"); // removed when the program ends
    static const ProbeMedia media = make_media(folder.path());
    return media;
}

int frame_number_of(const TBitmap& bitmap)
{
    return fx::read_frame_number(bitmap.Bits(), bitmap.Width(), bitmap.Height(), bitmap.Stride());
}

bool all_black(const TBitmap& bitmap)
{
    const uint8_t* bytes = bitmap.Bits();
    return std::all_of(bytes, bytes + static_cast<std::ptrdiff_t>(bitmap.Stride()) * bitmap.Height(),
                       [](uint8_t b) { return b == 0; });
}

} // namespace quillon::test
