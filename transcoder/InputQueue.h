// transcoder/InputQueue.h — reading the inputs of a transcode: the packets
// read ahead of the loop, the decode times derived for copied packets
// without one, and where a joined input is placed after the previous one.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "binding/LibPtr.h"
#include "transcoder/CustomFFmpeg.h"
#include "transcoder/PacketWriter.h"
#include "transcoder/StreamTables.h"

namespace tw {

/// Engine thread only. The queued packets are this object's; a packet
/// handed out belongs to the caller. Times are in the input stream's time
/// base before the input's offset, unless said otherwise.
class TInputQueue {
  public:
    TInputQueue(TCustomFFmpeg& engine, TTranscodeTables& tables, const TStreamWriter& writer)
        : FEngine(engine), FTables(tables), FWriter(writer) {}

    /// The next packet of an input into pkt: first what was read ahead, then
    /// the demuxer. The demuxer's result code (0, AVERROR(EAGAIN), end of
    /// file or a read error; a read-ahead that ended gives its code).
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
    void SizeTables();

    TCustomFFmpeg& FEngine;
    TTranscodeTables& FTables;
    const TStreamWriter& FWriter;
    // Per input file: the packets read ahead, the read result that ended the
    // read-ahead (0 when the file goes on), and whether it was read ahead.
    std::vector<std::deque<PacketPtr>> FReadAhead;
    std::vector<int> FReadAheadEnd;
    std::vector<bool> FReadAheadDone;
};

}  // namespace tw
