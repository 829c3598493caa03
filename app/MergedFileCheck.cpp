// app/MergedFileCheck.cpp — judging a merged file read back before its
// sources go.
#include "app/MergedFileCheck.h"

#include <cstdio>
#include <cstdlib>

#include "app/FastMergeChecks.h"
#include "app/Messages.h"

namespace tw {

namespace {

constexpr int64_t kUs = 1000000;

std::string Seconds(int64_t us) {
    char b[32];
    std::snprintf(b, sizeof b, "%.2f", double(us) / kUs);
    return TrF("{1} 秒", {b});
}

}  // namespace

bool VerifyMerge(const std::vector<TSourceFacts>& sources, const std::string& output, bool fast,
                 std::string& why) {
    bool wantVideo = false, wantAudio = false;
    int64_t sum = 0;
    std::vector<int64_t> joins;
    for (size_t i = 0; i < sources.size(); ++i) {
        const TSourceFacts& s = sources[i];
        if (s.Duration < 0) {
            why = TrF("{1}：时长未知", {s.File});
            return false;
        }
        if (i > 0) joins.push_back(sum);
        sum += s.Duration;
        wantVideo |= s.HasVideo;
        wantAudio |= s.HasAudio;
    }
    if (fast && !sources.empty()) {
        wantVideo = sources[0].HasVideo;
        wantAudio = sources[0].HasAudio;
    }

    TMergedFileReader reader;
    if (!reader.Open(output, why)) {
        if (why.empty()) why = TrF("{1}：无法解码", {output});
        return false;
    }
    const bool hasVideo = reader.HasVideo(), hasAudio = reader.HasAudio();
    if (hasVideo != wantVideo || hasAudio != wantAudio) {
        why = TrF(wantAudio && !hasAudio   ? NoTr("{1}：缺少音频")
                  : wantVideo && !hasVideo ? NoTr("{1}：缺少视频")
                                           : NoTr("{1}：流的组成与源文件不同"),
                  {output});
        return false;
    }
    // The pictures must be shown turned as the sources were: a fast merge
    // carries their display matrix, a re-encoding turned them upright.
    const int turned = reader.Rotation();
    const int expected = fast && !sources.empty() ? sources[0].Rotation : 0;
    if (hasVideo && turned != expected) {
        why = TrF("{1}：画面旋转 {2}°，与源文件的 {3}° 不同",
                  {output, std::to_string(turned), std::to_string(expected)});
        return false;
    }
    if (fast) {
        std::string file;
        const std::string d = EncodingDifference(sources, file);
        if (!d.empty()) {
            why = TrF("{1}：编码与第一个文件不同（{2}）", {file, d});
            return false;
        }
    }

    switch (reader.ReadThrough(joins)) {
        case TMergedFileReader::TRead::OutOfMemory:
            why = Tr("内存不足");
            return false;
        case TMergedFileReader::TRead::ReadError:
            why = TrF("{1}：读取出错", {output});
            return false;
        case TMergedFileReader::TRead::Done:
            break;
    }
    for (const TMergedStream& s : reader.Streams()) {
        if (s.Type != AVMEDIA_TYPE_VIDEO && s.Type != AVMEDIA_TYPE_AUDIO) continue;
        const int64_t length = s.Length();
        if (std::llabs(length - sum) > kUs) {
            why = TrF(s.Type == AVMEDIA_TYPE_VIDEO
                          ? NoTr("{1}：视频时长 {2}，与源文件的总时长 {3} 不符")
                          : NoTr("{1}：音频时长 {2}，与源文件的总时长 {3} 不符"),
                      {output, Seconds(length), Seconds(sum)});
            return false;
        }
        if (s.Errors > 0) {
            why = TrF(s.Type == AVMEDIA_TYPE_VIDEO ? NoTr("{1}：视频在 {2} 处的衔接无法正常解码")
                                                   : NoTr("{1}：音频在 {2} 处的衔接无法正常解码"),
                      {output, Seconds(s.FirstErrorAt - s.First)});
            return false;
        }
    }
    return true;
}

}  // namespace tw
