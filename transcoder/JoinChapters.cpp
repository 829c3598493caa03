// transcoder/JoinChapters.cpp — chapters of a joined output, placed where
// each input starts.
#include "transcoder/JoinChapters.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "binding/Entries.h"
#include "transcoder/FFmpegException.h"

namespace tw {

namespace {

constexpr AVRational kMicroseconds{1, 1000000};

// Matroska writes chapters it did not have at the header at the trailer;
// the others take the count at the header (MP4 makes its chapter track
// then) and read the times at the trailer.
bool ChaptersAtTrailer(const AVFormatContext* oc) {
    return std::strcmp(oc->oformat->name, "matroska") == 0 ||
           std::strcmp(oc->oformat->name, "webm") == 0;
}

int64_t StartOf(const AVFormatContext* ic) {
    return ic->start_time == AV_NOPTS_VALUE ? 0 : ic->start_time;
}

}  // namespace

void TJoinChapters::Plan() {
    FEntries.clear();
    const int inputs = FEngine.InputFileCount;
    for (int k = 0; k < inputs; ++k) {
        const bool whole = k < static_cast<int>(FEngine.SourceChapterTitles.size());
        if (whole) FEntries.push_back({k, -1});
        const AVFormatContext* ic = FEngine.InputFiles[k].get();
        for (unsigned c = 0; c < ic->nb_chapters; ++c) {
            // Readers keep one chapter per start time (MP4's list is flat,
            // FFmpeg's Matroska reader skips a repeated start): a chapter
            // at the input's start is marked by the input's own one.
            const AVChapter* in = ic->chapters[c];
            if (whole && std::llabs(lib().av_rescale_q(in->start, in->time_base, kMicroseconds) -
                                    StartOf(ic)) <= 1000)
                continue;
            FEntries.push_back({k, int(c)});
        }
    }
    FOffsets.assign(inputs, AV_NOPTS_VALUE);
    FPlanned = true;
    AVFormatContext* oc = FTables.Output(0);
    if (FEntries.empty() || ChaptersAtTrailer(oc)) return;
    // Until the inputs are placed: one after another by their durations.
    std::vector<int64_t> expected(inputs);
    int64_t at = 0;
    for (int k = 0; k < inputs; ++k) {
        const AVFormatContext* ic = FEngine.InputFiles[k].get();
        expected[k] = at - StartOf(ic);
        at += std::max<int64_t>(ic->duration, 0);
    }
    Append(static_cast<int>(FEntries.size()));
    const unsigned first = oc->nb_chapters - FEntries.size();
    for (size_t i = 0; i < FEntries.size(); ++i)
        Fill(oc->chapters[first + i], int(first + i) + 1, FEntries[i], expected, at);
}

void TJoinChapters::InputStarts(int k, int64_t offset) {
    if (k >= 0 && k < static_cast<int>(FOffsets.size())) FOffsets[k] = offset;
}

void TJoinChapters::Finish(int64_t end) {
    if (!FPlanned || FWritten || FEntries.empty()) return;
    FWritten = true;
    AVFormatContext* oc = FTables.Output(0);
    // An input the loop never reached (a stop) has no place: its chapters
    // go to the end.
    std::vector<int64_t> offsets = FOffsets;
    for (size_t k = 0; k < offsets.size(); ++k)
        if (offsets[k] == AV_NOPTS_VALUE) offsets[k] = end - StartOf(FEngine.InputFiles[k].get());
    if (ChaptersAtTrailer(oc)) Append(static_cast<int>(FEntries.size()));
    const unsigned first = oc->nb_chapters - FEntries.size();
    for (size_t i = 0; i < FEntries.size(); ++i)
        Fill(oc->chapters[first + i], int(first + i) + 1, FEntries[i], offsets, end);
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
                         const std::vector<int64_t>& offsets, int64_t end) const {
    const AVFormatContext* ic = FEngine.InputFiles[e.Input].get();
    // Where the input's own time 0 lies in the output, and where the next
    // input begins (the input's chapters end there at the latest).
    const int64_t offset = offsets[e.Input] - FEngine.StartTime;
    int64_t next = end;
    if (e.Input + 1 < static_cast<int>(offsets.size()))
        next = offsets[e.Input + 1] + StartOf(FEngine.InputFiles[e.Input + 1].get()) -
               FEngine.StartTime;
    out->id = id;
    out->time_base = kMicroseconds;
    int64_t start, stop;
    if (e.Chapter < 0) {
        start = offset + StartOf(ic);
        stop = next;
        lib().av_dict_set(&out->metadata, "title", FEngine.SourceChapterTitles[e.Input].c_str(), 0);
    } else {
        const AVChapter* in = ic->chapters[e.Chapter];
        start = lib().av_rescale_q(in->start, in->time_base, kMicroseconds) + offset;
        stop = std::min(lib().av_rescale_q(in->end, in->time_base, kMicroseconds) + offset, next);
        if (FEngine.MetadataChaptersAutocopy && !out->metadata)
            lib().av_dict_copy(&out->metadata, in->metadata, 0);
    }
    out->start = std::max<int64_t>(0, start);
    out->end = std::max(out->start, stop);
}

}  // namespace tw
