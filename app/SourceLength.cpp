// app/SourceLength.cpp — a source's readable length from its last packets.
#include "app/SourceLength.h"

#include <algorithm>

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
    if (target > start && lib().av_seek_frame(ic, -1, target, AVSEEK_FLAG_BACKWARD) >= 0)
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
