// Display names of codecs and media types.
#include <algorithm>

#include "Formatting/formatting.h"

namespace quillon {
namespace {

std::string_view trimmed(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

std::string codec_name_text(const AVCodec* codec)
{
    std::string text = codec->name;
    const std::string_view long_name = trimmed(codec->long_name ? codec->long_name : "");
    if (!long_name.empty()) text += "(" + std::string(long_name) + ")";
    return text;
}

bool printable(uint32_t tag)
{
    for (int shift = 0; shift < 32; shift += 8) {
        const uint32_t c = (tag >> shift) & 0xff;
        if (c < 32 || c > 126) return false;
    }
    return true;
}

// The four tag bytes, lowest first, then the tag as a number.
std::string tag_text(uint32_t tag)
{
    if (!printable(tag)) return printf_text("0x%04x", tag);
    return printf_text("%c%c%c%c / 0x%04X", static_cast<char>(tag & 0xff), static_cast<char>((tag >> 8) & 0xff),
                       static_cast<char>((tag >> 16) & 0xff), static_cast<char>((tag >> 24) & 0xff), tag);
}

} // namespace

std::string codec_tag_text(AVCodecID id, uint32_t codec_tag, bool encoder, std::string_view codec_name)
{
    const AVCodec* codec = encoder ? lib::avcodec_find_encoder(id) : lib::avcodec_find_decoder(id);
    if (codec) return codec_name_text(codec);
    if (id == AV_CODEC_ID_MPEG2TS) return "mpeg2ts";
    if (!trimmed(codec_name).empty()) return std::string(trimmed(codec_name));
    return tag_text(codec_tag);
}

std::string codec_tag_text(const AVCodecContext* context, bool encoder)
{
    return codec_tag_text(context->codec_id, context->codec_tag, encoder);
}

std::string codec_tag_text(const AVCodecParameters* parameters, bool encoder)
{
    return codec_tag_text(parameters->codec_id, parameters->codec_tag, encoder);
}

std::string stream_type_name(int media_type)
{
    switch (media_type) {
    case AVMEDIA_TYPE_VIDEO: return "Video";
    case AVMEDIA_TYPE_AUDIO: return "Audio";
    case AVMEDIA_TYPE_DATA: return "Data";
    case AVMEDIA_TYPE_SUBTITLE: return "Subtitle";
    case AVMEDIA_TYPE_ATTACHMENT: return "Attachment";
    default: return "Unknown";
    }
}

} // namespace quillon
