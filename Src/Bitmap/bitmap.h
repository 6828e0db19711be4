// A 24-bit picture: rows of blue, green and red bytes, top row first, each row
// padded to a multiple of 4 bytes. The canvas lock guards the pixels against a
// reader on another thread; the class itself never takes it, so whoever
// writes or reads the pixels holds it for that one step.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

namespace quillon {

class TBitmap {
public:
    TBitmap() = default;
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    int Width() const { return width_; }
    int Height() const { return height_; }
    int Stride() const { return stride_; }
    bool Empty() const { return width_ == 0 || height_ == 0; }

    // Bytes per row for a width: 3 per pixel, rounded up to a multiple of 4.
    static int StrideFor(int width);

    // A new size makes the picture black; the same size keeps it. Negative
    // sizes count as 0.
    void SetSize(int width, int height);
    void FillBlack();
    // Takes the other picture's size and pixels.
    void Assign(const TBitmap& source);

    uint8_t* ScanLine(int row) { return pixels_.data() + static_cast<std::size_t>(row) * stride_; }
    const uint8_t* ScanLine(int row) const { return pixels_.data() + static_cast<std::size_t>(row) * stride_; }
    uint8_t* Bits() { return pixels_.data(); }
    const uint8_t* Bits() const { return pixels_.data(); }

    std::mutex& CanvasLock() const { return canvas_lock_; }

private:
    int width_ = 0, height_ = 0, stride_ = 0;
    std::vector<uint8_t> pixels_;
    mutable std::mutex canvas_lock_;
};

} // namespace quillon
