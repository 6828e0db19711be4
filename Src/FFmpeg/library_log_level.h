// The libraries' log level on the engine's verbosity scale.
#pragma once

namespace quillon {

// Verbosity scale shared by the engine and the component: -1 quiet, 0 errors
// and warnings, 1 information, 2 debugging, 3 and above everything. Returns the
// installed libraries' level (AV_LOG_*) of the same meaning.
int library_log_level(int verbosity);

// The verbosity of a library message level (AV_LOG_*): quiet -1, panic to
// warning 0, information 1, verbose and debugging 2, trace 3.
int verbosity_of_library_level(int level);

// Sets the libraries' process-wide log level to the given verbosity and caches
// the level the library then reports; nothing when avutil is not loaded.
void apply_library_log_level(int verbosity);

// The library level (AV_LOG_*) cached by the last apply_library_log_level, so
// that the log callback filters without calling back into the library.
// Starts at AV_LOG_INFO, the libraries' own default.
int cached_library_log_level();

} // namespace quillon
