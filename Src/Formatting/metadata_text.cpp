// Metadata look-up with a default.
#include "Formatting/formatting.h"

namespace quillon {

std::string metadata_text(const AVDictionary* metadata, const char* key, std::string_view default_text)
{
    const AVDictionaryEntry* entry = lib::av_dict_get(metadata, key, nullptr, 0);
    return entry && entry->value ? std::string(entry->value) : std::string(default_text);
}

} // namespace quillon
