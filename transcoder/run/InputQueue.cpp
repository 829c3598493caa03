// transcoder/run/InputQueue.cpp — reading the inputs, with the packets read
// ahead of the loop, and where a joined input is placed.
#include "transcoder/run/InputQueue.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "binding/Entries.h"
#include "binding/UnicodeProtocol.h"
#include "diag/FFLog.h"
#include "transcoder/FFmpegException.h"

namespace tw {

namespace {

// Packets read ahead per copied stream: enough to see the decode times that
// precede the start (B-frame delay, audio priming).
constexpr size_t ReadAheadPerStream = 8;
constexpr size_t ReadAheadLimit = 256;

bool Copied(const TInputStream& ist) { return !ist.Discard && !ist.DecodingNeeded; }

// Moves the first packet of a queue into pkt; false when it is empty.
bool TakeFirst(std::deque<PacketPtr>& queue, AVPacket* pkt) {
    if (queue.empty()) return false;
    lib().av_packet_move_ref(pkt, queue.front().get());
    queue.pop_front();
    return true;
}

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
    const size_t n = FTables.Files.size();
    if (FReadAhead.size() >= n) return;
    FReadAhead.resize(n);
    FReadAheadEnd.resize(n, 0);
    FReadAheadDone.resize(n, false);
    FHeld.resize(n);
    FReady.resize(n);
    FPlaced.resize(n);
    FDemuxEnd.resize(n, 0);
    FShown.resize(n);
    FJumps.resize(n);
}
int TInputQueue::ReadPacket(int file, AVPacket* pkt) {
    SizeTables();
    if (TakeFirst(FReadAhead[file], pkt)) return 0;
    if (FReadAheadEnd[file] < 0) return FReadAheadEnd[file];
    return ReadFromDemuxer(file, pkt);
}
int TInputQueue::ReadFromDemuxer(int file, AVPacket* pkt) {
    const int ret = ReadContinuous(file, pkt);
    if (ret < 0) return ret;
    FillDecodeTime(file, pkt);
    return 0;
}
int TInputQueue::ReadShown(int file, AVPacket* pkt) {
    SizeTables();
    const TInputFile& f = FTables.Files[file];
    auto& ready = FReady[file];
    auto& held = FHeld[file];
    auto& shown = FShown[file];
    if (shown.size() < static_cast<size_t>(f.StreamCount)) shown.resize(f.StreamCount, false);
    while (true) {
        if (TakeFirst(ready, pkt)) return 0;
        if (FDemuxEnd[file] < 0) return FDemuxEnd[file];
        AVFormatContext* reader = nullptr;
        try {
            reader = FEvents.InputReader(file);
        } catch (const FFmpegException&) {
            // A stop that cancels the opening ends the reading as it would
            // cancel a read; anything else is the input's failure.
            if (!FEvents.StopRequested()) throw;
            return AVERROR_EXIT;
        }
        const int ret = lib().av_read_frame(reader, pkt);
        if (ret == AVERROR(EAGAIN)) return ret;
        if (ret < 0) {
            // Marked pictures that no shown one follows lie past the end
            // the edit list gives.
            held.clear();
            FDemuxEnd[file] = ret;
            return ret;
        }
        if (pkt->stream_index < 0 || pkt->stream_index >= f.StreamCount) return 0;
        const TInputStream& ist = *FTables.Inputs[f.FirstStream + pkt->stream_index];
        if (!Copied(ist)) return 0;
        const AVMediaType type = ist.Stream->codecpar->codec_type;
        const bool hidden = pkt->flags & AV_PKT_FLAG_DISCARD;
        // Audio packets the source itself marks as not to be played (the
        // AAC priming an MP4 edit list hides, the sound before its shown
        // start) are dropped, of every input alike: each input's audio then
        // starts with its first played sample, as players play the source.
        if (type == AVMEDIA_TYPE_AUDIO && hidden) {
            lib().av_packet_unref(pkt);
            continue;
        }
        if (type != AVMEDIA_TYPE_VIDEO) return 0;
        if (hidden && shown[pkt->stream_index]) {
            // Past a shown picture: needed only when a shown one follows
            // (it may refer to them); a key frame makes those before it
            // useless to what follows.
            if (pkt->flags & AV_PKT_FLAG_KEY) held.clear();
            PacketPtr p(lib().av_packet_alloc());
            if (!p) throw FFmpegException("av_mallocz fail");
            lib().av_packet_move_ref(p.get(), pkt);
            held.push_back(std::move(p));
            continue;
        }
        // Marked pictures before the first shown one stay: it refers to
        // them (the copy starts at the key frame before the shown start).
        if (!hidden) shown[pkt->stream_index] = true;
        if (held.empty()) return 0;
        while (!held.empty()) {
            ready.push_back(std::move(held.front()));
            held.pop_front();
        }
        PacketPtr p(lib().av_packet_alloc());
        if (!p) throw FFmpegException("av_mallocz fail");
        lib().av_packet_move_ref(p.get(), pkt);
        ready.push_back(std::move(p));
    }
}
namespace {

// The time the clock of an input is judged by: audio and video only (cover
// art, subtitles and data come when they come).
bool TimeOf(const TInputStream& ist, const AVPacket* pkt, TTimestampJumps::TTime& t) {
    const AVCodecParameters* par = ist.Stream->codecpar;
    if (par->codec_type != AVMEDIA_TYPE_AUDIO && par->codec_type != AVMEDIA_TYPE_VIDEO)
        return false;
    if (ist.Stream->disposition & AV_DISPOSITION_ATTACHED_PIC) return false;
    const int64_t v = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
    if (v == AV_NOPTS_VALUE) return false;
    const AVRational us{1, 1000000};
    t.Raw = lib().av_rescale_q(v, ist.Stream->time_base, us);
    t.Duration =
        pkt->duration > 0 ? lib().av_rescale_q(pkt->duration, ist.Stream->time_base, us) : 0;
    return true;
}

void ShiftPacket(const TInputStream& ist, AVPacket* pkt, int64_t shift) {
    if (shift == 0) return;
    const int64_t d = lib().av_rescale_q(shift, AVRational{1, 1000000}, ist.Stream->time_base);
    if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += d;
    if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += d;
}

// Packets read past a jump to see where each stream goes on.
constexpr size_t JumpLookAhead = 48;

}  // namespace

int TInputQueue::ReadContinuous(int file, AVPacket* pkt) {
    SizeTables();
    if (TakeFirst(FPlaced[file], pkt)) return 0;
    const int ret = ReadShown(file, pkt);
    // "copyts" keeps the source's times as they are, jumps included.
    if (ret < 0 || FConfig.CopyTs) return ret;
    const TInputFile& f = FTables.Files[file];
    if (pkt->stream_index < 0 || pkt->stream_index >= f.StreamCount) return 0;
    const TInputStream& ist = *FTables.Inputs[f.FirstStream + pkt->stream_index];
    auto& jumps = FJumps[file];
    if (!jumps) jumps = std::make_unique<TTimestampJumps>(f.StreamCount);
    TTimestampJumps::TTime t;
    if (!TimeOf(ist, pkt, t)) {
        ShiftPacket(ist, pkt, jumps->Shift());
        return 0;
    }
    if (const auto shift = jumps->ShiftFor(pkt->stream_index, t)) {
        ShiftPacket(ist, pkt, *shift);
        jumps->Place(pkt->stream_index, t, *shift);
        return 0;
    }
    PacketPtr first(lib().av_packet_alloc());
    if (!first) throw FFmpegException("av_mallocz fail");
    lib().av_packet_move_ref(first.get(), pkt);
    ContinueAfterJump(file, std::move(first));
    TakeFirst(FPlaced[file], pkt);
    return 0;
}
void TInputQueue::ContinueAfterJump(int file, PacketPtr first) {
    const TInputFile& f = FTables.Files[file];
    TTimestampJumps& jumps = *FJumps[file];
    std::vector<PacketPtr> window;
    window.push_back(std::move(first));
    while (window.size() < JumpLookAhead) {
        PacketPtr p(lib().av_packet_alloc());
        if (!p) throw FFmpegException("av_mallocz fail");
        if (ReadShown(file, p.get()) < 0) break;  // the end stays in FDemuxEnd
        window.push_back(std::move(p));
    }
    auto stream = [&](const AVPacket* p) -> const TInputStream* {
        if (p->stream_index < 0 || p->stream_index >= f.StreamCount) return nullptr;
        return FTables.Inputs[f.FirstStream + p->stream_index].get();
    };
    std::vector<TTimestampJumps::TTime> times(window.size());
    std::vector<bool> judged(window.size()), after(window.size(), true);
    for (size_t i = 0; i < window.size(); ++i)
        if (const TInputStream* ist = stream(window[i].get()))
            judged[i] = TimeOf(*ist, window[i].get(), times[i]);
    // Where each stream goes on after the jump; packets stored late that
    // belong before it keep the old shift.
    const int64_t jumpRaw = times[0].Raw;
    std::vector<int64_t> firstAfter(f.StreamCount, TTimestampJumps::kNone);
    for (size_t i = 0; i < window.size(); ++i) {
        if (!judged[i]) continue;
        after[i] = i == 0 || jumps.AfterJump(window[i]->stream_index, times[i]);
        int64_t& first = firstAfter[window[i]->stream_index];
        if (after[i] && (first == TTimestampJumps::kNone || times[i].Raw < first))
            first = times[i].Raw;
    }
    const int64_t before = jumps.Shift();
    const int64_t at = jumps.End() - jumps.Start();
    const int64_t jump = jumps.Continue(jumpRaw, firstAfter);
    for (size_t i = 0; i < window.size(); ++i) {
        const int64_t shift = after[i] ? jumps.Shift() : before;
        if (const TInputStream* ist = stream(window[i].get()))
            ShiftPacket(*ist, window[i].get(), shift);
        if (judged[i]) jumps.Place(window[i]->stream_index, times[i], shift);
        FPlaced[file].push_back(std::move(window[i]));
    }
    Warn(file, jump, at);
}
void TInputQueue::Warn(int file, int64_t jump, int64_t at) {
    const std::string name = FromLibraryFileName(FTables.EngineFiles.InputFiles[file]->url);
    char text[160];
    std::snprintf(text, sizeof text,
                  ": the timestamps jump %s by %.2f s at %.2f s; the rest follows on without a gap",
                  jump < 0 ? "back" : "forward", std::fabs(jump / 1e6), at / 1e6);
    FFLogger()->Log(FEvents.LogSender(), llWarning, name + text);
    FEvents.Warning(name + text);
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
    while (!enough() && queue.size() < ReadAheadLimit && !FEvents.StopRequested()) {
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
    const int64_t offset = FTables.TsOffsets[next];
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
