// encoder/MergePlan.cpp — a merge plan as the engine's record and options.
#include "encoder/MergePlan.h"

#include "binding/Entries.h"

namespace tw {
namespace {

std::string Ratio(AVRational r, char separator) {
    return std::to_string(r.num) + separator + std::to_string(r.den);
}

}  // namespace

TOutputOptions PlanOutputRecord(const TMergePlan& p) {
    TOutputOptions o;
    o.FileName = p.FileName;
    o.ForceFormat = p.Container;
    o.VideoCodec = p.Video.Codec;
    o.VideoPreset = p.Video.Preset;
    o.VideoBitrate = p.Video.Bitrate;
    if (p.Video.Width > 0 && p.Video.Height > 0)
        o.FrameSize = std::to_string(p.Video.Width) + "x" + std::to_string(p.Video.Height);
    if (p.Video.DisplayAspect.num > 0 && p.Video.DisplayAspect.den > 0)
        o.AspectRatio = Ratio(p.Video.DisplayAspect, ':');
    if (p.Video.FrameRate.num > 0 && p.Video.FrameRate.den > 0)
        o.FrameRate = Ratio(p.Video.FrameRate, '/');
    o.GopSize = p.Video.KeyFrameInterval;
    o.AudioCodec = p.Audio.Codec;
    o.AudioSampleRate = p.Audio.SampleRate;
    o.AudioChannels = p.Audio.Channels;
    o.AudioBitrate = p.Audio.Bitrate;
    o.DisableSubtitle = p.DisableSubtitle;
    o.Join = p.Join;
    o.FitPictures = p.FitPictures;
    o.FillMissingAudio = p.FillMissingAudio;
    o.MoreStreams = p.MoreStreams;
    o.BindInOrder = p.BindInOrder;
    o.KeepCover = p.KeepCover;
    o.SourceChapterTitles = p.SourceChapterTitles;
    o.ExtOptions = p.ExtOptions;
    return o;
}

std::vector<std::pair<std::string, std::string>> PlanOptions(const TMergePlan& p) {
    std::vector<std::pair<std::string, std::string>> options;
    if (p.Audio.Experimental) options.emplace_back("astrict", "experimental");
    if (p.Threads >= 0) options.emplace_back("threads", std::to_string(p.Threads));
    if (p.Video.ClosedGop) options.emplace_back("flags", "+cgop");
    if (p.KeyFrameIndex) options.emplace_back("flvflags", "add_keyframe_index");
    if (p.FastStart) options.emplace_back("movflags", "+faststart");
    if (p.Video.PixelFormat != AV_PIX_FMT_NONE)
        if (const char* name = lib().av_get_pix_fmt_name(p.Video.PixelFormat))
            options.emplace_back("pix_fmt", name);
    // "vprofile" and "vlevel" reach the video encoder alone (the plain names
    // would reach the AAC encoder too).
    if (p.Video.Profile >= 0) options.emplace_back("vprofile", std::to_string(p.Video.Profile));
    if (p.Video.Level > 0) options.emplace_back("vlevel", std::to_string(p.Video.Level));
    if (p.Video.RepeatHeaders) options.emplace_back("x264-params", "repeat-headers=1");
    return options;
}

}  // namespace tw
