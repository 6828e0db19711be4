// Generic options: every codec, container and scaler option of the libraries,
// kept in option holders until files and streams are created.
#include "FFmpeg/custom_ffmpeg.h"
#include "FFmpeg/library_log_level.h"
#include "FFmpeg/system_text.h"
#include "FFmpegLoader/owners.h"

namespace quillon {
namespace {

// Where a codec option belongs, by media type (video, audio, data, subtitle,
// attachment); 0 matches every option.
constexpr int codec_type_masks[GenericOptions::media_type_count] = {
    AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, 0, AV_OPT_FLAG_SUBTITLE_PARAM, 0};

// The option record that was found (none when the name is unknown) and the
// library's result of setting it.
struct SetAttempt {
    const AVOption* option = nullptr;
    int result = 0;
};

SetAttempt set_on_holder(void* holder, const std::string& name, const std::string& value)
{
    const AVOption* option = lib::av_opt_find(holder, name.c_str(), nullptr, 0, 0);
    if (!option) return {};
    return {option, lib::av_opt_set(holder, name.c_str(), value.c_str(), 0)};
}

// Sets the option on the codec holder of every media type it belongs to,
// stopping at the first refusal.
SetAttempt set_on_codec_holders(const GenericOptions& holders, const std::string& name, const std::string& value)
{
    SetAttempt attempt;
    for (int type = 0; type < GenericOptions::media_type_count && attempt.result >= 0; ++type) {
        const AVOption* option =
            lib::av_opt_find(holders.codec[AVMEDIA_TYPE_VIDEO], name.c_str(), nullptr, codec_type_masks[type], 0);
        if (option) attempt = {option, lib::av_opt_set(holders.codec[type], name.c_str(), value.c_str(), 0)};
    }
    return attempt;
}

// "ab", "vb", "sxxx": the option without its media-type letter, on that type's holder.
SetAttempt set_by_type_prefix(const GenericOptions& holders, const std::string& name, const std::string& value)
{
    if (name.size() < 2) return {};
    int type = -1;
    switch (name.front()) {
    case 'a': type = AVMEDIA_TYPE_AUDIO; break;
    case 'v': type = AVMEDIA_TYPE_VIDEO; break;
    case 's': type = AVMEDIA_TYPE_SUBTITLE; break;
    default: return {};
    }
    return set_on_holder(holders.codec[type], name.substr(1), value);
}

} // namespace

bool TCustomFFmpeg::set_generic_option(const std::string& raw_name, const std::string& raw_value)
{
    const std::string name = trim_text(raw_name), value = trim_text(raw_value);
    if (name.empty() || value.empty() || !prepared()) return false;

    SetAttempt attempt = set_on_codec_holders(generic_options, name, value);
    if (!attempt.option) attempt = set_on_holder(generic_options.format, name, value);
    if (!attempt.option) attempt = set_on_holder(generic_options.scaler, name, value);
    if (!attempt.option) attempt = set_by_type_prefix(generic_options, name, value);
    if (!attempt.option) {
        const auto [option, result] = set_private_option(name, value);
        attempt = {option, result};
    }
    if (!attempt.option) return false;
    if (attempt.result < 0) {
        lib::av_log(nullptr, AV_LOG_ERROR, "Invalid value \"%s\" for option \"%s\"\n", value.c_str(), name.c_str());
        return false;
    }
    generic_options.set_names.emplace_back(attempt.option->name); // a private one is also in private_names

    // Library debugging output is only seen at the debugging verbosity.
    if (generic_options.codec[AVMEDIA_TYPE_VIDEO]->debug || generic_options.format->debug) {
        if (generic_options.verbosity_callback) generic_options.verbosity_callback(2);
        else apply_library_log_level(2);
    }
    return true;
}

bool TCustomFFmpeg::set_generic_option_int(const std::string& name, int value)
{
    return set_generic_option(name, std::to_string(value));
}

void TCustomFFmpeg::apply_generic_options(void* target, void* source, int flags) const
{
    if (!target || !source) return;
    for (const std::string& name : generic_options.set_names) {
        const AVOption* option = lib::av_opt_find(source, name.c_str(), nullptr, 0, 0);
        if (!option || (option->flags & flags) != flags) continue;
        uint8_t* text = nullptr;
        if (lib::av_opt_get(source, name.c_str(), 0, &text) < 0 || !text) continue;
        const LibraryMemoryPtr<uint8_t> owned(text);
        lib::av_opt_set(target, name.c_str(), reinterpret_cast<const char*>(text), 0);
    }
    apply_private_options(target, flags);
}

} // namespace quillon
