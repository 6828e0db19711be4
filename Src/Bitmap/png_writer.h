// Writes a 24-bit picture as a PNG file through the libraries' PNG encoder.
#pragma once

#include <string>

#include "Bitmap/bitmap.h"

namespace quillon {

// Returns false with a message in `error` when the picture is empty or cannot
// be encoded or written. An existing file is replaced.
bool SaveBitmapAsPng(const TBitmap& bitmap, const std::string& file_name, std::string& error);

} // namespace quillon
