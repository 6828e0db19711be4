// Copies recorded generic options onto a library context (replaced by the option module).
#include "FFmpeg/custom_ffmpeg.h"

namespace quillon {
void TCustomFFmpeg::apply_generic_options(void* target, void* source, int flags)
{
    for (const std::string& name : generic_options.set_names) {
        const AVOption* option = lib::av_opt_find(source, name.c_str(), nullptr, 0, AV_OPT_SEARCH_CHILDREN);
        if (!option || (option->flags & flags) != flags) continue;
        uint8_t* value = nullptr;
        if (lib::av_opt_get(source, name.c_str(), AV_OPT_SEARCH_CHILDREN, &value) >= 0 && value)
            lib::av_opt_set(target, name.c_str(), reinterpret_cast<char*>(value), AV_OPT_SEARCH_CHILDREN);
        lib::av_free(value);
    }
}
} // namespace quillon
