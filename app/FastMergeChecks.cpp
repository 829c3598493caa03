// app/FastMergeChecks.cpp — whether sources can be fast-merged, and why not.
#include "app/FastMergeChecks.h"

#include <algorithm>

#include "app/Messages.h"

namespace tw {

namespace {

const char* KindText(AVMediaType type) {
    return type == AVMEDIA_TYPE_VIDEO ? Tr("视频") : Tr("音频");
}

constexpr const char* kWithoutFastMode = NoTr("，不能快速合并，请取消“快速合并”后再合并");

std::string Degrees(int rotation) { return std::to_string(rotation) + "°"; }

}  // namespace

std::string FastModeAdvice() { return Tr(kWithoutFastMode); }

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
