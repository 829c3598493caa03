// app/window/SourceDifferences.cpp — the values in which sources differ.
#include "app/window/SourceDifferences.h"

#include "app/Messages.h"
#include "probe/FFDecode.h"
#include "probe/MediaNames.h"

namespace tw {

namespace {

std::string Size(int w, int h) { return std::to_string(w) + "x" + std::to_string(h); }

AVRational Square(AVRational r) { return r.num <= 0 || r.den <= 0 ? AVRational{1, 1} : r; }

std::string Ratio(AVRational r) { return std::to_string(r.num) + ":" + std::to_string(r.den); }

std::string PixelFormatText(int format) {
    const char* name = PixelFormatName(format);
    return name ? name : std::to_string(format);
}

std::string Streams(const TSourceFacts& s) {
    if (s.HasVideo && s.HasAudio) return Tr("视频+音频");
    if (s.HasVideo) return Tr("视频");
    if (s.HasAudio) return Tr("音频");
    return Tr("无");
}

}  // namespace

std::vector<std::string> SourceDifferences(const std::vector<TSourceFacts>& sources) {
    std::vector<std::string> lines;
    if (sources.empty()) return lines;
    const TSourceFacts& a = sources[0];
    for (size_t i = 1; i < sources.size(); ++i) {
        const TSourceFacts& b = sources[i];
        std::vector<std::string> values;
        auto differs = [&](bool d, const char* what, const std::string& bv, const std::string& av) {
            if (d) values.push_back(std::string(Tr(what)) + " " + bv + " / " + av);
        };
        differs(a.HasVideo != b.HasVideo || a.HasAudio != b.HasAudio, NoTr("流"), Streams(b),
                Streams(a));
        if (a.HasVideo && b.HasVideo) {
            differs(a.VideoCodec != b.VideoCodec, NoTr("视频"), CodecName(b.VideoCodec),
                    CodecName(a.VideoCodec));
            differs(a.VideoProfile != b.VideoProfile, NoTr("档次"), std::to_string(b.VideoProfile),
                    std::to_string(a.VideoProfile));
            differs(a.Width != b.Width || a.Height != b.Height, NoTr("尺寸"),
                    Size(b.Width, b.Height), Size(a.Width, a.Height));
            differs(a.PixFmt != b.PixFmt, NoTr("像素格式"), PixelFormatText(b.PixFmt),
                    PixelFormatText(a.PixFmt));
            // An unknown aspect (0:1) is a square pixel.
            const AVRational sa = Square(a.SampleAspect), sb = Square(b.SampleAspect);
            differs(sa.num * int64_t(sb.den) != sb.num * int64_t(sa.den), NoTr("像素比"), Ratio(sb),
                    Ratio(sa));
            differs(a.Rotation != b.Rotation, NoTr("旋转"), std::to_string(b.Rotation),
                    std::to_string(a.Rotation));
        }
        if (a.HasAudio && b.HasAudio) {
            differs(a.AudioCodec != b.AudioCodec, NoTr("音频"), CodecName(b.AudioCodec),
                    CodecName(a.AudioCodec));
            differs(a.AudioProfile != b.AudioProfile, NoTr("音频档次"),
                    std::to_string(b.AudioProfile), std::to_string(a.AudioProfile));
            differs(a.SampleRate != b.SampleRate, NoTr("采样率"), std::to_string(b.SampleRate),
                    std::to_string(a.SampleRate));
            differs(a.Channels != b.Channels, NoTr("声道"), std::to_string(b.Channels),
                    std::to_string(a.Channels));
        }
        if (values.empty()) continue;
        std::string list;
        for (size_t v = 0; v < values.size(); ++v) list += (v ? Tr("，") : "") + values[v];
        lines.push_back(TrF("{1}：{2}", {b.File, list}));
    }
    return lines;
}

bool SurveyFiles(const std::vector<std::string>& files, std::vector<TSourceFacts>& facts,
                 std::string& error) {
    facts.clear();
    for (const std::string& f : files) {
        TFFDecoder d;
        if (!d.LoadFile(f)) {
            error = d.LastError;
            return false;
        }
        facts.push_back(SurveySource(d.FormatContext(), f));
    }
    return true;
}

}  // namespace tw
