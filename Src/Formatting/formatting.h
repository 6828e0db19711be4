// Small formatting routines shared by the engine and the prober: file-open
// error texts, codec names, media type names, timestamps and metadata look-up.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "FFmpegLoader/ffmpeg_api.h"

namespace quillon {

// The error code the engine passes when an image sequence name lacks a
// frame-number pattern; the libraries never return it from an open.
inline constexpr int OPEN_ERROR_IMAGE_NAME_SYNTAX = AVERROR(EDOM);

// printf-style formatting into a std::string.
std::string printf_text(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The message for a failed open (or library call) of `subject` with the
// library's error code.
std::string format_open_error(std::string_view subject, int code);
// A library call that failed during a run: the open-error text when the code
// has a text of its own, else the subject and the libraries' text for the code
// (a full disk, a file size limit), which the catch-all "Error while opening
// file" would misname.
std::string format_run_error(std::string_view subject, int code);

// Codec name for display: "name(long name)" of the decoder (or encoder) for the
// id, else "mpeg2ts", else the given codec name, else the tag as text.
std::string codec_tag_text(AVCodecID id, uint32_t codec_tag, bool encoder, std::string_view codec_name = {});
std::string codec_tag_text(const AVCodecContext* context, bool encoder);
std::string codec_tag_text(const AVCodecParameters* parameters, bool encoder);

// "Video", "Audio", "Data", "Subtitle", "Attachment" or "Unknown".
std::string stream_type_name(int media_type);

// HH:MM:SS.mmm from microseconds; hours are not wrapped at 24.
std::string format_timestamp(int64_t microseconds);

// The value of the first entry with the key (case-insensitive, as the
// library matches by default), or the default text.
std::string metadata_text(const AVDictionary* metadata, const char* key, std::string_view default_text = {});

} // namespace quillon
