// Progress figures and the text line, the totals line, and the per-frame
// video statistics file.
#include <array>
#include <atomic>
#include <cmath>
#include <ctime>

#include "FFmpeg/custom_ffmpeg.h"
#include "Formatting/formatting.h"

namespace quillon {

namespace {

// Quantiser histogram of the process, shared by every job.
std::array<std::atomic<int>, 52> quantiser_histogram{};

// Appends to a line that never grows past 1024 characters.
void append(std::string& line, const std::string& piece)
{
    constexpr std::size_t capacity = 1023;
    if (line.size() < capacity) line += piece.substr(0, capacity - line.size());
}

double psnr(double error, double scale) { return -10.0 * std::log10(error / scale); }

} // namespace

int64_t TCustomFFmpeg::output_file_size() const
{
    AVIOContext* pb = output_files.empty() ? nullptr : output_files[0]->pb;
    if (!pb) return 0;
    const int64_t size = lib::avio_size(pb);
    return size >= 0 ? size : lib::avio_seek(pb, 0, SEEK_CUR);
}

float TCustomFFmpeg::stream_quality(const OutputStreamState& ost) const
{
    return ost.encoding_needed ? float(ost.coded.quality) / FF_QP2LAMBDA : -1.0f;
}

std::string TCustomFFmpeg::psnr_text(const OutputStreamState& ost, bool last) const
{
    std::string text = "PSNR=";
    const AVCodecContext* encoder = ost.encoder;
    double error_sum = 0, scale_sum = 0;
    for (int plane = 0; plane < 3; ++plane) {
        double error = last ? double(ost.total_error[plane]) : double(ost.coded.error[plane]);
        double scale = double(encoder->width) * encoder->height * 255.0 * 255.0 * (last ? ost.frame_number : 1);
        if (plane) scale /= 4;
        error_sum += error;
        scale_sum += scale;
        text += printf_text("%c:%2.2f ", "YUV"[plane], psnr(error, scale));
    }
    return text + printf_text("*:%2.2f ", psnr(error_sum, scale_sum));
}

std::string TCustomFFmpeg::quantiser_histogram_text(float quality) const
{
    const int q = static_cast<int>(std::lrint(quality));
    if (q >= 0 && q < 52) quantiser_histogram[q]++;
    std::string text;
    for (int j = 0; j < 32; ++j) text += printf_text("%X", static_cast<int>(std::lrint(std::log2(quantiser_histogram[j] + 1))));
    return text;
}

void TCustomFFmpeg::report_progress(bool last)
{
    if (output_files.empty()) return;
    const int64_t total_size = output_file_size();
    std::string line;
    int frame_number = -1, fps = -1;
    float quality = -1;
    bool first_video = true;
    double ti1 = 1e10;
    for (const auto& ost : output_stream_states) {
        if (ost->encoder->codec_type == AVMEDIA_TYPE_VIDEO) {
            const float q = stream_quality(*ost);
            if (!first_video) {
                append(line, printf_text("q=%2.1f ", q));
            } else {
                first_video = false;
                const float elapsed = float(lib::av_gettime() - timer_start) / 1e6f;
                frame_number = ost->frame_number;
                if (frame_number < 1) return; // nothing to tell before the first picture
                fps = elapsed > 1 ? static_cast<int>(frame_number / elapsed + 0.5f) : 0;
                quality = q;
                append(line, printf_text("frame=%5d fps=%3d q=%3.1f ", frame_number, fps, q));
                if (last) append(line, "L");
                if (qp_hist) append(line, quantiser_histogram_text(q));
                if (ost->encoder->flags & AV_CODEC_FLAG_PSNR) append(line, psnr_text(*ost, last));
            }
        }
        const double position = ost->library_stream().mux_position;
        if (position > 0 && position < ti1) ti1 = position;
    }
    ti1 = std::max(ti1, 0.01);
    if (progress_sink || verbose > 0 || last) {
        const double bitrate = double(total_size) * 8 / ti1 / 1000.0;
        append(line, printf_text("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", double(total_size) / 1024, ti1, bitrate));
        if (verbose > 1) append(line, printf_text(" dup=%d drop=%d", dup_count, drop_count));
        if (progress_sink) {
            const int current_ms = ti1 >= 1e9 ? 0 : static_cast<int>(ti1 * 1000);
            progress_sink(*this, ProgressFigures{frame_number, fps, current_ms, quality, static_cast<float>(bitrate),
                                                 total_size, total_duration_ms});
        } else if (verbose >= 0) {
            log(1, line);
        }
    }
    if (last && verbose >= 0 && log_sink) log_totals(total_size);
}

void TCustomFFmpeg::log_totals(int64_t total_size)
{
    const double raw = double(video_size + audio_size + extra_size);
    const double overhead = raw > 0 ? (double(total_size) - raw) * 100.0 / raw : 0.0;
    log(1, printf_text("video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%\r\n",
                       double(video_size) / 1024, double(audio_size) / 1024, double(extra_size) / 1024, overhead));
}

void TCustomFFmpeg::write_video_stats(const OutputStreamState& ost, int frame_size)
{
    if (!vstats_file) {
        vstats_file = lib::my_fopen(vstats_filename.c_str(), "w");
        if (!vstats_file) throw FFmpegException("fopen fail: " + vstats_filename);
    }
    const AVCodecContext* encoder = ost.encoder;
    if (encoder->codec_type != AVMEDIA_TYPE_VIDEO) return;
    std::string line = printf_text("frame= %5d q= %2.1f ", ost.frame_number, double(ost.coded.quality) / FF_QP2LAMBDA);
    if (encoder->flags & AV_CODEC_FLAG_PSNR)
        line += printf_text("PSNR= %6.2f ", psnr(double(ost.coded.error[0]), double(encoder->width) * encoder->height * 255.0 * 255.0));
    line += printf_text("f_size= %6d ", frame_size);
    const double time_base = double(encoder->time_base.num) / encoder->time_base.den;
    const double ti1 = std::max(double(ost.sync_opts) * time_base, 0.01);
    const double bitrate = frame_size * 8 / time_base / 1000.0;
    const double average = double(video_size) * 8 / ti1 / 1000.0;
    line += printf_text("s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ", double(video_size) / 1024,
                        ti1, bitrate, average);
    line += printf_text("type= %c\n", lib::av_get_picture_type_char(static_cast<AVPictureType>(ost.coded.picture_type)));
    lib::my_fprintf(vstats_file, "%s", line.c_str());
}

} // namespace quillon
