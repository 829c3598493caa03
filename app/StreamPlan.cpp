// app/StreamPlan.cpp — the further streams a merge keeps.
#include "app/StreamPlan.h"

#include "app/Messages.h"

namespace tw {

namespace {

// Subtitles made of plain or styled text, which the timed-text encoder of
// MP4 can take after decoding.
bool TextSubtitle(AVCodecID codec) {
    return codec == AV_CODEC_ID_SUBRIP || codec == AV_CODEC_ID_ASS || codec == AV_CODEC_ID_SSA ||
           codec == AV_CODEC_ID_TEXT || codec == AV_CODEC_ID_WEBVTT ||
           codec == AV_CODEC_ID_MOV_TEXT;
}

// "第 2 条音轨（aac，fra）"
std::string Describe(const TTrackFacts& t, int ordinal) {
    const std::string which =
        TrF(t.Type == AVMEDIA_TYPE_AUDIO ? NoTr("第 {1} 条音轨") : NoTr("第 {1} 条字幕"),
            {std::to_string(ordinal + 1)});
    if (t.Language.empty()) return TrF("{1}（{2}）", {which, CodecName(t.Codec)});
    return TrF("{1}（{2}，{3}）", {which, CodecName(t.Codec), t.Language});
}

}  // namespace

TStreamPlan PlanStreams(const TSourceFacts& first, const std::string& container, bool fast,
                        const std::string& audioEncoder) {
    TStreamPlan plan;
    std::vector<std::string> left;
    const bool mp4 = container == "mp4" || container == "mov";
    const std::vector<TTrackFacts> audio = first.TracksOf(AVMEDIA_TYPE_AUDIO);
    for (size_t n = 1; n < audio.size(); ++n) {
        const int ordinal = static_cast<int>(n);
        // FLV has room for one audio stream.
        if (container == "flv" ||
            (fast && !ContainerTakes(container, audio[n].Codec, AVMEDIA_TYPE_AUDIO))) {
            left.push_back(Describe(audio[n], ordinal));
            continue;
        }
        plan.More.push_back({AVMEDIA_TYPE_AUDIO, ordinal, fast ? "copy" : audioEncoder});
    }
    const std::vector<TTrackFacts> subtitles = first.TracksOf(AVMEDIA_TYPE_SUBTITLE);
    for (size_t n = 0; n < subtitles.size(); ++n) {
        const int ordinal = static_cast<int>(n);
        if (ContainerTakes(container, subtitles[n].Codec, AVMEDIA_TYPE_SUBTITLE))
            plan.More.push_back({AVMEDIA_TYPE_SUBTITLE, ordinal, "copy"});
        else if (!fast && mp4 && TextSubtitle(subtitles[n].Codec))
            plan.More.push_back({AVMEDIA_TYPE_SUBTITLE, ordinal, "mov_text"});
        else
            left.push_back(Describe(subtitles[n], ordinal));
    }
    const bool picture = first.CoverCodec == AV_CODEC_ID_PNG ||
                         first.CoverCodec == AV_CODEC_ID_MJPEG ||
                         first.CoverCodec == AV_CODEC_ID_BMP;
    plan.KeepCover = first.HasCover && picture && (mp4 || container == "matroska");
    if (first.HasCover && !plan.KeepCover)
        left.push_back(TrF("封面图片（{1}）", {CodecName(first.CoverCodec)}));
    if (!left.empty()) {
        std::string list;
        for (size_t i = 0; i < left.size(); ++i) list += (i ? Tr("、") : "") + left[i];
        plan.Notice = TrF("注意：{1} 文件不能存入第一个文件的{2}，合并后的文件不含这些流",
                          {ContainerShownName(container), list});
    }
    return plan;
}

}  // namespace tw
