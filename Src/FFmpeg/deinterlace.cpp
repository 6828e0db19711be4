#include "FFmpeg/deinterlace.h"

#include <cstring>

namespace quillon {

namespace {

bool supported(const AVPixFmtDescriptor* descriptor)
{
    if (!descriptor) return false;
    if (descriptor->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL)) return false;
    for (int c = 0; c < descriptor->nb_components; ++c)
        if (descriptor->comp[c].depth != 8) return false;
    return true;
}

// Rows 0, 2, 4, ... are copied; every odd row becomes the mean of its
// neighbours (the last row, without one below, repeats the row above).
void deinterlace_plane(uint8_t* target, int target_stride, const uint8_t* source, int source_stride, int bytes,
                       int rows)
{
    for (int y = 0; y < rows; ++y) {
        uint8_t* out = target + static_cast<ptrdiff_t>(y) * target_stride;
        const uint8_t* in = source + static_cast<ptrdiff_t>(y) * source_stride;
        if (y % 2 == 0 || y + 1 >= rows) {
            std::memcpy(out, y % 2 == 0 ? in : in - source_stride, bytes);
            continue;
        }
        const uint8_t* above = in - source_stride;
        const uint8_t* below = in + source_stride;
        for (int x = 0; x < bytes; ++x) out[x] = static_cast<uint8_t>((above[x] + below[x] + 1) >> 1);
    }
}

} // namespace

bool deinterlace_picture(AVFrame* target, const AVFrame* source)
{
    const AVPixelFormat format = static_cast<AVPixelFormat>(source->format);
    const AVPixFmtDescriptor* descriptor = lib::av_pix_fmt_desc_get(format);
    if (!supported(descriptor) || target->format != source->format || target->width != source->width ||
        target->height != source->height)
        return false;
    int bytes[4] = {};
    if (lib::av_image_fill_linesizes(bytes, format, source->width) < 0) return false;
    for (int plane = 0; plane < 4 && source->data[plane]; ++plane) {
        const bool chroma = plane == 1 || plane == 2;
        const int rows = chroma ? AV_CEIL_RSHIFT(source->height, descriptor->log2_chroma_h) : source->height;
        deinterlace_plane(target->data[plane], target->linesize[plane], source->data[plane], source->linesize[plane],
                          bytes[plane], rows);
    }
    return true;
}

} // namespace quillon
