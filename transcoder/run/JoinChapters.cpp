// transcoder/run/JoinChapters.cpp — chapters of a joined output, placed where
// each input starts.
#include "transcoder/run/JoinChapters.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "binding/Entries.h"
#include "transcoder/FFmpegException.h"

namespace tw {

namespace {

constexpr AVRational kMicroseconds{1, 1000000};

int64_t StartOf(const AVFormatContext* ic) {
    return ic->start_time == AV_NOPTS_VALUE ? 0 : ic->start_time;
}

}  // namespace

void TJoinChapters::Plan() {
    FEntries.clear();
    const int inputs = FTables.EngineFiles.InputFileCount;
    for (int k = 0; k < inputs; ++k) {
        const bool whole = k < static_cast<int>(FConfig.SourceChapterTitles.size());
        if (whole) FEntries.push_back({k, -1});
        const AVFormatContext* ic = FTables.EngineFiles.InputFiles[k].get();
        for (unsigned c = 0; c < ic->nb_chapters; ++c) {
            // Readers keep one chapter per start time (MP4's list is flat,
            // FFmpeg's Matroska reader skips a repeated start): a chapter
            // at the input's start is marked by the input's chapter.
            const AVChapter* in = ic->chapters[c];
            if (whole && std::llabs(lib().av_rescale_q(in->start, in->time_base, kMicroseconds) -
                                    StartOf(ic)) <= 1000)
                continue;
            FEntries.push_back({k, int(c)});
        }
    }
    FOrigins.assign(inputs, AV_NOPTS_VALUE);
    FPlanned = true;
}

void TJoinChapters::InputStarts(int k, int64_t origin) {
    if (k >= 0 && k < static_cast<int>(FOrigins.size())) FOrigins[k] = origin;
}

void TJoinChapters::Finish(int64_t end) {
    if (!FPlanned || FWritten || FEntries.empty()) return;
    FWritten = true;
    AVFormatContext* oc = FTables.Output(0);
    // An input the loop never reached (a stop) is not in the output: nor
    // are its chapters. One that has no successor ends at the output's end.
    std::vector<TEntry> placed;
    for (const TEntry& e : FEntries)
        if (FOrigins[e.Input] != AV_NOPTS_VALUE) placed.push_back(e);
    std::vector<int64_t> origins = FOrigins;
    for (int64_t& origin : origins)
        if (origin == AV_NOPTS_VALUE) origin = end;
    if (placed.empty()) return;
    Append(static_cast<int>(placed.size()));
    const unsigned first = oc->nb_chapters - placed.size();
    for (size_t i = 0; i < placed.size(); ++i)
        Fill(oc->chapters[first + i], int(first + i) + 1, placed[i], origins, end);
}

void TJoinChapters::Append(int count) {
    AVFormatContext* oc = FTables.Output(0);
    void* grown = lib().av_realloc(oc->chapters, sizeof(AVChapter*) * (oc->nb_chapters + count));
    if (!grown) throw FFmpegException("av_realloc fail");
    oc->chapters = static_cast<AVChapter**>(grown);
    for (int i = 0; i < count; ++i) {
        ChapterPtr ch(static_cast<AVChapter*>(lib().av_mallocz(sizeof(AVChapter))));
        if (!ch) throw FFmpegException("av_mallocz fail");
        oc->chapters[oc->nb_chapters++] = ch.release();  // freed with the output context
    }
}

void TJoinChapters::Fill(AVChapter* out, int id, const TEntry& e,
                         const std::vector<int64_t>& origins, int64_t end) const {
    const AVFormatContext* ic = FTables.EngineFiles.InputFiles[e.Input].get();
    // Where the input's own time 0 lies in the output, and where the next
    // input begins (the input's chapters end there at the latest).
    const int64_t offset = origins[e.Input] - StartOf(ic) - FConfig.StartTime;
    const int64_t next = e.Input + 1 < static_cast<int>(origins.size())
                             ? origins[e.Input + 1] - FConfig.StartTime
                             : end;
    out->id = id;
    out->time_base = kMicroseconds;
    int64_t start, stop;
    if (e.Chapter < 0) {
        start = offset + StartOf(ic);
        stop = next;
        lib().av_dict_set(&out->metadata, "title", FConfig.SourceChapterTitles[e.Input].c_str(), 0);
    } else {
        const AVChapter* in = ic->chapters[e.Chapter];
        start = lib().av_rescale_q(in->start, in->time_base, kMicroseconds) + offset;
        stop = std::min(lib().av_rescale_q(in->end, in->time_base, kMicroseconds) + offset, next);
        if (FConfig.MetadataChaptersAutocopy && !out->metadata)
            lib().av_dict_copy(&out->metadata, in->metadata, 0);
    }
    out->start = std::max<int64_t>(0, start);
    out->end = std::max(out->start, stop);
}

}  // namespace tw
