// Loads, binds and unloads the media libraries and myutil (dlopen/dlsym).
#include "FFmpegLoader/loader.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cassert>
#include <cfenv>
#include <fenv.h>
#include <stdexcept>

#include "FFmpegLoader/bindings.h"

namespace quillon {
namespace {

struct LibraryItem {
    Library index;
    const char* name;
    int version; // -1: no version suffix
};

// The library table, in index order. Versions are the installed headers' majors.
constexpr LibraryItem library_table[library_count] = {
    {Library::avcodec, "avcodec", LIBAVCODEC_VERSION_MAJOR},
    {Library::avdevice, "avdevice", LIBAVDEVICE_VERSION_MAJOR},
    {Library::avfilter, "avfilter", LIBAVFILTER_VERSION_MAJOR},
    {Library::avformat, "avformat", LIBAVFORMAT_VERSION_MAJOR},
    {Library::avutil, "avutil", LIBAVUTIL_VERSION_MAJOR},
    {Library::swscale, "swscale", LIBSWSCALE_VERSION_MAJOR},
    {Library::myutil, "myutil", -1},
    {Library::sdl, "SDL", -1},
    {Library::swresample, "swresample", LIBSWRESAMPLE_VERSION_MAJOR},
};

struct LibraryStatus {
    void* handle = nullptr;
    bool loaded = false; // every export bound
};

struct LoaderState {
    std::string last_error;
    std::string folder;
    LibraryStatus status[library_count];
    LoadHook log_callback_hook = nullptr;
    LoadHook protocol_hook = nullptr;
};

LoaderState& state()
{
    static LoaderState instance;
    return instance;
}

std::string format_text(const char* pattern, const std::string& a, const std::string& b,
                        const std::string& c = {})
{
    std::string text = pattern;
    for (const std::string* value : {&a, &b, &c}) {
        auto at = text.find("%s");
        if (at == std::string::npos) break;
        text.replace(at, 2, *value);
    }
    return text;
}

// dlerror() text of the last failure; kept when a fallback attempt follows.
std::string& last_dl_error()
{
    static std::string text;
    return text;
}

std::string system_message()
{
    const char* message = dlerror();
    if (message) last_dl_error() = message;
    return last_dl_error().empty() ? "unknown error" : last_dl_error();
}

bool is_file(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string folder_with_delimiter()
{
    std::string folder = state().folder;
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

// Loads from the folder when it holds the file, else by bare name through the
// system's search order. Dependencies of the library are resolved by the system.
// Modules stay mapped after unloading (RTLD_NODELETE): library threads or
// callbacks that outlive an unload must never jump into unmapped code.
void* open_path(const std::string& path)
{
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
}

// The folder of this loader library: our own libraries (myutil) live beside it.
std::string loader_folder()
{
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&open_path), &info) || !info.dli_fname) return {};
    std::string path = info.dli_fname;
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Loads from the folder when it holds the file, else by bare name through the
// system's search order, and last from beside the loader. Dependencies of the
// library are resolved by the system.
void* open_library(const std::string& folder, const std::string& file)
{
    if (!folder.empty() && is_file(folder + file)) return open_path(folder + file);
    if (void* handle = open_path(file)) return handle;
    const std::string error = system_message();
    const std::string beside = loader_folder();
    if (!beside.empty() && is_file(beside + file)) return open_path(beside + file);
    last_dl_error() = error;
    return nullptr;
}

// Binds every export of the library in list order; the first missing one throws.
void bind_exports(Library library, const std::string& file, void* handle)
{
    for (const bindings::Export& e : bindings::exports_of(library)) {
        dlerror();
        void* address = dlsym(handle, e.name);
        if (!address) throw std::runtime_error(format_text("Load function %s@%s error: %s", e.name, file, system_message()));
        e.store(address);
    }
}

void unbind_exports(Library library)
{
    for (const bindings::Export& e : bindings::exports_of(library)) e.store(nullptr);
}

void unload_one(Library library)
{
    LibraryStatus& s = state().status[static_cast<int>(library)];
    if (s.loaded) {
        unbind_exports(library);
        s.loaded = false;
    }
    if (s.handle) {
        dlclose(s.handle);
        s.handle = nullptr;
    }
}

bool open_module(Library library, LibraryStatus& s)
{
    const std::string file = TFFmpegLoader::file_name(library);
    const std::string folder = folder_with_delimiter();
    s.handle = open_library(folder, file);
    if (s.handle) return true;
    state().last_error = format_text("Load library %s error: %s", folder + file, system_message());
    return false;
}

void run_load_hooks(Library library)
{
    if (library == Library::avutil && state().log_callback_hook) state().log_callback_hook();
    if (library == Library::avformat && state().protocol_hook) state().protocol_hook();
}

bool load_one(Library library)
{
    LibraryStatus& s = state().status[static_cast<int>(library)];
    if (!s.handle && !open_module(library, s)) return false;
    if (!s.loaded) {
        try {
            bind_exports(library, TFFmpegLoader::file_name(library), s.handle);
            s.loaded = true;
        } catch (const std::exception& e) {
            state().last_error = e.what();
        }
    }
    if (!s.loaded) {
        unload_one(library);
        return false;
    }
    run_load_hooks(library);
    return true;
}

// Saves the start-up floating-point environment and masks exceptions on the
// main thread; the saved environment comes back at shut-down.
struct FloatSetting {
    std::fenv_t saved{};
    FloatSetting()
    {
        std::fegetenv(&saved);
        apply_float_setting();
    }
    ~FloatSetting() { std::fesetenv(&saved); }
};
FloatSetting float_setting;

} // namespace

void TFFmpegLoader::set_library_folder(const std::string& folder) { state().folder = folder; }
std::string TFFmpegLoader::library_folder() { return state().folder; }
std::string TFFmpegLoader::last_error() { return state().last_error; }

std::string TFFmpegLoader::file_name(Library library)
{
    const LibraryItem& item = library_table[static_cast<int>(library)];
    std::string file = std::string("lib") + item.name + ".so";
    if (item.version >= 0) file += "." + std::to_string(item.version);
    return file;
}

bool TFFmpegLoader::load(LibrarySet set)
{
    assert(!set.empty());
    for (const LibraryItem& item : library_table) {
        if (!set.contains(item.index)) continue;
        if (!load_one(item.index)) {
            unload(set);
            return false;
        }
    }
    return true;
}

void TFFmpegLoader::unload(LibrarySet set)
{
    assert(!set.empty());
    for (const LibraryItem& item : library_table)
        if (set.contains(item.index)) unload_one(item.index);
}

bool TFFmpegLoader::all_loaded(LibrarySet set)
{
    assert(!set.empty());
    for (const LibraryItem& item : library_table)
        if (set.contains(item.index) && !is_loaded(item.index)) return false;
    return true;
}

bool TFFmpegLoader::is_loaded(Library library)
{
    const LibraryStatus& s = state().status[static_cast<int>(library)];
    return s.handle && s.loaded;
}

void TFFmpegLoader::set_log_callback_hook(LoadHook hook) { state().log_callback_hook = hook; }
void TFFmpegLoader::set_protocol_registration_hook(LoadHook hook) { state().protocol_hook = hook; }

std::mutex& codec_lock()
{
    static std::mutex lock;
    return lock;
}

void apply_float_setting()
{
    // Library code must never trap on inexact, overflow or invalid results.
    fedisableexcept(FE_ALL_EXCEPT);
}

} // namespace quillon
