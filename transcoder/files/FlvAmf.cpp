// transcoder/files/FlvAmf.cpp — AMF0 values of FLV script tags.
#include "transcoder/files/FlvAmf.h"

#include <cstring>

namespace tw {

uint32_t AmfBe(const uint8_t* p, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | p[i];
    return v;
}
void PutAmfBe(uint8_t* p, uint32_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i, v >>= 8) p[i] = static_cast<uint8_t>(v);
}

// AMF0 as the FLV muxer writes it: big-endian, names with a 16-bit length.

void TAmfWriter::Name(std::string_view name) {
    U(static_cast<uint32_t>(name.size()), 2);
    Bytes.insert(Bytes.end(), name.begin(), name.end());
}
void TAmfWriter::Number(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    Bytes.push_back(kNumber);
    for (int i = 7; i >= 0; --i) Bytes.push_back(static_cast<uint8_t>(bits >> (8 * i)));
}
void TAmfWriter::Boolean(bool v) {
    Bytes.push_back(kBoolean);
    Bytes.push_back(v ? 1 : 0);
}
void TAmfWriter::StrictArray(uint32_t count) {
    Bytes.push_back(kStrictArray);
    U(count, 4);
}
void TAmfWriter::ObjectEnd() { Bytes.insert(Bytes.end(), {0, 0, 9}); }
void TAmfWriter::U(uint32_t v, int bytes) {
    Bytes.resize(Bytes.size() + bytes);
    PutAmfBe(Bytes.data() + Bytes.size() - bytes, v, bytes);
}

bool SkipAmfValue(const uint8_t* b, size_t end, size_t& i, int depth) {
    if (i >= end || depth > 16) return false;
    const uint8_t type = b[i++];
    const auto need = [&](size_t n) { return end - i >= n; };
    const auto properties = [&]() {
        while (true) {
            if (!need(3)) return false;
            const size_t name = AmfBe(b + i, 2);
            if (name == 0 && b[i + 2] == 9) {
                i += 3;
                return true;
            }
            if (!need(2 + name)) return false;
            i += 2 + name;
            if (!SkipAmfValue(b, end, i, depth + 1)) return false;
        }
    };
    switch (type) {
        case kNumber:
            if (!need(8)) return false;
            i += 8;
            return true;
        case kBoolean:
            if (!need(1)) return false;
            i += 1;
            return true;
        case kString:
            if (!need(2) || !need(2 + AmfBe(b + i, 2))) return false;
            i += 2 + AmfBe(b + i, 2);
            return true;
        case kLongString:
            if (!need(4) || !need(4 + size_t(AmfBe(b + i, 4)))) return false;
            i += 4 + AmfBe(b + i, 4);
            return true;
        case kNull:
        case kUndefined:
            return true;
        case kDate:
            if (!need(10)) return false;
            i += 10;
            return true;
        case kObject:
            return properties();
        case kEcmaArray:
            if (!need(4)) return false;
            i += 4;
            return properties();
        case kStrictArray: {
            if (!need(4)) return false;
            const uint32_t n = AmfBe(b + i, 4);
            i += 4;
            for (uint32_t k = 0; k < n; ++k)
                if (!SkipAmfValue(b, end, i, depth + 1)) return false;
            return true;
        }
        default:
            return false;
    }
}

}  // namespace tw
