// The layer's own I/O for "unicode:utf8:" names: a custom AVIOContext over a
// file descriptor.
#pragma once

#include <string>

#include "FFmpegLoader/ffmpeg_api.h"

namespace quillon::unicode_io {

// The file path inside a library name: the text after its first two
// colon-ended parts ("unicode:" and "utf8:").
std::string path_of(const std::string& library_name);

// Opens the path of the name. Read access opens an existing file only;
// write access creates the file or truncates an existing one.
int open(AVIOContext** stream, const std::string& library_name, int flags);

// True for a stream this layer opened.
bool owns(const AVIOContext* stream);

// Flushes a writing stream, closes the file and frees the stream; returns the
// first error of the stream's life, or 0.
int close(AVIOContext** stream);

} // namespace quillon::unicode_io
