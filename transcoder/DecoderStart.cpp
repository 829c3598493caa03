// transcoder/DecoderStart.cpp — finding IDR slices and recovery points in
// H.264 pictures.
#include "transcoder/DecoderStart.h"

#include <cstring>
#include <vector>

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
bool StartsAt(const uint8_t* nal, size_t size) {
    if (size == 0) return false;
    const int type = nal[0] & 0x1f;
    return type == kNalIdrSlice || (type == kNalSei && HasRecoveryPoint(nal, size));
}

}  // namespace

bool H264StartsDecoding(const uint8_t* data, size_t size, int lengthSize) {
    if (!data || size == 0) return true;
    if (lengthSize > 0) {
        size_t at = 0;
        while (at + size_t(lengthSize) <= size) {
            size_t length = 0;
            for (int b = 0; b < lengthSize; ++b) length = (length << 8) | data[at + b];
            at += size_t(lengthSize);
            if (length > size - at) return true;  // not length-prefixed after all
            if (StartsAt(data + at, length)) return true;
            at += length;
        }
        return at != size;
    }
    // Start codes: a unit runs from after one (00 00 01) to the next; the
    // zero byte of a four-byte start code does not matter to the type.
    bool found = false;
    for (size_t i = 0; i + 3 <= size; ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1) continue;
        found = true;
        const uint8_t* nal = data + i + 3;
        size_t end = i + 3;
        while (end + 3 <= size && !(data[end] == 0 && data[end + 1] == 0 && data[end + 2] == 1))
            ++end;
        if (end + 3 > size) end = size;
        if (StartsAt(nal, end - (i + 3))) return true;
        i = end - 1;
    }
    return !found;
}

int H264LengthSize(const AVCodecParameters* par) {
    if (!par || par->extradata_size < 5 || par->extradata[0] != 1) return 0;
    return (par->extradata[4] & 3) + 1;
}

bool IndexesEveryKeyFlag(const AVOutputFormat* format) {
    return format && format->name && std::strcmp(format->name, "flv") == 0;
}

}  // namespace tw
