// transcoder/paths/DecoderStart.cpp — finding IDR slices and recovery points in
// H.264 pictures.
#include "transcoder/paths/DecoderStart.h"

#include <cstring>
#include <vector>

#include "media/Bitstream.h"

namespace tw {

namespace {

constexpr int kNalIdrSlice = 5;
constexpr int kNalSei = 6;
constexpr unsigned kSeiRecoveryPoint = 6;

// The SEI messages of one SEI NAL unit (header byte included) hold a
// recovery point. The payload sizes count bytes without the emulation
// prevention bytes, so those are taken out first.
bool HasRecoveryPoint(const uint8_t* nal, size_t size) {
    std::vector<uint8_t> rbsp;
    rbsp.reserve(size);
    for (size_t i = 1; i < size; ++i) {
        if (i >= 3 && nal[i] == 3 && nal[i - 1] == 0 && nal[i - 2] == 0) continue;
        rbsp.push_back(nal[i]);
    }
    size_t at = 0;
    // A message needs at least a type and a size byte; 0x80 alone is the
    // closing bits of the unit.
    while (at + 2 <= rbsp.size() && rbsp[at] != 0x80) {
        unsigned type = 0, length = 0;
        while (at < rbsp.size() && rbsp[at] == 0xff) type += rbsp[at++];
        if (at >= rbsp.size()) return false;
        type += rbsp[at++];
        while (at < rbsp.size() && rbsp[at] == 0xff) length += rbsp[at++];
        if (at >= rbsp.size()) return false;
        length += rbsp[at++];
        if (type == kSeiRecoveryPoint) return true;
        at += length;
    }
    return false;
}

// Looks at one NAL unit; true when it makes the picture a start.
bool StartsAt(ByteSpan nal) {
    const int type = H264UnitType(nal);
    return type == kNalIdrSlice || (type == kNalSei && HasRecoveryPoint(nal.data(), nal.size()));
}

}  // namespace

bool H264StartsDecoding(const uint8_t* data, size_t size, int lengthSize) {
    if (!data || size == 0) return true;
    const ByteSpan bytes(data, size);
    bool starts = false;
    const auto look = [&starts](ByteSpan unit) { starts = starts || StartsAt(unit); };
    // Data that does not split (not length-prefixed after all, no start
    // code) is left to the decoder to judge.
    const bool split = lengthSize > 0 ? VisitLengthPrefixedUnits(bytes, lengthSize, look)
                                      : VisitStartCodeUnits(bytes, look);
    return starts || !split;
}

int H264LengthSize(const AVCodecParameters* par) {
    if (!par || !par->extradata || par->extradata_size <= 0) return 0;
    return AvcCLengthSize(ByteSpan(par->extradata, size_t(par->extradata_size)));
}

bool IndexesEveryKeyFlag(const AVOutputFormat* format) {
    return format && format->name && std::strcmp(format->name, "flv") == 0;
}

}  // namespace tw
