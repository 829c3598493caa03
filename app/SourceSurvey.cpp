// app/SourceSurvey.cpp — the facts of each source and the fast-merge checks.
#include "app/SourceSurvey.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "binding/Entries.h"

namespace tw {

namespace {

// A turn of the display matrix as a clockwise quarter turn: the matrix
// gives the counter-clockwise angle the picture must be turned by.
int QuarterTurn(const AVStream* st) {
    const uint8_t* matrix =
        lib().av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (!matrix) return 0;
    const double angle =
        lib().av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
    if (std::isnan(angle)) return 0;
    int clockwise = static_cast<int>(std::lround(-angle / 90.0)) * 90 % 360;
    if (clockwise < 0) clockwise += 360;
    return clockwise;
}

const char* KindText(AVMediaType type) { return type == AVMEDIA_TYPE_VIDEO ? "视频" : "音频"; }

constexpr const char* kWithoutFastMode = "，不能快速合并，请取消“快速合并”后再合并";

}  // namespace

std::string CodecName(AVCodecID id) {
    if (id == AV_CODEC_ID_NONE) return "none";
    const char* name = lib().avcodec_get_name(id);
    return name ? name : "unknown";
}

void TSourceFacts::DisplaySize(int& width, int& height) const {
    width = Width;
    height = Height;
    if (SampleAspect.num > 0 && SampleAspect.den > 0 && SampleAspect.num != SampleAspect.den)
        width = static_cast<int>(std::lround(double(Width) * SampleAspect.num / SampleAspect.den));
    if (Rotation == 90 || Rotation == 270) std::swap(width, height);
}

TSourceFacts SurveySource(const AVFormatContext* ic, const std::string& file) {
    TSourceFacts f;
    f.File = file;
    if (!ic) return f;
    if (ic->duration != AV_NOPTS_VALUE && ic->duration > 0) f.Duration = ic->duration;
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        const AVStream* st = ic->streams[i];
        const AVCodecParameters* par = st->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO && !f.HasVideo) {
            // Cover art is a picture, not a video stream.
            if (st->disposition & AV_DISPOSITION_ATTACHED_PIC) continue;
            f.HasVideo = true;
            f.VideoCodec = par->codec_id;
            f.VideoProfile = par->profile;
            f.Width = par->width;
            f.Height = par->height;
            f.PixFmt = par->format;
            f.SampleAspect = st->sample_aspect_ratio.num ? st->sample_aspect_ratio
                                                         : par->sample_aspect_ratio;
            f.Rotation = QuarterTurn(st);
        } else if (par->codec_type == AVMEDIA_TYPE_AUDIO && !f.HasAudio) {
            f.HasAudio = true;
            f.AudioCodec = par->codec_id;
            f.AudioProfile = par->profile;
            f.SampleRate = par->sample_rate;
            f.Channels = par->ch_layout.nb_channels;
            if (par->bit_rate > 0 && par->bit_rate <= INT32_MAX)
                f.AudioBitrate = static_cast<int>(par->bit_rate);
        }
    }
    return f;
}

std::string FastMergeProblem(const std::vector<TSourceFacts>& sources) {
    if (sources.empty()) return {};
    const TSourceFacts& first = sources[0];
    const AVOutputFormat* flv = lib().av_guess_format("flv", nullptr, nullptr);
    for (const TSourceFacts& s : sources) {
        const struct {
            bool has, firstHas;
            AVMediaType type;
            AVCodecID codec;
        } kinds[] = {{s.HasVideo, first.HasVideo, AVMEDIA_TYPE_VIDEO, s.VideoCodec},
                     {s.HasAudio, first.HasAudio, AVMEDIA_TYPE_AUDIO, s.AudioCodec}};
        for (const auto& k : kinds) {
            if (k.has != k.firstHas)
                return s.File + "：" + (k.has ? "有第一个文件没有的" : "缺少第一个文件有的") +
                       KindText(k.type) + kWithoutFastMode;
            // Only what the container has a tag for can be copied into it.
            if (k.has && flv && lib().avformat_query_codec(flv, k.codec, FF_COMPLIANCE_NORMAL) != 1)
                return s.File + "：" + CodecName(k.codec) + " " + KindText(k.type) +
                       "不能存入 FLV 文件" + kWithoutFastMode;
        }
    }
    return {};
}

std::string EncodingDifference(const std::vector<TSourceFacts>& sources, std::string& file) {
    file.clear();
    if (sources.empty()) return {};
    const TSourceFacts& a = sources[0];
    auto size = [](int w, int h) { return std::to_string(w) + "x" + std::to_string(h); };
    for (const TSourceFacts& b : sources) {
        file = b.File;
        auto differs = [&](bool d, const std::string& what, const std::string& bv,
                           const std::string& av) { return d ? what + " " + bv + " / " + av : ""; };
        std::string d;
        if (a.HasVideo && b.HasVideo) {
            if (d.empty())
                d = differs(a.VideoCodec != b.VideoCodec, "video", CodecName(b.VideoCodec),
                            CodecName(a.VideoCodec));
            if (d.empty())
                d = differs(a.VideoProfile != b.VideoProfile, "profile",
                            std::to_string(b.VideoProfile), std::to_string(a.VideoProfile));
            if (d.empty())
                d = differs(a.Width != b.Width || a.Height != b.Height, "size",
                            size(b.Width, b.Height), size(a.Width, a.Height));
            if (d.empty())
                d = differs(a.PixFmt != b.PixFmt, "pix_fmt", std::to_string(b.PixFmt),
                            std::to_string(a.PixFmt));
        }
        if (a.HasAudio && b.HasAudio) {
            if (d.empty())
                d = differs(a.AudioCodec != b.AudioCodec, "audio", CodecName(b.AudioCodec),
                            CodecName(a.AudioCodec));
            if (d.empty())
                d = differs(a.SampleRate != b.SampleRate, "rate", std::to_string(b.SampleRate),
                            std::to_string(a.SampleRate));
            if (d.empty())
                d = differs(a.Channels != b.Channels, "channels", std::to_string(b.Channels),
                            std::to_string(a.Channels));
        }
        if (d.empty() && (a.HasVideo != b.HasVideo || a.HasAudio != b.HasAudio))
            d = "streams";
        if (!d.empty()) return d;
    }
    file.clear();
    return {};
}

}  // namespace tw
