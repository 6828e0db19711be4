// The libraries' log level on the engine's verbosity scale.
#pragma once

namespace quillon {

// Verbosity scale shared by the engine and the component: -1 quiet, 0 errors
// and warnings, 1 information, 2 debugging, 3 and above everything. Returns the
// installed libraries' level (AV_LOG_*) of the same meaning.
int library_log_level(int verbosity);

// Sets the libraries' process-wide log level to the given verbosity; nothing
// when avutil is not loaded.
void apply_library_log_level(int verbosity);

} // namespace quillon
