// transcoder/run/ProgressReport.cpp — the progress and final report lines and
// the progress callback, and the process-wide quantizer histogram.
#include "transcoder/run/ProgressReport.h"

#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "binding/Entries.h"

namespace tw {

namespace {

// Video quantizers seen by the reports ("qphist"), for the whole process:
// every engine's reports count into the same histogram.
std::array<std::atomic<int>, 52>& QuantizerCounts() {
    static std::array<std::atomic<int>, 52> counts{};
    return counts;
}

double Psnr(double error) { return -10.0 * std::log10(error); }

}  // namespace

void CountQuantizer(int qp) {
    if (qp >= 0 && qp < 52) ++QuantizerCounts()[qp];
}

int QuantizerCount(int qp) { return qp >= 0 && qp < 52 ? QuantizerCounts()[qp].load() : 0; }

void TProgressReport::Report(bool final, int fileIndex) const {
    AVFormatContext* oc = FTables.Output(0);
    int64_t totalSize = 0;
    if (oc->pb) {
        totalSize = lib().avio_size(oc->pb);
        if (totalSize < 0) totalSize = lib().avio_seek(oc->pb, 0, SEEK_CUR);
    }
    char buf[1024] = {};
    auto append = [&](const char* fmt, auto... args) {
        const size_t len = std::strlen(buf);
        std::snprintf(buf + len, sizeof buf - len, fmt, args...);
    };
    // The least positive time of the output streams; 10^10 s while none has one.
    constexpr double kNone = 1e10;
    double ti1 = kNone;
    bool videoReported = false;
    int frameNumber = -1, fps = -1;
    float quality = -1;
    for (TOutputStream* ost : FTables.Outputs) {
        const bool video = (ost->Encoder ? ost->Encoder->codec_type
                                         : ost->Stream->codecpar->codec_type) == AVMEDIA_TYPE_VIDEO;
        // Quality of the last encoded picture; a copy has none.
        const TOutputStream* er = ost->EncodingNeeded ? FEncoderRecord(ost) : nullptr;
        const float q = !er || !er->Encoder ? -1.0f
                        : er->CodedQuality >= 0
                            ? static_cast<float>(er->CodedQuality) / FF_QP2LAMBDA
                            : static_cast<float>(er->Encoder->global_quality) / FF_QP2LAMBDA;
        if (videoReported && video) append("q=%2.1f ", q);
        if (!videoReported && video && ost->Active) {
            const double t = (lib().av_gettime() - FTimerStart) / 1000000.0;
            frameNumber = ost->FrameNumber;
            if (frameNumber < 1) return;
            fps = t > 1.0 ? static_cast<int>(frameNumber / t + 0.5) : 0;
            quality = q;
            append("frame=%5d fps=%3d q=%3.1f ", frameNumber, fps, quality);
            if (final) append("L");
            if (FConfig.QpHistogram) {
                const long qp = std::lrint(quality);
                if (qp >= 0 && qp < 52) CountQuantizer(static_cast<int>(qp));
                for (int j = 0; j < 32; ++j)
                    append("%X", static_cast<int>(std::lrint(std::log2(QuantizerCount(j) + 1))));
            }
            if (er && er->Encoder && (er->Encoder->flags & AV_CODEC_FLAG_PSNR) &&
                er->CodedErrorPlanes >= 3) {
                // The last picture's errors, or the totals over every frame;
                // only from encoders that give them (libx264 keeps its own).
                const AVCodecContext* enc = er->Encoder.get();
                double errorSum = 0, scaleSum = 0;
                append("PSNR=");
                for (int j = 0; j < 3; ++j) {
                    const double error = double(final ? er->CodedErrorSum[j] : er->CodedError[j]);
                    double scale = double(enc->width) * enc->height * 255.0 * 255.0;
                    if (j > 0) scale /= 4;
                    if (final) scale *= frameNumber;
                    errorSum += error;
                    scaleSum += scale;
                    append("%c:%2.2f ", "YUV"[j], Psnr(error / scale));
                }
                append("*:%2.2f ", Psnr(errorSum / scaleSum));
            }
            videoReported = true;
        }
        const double ct = FWriter.CurrentTime(*ost);
        if (ct > 0 && ct < ti1) ti1 = ct;
    }
    const bool anyTime = ti1 < kNone;
    if (ti1 < 0.01) ti1 = 0.01;
    if (!FEvents.HasProgress() && FConfig.Verbose <= 0 && !final) return;
    const float bitRate = static_cast<float>(totalSize * 8 / ti1 / 1000.0);
    append("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", totalSize / 1024.0, ti1, bitRate);
    if (FCounters.DupFrames || FCounters.DropFrames) {
        append(" dup=%d drop=%d", FCounters.DupFrames, FCounters.DropFrames);
        if (FCounters.ReportLogRequested && FConfig.Verbose >= 0 && FEvents.HasProgress()) {
            FCounters.ReportLogRequested = false;
            FFLogger()->Log(FEvents.LogSender(), llVerbose, buf);
        }
    }
    if (FEvents.HasProgress()) {
        TProgress p;
        p.FileIndex = fileIndex;
        p.FrameNumber = frameNumber;
        p.FPS = fps;
        p.Quality = quality;
        p.BitRate = bitRate;
        p.TotalSize = totalSize;
        if (anyTime) p.CurrentTime = static_cast<int64_t>(ti1 * 1000000);
        p.TotalDuration = FConfig.TotalDuration;
        FEvents.Progress(p);
    } else if (FConfig.Verbose >= 0) {
        FFLogger()->Log(FEvents.LogSender(), llVerbose, buf);
    }
    if (final && FConfig.Verbose >= 0) {
        const double sum =
            static_cast<double>(FCounters.VideoSize + FCounters.AudioSize + FCounters.ExtraSize);
        FFLogger()->LogFmt(FEvents.LogSender(), llVerbose,
                           "video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead "
                           "%f%%\r\n",
                           FCounters.VideoSize / 1024.0, FCounters.AudioSize / 1024.0,
                           FCounters.ExtraSize / 1024.0,
                           sum > 0 ? (totalSize - sum) * 100.0 / sum : 0.0);
    }
}

}  // namespace tw
