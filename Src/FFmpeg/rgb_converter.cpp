#include "FFmpeg/rgb_converter.h"

#include <algorithm>
#include <cstring>

#include "FFmpeg/stream_values.h"

namespace quillon {

namespace {

constexpr int rgb_scaler_flags = SWS_BICUBIC;

// A cached scaler between the two formats at one size, or none.
bool cached_scaler(ScalerPtr& scaler, int width, int height, AVPixelFormat from, AVPixelFormat to)
{
    SwsContext* context = lib::sws_getCachedContext(scaler.release(), width, height, from, width, height, to,
                                                    rgb_scaler_flags, nullptr, nullptr, nullptr);
    scaler.reset(context);
    return context != nullptr;
}

} // namespace

bool RgbConverter::convert_to_rgb(const AVFrame* picture)
{
    const AVPixelFormat format = static_cast<AVPixelFormat>(picture->format);
    if (!converted_ || converted_->width != picture->width || converted_->height != picture->height) {
        converted_ = allocate_picture(rgb_format, picture->width, picture->height);
        if (!converted_) return false;
    }
    if (!cached_scaler(to_rgb_scaler_, picture->width, picture->height, format, rgb_format)) return false;
    lib::sws_scale(to_rgb_scaler_.get(), picture->data, picture->linesize, 0, picture->height, converted_->data,
                   converted_->linesize);
    return true;
}

uint8_t* RgbConverter::current_rows(AVFrame* picture, int& stride)
{
    AVFrame* current = source_is_rgb_ ? picture : converted_.get();
    stride = current->linesize[0];
    return current->data[0];
}

bool RgbConverter::to_rgb(const AVFrame* picture)
{
    if (!picture || picture->width <= 0 || picture->height <= 0) return false;
    source_is_rgb_ = picture->format == rgb_format;
    if (!source_is_rgb_ && !convert_to_rgb(picture)) return false;
    bitmap_.SetSize(picture->width, picture->height);
    int stride = 0;
    const uint8_t* rows = current_rows(const_cast<AVFrame*>(picture), stride);
    const int row_bytes = std::min(picture->width * 3, bitmap_.Stride());
    for (int y = 0; y < picture->height; ++y)
        std::memcpy(bitmap_.ScanLine(y), rows + static_cast<ptrdiff_t>(y) * stride, row_bytes);
    return true;
}

bool RgbConverter::from_rgb(AVFrame* picture)
{
    if (!source_is_rgb_ && !converted_) return false;
    int stride = 0;
    uint8_t* rows = current_rows(picture, stride);
    const int height = std::min(picture->height, bitmap_.Height());
    const int row_bytes = std::min(picture->width * 3, bitmap_.Stride());
    for (int y = 0; y < height; ++y)
        std::memcpy(rows + static_cast<ptrdiff_t>(y) * stride, bitmap_.ScanLine(y), row_bytes);
    if (source_is_rgb_) return true;
    const AVPixelFormat format = static_cast<AVPixelFormat>(picture->format);
    if (!cached_scaler(from_rgb_scaler_, picture->width, picture->height, rgb_format, format)) return false;
    lib::sws_scale(from_rgb_scaler_.get(), converted_->data, converted_->linesize, 0, picture->height, picture->data,
                   picture->linesize);
    return true;
}

void RgbConverter::reset()
{
    bitmap_.SetSize(0, 0);
    converted_.reset();
    to_rgb_scaler_.reset();
    from_rgb_scaler_.reset();
    source_is_rgb_ = false;
}

} // namespace quillon
