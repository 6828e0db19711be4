#include "probe/probe_media.h"

#include <algorithm>
#include <map>

#include "support/test_support.h"

namespace quillon::test {
namespace {

namespace fx = quillon::fixtures;

struct ClipRecipe {
    const char* file;
    fx::ClipSpec spec;
};

ClipRecipe recipe(Clip clip)
{
    fx::ClipSpec s;
    switch (clip) {
    case Clip::mp4: return {"clip.mp4", s};
    case Clip::ntsc_mp4:
        s.frame_rate = {30000, 1001};
        s.duration = 1;
        return {"ntsc.mp4", s};
    case Clip::wav:
        s.container = fx::Container::wav;
        s.video = false;
        return {"tone.wav", s};
    case Clip::ts_two:
        s.container = fx::Container::mpeg_ts;
        s.programs = 2;
        return {"two.ts", s};
    case Clip::png:
        s.container = fx::Container::png;
        s.audio = false;
        return {"still.png", s};
    case Clip::bgr_even:
    case Clip::bgr_odd:
        s.container = fx::Container::avi;
        s.video_codec = "rawvideo";
        s.pixel_format = "bgr24";
        s.width = clip == Clip::bgr_even ? 320 : 321;
        s.audio = false;
        s.duration = 1;
        return {clip == Clip::bgr_even ? "bgr320.avi" : "bgr321.avi", s};
    }
    return {"clip.mp4", s};
}

} // namespace

const std::filesystem::path& probe_media_folder()
{
    static const ScratchDir folder("probe-media"); // removed when the program ends
    return folder.path();
}

const std::filesystem::path& probe_clip(Clip clip)
{
    static std::map<Clip, std::filesystem::path> made;
    if (auto found = made.find(clip); found != made.end()) return found->second;
    const ClipRecipe r = recipe(clip);
    const std::filesystem::path path = probe_media_folder() / r.file;
    fx::make_clip(path, r.spec);
    return made.emplace(clip, path).first->second;
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
