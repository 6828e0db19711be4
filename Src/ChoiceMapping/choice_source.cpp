#include "ChoiceMapping/choice_source.h"

#include "Probe/custom_av_probe.h"

namespace quillon {

TChoiceSource ChoiceSourceFromProbe(TCustomAVProbe& probe, int video_stream, int audio_stream)
{
    TChoiceSource source;
    source.FileName = probe.FileName();
    source.FormatName = probe.ForcedFormat();
    if (video_stream >= 0 || probe.FirstVideoStream() >= 0) {
        TVideoStreamInfo video;
        probe.GetVideoStreamInfo(video_stream, video);
        source.VideoBitRate = video.BitRate;
        // An unknown pixel shape means square pixels.
        if (video.DisplayAspectRatio > 0) source.DisplayAspect = video.DisplayAspectRatio;
        else if (video.Width > 0 && video.Height > 0) source.DisplayAspect = float(video.Width) / float(video.Height);
    }
    if (audio_stream >= 0 || probe.FirstAudioStream() >= 0) {
        TAudioStreamInfo audio;
        probe.GetAudioStreamInfo(audio_stream, audio);
        source.AudioBitRate = audio.BitRate;
    }
    return source;
}

} // namespace quillon
