// The video output path: frame-rate sync by dropping or duplicating, crop,
// scale and pad into the encoder's picture, and encoding.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "FFmpeg/custom_ffmpeg.h"
#include "FFmpeg/stream_values.h"
#include "Formatting/formatting.h"

namespace quillon {

namespace {
// The longest stretch of output one picture may fill with copies of itself.
constexpr double longest_picture_seconds = 3600;
} // namespace

// Copies of one picture reach at most the recording limit and an hour of
// output: a damaged timestamp far ahead must not keep the job copying one
// picture without end.
int TCustomFFmpeg::duplicate_limit(const OutputStreamState& ost, double time_base) const
{
    double end = double(ost.sync_opts) + longest_picture_seconds / time_base;
    if (recording_time != NO_RECORDING_LIMIT) end = std::min(end, double(recording_time) / 1e6 / time_base);
    return static_cast<int>(std::clamp(std::ceil(end - double(ost.sync_opts)), 1.0, double(INT_MAX)));
}

// How many output frames the picture stands for (0 drops it).
int TCustomFFmpeg::video_frame_count(AVFormatContext* file, OutputStreamState& ost)
{
    const AVRational base = ost.encoder->time_base;
    const double time_base = double(base.num) / base.den;
    const double position = double(ost.sync_source->pts - start_time) / 1e6;
    const bool sync = video_sync_method > 0 || (video_sync_method < 0 && time_base > 0.001);
    int count = 1;
    if (!sync) {
        ost.sync_opts = std::llround(position / time_base);
    } else {
        const double vdelta = position / time_base - double(ost.sync_opts);
        const bool variable_rate = video_sync_method == 2 ||
                                   (video_sync_method < 0 && (file->oformat->flags & AVFMT_VARIABLE_FPS));
        if (vdelta < -1.1) count = 0;
        else if (variable_rate) {
            if (vdelta <= -0.6) count = 0;
            else if (vdelta > 0.6) ost.sync_opts = std::llround(position / time_base);
        } else if (vdelta > 1.1) {
            count = static_cast<int>(std::min(std::round(vdelta), double(duplicate_limit(ost, time_base))));
        }
        if (count == 0) {
            drop_count++;
            if (verbose > 2) log(1, "*** drop!");
        } else if (count > 1) {
            dup_count += count - 1;
            if (verbose > 2) log(1, printf_text("*** %d dup!", count - 1));
        }
    }
    return std::min(count, max_frames[0] - ost.frame_number);
}

// A picture that shows a window of another one, sharing its buffers.
FramePtr TCustomFFmpeg::picture_window(const AVFrame* source, int top, int left, int width, int height) const
{
    FramePtr view(lib::av_frame_alloc());
    if (!view || lib::av_frame_ref(view.get(), source) < 0) return nullptr;
    const AVPixFmtDescriptor* descriptor = lib::av_pix_fmt_desc_get(static_cast<AVPixelFormat>(source->format));
    if (!descriptor || (descriptor->flags & AV_PIX_FMT_FLAG_BITSTREAM)) return nullptr;
    for (int plane = 0; plane < 4 && view->data[plane]; ++plane) {
        const bool chroma = plane == 1 || plane == 2;
        const int y = chroma ? top >> descriptor->log2_chroma_h : top;
        const int x = chroma ? left >> descriptor->log2_chroma_w : left;
        int step = 1; // bytes between horizontally neighbouring pixels of this plane
        for (int c = 0; c < descriptor->nb_components; ++c)
            if (descriptor->comp[c].plane == plane) {
                step = descriptor->comp[c].step;
                break;
            }
        view->data[plane] += static_cast<ptrdiff_t>(y) * view->linesize[plane] + static_cast<ptrdiff_t>(x) * step;
    }
    view->width = width;
    view->height = height;
    return view;
}

// Paints the pad bands of a planar YUV picture in the pad colour.
void TCustomFFmpeg::paint_pad_borders(AVFrame* picture, const OutputStreamState& ost) const
{
    const AVPixFmtDescriptor* descriptor = lib::av_pix_fmt_desc_get(static_cast<AVPixelFormat>(picture->format));
    if (!descriptor || !(descriptor->flags & AV_PIX_FMT_FLAG_PLANAR) || (descriptor->flags & AV_PIX_FMT_FLAG_RGB)) return;
    for (int plane = 0; plane < 3 && picture->data[plane]; ++plane) {
        const int shift_x = plane ? descriptor->log2_chroma_w : 0;
        const int shift_y = plane ? descriptor->log2_chroma_h : 0;
        const uint8_t colour = static_cast<uint8_t>(pad_color[plane] & 0xff);
        const int width = AV_CEIL_RSHIFT(picture->width, shift_x);
        const int height = AV_CEIL_RSHIFT(picture->height, shift_y);
        const int top = ost.pad_top >> shift_y, bottom = ost.pad_bottom >> shift_y;
        const int left = ost.pad_left >> shift_x, right = ost.pad_right >> shift_x;
        for (int y = 0; y < height; ++y) {
            uint8_t* row = picture->data[plane] + static_cast<ptrdiff_t>(y) * picture->linesize[plane];
            if (y < top || y >= height - bottom) {
                std::memset(row, colour, width);
                continue;
            }
            std::memset(row, colour, left);
            std::memset(row + width - right, colour, right);
        }
    }
}

// A damaged or changing stream can decode pictures of another size or format
// than the picture path was set up for: such a picture is first scaled to the
// set-up layout, so cropping and the scaler never read past a plane. Null
// when it cannot be converted.
const AVFrame* TCustomFFmpeg::fit_to_source_layout(OutputStreamState& ost, const AVFrame* input, FramePtr& holder)
{
    const bool fits = input->width == ost.source_width && input->height == ost.source_height &&
                      input->format == ost.source_format;
    if (fits || ost.source_width <= 0 || ost.source_height <= 0 || ost.source_format < 0) return input;
    ost.refit_scaler.reset(lib::sws_getCachedContext(
        ost.refit_scaler.release(), input->width, input->height, static_cast<AVPixelFormat>(input->format),
        ost.source_width, ost.source_height, static_cast<AVPixelFormat>(ost.source_format), scaler_flags(), nullptr,
        nullptr, nullptr));
    holder = allocate_picture(static_cast<AVPixelFormat>(ost.source_format), ost.source_width, ost.source_height);
    if (!ost.refit_scaler || !holder) return nullptr;
    lib::sws_scale(ost.refit_scaler.get(), input->data, input->linesize, 0, input->height, holder->data,
                   holder->linesize);
    lib::av_frame_copy_props(holder.get(), input);
    return holder.get();
}

// Crop, scale and pad the decoded picture into what the encoder takes.
FramePtr TCustomFFmpeg::prepare_video_picture(OutputStreamState& ost, const AVFrame* decoded)
{
    FramePtr refitted;
    const AVFrame* input = using_vfilters ? decoded : fit_to_source_layout(ost, decoded, refitted);
    if (!input) {
        log(0, printf_text("a picture of %dx%d could not be converted", decoded->width, decoded->height));
        return nullptr;
    }
    FramePtr formatted;
    if (ost.video_crop && !using_vfilters) {
        formatted = picture_window(input, ost.crop_top, ost.crop_left, input->width - crop_left - crop_right,
                                   input->height - crop_top - crop_bottom);
        if (!formatted) {
            if (exit_on_error) throw FFmpegException("error cropping picture");
            log(0, "error cropping picture");
            return nullptr;
        }
    } else {
        formatted.reset(lib::av_frame_clone(input));
    }
    const bool scale = ost.video_resample && !using_vfilters; // the filter graph has scaled already
    if (!ost.video_pad && !scale) return formatted;

    if (lib::av_frame_make_writable(ost.temp_picture.get()) < 0) throw FFmpegException("Video encoding failed");
    AVFrame* target = ost.temp_picture.get();
    const int inner_width = target->width - ost.pad_left - ost.pad_right;
    const int inner_height = target->height - ost.pad_top - ost.pad_bottom;
    FramePtr inner = ost.video_pad ? picture_window(target, ost.pad_top, ost.pad_left, inner_width, inner_height) : nullptr;
    if (ost.video_pad && !inner) {
        if (exit_on_error) throw FFmpegException("error padding picture");
        log(0, "error padding picture");
        return nullptr;
    }
    AVFrame* destination = inner ? inner.get() : target;
    if (scale) {
        lib::sws_scale(ost.scaler.get(), formatted->data, formatted->linesize, 0, ost.resample_height, destination->data,
                       destination->linesize);
    } else {
        lib::av_image_copy(destination->data, destination->linesize, const_cast<const uint8_t**>(formatted->data),
                           formatted->linesize, static_cast<AVPixelFormat>(target->format), inner_width, inner_height);
    }
    if (ost.video_pad) paint_pad_borders(target, ost);
    FramePtr result(lib::av_frame_clone(target));
    if (result) lib::av_frame_copy_props(result.get(), input);
    return result;
}

int TCustomFFmpeg::write_video(AVFormatContext* file, OutputStreamState& ost, InputStreamState& ist, AVFrame* picture)
{
    const int count = video_frame_count(file, ost);
    if (count <= 0) return 0;
    FramePtr final_picture = prepare_video_picture(ost, picture);
    if (!final_picture) return 0;
    AVCodecContext* encoder = ost.encoder;
    final_picture->interlaced_frame = picture->interlaced_frame;
    if (generic_options.codec[AVMEDIA_TYPE_VIDEO] &&
        (generic_options.codec[AVMEDIA_TYPE_VIDEO]->flags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME)))
        final_picture->top_field_first = top_field_first == -1 ? picture->top_field_first : top_field_first;
    final_picture->quality = same_quality ? ist.quality : encoder->global_quality;
    final_picture->pict_type = AV_PICTURE_TYPE_NONE;
    final_picture->sample_aspect_ratio = encoder->sample_aspect_ratio;

    int written = 0;
    for (int i = 0; i < count; ++i) {
        wait_while_paused();
        if (stop_requested) break;
        final_picture->pts = ost.sync_opts;
        if (preview_flags != 0) deliver_preview(final_picture.get(), ost);
        const int size = encode_and_write(file, ost, final_picture.get());
        if (size > 0) written = size;
        ost.sync_opts++;
        ost.frame_number++;
    }
    return written;
}

} // namespace quillon
