// Pictures to and from a 24-bit BGR bitmap: the custom hook draws on one, the
// preview shows one.
#pragma once

#include <memory>

#include "Bitmap/bitmap.h"
#include "FFmpegLoader/ffmpeg_api.h"
#include "FFmpegLoader/owners.h"

namespace quillon {

class RgbConverter {
public:
    static constexpr AVPixelFormat rgb_format = AV_PIX_FMT_BGR24;

    RgbConverter() = default;
    RgbConverter(const RgbConverter&) = delete;
    RgbConverter& operator=(const RgbConverter&) = delete;

    // Copies the picture into the bitmap, converting it unless it already is
    // BGR 24-bit. The bitmap takes the picture's size. False when no
    // conversion to BGR can be made for the picture's format.
    bool to_rgb(const AVFrame* picture);
    // Writes the bitmap back into the picture last given to to_rgb (the same
    // picture, still of the same size and format). False when no conversion
    // from BGR can be made.
    bool from_rgb(AVFrame* picture);

    TBitmap& bitmap() { return bitmap_; }
    // Whether a scaler exists (a BGR 24-bit source never needs one).
    bool has_scalers() const { return to_rgb_scaler_ || from_rgb_scaler_; }
    // Frees the buffers and scalers; the bitmap becomes empty.
    void reset();

private:
    bool convert_to_rgb(const AVFrame* picture);
    // Rows of the picture the bitmap mirrors: the picture itself or the converted copy.
    uint8_t* current_rows(AVFrame* picture, int& stride);

    TBitmap bitmap_;
    FramePtr converted_;
    ScalerPtr to_rgb_scaler_, from_rgb_scaler_;
    bool source_is_rgb_ = false;
};

} // namespace quillon
