// Private options of muxers and encoders. Options that older library
// generations kept on every container or codec context ("muxrate", the
// scan-offset flag) belong to one muxer or encoder here; a generic option
// that no shared option set knows is tried on the muxer and encoders chosen
// so far, else on the first muxer or encoder that has it and takes the value,
// and reaches every file or stream whose muxer or encoder has it by name.
#include "FFmpeg/custom_ffmpeg.h"
#include "FFmpegLoader/owners.h"

namespace quillon {

namespace {

using PrivateAttempt = std::pair<const AVOption*, int>;

bool has_private_option(const AVClass* owner, const std::string& name)
{
    return owner && lib::av_opt_find(&owner, name.c_str(), nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ);
}

PrivateAttempt set_on_private(void* object, const std::string& name, const std::string& value)
{
    if (!object) return {nullptr, 0};
    const AVOption* option = lib::av_opt_find(object, name.c_str(), nullptr, 0, 0);
    if (!option) return {nullptr, 0};
    return {option, lib::av_opt_set(object, name.c_str(), value.c_str(), 0)};
}

// The private object of a container or codec context whose muxer, demuxer or
// codec has private options; none otherwise.
void* private_object_of(void* target)
{
    const AVClass* owner = *static_cast<const AVClass* const*>(target);
    if (owner == lib::avformat_get_class()) {
        auto* context = static_cast<AVFormatContext*>(target);
        const bool has_class = (context->oformat && context->oformat->priv_class) ||
                               (context->iformat && context->iformat->priv_class);
        return has_class ? context->priv_data : nullptr;
    }
    if (owner == lib::avcodec_get_class()) {
        auto* context = static_cast<AVCodecContext*>(target);
        return context->codec && context->codec->priv_class ? context->priv_data : nullptr;
    }
    return nullptr;
}

} // namespace

void* TCustomFFmpeg::private_holder(const AVCodec* codec)
{
    for (AVCodecContext* holder : generic_options.encoder_holders)
        if (holder->codec == codec) return holder->priv_data;
    AVCodecContext* holder = lib::avcodec_alloc_context3(codec);
    if (!holder) return nullptr;
    generic_options.encoder_holders.push_back(holder);
    return holder->priv_data;
}

void* TCustomFFmpeg::private_holder(const AVOutputFormat* format)
{
    for (AVFormatContext* holder : generic_options.muxer_holders)
        if (holder->oformat == format) return holder->priv_data;
    AVFormatContext* holder = nullptr;
    if (lib::avformat_alloc_output_context2(&holder, format, nullptr, nullptr) < 0 || !holder) return nullptr;
    generic_options.muxer_holders.push_back(holder);
    return holder->priv_data;
}

PrivateAttempt TCustomFFmpeg::set_private_option(const std::string& name, const std::string& value)
{
    PrivateAttempt attempt{nullptr, 0};
    for (const std::string* codec_name : {&video_codec_name, &audio_codec_name, &subtitle_codec_name}) {
        const AVCodec* codec = codec_name->empty() ? nullptr : lib::avcodec_find_encoder_by_name(codec_name->c_str());
        if (!codec || attempt.second < 0 || !has_private_option(codec->priv_class, name)) continue;
        attempt = set_private_on(private_holder(codec), name, value);
    }
    if (!attempt.first && forced_output_format && has_private_option(forced_output_format->priv_class, name))
        attempt = set_private_on(private_holder(forced_output_format), name, value);
    if (!attempt.first) attempt = set_on_first_accepting(name, value);
    return attempt;
}

// Neither the chosen encoders nor the chosen muxer have the option: the first
// encoder, else the first muxer, that has it and takes the value holds it. A
// value that every owner refuses reports the first refusal.
PrivateAttempt TCustomFFmpeg::set_on_first_accepting(const std::string& name, const std::string& value)
{
    PrivateAttempt refused{nullptr, 0};
    const auto consider = [&](const AVClass* owner, auto holder_of) {
        if (!has_private_option(owner, name)) return false;
        const PrivateAttempt attempt = set_private_on(holder_of(), name, value);
        if (attempt.first && attempt.second >= 0) {
            refused = attempt;
            return true;
        }
        if (!refused.first) refused = attempt;
        return false;
    };
    void* iterator = nullptr;
    while (const AVCodec* codec = lib::av_codec_iterate(&iterator))
        if (lib::av_codec_is_encoder(codec) && consider(codec->priv_class, [&] { return private_holder(codec); }))
            return refused;
    iterator = nullptr;
    while (const AVOutputFormat* format = lib::av_muxer_iterate(&iterator))
        if (consider(format->priv_class, [&] { return private_holder(format); })) return refused;
    return refused;
}

PrivateAttempt TCustomFFmpeg::set_private_on(void* holder, const std::string& name, const std::string& value)
{
    const PrivateAttempt attempt = set_on_private(holder, name, value);
    if (attempt.first && attempt.second >= 0) generic_options.private_names.emplace_back(holder, attempt.first->name);
    return attempt;
}

// Copies the private options set so far to the private object of `target`
// (a container or codec context), by name, where its muxer or encoder has an
// option of that name whose flags contain all of `flags`.
void TCustomFFmpeg::apply_private_options(void* target, int flags) const
{
    void* own = private_object_of(target);
    if (!own) return;
    for (const auto& [holder, name] : generic_options.private_names) {
        const AVOption* source = lib::av_opt_find(holder, name.c_str(), nullptr, 0, 0);
        const AVOption* option = lib::av_opt_find(own, name.c_str(), nullptr, 0, 0);
        if (!source || !option || (source->flags & flags) != flags || (option->flags & flags) != flags) continue;
        uint8_t* text = nullptr;
        if (lib::av_opt_get(holder, name.c_str(), 0, &text) < 0 || !text) continue;
        const LibraryMemoryPtr<uint8_t> owned(text);
        lib::av_opt_set(own, name.c_str(), reinterpret_cast<const char*>(text), 0);
    }
}

} // namespace quillon
