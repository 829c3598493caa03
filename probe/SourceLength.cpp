// probe/SourceLength.cpp — a source's readable length from its last packets.
#include "probe/SourceLength.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "binding/Entries.h"
#include "binding/LibPtr.h"

namespace tw {

namespace {

// The end of the last packet read from the current position to the end of
// the file, in microseconds; AV_NOPTS_VALUE when no packet has a time.
int64_t EndOfPackets(AVFormatContext* ic, AVPacket* pkt) {
    int64_t end = AV_NOPTS_VALUE;
    while (lib().av_read_frame(ic, pkt) >= 0) {
        const AVStream* st = ic->streams[pkt->stream_index];
        const int64_t t = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        // Cover art is one picture with no place in time.
        if (t != AV_NOPTS_VALUE && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            const int64_t e = lib().av_rescale_q(t + std::max<int64_t>(pkt->duration, 0),
                                                 st->time_base, AVRational{1, AV_TIME_BASE});
            end = end == AV_NOPTS_VALUE ? e : std::max(end, e);
        }
        lib().av_packet_unref(pkt);
    }
    return end;
}

// The byte offset of the first whole FLV tag at or after from (a tag whose
// size the back pointer after it repeats, followed by another tag or the
// end), -1 when none is found in the next 256 kB. Reads through the
// source's own I/O context; its position is left anywhere.
int64_t FlvTagAfter(AVFormatContext* ic, int64_t from) {
    std::vector<uint8_t> b(256 * 1024);
    if (lib().avio_seek(ic->pb, from, SEEK_SET) < 0) return -1;
    const int got = lib().avio_read(ic->pb, b.data(), static_cast<int>(b.size()));
    if (got <= 0) return -1;
    const size_t n = static_cast<size_t>(got);
    auto be = [&](size_t at, int bytes) {
        uint32_t v = 0;
        for (int i = 0; i < bytes; ++i) v = (v << 8) | b[at + i];
        return v;
    };
    auto tagAt = [&](size_t p) {
        if (p + 11 > n) return false;
        const int type = b[p] & 0x1f;
        if ((type != 8 && type != 9 && type != 18) || be(p + 8, 3) != 0) return false;
        const size_t end = p + 11 + be(p + 1, 3);
        return end + 4 <= n && be(end, 4) == end - p;
    };
    for (size_t p = 0; p + 11 <= n; ++p) {
        if (!tagAt(p)) continue;
        const size_t next = p + 11 + be(p + 1, 3) + 4;
        if (next + 11 > n || tagAt(next)) return from + static_cast<int64_t>(p);
    }
    return -1;
}

// Puts an FLV source without a key-frame index at its last seconds: its
// demuxer has nothing to seek by time with and would read the whole file up
// to there. Its last bytes are read instead (those of about ten seconds at
// the file's average rate, at least 64 kB), from the first whole tag among
// them: the demuxer does not find the next tag by itself. False when that
// cannot be done.
bool SeekFlvTail(AVFormatContext* ic, int64_t duration) {
    const std::string format = ic->iformat ? ic->iformat->name : "";
    const int64_t size = ic->pb ? lib().avio_size(ic->pb) : -1;
    if (format != "flv" || size <= 0 || duration <= 0) return false;
    const int64_t tail = std::max<int64_t>(
        int64_t(64) << 10, lib().av_rescale(size, 10 * int64_t(AV_TIME_BASE), duration));
    const int64_t tag = size > tail ? FlvTagAfter(ic, size - tail) : -1;
    return tag >= 0 && lib().av_seek_frame(ic, -1, tag, AVSEEK_FLAG_BYTE) >= 0;
}

}  // namespace

int64_t TSourceLength::Missing() const {
    if (!HeaderStated || Header <= 0 || Readable < 0) return 0;
    const int64_t missing = Header - Readable;
    return missing > AV_TIME_BASE / 2 ? missing : 0;
}

TSourceLength MeasureSource(AVFormatContext* ic) {
    TSourceLength length;
    if (!ic) return length;
    if (ic->duration != AV_NOPTS_VALUE && ic->duration > 0) length.Header = ic->duration;
    length.HeaderStated =
        length.Header > 0 && ic->duration_estimation_method == AVFMT_DURATION_FROM_STREAM;
    const int64_t start = ic->start_time == AV_NOPTS_VALUE ? 0 : ic->start_time;
    PacketPtr pkt(lib().av_packet_alloc());
    if (!pkt) return length;
    // The last seconds are enough: the packets before a few seconds from the
    // announced end are not the last ones.
    int64_t end = AV_NOPTS_VALUE;
    const int64_t target = start + std::max<int64_t>(length.Header, 0) - 5 * int64_t(AV_TIME_BASE);
    if (target > start && (SeekFlvTail(ic, length.Header) ||
                           lib().av_seek_frame(ic, -1, target, AVSEEK_FLAG_BACKWARD) >= 0))
        end = EndOfPackets(ic, pkt.get());
    if (end == AV_NOPTS_VALUE) {
        // A short file, no index to seek by, or an index past the end of a
        // cut file: read it all.
        if (target > start) lib().av_seek_frame(ic, -1, start, AVSEEK_FLAG_BACKWARD);
        end = EndOfPackets(ic, pkt.get());
    }
    if (end != AV_NOPTS_VALUE) length.Readable = std::max<int64_t>(end - start, 0);
    return length;
}

}  // namespace tw
