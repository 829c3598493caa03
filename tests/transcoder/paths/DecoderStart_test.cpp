// tests/transcoder/DecoderStart_test.cpp — which copied H.264 pictures a
// decoder can start from, in both bitstream forms.
#include "transcoder/paths/DecoderStart.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace tw {
namespace {

using Bytes = std::vector<uint8_t>;

// The units with start codes, or with 4-byte length prefixes.
Bytes AnnexB(const std::vector<Bytes>& units) {
    Bytes out;
    for (const Bytes& u : units) {
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), u.begin(), u.end());
    }
    return out;
}
Bytes Prefixed(const std::vector<Bytes>& units) {
    Bytes out;
    for (const Bytes& u : units) {
        const uint32_t n = static_cast<uint32_t>(u.size());
        out.insert(out.end(), {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
        out.insert(out.end(), u.begin(), u.end());
    }
    return out;
}

const Bytes kIdr = {0x65, 0x88, 0x84, 0x00, 0x33};
const Bytes kNonIdrI = {0x41, 0x9a, 0x02, 0x04};  // a slice of type 1 (not IDR)
// SEI units: user data (type 5, 3 bytes), then a recovery point (type 6).
const Bytes kUserDataSei = {0x06, 0x05, 0x03, 0xaa, 0xbb, 0xcc, 0x80};
const Bytes kRecoverySei = {0x06, 0x05, 0x03, 0xaa, 0xbb, 0xcc, 0x06, 0x01, 0xc4, 0x80};
const Bytes kAud = {0x09, 0xf0};

bool Starts(const std::vector<Bytes>& units, bool prefixed) {
    const Bytes d = prefixed ? Prefixed(units) : AnnexB(units);
    return H264StartsDecoding(d.data(), d.size(), prefixed ? 4 : 0);
}

// Catches: an FLV index listing open-GOP I-frames without a recovery point
// (a player seeking there cannot decode), or dropping IDR frames and
// recovery points from it.
TEST(DecoderStart, IdrSlicesAndRecoveryPointsStartDecoding) {
    for (bool prefixed : {false, true}) {
        SCOPED_TRACE(prefixed ? "length prefixes" : "start codes");
        EXPECT_TRUE(Starts({kAud, kIdr}, prefixed));
        EXPECT_TRUE(Starts({kAud, kRecoverySei, kNonIdrI}, prefixed));
        EXPECT_FALSE(Starts({kAud, kNonIdrI}, prefixed));
        EXPECT_FALSE(Starts({kUserDataSei, kNonIdrI}, prefixed));
    }
    // Data that is not what its form says is never unmarked.
    const Bytes broken = {0x00, 0x00, 0x10, 0x00, 0x41};
    EXPECT_TRUE(H264StartsDecoding(broken.data(), broken.size(), 4));
    EXPECT_TRUE(H264StartsDecoding(kNonIdrI.data(), kNonIdrI.size(), 0));
}

}  // namespace
}  // namespace tw
