// The 24-bit picture.
#include "Bitmap/bitmap.h"

#include <algorithm>

namespace quillon {

int TBitmap::StrideFor(int width)
{
    return (std::max(width, 0) * 3 + 3) / 4 * 4;
}

void TBitmap::SetSize(int width, int height)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == width_ && height == height_) return;
    width_ = width;
    height_ = height;
    stride_ = StrideFor(width);
    pixels_.assign(static_cast<std::size_t>(stride_) * static_cast<std::size_t>(height_), 0);
}

void TBitmap::FillBlack()
{
    std::fill(pixels_.begin(), pixels_.end(), 0);
}

void TBitmap::Assign(const TBitmap& source)
{
    if (&source == this) return;
    width_ = source.width_;
    height_ = source.height_;
    stride_ = source.stride_;
    pixels_ = source.pixels_;
}

} // namespace quillon
