// transcoder/CustomFFmpeg.cpp — construction and option reset of the engine,
// and the options that reach beyond the option values.
#include "transcoder/CustomFFmpeg.h"

#include <stdexcept>

#include "binding/FFLoad.h"
#include "transcoder/Parsers.h"
#include "transcoder/PictureState.h"

namespace tw {

// --- construction and reset

int TCustomFFmpeg::CheckedCapacity(int maxFiles) {
    // A capacity out of range is a programming error of the caller.
    if (maxFiles < 1 || maxFiles > MaxFilesLimit) throw std::logic_error("Assertion failure");
    return maxFiles;
}

TCustomFFmpeg::TCustomFFmpeg(int maxFiles)
    : TFileTables(CheckedCapacity(maxFiles)),
      MaxFiles(maxFiles),
      FPicture(std::make_unique<TPictureState>()) {
    ResetOptions();
}

void TCustomFFmpeg::ResetOptions() {
    if (!FFLoader().Loaded(WorkLibraryKinds)) return;
    ResetOptionValues();
    SetPreviewFlags(0, false);
    Running = false;
    StopRequested = false;
    Finished = false;
    Terminated = false;
    JoinMode = false;
    ErrorRaised = false;
    TotalDuration = -1;
}

std::vector<AVRational> TCustomFFmpeg::InputVideoFrameRates() const {
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

void TCustomFFmpeg::SetInputTsScale(const std::string& text) {
    const auto [index, scale] = ParseTsScaleText(text);
    // The scale belongs to the input opened next; with every slot taken there is none.
    if (InputFileCount >= MaxFiles) throw FFmpegException("Too many input files");
    std::vector<double>& scales = InputTsScales[InputFileCount];
    GrowArray(scales, static_cast<size_t>(index) + 1);
    scales[index] = scale;
}

void TCustomFFmpeg::SetRecordingTime(int64_t us) {
    if (us == AV_NOPTS_VALUE) return;
    TEngineOptions::SetRecordingTime(us);
    TotalDuration = us;
}

// --- streams added to the last output file ("newvideo", "newaudio", "newsubtitle")

void TCustomFFmpeg::NewStream(AVMediaType type) {
    if (OutputFileCount <= 0) throw FFmpegException("At least one output file must be specified");
    const int slot = OutputFileCount - 1;
    AVFormatContext* oc = OutputFiles[slot].get();
    switch (type) {
        case AVMEDIA_TYPE_VIDEO: NewVideoStream(oc, slot); break;
        case AVMEDIA_TYPE_AUDIO: NewAudioStream(oc, slot); break;
        default: NewSubtitleStream(oc, slot); break;
    }
}

void TCustomFFmpeg::NewVideoStream() { NewStream(AVMEDIA_TYPE_VIDEO); }
void TCustomFFmpeg::NewAudioStream() { NewStream(AVMEDIA_TYPE_AUDIO); }
void TCustomFFmpeg::NewSubtitleStream() { NewStream(AVMEDIA_TYPE_SUBTITLE); }

}  // namespace tw
