// The libraries' log callback: filters by the cached library level, joins the
// pieces of a line per thread, and offers every complete line to each live
// component, which hands it to the task whose thread printed it.
#pragma once

#include <cstdarg>

namespace quillon {

void library_log_callback(void* context, int level, const char* format, va_list args);

// True on a thread that is inside the callback (it holds the registry lock,
// so it must not run hand-offs that could log again).
bool inside_library_log_callback();

// Makes the loader install the callback whenever avutil is bound, and installs
// it at once when avutil is bound already.
void install_library_log_callback();

} // namespace quillon
