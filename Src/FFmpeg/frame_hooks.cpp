// The hook stage, preview delivery and video filter graphs.
// The frame hooks, previews and filter graphs are not wired yet: pictures pass
// unchanged and a filter graph is refused with a clear message.
#include "FFmpeg/custom_ffmpeg.h"

namespace quillon {

void TCustomFFmpeg::hook_video_frame(InputStreamState&, AVFrame*) {}

void TCustomFFmpeg::deliver_preview(const AVFrame*, const OutputStreamState&) {}

bool TCustomFFmpeg::build_filter_graph(OutputStreamState&, InputStreamState&)
{
    last_error = "video filters are not available in this build";
    return false;
}

void TCustomFFmpeg::free_filter_graphs() {}

} // namespace quillon
