// Opening inputs and byte streams by name, and the layer's registration.
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "FFmpegLoader/loader.h"
#include "UnicodeProtocol/unicode_io.h"
#include "UnicodeProtocol/unicode_protocol.h"

namespace quillon {
namespace {

using OpenCallback = decltype(AVFormatContext::io_open);
using CloseCallback = decltype(AVFormatContext::io_close2);

// The layer's protocol table, and the libraries' own callbacks for the further
// files a format context opens, which the layer hands every other name to.
struct ProtocolTable {
    std::mutex lock;
    std::vector<std::string> names;
    std::atomic<OpenCallback> default_open = nullptr;
    std::atomic<CloseCallback> default_close = nullptr;
};

ProtocolTable& table()
{
    static ProtocolTable instance;
    return instance;
}

bool is_unicode_name(const std::string& library_name)
{
    return library_name.starts_with(UNICODE_PROTOCOL_PREFIX);
}

// Reads the libraries' default callbacks from a fresh context.
void capture_default_callbacks(ProtocolTable& t)
{
    AVFormatContext* probe = lib::avformat_alloc_context();
    if (!probe) return;
    t.default_open.store(probe->io_open);
    t.default_close.store(probe->io_close2);
    lib::avformat_free_context(probe);
}

int open_nested(AVFormatContext* context, AVIOContext** stream, const char* url, int flags, AVDictionary** options)
{
    const std::string name = url ? url : "";
    if (is_unicode_name(name)) return unicode_io::open(stream, name, flags);
    const OpenCallback fallback = table().default_open.load();
    return fallback ? fallback(context, stream, url, flags, options) : lib::avio_open2(stream, url, flags, nullptr, options);
}

int close_nested(AVFormatContext* context, AVIOContext* stream)
{
    if (unicode_io::owns(stream)) return unicode_io::close(&stream);
    const CloseCallback fallback = table().default_close.load();
    return fallback ? fallback(context, stream) : lib::avio_close(stream);
}

struct RegistrationHook {
    RegistrationHook() { TFFmpegLoader::set_protocol_registration_hook(&RegisterUnicodeProtocol); }
};
const RegistrationHook registration_hook;

} // namespace

void RegisterUnicodeProtocol()
{
    ProtocolTable& t = table();
    std::lock_guard guard(t.lock);
    capture_default_callbacks(t);
    for (const std::string& name : t.names)
        if (name == "unicode") return;
    t.names.push_back("unicode");
}

int UnicodeProtocolRegistrations()
{
    ProtocolTable& t = table();
    std::lock_guard guard(t.lock);
    int count = 0;
    for (const std::string& name : t.names) count += name == "unicode";
    return count;
}

void install_unicode_io(AVFormatContext* context)
{
    if (!UnicodeProtocolRegistrations()) RegisterUnicodeProtocol();
    context->io_open = open_nested;
    context->io_close2 = close_nested;
}

int open_input_context(AVFormatContext** context, const std::string& file_name, const AVInputFormat* format,
                       AVDictionary** options)
{
    const std::string library_name = ToLibraryFileName(file_name);
    if (!*context) *context = lib::avformat_alloc_context();
    if (!*context) return AVERROR(ENOMEM);
    install_unicode_io(*context);
    AVIOContext* own_stream = nullptr;
    if (is_unicode_name(library_name) && !(format && (format->flags & AVFMT_NOFILE))) {
        if (const int result = unicode_io::open(&own_stream, library_name, AVIO_FLAG_READ); result < 0) {
            lib::avformat_free_context(*context);
            *context = nullptr;
            return result;
        }
        (*context)->pb = own_stream;
        (*context)->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    const int result = lib::avformat_open_input(context, library_name.c_str(), format, options);
    if (result < 0) unicode_io::close(&own_stream); // the failed open freed the context but not our stream
    return result;
}

void close_input_context(AVFormatContext** context)
{
    if (!*context) return;
    AVIOContext* stream = unicode_io::owns((*context)->pb) ? (*context)->pb : nullptr;
    lib::avformat_close_input(context);
    unicode_io::close(&stream);
}

int open_byte_stream(AVIOContext** stream, const std::string& file_name, int flags)
{
    const std::string library_name = ToLibraryFileName(file_name);
    if (is_unicode_name(library_name)) return unicode_io::open(stream, library_name, flags);
    return lib::avio_open(stream, library_name.c_str(), flags);
}

int close_byte_stream(AVIOContext** stream)
{
    if (unicode_io::owns(*stream)) return unicode_io::close(stream);
    return lib::avio_closep(stream);
}

} // namespace quillon
