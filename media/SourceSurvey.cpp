// media/SourceSurvey.cpp — the facts of each source and the fast-merge checks.
#include "media/SourceSurvey.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "app/Messages.h"
#include "binding/Entries.h"

namespace tw {

// A turn of the display matrix as a clockwise quarter turn: the matrix
// gives the counter-clockwise angle the picture must be turned by.
int QuarterTurn(const AVStream* st) {
    const uint8_t* matrix = lib().av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (!matrix) return 0;
    const double angle = lib().av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
    if (std::isnan(angle)) return 0;
    int clockwise = static_cast<int>(std::lround(-angle / 90.0)) * 90 % 360;
    if (clockwise < 0) clockwise += 360;
    return clockwise;
}

namespace {

const char* KindText(AVMediaType type) {
    return type == AVMEDIA_TYPE_VIDEO ? Tr("视频") : Tr("音频");
}

std::string Hex(const uint8_t* data, size_t size) {
    static const char* kDigits = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        text += kDigits[data[i] >> 4];
        text += kDigits[data[i] & 15];
    }
    return text;
}

// The values of an AAC AudioSpecificConfig that decide whether two streams
// can follow one another: object type, rate, channel configuration.
std::string AacConfig(const AVCodecParameters* par) {
    int type = par->profile >= 0 ? par->profile + 1 : 0;
    int rate = par->sample_rate;
    int channels = par->ch_layout.nb_channels;
    if (par->extradata && par->extradata_size > 0)
        ReadAudioSpecificConfig(ByteSpan(par->extradata, size_t(par->extradata_size)), type, rate,
                                channels);
    if (type == 0 && rate == 0) return {};
    return std::to_string(type) + "/" + std::to_string(rate) + "/" + std::to_string(channels);
}

constexpr const char* kWithoutFastMode = NoTr("，不能快速合并，请取消“快速合并”后再合并");

std::string Degrees(int rotation) { return std::to_string(rotation) + "°"; }

}  // namespace

bool ContainerKeepsRotation(const std::string& container) {
    // Of today's muxers only the MP4/MOV family writes a display matrix
    // (into the track header); Matroska, FLV and MPEG-TS drop it.
    static const char* const kKeep[] = {"mp4", "mov", "3gp", "3g2", "ipod", "ismv", "psp"};
    for (const char* name : kKeep)
        if (container == name) return true;
    return false;
}

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
        if (par->codec_type == AVMEDIA_TYPE_AUDIO || par->codec_type == AVMEDIA_TYPE_SUBTITLE) {
            TTrackFacts t;
            t.Type = par->codec_type;
            t.Codec = par->codec_id;
            if (const AVDictionaryEntry* e =
                    lib().av_dict_get(st->metadata, "language", nullptr, 0))
                t.Language = e->value;
            if (const AVDictionaryEntry* e = lib().av_dict_get(st->metadata, "title", nullptr, 0))
                t.Title = e->value;
            f.Tracks.push_back(t);
        }
        // Cover art is a picture, not a video stream.
        if (par->codec_type == AVMEDIA_TYPE_VIDEO &&
            (st->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            if (!f.HasCover) f.CoverCodec = par->codec_id;
            f.HasCover = true;
            continue;
        }
        if (par->codec_type == AVMEDIA_TYPE_VIDEO && !f.HasVideo) {
            f.HasVideo = true;
            f.VideoCodec = par->codec_id;
            f.VideoProfile = par->profile;
            f.VideoLevel = par->level;
            if (par->bit_rate > 0 && par->bit_rate <= INT32_MAX)
                f.VideoBitrate = static_cast<int>(par->bit_rate);
            f.Width = par->width;
            f.Height = par->height;
            f.PixFmt = par->format;
            f.SampleAspect =
                st->sample_aspect_ratio.num ? st->sample_aspect_ratio : par->sample_aspect_ratio;
            f.Rotation = QuarterTurn(st);
            f.FrameRate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
            if (f.FrameRate.num <= 0 || f.FrameRate.den <= 0) f.FrameRate = {0, 1};
            if (par->codec_id == AV_CODEC_ID_H264 || par->codec_id == AV_CODEC_ID_HEVC) {
                for (const std::string& unit :
                     ParameterSets(par->extradata, par->extradata_size, par->codec_id))
                    f.VideoConfig +=
                        (f.VideoConfig.empty() ? "" : ",") +
                        Hex(reinterpret_cast<const uint8_t*>(unit.data()), unit.size());
            } else if (par->extradata_size > 0) {
                f.VideoConfig = Hex(par->extradata, size_t(par->extradata_size));
            }
        } else if (par->codec_type == AVMEDIA_TYPE_AUDIO && !f.HasAudio) {
            f.HasAudio = true;
            f.AudioCodec = par->codec_id;
            f.AudioProfile = par->profile;
            f.SampleRate = par->sample_rate;
            f.Channels = par->ch_layout.nb_channels;
            if (par->bit_rate > 0 && par->bit_rate <= INT32_MAX)
                f.AudioBitrate = static_cast<int>(par->bit_rate);
            if (par->codec_id == AV_CODEC_ID_AAC)
                f.AudioConfig = AacConfig(par);
            else if (par->extradata_size > 0)
                f.AudioConfig = Hex(par->extradata, size_t(par->extradata_size));
        }
    }
    return f;
}

std::vector<TTrackFacts> TSourceFacts::TracksOf(AVMediaType type) const {
    std::vector<TTrackFacts> list;
    for (const TTrackFacts& t : Tracks)
        if (t.Type == type) list.push_back(t);
    return list;
}

std::string FastModeAdvice() { return Tr(kWithoutFastMode); }

std::string ContainerShownName(const std::string& container) {
    std::string shown = container == "matroska" ? "MKV" : container == "mpegts" ? "TS" : container;
    for (char& c : shown) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return shown;
}

bool ContainerTakes(const std::string& container, AVCodecID codec, AVMediaType type) {
    // The FLV muxer lists these in its tag table but refuses them when it
    // writes its header, unless told to be lax.
    if (container == "flv" && (codec == AV_CODEC_ID_MPEG4 || codec == AV_CODEC_ID_H263))
        return false;
    // MPEG-TS has no tag table to ask; of subtitles it carries the DVB ones.
    if (container == "mpegts" && type == AVMEDIA_TYPE_SUBTITLE)
        return codec == AV_CODEC_ID_DVB_SUBTITLE || codec == AV_CODEC_ID_DVB_TELETEXT;
    const AVOutputFormat* muxer = lib().av_guess_format(container.c_str(), nullptr, nullptr);
    return !muxer || lib().avformat_query_codec(muxer, codec, FF_COMPLIANCE_NORMAL) != 0;
}

namespace {

// The further tracks of a later source against the first's: one missing,
// one more, or another codec, where the container would keep the track.
std::string TrackLayoutProblem(const TSourceFacts& first, const TSourceFacts& s,
                               const std::string& container) {
    for (const AVMediaType type : {AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE}) {
        const std::vector<TTrackFacts> a = first.TracksOf(type), b = s.TracksOf(type);
        // The first audio track is the source's audio, checked as such; FLV
        // keeps no other.
        const size_t from = type == AVMEDIA_TYPE_AUDIO ? 1 : 0;
        if (type == AVMEDIA_TYPE_AUDIO && container == "flv") continue;
        for (size_t n = from; n < std::max(a.size(), b.size()); ++n) {
            const std::string which =
                TrF(type == AVMEDIA_TYPE_AUDIO ? NoTr("第 {1} 条音轨") : NoTr("第 {1} 条字幕"),
                    {std::to_string(n + 1)});
            if (n >= b.size()) {
                if (!ContainerTakes(container, a[n].Codec, type)) continue;
                return TrF("{1}：缺少第一个文件有的{2}", {s.File, which}) + FastModeAdvice();
            }
            if (n >= a.size()) {
                if (!ContainerTakes(container, b[n].Codec, type)) continue;
                return TrF("{1}：有第一个文件没有的{2}", {s.File, which}) + FastModeAdvice();
            }
            if (a[n].Codec != b[n].Codec && ContainerTakes(container, a[n].Codec, type))
                return TrF("{1}：{2}的编码（{3}）与第一个文件的（{4}）不同",
                           {s.File, which, CodecName(b[n].Codec), CodecName(a[n].Codec)}) +
                       FastModeAdvice();
        }
    }
    return {};
}

}  // namespace

std::string FastMergeProblem(const std::vector<TSourceFacts>& sources,
                             const std::string& container) {
    if (sources.empty()) return {};
    const TSourceFacts& first = sources[0];
    const std::string shown = ContainerShownName(container);
    for (const TSourceFacts& s : sources) {
        const struct {
            bool has, firstHas;
            AVMediaType type;
            AVCodecID codec;
        } kinds[] = {{s.HasVideo, first.HasVideo, AVMEDIA_TYPE_VIDEO, s.VideoCodec},
                     {s.HasAudio, first.HasAudio, AVMEDIA_TYPE_AUDIO, s.AudioCodec}};
        for (const auto& k : kinds) {
            if (k.has != k.firstHas)
                return TrF(k.has ? NoTr("{1}：有第一个文件没有的{2}")
                                 : NoTr("{1}：缺少第一个文件有的{2}"),
                           {s.File, KindText(k.type)}) +
                       FastModeAdvice();
            // Only what the container takes can be copied into it.
            if (k.has && !ContainerTakes(container, k.codec, k.type))
                return TrF("{1}：{2} {3}不能存入 {4} 文件",
                           {s.File, CodecName(k.codec), KindText(k.type), shown}) +
                       FastModeAdvice();
        }
        if (const std::string problem = TrackLayoutProblem(first, s, container); !problem.empty())
            return problem;
        // A copy cannot turn pictures: one output turns all of them alike,
        // and only by a display matrix the container keeps.
        if (!s.HasVideo) continue;
        if (s.Rotation != first.Rotation)
            return TrF("{1}：画面旋转 {2}，与第一个文件的 {3} 不同",
                       {s.File, Degrees(s.Rotation), Degrees(first.Rotation)}) +
                   FastModeAdvice();
        if (s.Rotation != 0 && !ContainerKeepsRotation(container))
            return TrF("{1}：画面旋转 {2}，{3} 文件不能保存画面的旋转",
                       {s.File, Degrees(s.Rotation), shown}) +
                   FastModeAdvice();
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
                           const std::string& av) {
            return d ? std::string(Tr(what.c_str())) + " " + bv + " / " + av : "";
        };
        std::string d;
        if (a.HasVideo && b.HasVideo) {
            if (d.empty())
                d = differs(a.VideoCodec != b.VideoCodec, NoTr("视频"), CodecName(b.VideoCodec),
                            CodecName(a.VideoCodec));
            if (d.empty())
                d = differs(a.VideoProfile != b.VideoProfile, NoTr("档次"),
                            std::to_string(b.VideoProfile), std::to_string(a.VideoProfile));
            if (d.empty())
                d = differs(a.Width != b.Width || a.Height != b.Height, NoTr("尺寸"),
                            size(b.Width, b.Height), size(a.Width, a.Height));
            if (d.empty())
                d = differs(a.PixFmt != b.PixFmt, NoTr("像素格式"), std::to_string(b.PixFmt),
                            std::to_string(a.PixFmt));
            if (d.empty())
                d = differs(a.Rotation != b.Rotation, NoTr("旋转"), std::to_string(b.Rotation),
                            std::to_string(a.Rotation));
        }
        if (a.HasAudio && b.HasAudio) {
            if (d.empty())
                d = differs(a.AudioCodec != b.AudioCodec, NoTr("音频"), CodecName(b.AudioCodec),
                            CodecName(a.AudioCodec));
            if (d.empty())
                d = differs(a.SampleRate != b.SampleRate, NoTr("采样率"),
                            std::to_string(b.SampleRate), std::to_string(a.SampleRate));
            if (d.empty())
                d = differs(a.Channels != b.Channels, NoTr("声道"), std::to_string(b.Channels),
                            std::to_string(a.Channels));
        }
        if (d.empty() && (a.HasVideo != b.HasVideo || a.HasAudio != b.HasAudio)) d = Tr("流");
        if (!d.empty()) return d;
    }
    file.clear();
    return {};
}

}  // namespace tw
