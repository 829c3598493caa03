// transcoder/files/FileSet.cpp — the file set as a whole: its capacity, the joined
// output, closing, the I/O timeout check and the options that reach the files.
#include "transcoder/files/FileSet.h"

#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

#include "binding/Entries.h"
#include "binding/FFLoad.h"
#include "binding/UnicodeProtocol.h"
#include "diag/FFLog.h"
#include "transcoder/options/Parsers.h"
#include "transcoder/files/StreamTables.h"

namespace tw {

int TFileSet::CheckedCapacity(int maxFiles) {
    // A capacity out of range is a programming error of the caller.
    if (maxFiles < 1 || maxFiles > MaxFilesLimit) throw std::logic_error("Assertion failure");
    return maxFiles;
}

TFileSet::TFileSet(int maxFiles) : TFileTables(CheckedCapacity(maxFiles)), MaxFiles(maxFiles) {
    AttachFiles(FOptionSide);
}

bool TFileSet::CheckIOTimeout(void* fileSet) {
    auto* self = static_cast<TFileSet*>(fileSet);
    if (self->IOTimeout <= 0) return false;
    const int64_t start = self->IOStartTime.load();
    // INT64_MAX (no open in progress) never times out; the subtraction is
    // done without overflow for it.
    if (start == INT64_MAX) return false;
    const int64_t now = lib().av_gettime();
    if (now - start <= static_cast<int64_t>(self->IOTimeout) * 1000) return false;
    FFLogger()->Log(
        self, llInfo,
        start == 0 ? "connecting/reading/writing canceled" : "connecting/reading/writing timeout");
    return true;
}

void TFileSet::ExpandJoinedOutput() {
    if (!JoinMode) return;
    int64_t sum = 0;
    for (int i = 0; i < InputFileCount; ++i) {
        const AVFormatContext* ic = InputFiles[i].get();
        if (ic && ic->duration != AV_NOPTS_VALUE && ic->duration > 0) sum += ic->duration;
    }
    TotalDuration = sum == 0 ? -1 : sum;
    // Each input needs its slot: the joined output must fit the tables.
    if (OutputFileCount + InputFileCount - 1 > MaxFiles)
        throw FFmpegException("Too many input files to join");
    for (int k = 1; k < InputFileCount; ++k) {
        const int i = OutputFileCount;
        OutputFiles[i] = OutputFiles[i - 1];
        AVFormatContext* oc = OutputFiles[i].get();
        OutputStreams[i].clear();
        for (unsigned s = 0; s < oc->nb_streams; ++s) {
            auto record = std::make_shared<TOutputStream>();
            record->FileIndex = i;
            record->StreamIndex = static_cast<int>(s);
            record->Stream = oc->streams[s];
            // Copying is a property of the output stream, the same for every input.
            const auto& first = OutputStreams[i - 1];
            if (s < first.size() && first[s]) {
                record->StreamCopy = first[s]->StreamCopy;
                record->KindOrdinal = first[s]->KindOrdinal;
                record->Cover = first[s]->Cover;
            }
            OutputStreams[i].push_back(record);
        }
        OutputFileCount = i + 1;
    }
}

bool TFileSet::EncodesAnyStream() const {
    for (int i = 0; i < OutputFileCount; ++i)
        for (const auto& ost : OutputStreams[i])
            if (ost && !ost->StreamCopy) return true;
    return false;
}

void TFileSet::CloseFiles() {
    if (!FFLoader().Loaded(CopyLibraryKinds)) return;
    // Joined slots share one context: close it once, through the last
    // reference.
    std::vector<std::string> written;
    for (int i = 0; i < MaxFiles; ++i) {
        auto& oc = OutputFiles[i];
        if (!oc) continue;
        if (oc.use_count() == 1 && oc->oformat && !(oc->oformat->flags & AVFMT_NOFILE) && oc->url)
            written.push_back(FromLibraryFileName(oc->url));
        oc.reset();
        OutputStreams[i].clear();
    }
    OutputFileCount = 0;
    // An output nothing was written to (the setup failed before its header)
    // is not left behind.
    for (const std::string& name : written) {
        struct stat st;
        if (::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0)
            ::unlink(name.c_str());
    }
    for (int i = 0; i < MaxFiles; ++i) {
        InputDecoders[i].clear();
        InputReaders[i].reset();
        InputReopens[i].reset();
        InputFiles[i].reset();
        InputTsScales[i].clear();
    }
    InputFileCount = 0;
    InputCodecs.clear();
    OutputCodecs.clear();
    StreamMaps.clear();
    MetadataMaps.clear();
    ChapterMaps.clear();
    StreamIdMap.clear();
    ForcedKeyFrames.clear();
}

std::vector<AVRational> TFileSet::InputVideoFrameRates() const {
    std::vector<AVRational> rates;
    for (int i = 0; i < InputFileCount; ++i) {
        const AVFormatContext* ic = InputFiles[i].get();
        if (!ic) continue;
        for (unsigned s = 0; s < ic->nb_streams; ++s) {
            const AVStream* st = ic->streams[s];
            if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
            // The stream's own rate stands for the old decoder time base.
            AVRational r = st->avg_frame_rate;
            if (r.num <= 0 || r.den <= 0) r = st->r_frame_rate;
            if (r.num <= 0 || r.den <= 0) r = AVRational{0, 0};
            rates.push_back(r);
        }
    }
    return rates;
}

void TFileSet::SetInputTsScale(const std::string& text) {
    const auto [index, scale] = ParseTsScaleText(text);
    // The scale belongs to the input opened next; with every slot taken there is none.
    if (InputFileCount >= MaxFiles) throw FFmpegException("Too many input files");
    std::vector<double>& scales = InputTsScales[InputFileCount];
    GrowArray(scales, static_cast<size_t>(index) + 1);
    scales[index] = scale;
}

// --- streams added to the last output file ("newvideo", "newaudio", "newsubtitle")

void TFileSet::NewStream(AVMediaType type) {
    if (OutputFileCount <= 0) throw FFmpegException("At least one output file must be specified");
    const int slot = OutputFileCount - 1;
    AVFormatContext* oc = OutputFiles[slot].get();
    switch (type) {
        case AVMEDIA_TYPE_VIDEO:
            NewVideoStream(oc, slot);
            break;
        case AVMEDIA_TYPE_AUDIO:
            NewAudioStream(oc, slot);
            break;
        default:
            NewSubtitleStream(oc, slot);
            break;
    }
}

}  // namespace tw
