// The video filter graph of a re-encoded video stream: a "buffer" source fed
// with the hooked pictures, an automatic "scale" when the sizes differ, the
// user's graph text, and a "buffersink" that gives the encoder's pixel format.
#include <algorithm>

#include "FFmpeg/custom_ffmpeg.h"
#include "Formatting/formatting.h"

namespace quillon {

namespace {

constexpr AVRational microseconds{1, 1000000};

const char* const pad_conflict_text = "Cannot enable pad options and the filters which resize frame at the same time. "
                                      "(crop, rotate, scale, transpose, etc.)";

AVFilterContext* create_filter(AVFilterGraph* graph, const char* filter, const char* name, const std::string& args)
{
    AVFilterContext* context = nullptr;
    const AVFilter* definition = lib::avfilter_get_by_name(filter);
    if (!definition ||
        lib::avfilter_graph_create_filter(&context, definition, name, args.empty() ? nullptr : args.c_str(), nullptr,
                                          graph) < 0)
        return nullptr;
    return context;
}

} // namespace

bool TCustomFFmpeg::build_filter_graph(OutputStreamState& ost, InputStreamState& ist)
{
    if ((crop_top | crop_bottom | crop_left | crop_right) != 0) {
        last_error = "Cannot enable crop options and filters at the same time.";
        return false;
    }
    if (ist.filter_graph) return adopt_filter_output(ost, ist); // another output of the same source
    const AVCodecContext* decoder = ist.decoder;
    FilterGraphPtr graph(lib::avfilter_graph_alloc());
    if (!graph) return false;
    graph->nb_threads = 1;
    const AVRational aspect = decoder->sample_aspect_ratio.num ? decoder->sample_aspect_ratio : AVRational{0, 1};
    AVFilterContext* source = create_filter(
        graph.get(), "buffer", "src",
        printf_text("video_size=%dx%d:pix_fmt=%d:time_base=1/1000000:pixel_aspect=%d/%d", decoder->width,
                    decoder->height, static_cast<int>(decoder->pix_fmt), aspect.num, aspect.den));
    AVFilterContext* sink = create_filter(graph.get(), "buffersink", "out", "");
    if (!source || !sink) return false;
    const AVPixelFormat format = ost.encoder->pix_fmt; // the sink gives this format only
    if (lib::av_opt_set_bin(sink, "pix_fmts", reinterpret_cast<const uint8_t*>(&format), sizeof format,
                            AV_OPT_SEARCH_CHILDREN) < 0)
        return false;
    AVFilterContext* current = source;
    if (decoder->width + pad_left + pad_right != ost.encoder->width ||
        decoder->height + pad_top + pad_bottom != ost.encoder->height) {
        current = add_scale_filter(graph.get(), current, ost.encoder);
        if (!current) return false;
    }
    if (!link_user_filters(graph.get(), current, sink)) return false;
    graph->scale_sws_opts = lib::av_strdup(printf_text("flags=%d", scaler_flags()).c_str());
    if (lib::avfilter_graph_config(graph.get(), nullptr) < 0) return false;
    // A sample aspect ratio that the user's filters changed reaches the encoder before it opens.
    const AVRational filtered_aspect = lib::av_buffersink_get_sample_aspect_ratio(sink);
    if (filtered_aspect.num && av_cmp_q(filtered_aspect, aspect) != 0)
        ost.encoder->sample_aspect_ratio = filtered_aspect;
    ist.filter_graph = std::move(graph);
    ist.filter_source = source;
    ist.filter_sink = sink;
    ist.filtered_width = lib::av_buffersink_get_w(sink);
    ist.filtered_height = lib::av_buffersink_get_h(sink);
    return adopt_filter_output(ost, ist);
}

AVFilterContext* TCustomFFmpeg::add_scale_filter(AVFilterGraph* graph, AVFilterContext* current,
                                                 const AVCodecContext* encoder)
{
    const std::string args = printf_text("w=%d:h=%d:flags=%d", encoder->width - pad_left - pad_right,
                                         encoder->height - pad_top - pad_bottom, scaler_flags());
    AVFilterContext* scale = create_filter(graph, "scale", "scale", args);
    if (!scale || lib::avfilter_link(current, 0, scale, 0) < 0) return nullptr;
    return scale;
}

// The user's graph reads from "in" (the current end of the chain) and writes
// to "out" (the sink); without a graph text the chain goes straight to the sink.
bool TCustomFFmpeg::link_user_filters(AVFilterGraph* graph, AVFilterContext* current, AVFilterContext* sink)
{
    if (vfilters.empty()) return lib::avfilter_link(current, 0, sink, 0) >= 0;
    FilterInOutPtr outputs(lib::avfilter_inout_alloc());
    FilterInOutPtr inputs(lib::avfilter_inout_alloc());
    if (!outputs || !inputs) return false;
    outputs->name = lib::av_strdup("in");
    outputs->filter_ctx = current;
    inputs->name = lib::av_strdup("out");
    inputs->filter_ctx = sink;
    AVFilterInOut* in = inputs.release();
    AVFilterInOut* out = outputs.release();
    const int result = lib::avfilter_graph_parse_ptr(graph, vfilters.c_str(), &in, &out, nullptr);
    inputs.reset(in);
    outputs.reset(out);
    return result >= 0;
}

// The encoder takes the size the graph gives (plus the pad bands). With pads,
// that size must be the job's frame size.
bool TCustomFFmpeg::adopt_filter_output(OutputStreamState& ost, const InputStreamState& ist)
{
    if (lib::av_buffersink_get_format(ist.filter_sink) != ost.encoder->pix_fmt) return false;
    const int width = ist.filtered_width, height = ist.filtered_height;
    const bool padded = (pad_top | pad_bottom | pad_left | pad_right) != 0;
    if (padded && (width != frame_width || height != frame_height)) {
        last_error = pad_conflict_text;
        return false;
    }
    ost.encoder->width = width + pad_left + pad_right;
    ost.encoder->height = height + pad_top + pad_bottom;
    return true;
}

// 1 with the next picture of the graph (the stream's clock takes its time), -1 when it has none.
int TCustomFFmpeg::pull_filtered_picture(InputStreamState& ist, AVFrame* picture)
{
    if (lib::av_buffersink_get_frame(ist.filter_sink, picture) < 0) return -1;
    if (picture->pts != AV_NOPTS_VALUE)
        ist.pts = lib::av_rescale_q(picture->pts, lib::av_buffersink_get_time_base(ist.filter_sink), microseconds);
    return 1;
}

void TCustomFFmpeg::filter_and_send(InputStreamState& ist, int ist_index, AVFrame* frame)
{
    frame->pts = ist.pts; // the source's time base is microseconds
    if (lib::av_buffersrc_add_frame_flags(ist.filter_source, frame, AV_BUFFERSRC_FLAG_KEEP_REF) < 0) {
        log(0, "Error while feeding the filter graph");
        return;
    }
    send_filtered_pictures(ist, ist_index);
}

// Hands every picture the graph has ready to the outputs. A picture of
// another size than the graph was set up for (the source changed size) would
// not fit the encoder and is dropped.
void TCustomFFmpeg::send_filtered_pictures(InputStreamState& ist, int ist_index)
{
    FramePtr filtered(lib::av_frame_alloc());
    if (!filtered) throw FFmpegException("av_mallocz fail");
    while (pull_filtered_picture(ist, filtered.get()) > 0) {
        if (filtered->width == ist.filtered_width && filtered->height == ist.filtered_height)
            send_to_outputs(ist, ist_index, filtered.get());
        else
            log(0, printf_text("Filtered picture of %dx%d dropped: the filters were set up for %dx%d", filtered->width,
                               filtered->height, ist.filtered_width, ist.filtered_height));
        lib::av_frame_unref(filtered.get());
    }
}

void TCustomFFmpeg::free_filter_graphs()
{
    for (auto& ist : input_stream_states) {
        ist->filter_source = nullptr;
        ist->filter_sink = nullptr;
        ist->filter_graph.reset();
    }
}

} // namespace quillon
