// Run-time loading and binding of the media libraries and myutil.
#pragma once

#include <initializer_list>
#include <mutex>
#include <string>

namespace quillon {

// Library indexes, in loading order. The required set is what the engine,
// the component and the prober need.
enum class Library : int {
    avcodec = 0,
    avdevice = 1,
    avfilter = 2,
    avformat = 3,
    avutil = 4,
    swscale = 5,
    myutil = 6,
    sdl = 7,
    swresample = 8,
};
constexpr int library_count = 9;

class LibrarySet {
public:
    constexpr LibrarySet() = default;
    constexpr LibrarySet(std::initializer_list<Library> members)
    {
        for (Library l : members) bits_ |= 1u << static_cast<int>(l);
    }
    constexpr bool contains(Library l) const { return (bits_ >> static_cast<int>(l)) & 1u; }
    constexpr bool empty() const { return bits_ == 0; }

private:
    unsigned bits_ = 0;
};

inline constexpr LibrarySet required_libraries{Library::avcodec, Library::avfilter, Library::avformat,
                                               Library::avutil,  Library::swscale,  Library::myutil,
                                               Library::swresample};

// Hooks that the layers above install; the loader calls them after every
// successful load of avutil (log callback) and avformat (file protocol).
using LoadHook = void (*)();

// Stateless front of the process-wide library tables (one per process).
class TFFmpegLoader {
public:
    static void set_library_folder(const std::string& folder);
    static std::string library_folder();
    static std::string last_error();

    static bool load(LibrarySet set);
    static void unload(LibrarySet set);
    static bool all_loaded(LibrarySet set);
    static bool is_loaded(Library library);

    // File name of a library in the installed generation, e.g. "libavcodec.so.59".
    static std::string file_name(Library library);

    static void set_log_callback_hook(LoadHook hook);
    static void set_protocol_registration_hook(LoadHook hook);
};

// Guards every codec open and close, and stream-info probing, in the process.
std::mutex& codec_lock();

// Masks floating-point exceptions on the calling thread; every thread that
// runs library code calls it once before doing so.
void apply_float_setting();

} // namespace quillon
