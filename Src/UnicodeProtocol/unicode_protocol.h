// TEMPORARY stand-in until the file-name layer lands.
#pragma once
#include <memory>
#include <string>
#include "FFmpegLoader/ffmpeg_api.h"
namespace quillon::unicode {
std::string to_library_file_name(const std::string& name);
int open_input(AVFormatContext** context, const std::string& name, const AVInputFormat* format, AVDictionary** options);
void close_input(AVFormatContext** context);
int open_output(AVIOContext** pb, const std::string& name);
void close_output(AVIOContext** pb);
struct InputClose { void operator()(AVFormatContext* c) const { close_input(&c); } };
using InputFormatPtr = std::unique_ptr<AVFormatContext, InputClose>;
}
