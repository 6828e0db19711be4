// Sanitizer defaults for suites that load the media libraries at run time.
//
// The leak checker of this tool chain, when it intercepts __tls_get_addr,
// guesses the bounds of the thread-local block a dlopen'ed library receives
// from a block header this C library no longer writes; depending on where a
// block lands it scans garbage and crashes. Without the interception the
// blocks are still found through the thread's own vector of them, so leak
// checking loses nothing.
extern "C" const char* __asan_default_options()
{
    return "intercept_tls_get_addr=0";
}
