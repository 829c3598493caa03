// transcoder/run/Transcoder.cpp — one transcode: its parts, the packet loop
// (which input to read, the timestamp offsets and scales, joining one input
// after another) and the end of the run.
#include "transcoder/run/Transcoder.h"

#include <chrono>
#include <cinttypes>
#include <cmath>
#include <thread>

#include "binding/Entries.h"
#include "binding/InterruptCB.h"
#include "binding/UnicodeProtocol.h"
#include "diag/FFLog.h"
#include "diag/FFUtils.h"
#include "diag/MainThread.h"
#include "transcoder/files/FlvKeyframeIndex.h"

namespace tw {

namespace {

int FrameLimitIndex(AVMediaType type) {
    switch (type) {
        case AVMEDIA_TYPE_VIDEO:
            return mfVideo;
        case AVMEDIA_TYPE_AUDIO:
            return mfAudio;
        case AVMEDIA_TYPE_DATA:
            return mfData;
        case AVMEDIA_TYPE_SUBTITLE:
            return mfSubtitle;
        default:
            return -1;
    }
}

// An input's start time (µs), 0 when it has none.
int64_t StartOf(const AVFormatContext* ic) {
    return ic->start_time == AV_NOPTS_VALUE ? 0 : ic->start_time;
}

}  // namespace

TTranscoder::TTranscoder(const TRunContext& run, TFileTables& files, TPictureState& picture,
                         TFrameHookList& frameHooks)
    : FConfig(run.Config),
      FCounters(run.Counters),
      FEvents(run.Events),
      FTables(files),
      FEncoderRecord(files, run.Config.JoinMode),
      FWriter(run),
      FVideoFilter(run, FEncoderRecord),
      FHooks(run, picture, frameHooks),
      FAudio(run, FEncoderRecord, FWriter),
      FVideo(run, FEncoderRecord, {FWriter, FAudio, FHooks, FVideoFilter}),
      FQueue(run, FTables, FWriter),
      FHeaders(run, FTables, FQueue),
      FSetup(run, FTables, FEncoderRecord, FVideoFilter, FHeaders, frameHooks),
      FPackets(run, FTables, FEncoderRecord, FWriter, FAudio, FVideo),
      FReport(run, FTables, FEncoderRecord, FWriter),
      FChapters(run, FTables) {}

TTranscoder::~TTranscoder() {
    try {
        Release();
    } catch (...) {
    }
}

void TTranscoder::Release() {
    FSetup.Release();
    if (FStopCheckRegistered) {
        InterruptCB()->Unregister(CurrentThreadID(), &FEvents, TRunEvents::CheckStop);
        FStopCheckRegistered = false;
    }
}

bool TTranscoder::Transcode() {
    FCounters.VideoSize = FCounters.AudioSize = FCounters.ExtraSize = 0;
    FCounters.DupFrames = FCounters.DropFrames = 0;
    FCounters.BitBufferSize = 262144;
    FPackets.AllocateBuffers();
    FSetup.Build();
    FHeaders.MapMetadata();
    FHeaders.MapChapters();
    if (FConfig.JoinMode && FConfig.ChapterMaps.empty()) FChapters.Plan();
    FHeaders.WriteHeaders();
    FHeaders.LogStreamMapping();
    Loop();
    AfterLoop();
    const bool finished = !FEvents.StopRequested();
    Release();
    return finished;
}

void TTranscoder::Loop() {
    int64_t lastReport = FReport.Start();
    int file = 0;
    FNoPacket.assign(FTables.Files.size(), false);
    FNoPacketCount = 0;
    if (!IsMainThread()) {
        InterruptCB()->Register(CurrentThreadID(), &FEvents, TRunEvents::CheckStop);
        FStopCheckRegistered = true;
    }
    PacketPtr pkt(lib().av_packet_alloc());
    if (!pkt) throw FFmpegException("av_mallocz fail");
    if (FConfig.JoinMode)
        FChapters.InputStarts(
            0, FTables.TsOffsets[0] + StartOf(FTables.EngineFiles.InputFiles[0].get()));

    auto limitReached = [&](const TOutputStream& ost) {
        const int idx = FrameLimitIndex(ost.Stream->codecpar->codec_type);
        return idx >= 0 && ost.FrameNumber >= FConfig.MaxFrames[idx];
    };

    while (!FEvents.StopRequested()) {
        // 1. choose the file
        if (FConfig.JoinMode) {
            for (int i = 0; i < FTables.StreamsPerOutput; ++i) {
                const size_t r = static_cast<size_t>(file) * FTables.StreamsPerOutput + i;
                if (r < FTables.Outputs.size() && limitReached(*FTables.Outputs[r])) {
                    file = -1;
                    break;
                }
            }
        } else {
            file = -1;
            double ipts_min = 1e100, opts_min = 1e100;
            for (TOutputStream* ost : FTables.Outputs) {
                const TInputStream& ist = *FTables.Inputs[ost->SourceIndex];
                if (ist.PastRecordingTime || FNoPacket[ist.FileIndex]) continue;
                const double opts = FWriter.CurrentTime(*ost);
                const double ipts = static_cast<double>(ist.Pts);
                if (!FTables.Files[ist.FileIndex].EofReached) {
                    if (ipts < ipts_min) {
                        ipts_min = ipts;
                        if (FConfig.InputSync) file = ist.FileIndex;
                    }
                    if (opts < opts_min) {
                        opts_min = opts;
                        if (!FConfig.InputSync) file = ist.FileIndex;
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
            if (FConfig.JoinMode || FNoPacketCount == 0) break;
            std::fill(FNoPacket.begin(), FNoPacket.end(), false);
            FNoPacketCount = 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        // 3. size limit
        if (FConfig.FileSizeLimit && FTables.Output(0)->pb &&
            lib().avio_seek(FTables.Output(0)->pb, 0, SEEK_CUR) >= FConfig.FileSizeLimit)
            break;
        // 4. read
        AVFormatContext* ic = FTables.EngineFiles.InputFiles[file].get();
        const int ret = FQueue.ReadPacket(file, pkt.get());
        if (ret == AVERROR(EAGAIN)) {
            FNoPacket[file] = true;
            ++FNoPacketCount;
            continue;
        }
        if (ret < 0) {
            FTables.Files[file].EofReached = true;
            if (FConfig.Shortest && !FConfig.JoinMode) break;
            if (!FConfig.JoinMode) continue;
            if (!SwitchFile(file)) break;
            continue;
        }
        std::fill(FNoPacket.begin(), FNoPacket.end(), false);
        FNoPacketCount = 0;

        // 5. dump
        // The demuxer's own stream: one that appeared after the probe is
        // only in the context the packet was read from.
        if (FConfig.PacketDump)
            lib().av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, pkt.get(), FConfig.HexDump,
                                   FEvents.InputReader(file)->streams[pkt->stream_index]);
        // 6. streams that appeared later, or nobody wants
        const TInputFile& f = FTables.Files[file];
        if (pkt->stream_index >= f.StreamCount ||
            FTables.Inputs[f.FirstStream + pkt->stream_index]->Discard) {
            lib().av_packet_unref(pkt.get());
            ProgressCheck(lastReport, file);
            continue;
        }
        const int index = f.FirstStream + pkt->stream_index;
        TInputStream& ist = *FTables.Inputs[index];
        // 7. offset, 8. scale
        const AVRational tb = ist.Stream->time_base;
        const AVRational us{1, 1000000};
        const int64_t offset = lib().av_rescale_q(FTables.TsOffsets[file], us, tb);
        if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += offset;
        if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += offset;
        const auto& scales = FTables.EngineFiles.InputTsScales[file];
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
            if ((std::llabs(delta) > static_cast<int64_t>(FConfig.DtsDeltaThreshold * 1000000) ||
                 t + 1 < ist.Pts) &&
                !FConfig.CopyTs) {
                FTables.TsOffsets[file] -= delta;
                if (FConfig.Verbose > 2)
                    FFLogger()->LogFmt(FEvents.LogSender(), llVerbose,
                                       "timestamp discontinuity %" PRId64 ", new offset= %" PRId64,
                                       delta, FTables.TsOffsets[file]);
                const int64_t d = lib().av_rescale_q(delta, us, tb);
                pkt->dts -= d;
                if (pkt->pts != AV_NOPTS_VALUE) pkt->pts -= d;
            }
        }
        // 10. recording time
        if (FConfig.RecordingTime != INT64_MAX) {
            const int64_t limit = FConfig.RecordingTime + FConfig.StartTime;
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
            FPackets.Process(ist, pkt.get());
        } catch (const TDecodeError& e) {
            // "xerror" ends the run with it; otherwise the packet is lost and
            // the run goes on with the next one.
            if (FConfig.ExitOnError) throw;
            if (FConfig.Verbose >= 0) FFLogger()->Log(FEvents.LogSender(), llVerbose, e.what());
            lib().av_packet_unref(pkt.get());
            continue;
        }
        lib().av_packet_unref(pkt.get());
        ProgressCheck(lastReport, file);
    }
}
void TTranscoder::ProgressCheck(int64_t& lastReport, int file) {
    const int64_t now = lib().av_gettime();
    if (now - lastReport > FConfig.ProgressIntervalUs) {
        lastReport = now;
        FReport.Report(false, file);
    }
}
bool TTranscoder::SwitchFile(int& file) {
    const int k = file;
    const int n = static_cast<int>(FTables.Files.size());
    const TInputFile& f = FTables.Files[k];
    // The encoders are not drained, reset and reopened between inputs: they
    // go on with the next input, so frame times stay continuous and the
    // audio encoder's priming is paid once, not at every join.
    FPackets.DrainEncoders = k == n - 1;
    for (int s = f.FirstStream; s < f.FirstStream + f.StreamCount; ++s) {
        TInputStream& ist = *FTables.Inputs[s];
        if (!ist.DecodingNeeded) continue;
        FPackets.Process(ist, nullptr);
        lib().avcodec_flush_buffers(ist.Decoder);
        ist.FlushedAtEof = true;
    }
    FPackets.DrainEncoders = true;
    if (k == n - 1) return false;  // the last set stays active for the final report
    const int per = FTables.StreamsPerOutput;
    // Frame numbering and synchronisation carry over into the next file.
    for (size_t r = static_cast<size_t>(k + 1) * per; r < FTables.Outputs.size(); ++r) {
        FTables.Outputs[r]->SyncOpts = FTables.Outputs[r - per]->SyncOpts;
        FTables.Outputs[r]->FrameNumber = FTables.Outputs[r - per]->FrameNumber;
    }
    double end = 0.0;
    for (int i = 0; i < per; ++i) {
        const size_t r = static_cast<size_t>(k) * per + i;
        if (r >= FTables.Outputs.size()) break;
        TOutputStream& ost = *FTables.Outputs[r];
        double t = FWriter.CurrentTime(ost);
        // An encoder holds frames back: what was fed to it counts, not what
        // it has written so far.
        TOutputStream& er = *FEncoderRecord(&ost);
        if (ost.EncodingNeeded && er.Encoder) {
            const AVCodecContext* enc = er.Encoder.get();
            double fed = ost.SyncOpts * av_q2d(enc->time_base);
            if (enc->codec_type == AVMEDIA_TYPE_AUDIO && er.Fifo && enc->sample_rate > 0) {
                const int bytes =
                    lib().av_get_bytes_per_sample(lib().av_get_packed_sample_fmt(enc->sample_fmt)) *
                    enc->ch_layout.nb_channels;
                if (bytes > 0)
                    fed += double(lib().av_fifo_can_read(er.Fifo.get())) / bytes / enc->sample_rate;
            }
            t = std::max(t, fed);
        }
        end = std::max(end, t);
        ost.Active = false;
    }
    // Read to its end: closed before the next one is opened, so that no
    // more than the first input and the one being read are open.
    FEvents.CloseInputReader(k);
    FTables.TsOffsets[k + 1] += FQueue.NextInputShift(k + 1, end);
    FChapters.InputStarts(
        k + 1, FTables.TsOffsets[k + 1] + StartOf(FTables.EngineFiles.InputFiles[k + 1].get()));
    file = k + 1;
    return true;
}
void TTranscoder::AfterLoop() {
    for (size_t i = 0; i < FTables.Inputs.size(); ++i) {
        TInputStream& ist = *FTables.Inputs[i];
        if (ist.DecodingNeeded && !ist.FlushedAtEof) FPackets.Process(ist, nullptr);
    }
    const int outputs = FConfig.JoinMode ? 1 : FTables.EngineFiles.OutputFileCount;
    if (FConfig.JoinMode) {
        // Where the output ends: the end of its longest stream.
        double end = 0;
        for (int i = 0; i < FTables.StreamsPerOutput && i < int(FTables.Outputs.size()); ++i)
            end = std::max(end, FWriter.CurrentTime(*FTables.Outputs[i]));
        FChapters.Finish(std::llrint(end * 1000000));
    }
    // A trailer that cannot be written, or data that never reached the file
    // (a full disk), fails the run instead of passing for a finished one.
    int failure = 0;
    for (int i = 0; i < outputs; ++i) {
        AVFormatContext* oc = FTables.Output(i);
        int ret = lib().av_write_trailer(oc);
        if (ret >= 0) ret = TFlvKeyframeIndex::Finish(oc);
        if (ret >= 0 && oc->pb && !(oc->oformat->flags & AVFMT_NOFILE))
            ret = FlushLibraryIO(oc->pb);
        if (ret < 0 && failure == 0) failure = ret;
    }
    FReport.Report(true, -1);
    FSetup.CloseEncoders();
    if (failure < 0) throw FFmpegException(ErrorText("av_write_trailer()", failure));
}

}  // namespace tw
