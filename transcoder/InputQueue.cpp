// transcoder/InputQueue.cpp — reading the inputs, with the packets read
// ahead of the loop, and where a joined input is placed.
#include "transcoder/InputQueue.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "binding/Entries.h"
#include "transcoder/FFmpegException.h"

namespace tw {

namespace {

// Packets read ahead per copied stream: enough to see the decode times that
// precede the start (B-frame delay, audio priming).
constexpr size_t ReadAheadPerStream = 8;
constexpr size_t ReadAheadLimit = 256;

bool Copied(const TInputStream& ist) { return !ist.Discard && !ist.DecodingNeeded; }

}  // namespace

void TInputQueue::FillDecodeTime(int file, AVPacket* pkt) {
    const TInputFile& f = FTables.Files[file];
    if (pkt->stream_index < 0 || pkt->stream_index >= f.StreamCount) return;
    TInputStream& ist = *FTables.Inputs[f.FirstStream + pkt->stream_index];
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
void TInputQueue::SizeTables() {
    if (FReadAhead.size() >= FTables.Files.size()) return;
    FReadAhead.resize(FTables.Files.size());
    FReadAheadEnd.resize(FTables.Files.size(), 0);
    FReadAheadDone.resize(FTables.Files.size(), false);
}
int TInputQueue::ReadPacket(int file, AVPacket* pkt) {
    SizeTables();
    auto& queue = FReadAhead[file];
    if (!queue.empty()) {
        lib().av_packet_move_ref(pkt, queue.front().get());
        queue.pop_front();
        return 0;
    }
    if (FReadAheadEnd[file] < 0) return FReadAheadEnd[file];
    return ReadFromDemuxer(file, pkt);
}
int TInputQueue::ReadFromDemuxer(int file, AVPacket* pkt) {
    const TInputFile& f = FTables.Files[file];
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
            const TInputStream& ist = *FTables.Inputs[f.FirstStream + pkt->stream_index];
            if (Copied(ist) && ist.Stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
                lib().av_packet_unref(pkt);
                continue;
            }
        }
        FillDecodeTime(file, pkt);
        return 0;
    }
}
void TInputQueue::ReadAhead(int file) {
    SizeTables();
    if (FReadAheadDone[file]) return;
    FReadAheadDone[file] = true;
    const TInputFile& f = FTables.Files[file];
    std::vector<size_t> seen(f.StreamCount, 0);
    auto enough = [&] {
        for (int s = 0; s < f.StreamCount; ++s)
            if (Copied(*FTables.Inputs[f.FirstStream + s]) && seen[s] < ReadAheadPerStream)
                return false;
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
int64_t TInputQueue::NextInputShift(int next, double endTime) {
    // The next input starts where the previous one ended...
    int64_t shift = std::llrint(1000000.0 * endTime);
    ReadAhead(next);
    const AVRational us{1, 1000000};
    const TInputFile& f = FTables.Files[next];
    const int64_t offset = FEngine.InputTsOffsets[next];
    for (int s = 0; s < f.StreamCount; ++s) {
        const TInputStream& ist = *FTables.Inputs[f.FirstStream + s];
        if (!Copied(ist)) continue;
        const TOutputStream* ost = nullptr;
        for (const TOutputStream* o : FTables.Outputs)
            if (o->SourceIndex == f.FirstStream + s && !o->EncodingNeeded) ost = o;
        if (!ost) continue;
        const TStreamWriter::TLastDts* last = FWriter.LastDts(ost->Stream);
        if (!last || last->Dts == AV_NOPTS_VALUE) continue;
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
            lib().av_rescale_q_rnd(last->Dts + std::max<int64_t>(last->Step, 1), otb, us,
                                   static_cast<AVRounding>(AV_ROUND_UP | AV_ROUND_PASS_MINMAX));
        const int64_t first = lib().av_rescale_q(earliest, ist.Stream->time_base, us) + offset;
        shift = std::max(shift, wanted - first + 1);
    }
    return shift;
}

}  // namespace tw
