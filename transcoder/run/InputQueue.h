// transcoder/run/InputQueue.h — reading the inputs of a transcode: the packets
// read ahead of the loop, what an input's edit list hides from copied
// streams, jumps of an input's clock, the decode times derived for copied
// packets without one, and where a joined input is placed after the
// previous one.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "binding/LibPtr.h"
#include "transcoder/RunContext.h"
#include "transcoder/files/StreamTables.h"
#include "transcoder/paths/PacketWriter.h"
#include "transcoder/run/TimestampJumps.h"
#include "transcoder/run/TranscodeTables.h"

namespace tw {

/// Engine thread only. The queued packets are this object's; a packet
/// handed out belongs to the caller. Times are in the input stream's time
/// base before the input's offset, unless said otherwise.
class TInputQueue {
  public:
    TInputQueue(const TRunContext& run, TTranscodeTables& tables, const TStreamWriter& writer)
        : FConfig(run.Config),
          FCounters(run.Counters),
          FEvents(run.Events),
          FTables(tables),
          FWriter(writer) {}

    /// The next packet of an input into pkt: first what was read ahead, then
    /// the demuxer. The demuxer's result code (0, AVERROR(EAGAIN), end of
    /// file or a read error; a read-ahead that ended gives its code).
    ///
    /// What the source hides is left out of copied streams: audio packets
    /// it marks discarded (AAC priming, the part an edit list trims), and
    /// marked pictures after the last shown one (an edit list's end); marked
    /// pictures before a shown one stay, as the shown ones refer to them.
    /// Unless "copyts", a jump of the input's clock (see TimestampJumps.h)
    /// is taken out: the packets after it follow on without a gap, and a
    /// warning naming the source and the time goes to the log (llWarning)
    /// and to the engine's Warnings.
    int ReadPacket(int file, AVPacket* pkt);
    /// Reads the first packets of an input into its queue (a few per copied
    /// stream), so that its placement can see its earliest decode times.
    /// Once per input; stops early on a stop request. Throws "av_mallocz
    /// fail".
    void ReadAhead(int file);
    /// What ReadAhead queued for the input (not yet read by ReadPacket).
    const std::deque<PacketPtr>& Packets(int file) {
        SizeTables();
        return FReadAhead[file];
    }
    /// Join mode: the offset (µs) to add to input `next` so that it starts
    /// at endTime (seconds) with no decode time of any copied stream going
    /// back behind the last one written.
    int64_t NextInputShift(int next, double endTime);

  private:
    /// A copied stream's packet without decode time gets one derived from
    /// its presentation times.
    void FillDecodeTime(int file, AVPacket* pkt);
    int ReadFromDemuxer(int file, AVPacket* pkt);
    /// The demuxer's packets less what the source hides from copied streams.
    int ReadShown(int file, AVPacket* pkt);
    /// ReadShown with the input's clock jumps taken out.
    int ReadContinuous(int file, AVPacket* pkt);
    /// A jump at pkt: reads a little further to see where each stream goes
    /// on, takes the jump and queues the packets read (pkt first).
    void ContinueAfterJump(int file, PacketPtr first);
    void Warn(int file, int64_t jump, int64_t at);
    void SizeTables();

    const TRunConfig& FConfig;
    TRunCounters& FCounters;
    TRunEvents& FEvents;
    TTranscodeTables& FTables;
    const TStreamWriter& FWriter;
    // Per input file: the packets read ahead, the read result that ended the
    // read-ahead (0 when the file goes on), and whether it was read ahead.
    std::vector<std::deque<PacketPtr>> FReadAhead;
    std::vector<int> FReadAheadEnd;
    std::vector<bool> FReadAheadDone;
    // Per input file: marked pictures held until a shown one follows (else
    // dropped at the end), packets ready to be handed on (held ones released,
    // those read past a jump), the demuxer's end code once seen, and the
    // clock.
    std::vector<std::deque<PacketPtr>> FHeld, FReady, FPlaced;
    std::vector<int> FDemuxEnd;
    std::vector<std::vector<bool>> FShown;
    std::vector<std::unique_ptr<TTimestampJumps>> FJumps;
};

}  // namespace tw
