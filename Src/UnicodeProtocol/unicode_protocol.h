// File names for the media libraries, and the "unicode:utf8:" I/O layer.
//
// The libraries take file names as 8-bit text in the locale's character set.
// A name that the character set cannot carry byte for byte is handed over as
// "unicode:utf8:" + its UTF-8 form, and the layer opens it with its own I/O
// (a custom AVIOContext). Names that are URLs of a known network protocol pass
// unchanged. Every place that gives a file name to the libraries opens it
// through the functions below.
#pragma once

#include <string>
#include <string_view>

#include "FFmpegLoader/ffmpeg_api.h"

namespace quillon {

inline constexpr std::string_view UNICODE_PROTOCOL_PREFIX = "unicode:utf8:";
inline constexpr std::string_view KNOWN_PROTOCOLS = ":unicode:stream:gopher:http:pipe:rtp:tcp:udp:";

// ---- Names -------------------------------------------------------------------
// Names are UTF-8 text, the form the program keeps them in.
bool NeedsUnicodeProtocol(const std::string& file_name);
// The name for the libraries: unchanged, or "unicode:utf8:" + the name.
// A name that is already in library form comes back unchanged.
std::string ToLibraryFileName(const std::string& file_name);
// The program's name for a name the libraries hold.
std::string FromLibraryFileName(const std::string& library_name);

// ---- Registration ------------------------------------------------------------
// Prepares the layer for the loaded libraries; idempotent. The loader calls it
// after every successful load of the container library.
void RegisterUnicodeProtocol();
// How many "unicode" entries the layer's protocol table holds (0 or 1).
int UnicodeProtocolRegistrations();

// ---- Opening and closing by name --------------------------------------------
// Each takes the program's name (or a name already in library form).

// Opens an input like avformat_open_input: *context may be preallocated; on
// failure it is freed and set to null, and the error code is returned.
int open_input_context(AVFormatContext** context, const std::string& file_name, const AVInputFormat* format,
                       AVDictionary** options);
// Closes an input opened by open_input_context, including the layer's own I/O,
// which avformat_close_input leaves alone. Sets *context to null.
void close_input_context(AVFormatContext** context);

// Opens a byte stream with AVIO_FLAG_READ, AVIO_FLAG_WRITE or AVIO_FLAG_READ_WRITE.
// Writing replaces an existing file.
int open_byte_stream(AVIOContext** stream, const std::string& file_name, int flags);
// Flushes and closes a stream opened by open_byte_stream; returns the first
// write error, if any. Sets *stream to null.
int close_byte_stream(AVIOContext** stream);

// Lets the libraries open further files of this context (image sequences,
// segments) through the layer too. open_input_context does it itself; an
// output context calls it before writing.
void install_unicode_io(AVFormatContext* context);

} // namespace quillon
