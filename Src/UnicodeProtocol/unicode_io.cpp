// A custom AVIOContext over a file descriptor, for "unicode:utf8:" names.
#include "UnicodeProtocol/unicode_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace quillon::unicode_io {
namespace {

constexpr int buffer_size = 32768;

struct UnicodeFile {
    int descriptor = -1;
};

int error_code(int fallback)
{
    return AVERROR(errno ? errno : fallback);
}

int read_packet(void* opaque, uint8_t* buffer, int size)
{
    const int descriptor = static_cast<UnicodeFile*>(opaque)->descriptor;
    ssize_t count;
    do {
        count = ::read(descriptor, buffer, static_cast<std::size_t>(size));
    } while (count < 0 && errno == EINTR);
    if (count < 0) return error_code(EIO);
    return count == 0 ? AVERROR_EOF : static_cast<int>(count);
}

int write_packet(void* opaque, uint8_t* buffer, int size)
{
    const int descriptor = static_cast<UnicodeFile*>(opaque)->descriptor;
    int written = 0;
    while (written < size) {
        const ssize_t count = ::write(descriptor, buffer + written, static_cast<std::size_t>(size - written));
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return error_code(EIO);
        written += static_cast<int>(count);
    }
    return written;
}

int64_t seek(void* opaque, int64_t position, int whence)
{
    const int descriptor = static_cast<UnicodeFile*>(opaque)->descriptor;
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE) {
        struct stat info {};
        return fstat(descriptor, &info) == 0 ? static_cast<int64_t>(info.st_size) : error_code(EIO);
    }
    if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return AVERROR(EINVAL);
    const off_t result = lseek(descriptor, static_cast<off_t>(position), whence);
    return result < 0 ? error_code(EIO) : static_cast<int64_t>(result);
}

int open_flags(int flags)
{
    if ((flags & AVIO_FLAG_READ_WRITE) == AVIO_FLAG_READ_WRITE) return O_RDWR | O_CREAT | O_TRUNC;
    if (flags & AVIO_FLAG_WRITE) return O_WRONLY | O_CREAT | O_TRUNC;
    return O_RDONLY;
}

// Opens the file; a directory is not a file to read. Failures report a
// missing file, as the libraries' own file protocol callers expect.
int open_descriptor(const std::string& path, int flags)
{
    const int descriptor = ::open(path.c_str(), open_flags(flags) | O_CLOEXEC, 0666);
    if (descriptor < 0) return -1;
    struct stat info {};
    if (fstat(descriptor, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(descriptor);
        return -1;
    }
    return descriptor;
}

} // namespace

std::string path_of(const std::string& library_name)
{
    std::string path = library_name;
    for (int part = 0; part < 2; ++part) {
        const auto colon = path.find(':');
        path = colon == std::string::npos ? std::string() : path.substr(colon + 1);
    }
    return path;
}

int open(AVIOContext** stream, const std::string& library_name, int flags)
{
    *stream = nullptr;
    const int descriptor = open_descriptor(path_of(library_name), flags);
    if (descriptor < 0) return AVERROR(ENOENT);
    auto* file = new UnicodeFile{descriptor};
    auto* buffer = static_cast<unsigned char*>(lib::av_malloc(buffer_size));
    const int writing = (flags & AVIO_FLAG_WRITE) ? 1 : 0;
    *stream = buffer ? lib::avio_alloc_context(buffer, buffer_size, writing, file, read_packet, write_packet, seek)
                     : nullptr;
    if (*stream) return 0;
    lib::av_free(buffer);
    ::close(descriptor);
    delete file;
    return AVERROR(ENOMEM);
}

bool owns(const AVIOContext* stream)
{
    return stream && stream->read_packet == read_packet;
}

int close(AVIOContext** stream)
{
    if (!*stream) return 0;
    AVIOContext* context = *stream;
    if (context->write_flag) lib::avio_flush(context);
    int result = context->error;
    auto* file = static_cast<UnicodeFile*>(context->opaque);
    if (::close(file->descriptor) != 0 && result == 0) result = error_code(EIO);
    delete file;
    lib::av_freep(&context->buffer); // the libraries may have replaced the first buffer
    lib::avio_context_free(stream);
    return result;
}

} // namespace quillon::unicode_io
