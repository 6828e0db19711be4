// PNG files from 24-bit pictures: BGR rows become an RGB frame, the PNG
// encoder makes one packet, and the packet is written through the file-name
// layer.
#include "Bitmap/png_writer.h"

#include <mutex>

#include "FFmpegLoader/loader.h"
#include "FFmpegLoader/owners.h"
#include "Formatting/formatting.h"
#include "UnicodeProtocol/unicode_protocol.h"

namespace quillon {
namespace {

FramePtr rgb_frame_of(const TBitmap& bitmap)
{
    std::lock_guard canvas(bitmap.CanvasLock());
    FramePtr frame(lib::av_frame_alloc());
    if (!frame) return nullptr;
    frame->format = AV_PIX_FMT_RGB24;
    frame->width = bitmap.Width();
    frame->height = bitmap.Height();
    if (lib::av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
    for (int y = 0; y < bitmap.Height(); ++y) {
        const uint8_t* source = bitmap.ScanLine(y);
        uint8_t* target = frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0];
        for (int x = 0; x < bitmap.Width() * 3; x += 3) {
            target[x] = source[x + 2];
            target[x + 1] = source[x + 1];
            target[x + 2] = source[x];
        }
    }
    return frame;
}

CodecContextPtr open_png_encoder(int width, int height)
{
    const AVCodec* codec = lib::avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (!codec) return nullptr;
    CodecContextPtr encoder(lib::avcodec_alloc_context3(codec));
    if (!encoder) return nullptr;
    encoder->width = width;
    encoder->height = height;
    encoder->pix_fmt = AV_PIX_FMT_RGB24;
    encoder->time_base = {1, 25};
    std::lock_guard lock(codec_lock());
    if (lib::avcodec_open2(encoder.get(), codec, nullptr) < 0) return nullptr;
    return encoder;
}

void close_encoder(CodecContextPtr& encoder)
{
    std::lock_guard lock(codec_lock());
    encoder.reset();
}

// Encodes the one frame and drains the encoder into `packet`.
bool encode(AVCodecContext* encoder, AVFrame* frame, AVPacket* packet)
{
    if (lib::avcodec_send_frame(encoder, frame) < 0) return false;
    lib::avcodec_send_frame(encoder, nullptr);
    return lib::avcodec_receive_packet(encoder, packet) >= 0;
}

int write_file(const std::string& file_name, const AVPacket* packet)
{
    AVIOContext* stream = nullptr;
    if (const int result = open_byte_stream(&stream, file_name, AVIO_FLAG_WRITE); result < 0) return result;
    lib::avio_write(stream, packet->data, packet->size);
    return close_byte_stream(&stream);
}

} // namespace

bool SaveBitmapAsPng(const TBitmap& bitmap, const std::string& file_name, std::string& error)
{
    if (bitmap.Empty()) {
        error = file_name + ": the picture is empty";
        return false;
    }
    FramePtr frame = rgb_frame_of(bitmap);
    CodecContextPtr encoder = frame ? open_png_encoder(frame->width, frame->height) : nullptr;
    PacketPtr packet(lib::av_packet_alloc());
    const bool encoded = encoder && packet && encode(encoder.get(), frame.get(), packet.get());
    if (encoder) close_encoder(encoder);
    if (!encoded) {
        error = file_name + ": the picture cannot be encoded as PNG";
        return false;
    }
    if (const int result = write_file(file_name, packet.get()); result < 0) {
        error = format_open_error(file_name, result);
        return false;
    }
    return true;
}

} // namespace quillon
