// Per-library export tables: each entry names an export and stores its address.
#pragma once

#include <span>

#include "FFmpegLoader/ffmpeg_api.h"
#include "FFmpegLoader/loader.h"

namespace quillon::bindings {

struct Export {
    const char* name;
    void (*store)(void* address); // nullptr clears the binding
};

// The exports of one library in binding order; empty for a library without a binder.
std::span<const Export> exports_of(Library library);

} // namespace quillon::bindings
