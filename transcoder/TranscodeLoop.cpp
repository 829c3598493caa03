// transcoder/TranscodeLoop.cpp — the packet loop: which input to read, the
// timestamp offsets and scales, joining one input after another, the end of
// the run and the progress reports.
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>

#include "binding/Entries.h"
#include "binding/InterruptCB.h"
#include "binding/LockManager.h"
#include "binding/UnicodeProtocol.h"
#include "diag/FFLog.h"
#include "diag/FFUtils.h"
#include "diag/MainThread.h"
#include "transcoder/Transcoder.h"

namespace tw {

namespace {

// Video quantizers seen by the reports ("qphist"), for the whole process.
std::array<std::atomic<int>, 52> QpHistogramCounts{};

double Psnr(double error) { return -10.0 * std::log10(error); }

}  // namespace

namespace {

int FrameLimitIndex(AVMediaType type) {
    switch (type) {
        case AVMEDIA_TYPE_VIDEO: return mfVideo;
        case AVMEDIA_TYPE_AUDIO: return mfAudio;
        case AVMEDIA_TYPE_DATA: return mfData;
        case AVMEDIA_TYPE_SUBTITLE: return mfSubtitle;
        default: return -1;
    }
}

}  // namespace

double TTranscoder::CurrentTime(const TOutputStream& ost) const {
    auto it = FStreamEnd.find(ost.Stream);
    if (it == FStreamEnd.end()) return 0.0;
    return it->second * av_q2d(ost.Stream->time_base);
}

void TTranscoder::Loop() {
    FTimerStart = lib().av_gettime();
    int64_t lastReport = FTimerStart;
    int file = 0;
    std::fill(FNoPacket.begin(), FNoPacket.end(), false);
    FNoPacketCount = 0;
    if (!IsMainThread()) {
        InterruptCB()->Register(CurrentThreadID(), &FEngine, TCustomFFmpeg::CheckStopRequest);
        FStopCheckRegistered = true;
    }
    PacketPtr pkt(lib().av_packet_alloc());
    if (!pkt) throw FFmpegException("av_mallocz fail");

    auto limitReached = [&](const TOutputStream& ost) {
        const int idx = FrameLimitIndex(ost.Stream->codecpar->codec_type);
        return idx >= 0 && ost.FrameNumber >= FEngine.MaxFrames[idx];
    };

    while (!FEngine.StopRequested) {
        // 1. choose the file
        if (FEngine.JoinMode) {
            for (int i = 0; i < FStreamsPerOutput; ++i) {
                const size_t r = static_cast<size_t>(file) * FStreamsPerOutput + i;
                if (r < FOutputs.size() && limitReached(*FOutputs[r])) {
                    file = -1;
                    break;
                }
            }
        } else {
            file = -1;
            double ipts_min = 1e100, opts_min = 1e100;
            for (TOutputStream* ost : FOutputs) {
                const TInputStream& ist = *FInputs[ost->SourceIndex];
                if (ist.PastRecordingTime || FNoPacket[ist.FileIndex]) continue;
                const double opts = CurrentTime(*ost);
                const double ipts = static_cast<double>(ist.Pts);
                if (!FFiles[ist.FileIndex].EofReached) {
                    if (ipts < ipts_min) {
                        ipts_min = ipts;
                        if (FEngine.InputSync) file = ist.FileIndex;
                    }
                    if (opts < opts_min) {
                        opts_min = opts;
                        if (!FEngine.InputSync) file = ist.FileIndex;
                    }
                }
                if (limitReached(*ost)) {
                    file = -1;
                    break;
                }
            }
        }
        // 2. nothing to read
        if (file < 0) {
            if (FEngine.JoinMode || FNoPacketCount == 0) break;
            std::fill(FNoPacket.begin(), FNoPacket.end(), false);
            FNoPacketCount = 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        // 3. size limit
        if (FEngine.FileSizeLimit && Output(0)->pb &&
            lib().avio_seek(Output(0)->pb, 0, SEEK_CUR) >= FEngine.FileSizeLimit)
            break;
        // 4. read
        AVFormatContext* ic = FEngine.InputFiles[file].get();
        const int ret = ReadPacket(file, pkt.get());
        if (ret == AVERROR(EAGAIN)) {
            FNoPacket[file] = true;
            ++FNoPacketCount;
            continue;
        }
        if (ret < 0) {
            FFiles[file].EofReached = true;
            if (FEngine.Shortest && !FEngine.JoinMode) break;
            if (!FEngine.JoinMode) continue;
            if (!SwitchFile(file)) break;
            continue;
        }
        std::fill(FNoPacket.begin(), FNoPacket.end(), false);
        FNoPacketCount = 0;

        // 5. dump
        if (FEngine.PacketDump)
            lib().av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, pkt.get(), FEngine.HexDump,
                                   ic->streams[pkt->stream_index]);
        // 6. streams that appeared later, or nobody wants
        const TInputFile& f = FFiles[file];
        if (pkt->stream_index >= f.StreamCount || FInputs[f.FirstStream + pkt->stream_index]->Discard) {
            lib().av_packet_unref(pkt.get());
            ProgressCheck(lastReport, file);
            continue;
        }
        const int index = f.FirstStream + pkt->stream_index;
        TInputStream& ist = *FInputs[index];
        // 7. offset, 8. scale
        const AVRational tb = ist.Stream->time_base;
        const AVRational us{1, 1000000};
        const int64_t offset = lib().av_rescale_q(FEngine.InputTsOffsets[file], us, tb);
        if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += offset;
        if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += offset;
        const auto& scales = FEngine.InputTsScales[file];
        if (pkt->stream_index < static_cast<int>(scales.size()) && scales[pkt->stream_index] != 0) {
            const double s = scales[pkt->stream_index];
            if (pkt->pts != AV_NOPTS_VALUE) pkt->pts = std::llrint(pkt->pts * s);
            if (pkt->dts != AV_NOPTS_VALUE) pkt->dts = std::llrint(pkt->dts * s);
        }
        // 9. discontinuities of formats that have them
        if ((ic->iformat->flags & AVFMT_TS_DISCONT) && pkt->dts != AV_NOPTS_VALUE &&
            ist.NextPts != AV_NOPTS_VALUE) {
            const int64_t t = lib().av_rescale_q(pkt->dts, tb, us);
            const int64_t delta = t - ist.NextPts;
            if ((std::llabs(delta) > static_cast<int64_t>(FEngine.DtsDeltaThreshold * 1000000) ||
                 t + 1 < ist.Pts) &&
                !FEngine.CopyTs) {
                FEngine.InputTsOffsets[file] -= delta;
                if (FEngine.Verbose > 2)
                    FFLogger()->LogFmt(&FEngine, llVerbose, "timestamp discontinuity %" PRId64
                                       ", new offset= %" PRId64, delta, FEngine.InputTsOffsets[file]);
                const int64_t d = lib().av_rescale_q(delta, us, tb);
                pkt->dts -= d;
                if (pkt->pts != AV_NOPTS_VALUE) pkt->pts -= d;
            }
        }
        // 10. recording time
        if (FEngine.RecordingTime != INT64_MAX) {
            const int64_t limit = FEngine.RecordingTime + FEngine.StartTime;
            const bool past =
                pkt->pts != AV_NOPTS_VALUE
                    ? lib().av_rescale_q(pkt->pts, tb, us) >= limit
                    : (pkt->dts != AV_NOPTS_VALUE && lib().av_rescale_q(pkt->dts, tb, us) >= limit);
            if (past) {
                ist.PastRecordingTime = true;
                lib().av_packet_unref(pkt.get());
                ProgressCheck(lastReport, file);
                continue;
            }
        }
        // 11. process
        try {
            ProcessPacket(ist, pkt.get());
        } catch (const TDecodeError& e) {
            // "xerror" ends the run with it; otherwise the packet is lost and
            // the run goes on with the next one.
            if (FEngine.ExitOnError) throw;
            if (FEngine.Verbose >= 0) FFLogger()->Log(&FEngine, llVerbose, e.what());
            lib().av_packet_unref(pkt.get());
            continue;
        }
        lib().av_packet_unref(pkt.get());
        ProgressCheck(lastReport, file);
    }
}

void TTranscoder::ProgressCheck(int64_t& lastReport, int file) {
    const int64_t now = lib().av_gettime();
    if (now - lastReport > FEngine.ProgressIntervalUs) {
        lastReport = now;
        Report(false, file);
    }
}

bool TTranscoder::SwitchFile(int& file) {
    const int k = file;
    const int n = static_cast<int>(FFiles.size());
    const TInputFile& f = FFiles[k];
    // The encoders are not drained, reset and reopened between inputs: they
    // go on with the next input, so frame times stay continuous and the
    // audio encoder's priming is paid once, not at every join.
    FDrainEncoders = k == n - 1;
    for (int s = f.FirstStream; s < f.FirstStream + f.StreamCount; ++s) {
        TInputStream& ist = *FInputs[s];
        if (!ist.DecodingNeeded) continue;
        ProcessPacket(ist, nullptr);
        lib().avcodec_flush_buffers(ist.Decoder);
        ist.FlushedAtEof = true;
    }
    FDrainEncoders = true;
    if (k == n - 1) return false;  // the last set stays active for the final report
    const int per = FStreamsPerOutput;
    // Frame numbering and synchronisation carry over into the next file.
    for (size_t r = static_cast<size_t>(k + 1) * per; r < FOutputs.size(); ++r) {
        FOutputs[r]->SyncOpts = FOutputs[r - per]->SyncOpts;
        FOutputs[r]->FrameNumber = FOutputs[r - per]->FrameNumber;
    }
    double end = 0.0;
    for (int i = 0; i < per; ++i) {
        const size_t r = static_cast<size_t>(k) * per + i;
        if (r >= FOutputs.size()) break;
        TOutputStream& ost = *FOutputs[r];
        double t = CurrentTime(ost);
        // An encoder holds frames back: what was fed to it counts, not what
        // it has written so far.
        TOutputStream& er = *FEncoderRecord(&ost);
        if (ost.EncodingNeeded && er.Encoder) {
            const AVCodecContext* enc = er.Encoder.get();
            double fed = ost.SyncOpts * av_q2d(enc->time_base);
            if (enc->codec_type == AVMEDIA_TYPE_AUDIO && er.Fifo && enc->sample_rate > 0) {
                const int bytes = lib().av_get_bytes_per_sample(
                                      lib().av_get_packed_sample_fmt(enc->sample_fmt)) *
                                  enc->ch_layout.nb_channels;
                if (bytes > 0)
                    fed += double(lib().av_fifo_can_read(er.Fifo.get())) / bytes / enc->sample_rate;
            }
            t = std::max(t, fed);
        }
        end = std::max(end, t);
        ost.Active = false;
    }
    FEngine.InputTsOffsets[k + 1] += NextInputShift(k + 1, end);
    file = k + 1;
    return true;
}

namespace {

// Packets read ahead per copied stream: enough to see the decode times that
// precede the start (B-frame delay, audio priming).
constexpr size_t ReadAheadPerStream = 8;
constexpr size_t ReadAheadLimit = 256;

bool Copied(const TInputStream& ist) { return !ist.Discard && !ist.DecodingNeeded; }

}  // namespace

void TTranscoder::FillDecodeTime(int file, AVPacket* pkt) {
    const TInputFile& f = FFiles[file];
    if (pkt->stream_index < 0 || pkt->stream_index >= f.StreamCount) return;
    TInputStream& ist = *FInputs[f.FirstStream + pkt->stream_index];
    if (!Copied(ist) || pkt->pts == AV_NOPTS_VALUE) return;
    const AVCodecParameters* par = ist.Stream->codecpar;
    int64_t step = pkt->duration;
    if (step <= 0 && par->codec_type == AVMEDIA_TYPE_VIDEO) {
        const AVRational rate =
            ist.Stream->avg_frame_rate.num ? ist.Stream->avg_frame_rate : ist.Stream->r_frame_rate;
        if (rate.num && rate.den)
            step = lib().av_rescale_q(1, av_inv_q(rate), ist.Stream->time_base);
    }
    if (pkt->dts != AV_NOPTS_VALUE) {
        ist.DerivedDts = pkt->dts + std::max<int64_t>(step, 1);
        return;
    }
    // Pictures stored out of order are decoded that many frames before they
    // are shown; the decode clock then moves one frame per packet.
    const int delay = par->codec_type == AVMEDIA_TYPE_VIDEO ? par->video_delay : 0;
    if (delay <= 0 || step <= 0) {
        pkt->dts = pkt->pts;
    } else {
        if (ist.DerivedDts == AV_NOPTS_VALUE) ist.DerivedDts = pkt->pts - delay * step;
        pkt->dts = std::min(ist.DerivedDts, pkt->pts);
    }
    ist.DerivedDts = pkt->dts + std::max<int64_t>(step, 1);
}

void TTranscoder::SizeReadAheadTables() {
    if (FReadAhead.size() >= FFiles.size()) return;
    FReadAhead.resize(FFiles.size());
    FReadAheadEnd.resize(FFiles.size(), 0);
    FReadAheadDone.resize(FFiles.size(), false);
}

int TTranscoder::ReadPacket(int file, AVPacket* pkt) {
    SizeReadAheadTables();
    auto& queue = FReadAhead[file];
    if (!queue.empty()) {
        lib().av_packet_move_ref(pkt, queue.front().get());
        queue.pop_front();
        return 0;
    }
    if (FReadAheadEnd[file] < 0) return FReadAheadEnd[file];
    return ReadFromDemuxer(file, pkt);
}

int TTranscoder::ReadFromDemuxer(int file, AVPacket* pkt) {
    const TInputFile& f = FFiles[file];
    while (true) {
        const int ret = lib().av_read_frame(FEngine.InputFiles[file].get(), pkt);
        if (ret < 0) return ret;
        // Audio packets the source itself marks as not to be played (the
        // AAC priming an MP4 edit list hides) are dropped from copied
        // streams, of every input alike: each input's audio then starts with
        // its first played sample, as players play the source. (Pictures
        // marked so stay: later pictures may refer to them.)
        if ((pkt->flags & AV_PKT_FLAG_DISCARD) && pkt->stream_index >= 0 &&
            pkt->stream_index < f.StreamCount) {
            const TInputStream& ist = *FInputs[f.FirstStream + pkt->stream_index];
            if (Copied(ist) && ist.Stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
                lib().av_packet_unref(pkt);
                continue;
            }
        }
        FillDecodeTime(file, pkt);
        return 0;
    }
}

void TTranscoder::ReadAhead(int file) {
    SizeReadAheadTables();
    if (FReadAheadDone[file]) return;
    FReadAheadDone[file] = true;
    const TInputFile& f = FFiles[file];
    std::vector<size_t> seen(f.StreamCount, 0);
    auto enough = [&] {
        for (int s = 0; s < f.StreamCount; ++s)
            if (Copied(*FInputs[f.FirstStream + s]) && seen[s] < ReadAheadPerStream) return false;
        return true;
    };
    auto& queue = FReadAhead[file];
    while (!enough() && queue.size() < ReadAheadLimit && !FEngine.StopRequested) {
        PacketPtr p(lib().av_packet_alloc());
        if (!p) throw FFmpegException("av_mallocz fail");
        const int ret = ReadFromDemuxer(file, p.get());
        if (ret == AVERROR(EAGAIN)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        if (ret < 0) {
            FReadAheadEnd[file] = ret;
            break;
        }
        if (p->stream_index >= 0 && p->stream_index < f.StreamCount) ++seen[p->stream_index];
        queue.push_back(std::move(p));
    }
}

int64_t TTranscoder::NextInputShift(int next, double endTime) {
    // The next input starts where the previous one ended...
    int64_t shift = std::llrint(1000000.0 * endTime);
    ReadAhead(next);
    const AVRational us{1, 1000000};
    const TInputFile& f = FFiles[next];
    const int64_t offset = FEngine.InputTsOffsets[next];
    for (int s = 0; s < f.StreamCount; ++s) {
        const TInputStream& ist = *FInputs[f.FirstStream + s];
        if (!Copied(ist)) continue;
        const TOutputStream* ost = nullptr;
        for (const TOutputStream* o : FOutputs)
            if (o->SourceIndex == f.FirstStream + s && !o->EncodingNeeded) ost = o;
        if (!ost) continue;
        auto last = FStreamLastDts.find(ost->Stream);
        if (last == FStreamLastDts.end() || last->second.Dts == AV_NOPTS_VALUE) continue;
        int64_t earliest = AV_NOPTS_VALUE;
        for (const PacketPtr& p : FReadAhead[next]) {
            if (p->stream_index != s) continue;
            const int64_t t = p->dts != AV_NOPTS_VALUE ? p->dts : p->pts;
            if (t != AV_NOPTS_VALUE && (earliest == AV_NOPTS_VALUE || t < earliest)) earliest = t;
        }
        if (earliest == AV_NOPTS_VALUE) continue;
        // ...and late enough that each stream's first decode time comes one
        // step after the last one written (in the output's units, rounded
        // up), whatever precedes the start (B-frame delay, priming).
        const AVRational otb = ost->Stream->time_base;
        const int64_t wanted =
            lib().av_rescale_q_rnd(last->second.Dts + std::max<int64_t>(last->second.Step, 1), otb,
                                   us, static_cast<AVRounding>(AV_ROUND_UP | AV_ROUND_PASS_MINMAX));
        const int64_t first = lib().av_rescale_q(earliest, ist.Stream->time_base, us) + offset;
        shift = std::max(shift, wanted - first + 1);
    }
    return shift;
}

void TTranscoder::CloseEncoders() {
    const size_t count = FEngine.JoinMode ? FStreamsPerOutput : FOutputs.size();
    for (size_t i = 0; i < count && i < FOutputs.size(); ++i) {
        TOutputStream* ost = FOutputs[i];
        if (!ost->EncodingNeeded) continue;
        auto it = std::find(FOpenEncoders.begin(), FOpenEncoders.end(), ost);
        if (it == FOpenEncoders.end()) continue;
        FOpenEncoders.erase(it);
        ost->Encoder.reset();
    }
}

void TTranscoder::AfterLoop() {
    for (size_t i = 0; i < FInputs.size(); ++i) {
        TInputStream& ist = *FInputs[i];
        if (ist.DecodingNeeded && !ist.FlushedAtEof) ProcessPacket(ist, nullptr);
    }
    const int outputs = FEngine.JoinMode ? 1 : FEngine.OutputFileCount;
    // A trailer that cannot be written, or data that never reached the file
    // (a full disk), fails the run instead of passing for a finished one.
    int failure = 0;
    for (int i = 0; i < outputs; ++i) {
        AVFormatContext* oc = Output(i);
        int ret = lib().av_write_trailer(oc);
        if (ret >= 0 && oc->pb && !(oc->oformat->flags & AVFMT_NOFILE))
            ret = FlushLibraryIO(oc->pb);
        if (ret < 0 && failure == 0) failure = ret;
    }
    Report(true, -1);
    CloseEncoders();
    if (failure < 0) throw FFmpegException(ErrorText("av_write_trailer()", failure));
    FEngine.Finished = !FEngine.StopRequested;
}

void TTranscoder::Report(bool final, int fileIndex) {
    AVFormatContext* oc = Output(0);
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
    double ti1 = 1e10;
    bool videoReported = false;
    int frameNumber = -1, fps = -1;
    float quality = -1;
    for (TOutputStream* ost : FOutputs) {
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
            if (FEngine.QpHistogram) {
                const long qp = std::lrint(quality);
                if (qp >= 0 && qp < 52) ++QpHistogramCounts[qp];
                for (int j = 0; j < 32; ++j)
                    append("%X", static_cast<int>(std::lrint(std::log2(QpHistogramCounts[j] + 1))));
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
        const double ct = CurrentTime(*ost);
        if (ct > 0 && ct < ti1) ti1 = ct;
    }
    if (ti1 < 0.01) ti1 = 0.01;
    if (!FEngine.ProgressCallback && FEngine.Verbose <= 0 && !final) return;
    const float bitRate = static_cast<float>(totalSize * 8 / ti1 / 1000.0);
    append("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", totalSize / 1024.0, ti1, bitRate);
    if (FEngine.DupFrames || FEngine.DropFrames) {
        append(" dup=%d drop=%d", FEngine.DupFrames, FEngine.DropFrames);
        if (FEngine.ReportLogRequested && FEngine.Verbose >= 0 && FEngine.ProgressCallback) {
            FEngine.ReportLogRequested = false;
            FFLogger()->Log(&FEngine, llVerbose, buf);
        }
    }
    if (FEngine.ProgressCallback) {
        FEngine.ProgressCallback(&FEngine, fileIndex, FEngine.TotalDuration, static_cast<int64_t>(ti1 * 1000000),
                           totalSize, bitRate, quality, fps, frameNumber);
    } else if (FEngine.Verbose >= 0) {
        FFLogger()->Log(&FEngine, llVerbose, buf);
    }
    if (final && FEngine.Verbose >= 0) {
        const double sum = static_cast<double>(FEngine.VideoSize + FEngine.AudioSize + FEngine.ExtraSize);
        FFLogger()->LogFmt(&FEngine, llVerbose,
                           "video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead "
                           "%f%%\r\n",
                           FEngine.VideoSize / 1024.0, FEngine.AudioSize / 1024.0, FEngine.ExtraSize / 1024.0,
                           sum > 0 ? (totalSize - sum) * 100.0 / sum : 0.0);
    }
}

}  // namespace tw
