// TAVProbe: the prober with frame grabbing. It seeks in a file it opened
// itself and decodes one video frame into a 24-bit picture.
#pragma once

#include <cstdint>

#include "Bitmap/bitmap.h"
#include "FFmpegLoader/owners.h"
#include "Probe/custom_av_probe.h"

namespace quillon {

class TAVProbe : public TCustomAVProbe {
public:
    TAVProbe() = default;
    ~TAVProbe() override;

    // Seeks to the position (microseconds) in the stream (-1: automatic).
    // Throws std::runtime_error on an attached input.
    bool Seek(int stream, int64_t position);
    // The picture at the position (microseconds) in the stream (-1: the first
    // video stream); a negative position gives the next frame without seeking.
    // The picture belongs to the prober and changes with the next call.
    // Throws std::runtime_error on an attached input.
    TBitmap& GetFrameBitmap(int stream, int64_t position);
    TBitmap& GetNextFrameBitmap(int stream) { return GetFrameBitmap(stream, -1); }
    // A copy of the last picture decoded successfully.
    TBitmap& KeptBitmap() { return kept_; }
    // Presentation time of the last picture from the stream's start, in
    // microseconds; -1 when the last call decoded none.
    int64_t LastFramePTS() const { return last_frame_pts_; }

    void CloseFile() override;

private:
    bool seek_to(int stream, int64_t position, bool backward_retry);
    bool check_frame_request(int& stream);
    bool answer_without_decoding(int stream, int64_t position, bool was_cached);
    bool open_decoder(int stream);
    void close_decoder();
    void decode_picture(int stream, int64_t position, int64_t target);
    bool picture_wanted(const AVFrame* frame, int64_t target) const;
    void show_frame(int stream, int64_t position, const AVFrame* frame);
    const uint8_t* bgr_rows(const AVFrame* frame, int& line_size);
    void reached_end(int stream, int64_t position);
    void set_empty(const std::string& text);
    void paint_black();

    SwsContext* scaler_ = nullptr;
    uint8_t* rgb_buffer_ = nullptr;
    int rgb_buffer_size_ = 0;
    TBitmap bitmap_;
    TBitmap kept_;
    CodecContextPtr decoder_;
    int decoder_stream_ = -1;
    FramePtr frame_;
    PacketPtr packet_;

    bool last_from_still_ = false;
    bool cached_ = false;
    int64_t last_frame_pts_ = -1;
    bool skip_before_target_ = false;
    int64_t last_position_ = -1;
    int last_stream_ = -1;
    bool end_of_stream_ = false;
};

} // namespace quillon
