// tests/transcoder/TimestampJumps_test.cpp — which packets of an input count
// as a jump of its clock, and where the input goes on after one.
#include "transcoder/run/TimestampJumps.h"

#include <gtest/gtest.h>

namespace tw {
namespace {

using T = TTimestampJumps::TTime;
constexpr int kVideo = 0, kAudio = 1;

// Places video every 40 ms and audio every 23 ms from..to (µs, raw).
void Play(TTimestampJumps& j, int64_t from, int64_t to) {
    for (int64_t t = from; t < to; t += 40000) j.Place(kVideo, {t, 40000}, j.Shift());
    for (int64_t t = from; t < to; t += 23000) j.Place(kAudio, {t, 23000}, j.Shift());
}

// Catches: ordinary timing taken for a jump: pictures stored out of order, a
// pause under five seconds, a stream that starts late.
TEST(TimestampJumps, OrdinaryTimesKeepTheirPlace) {
    TTimestampJumps j(3);
    Play(j, 0, 2000000);
    EXPECT_EQ(j.ShiftFor(kVideo, {1880000, 40000}), 0);  // a B-frame three frames back
    EXPECT_EQ(j.ShiftFor(kAudio, {6000000, 23000}), 0);  // a pause of four seconds
    EXPECT_EQ(j.ShiftFor(2, {1990000, 0}), 0);           // a third stream's first packet
    EXPECT_FALSE(j.ShiftFor(kVideo, {1400000, 40000}));  // 0.6 s back
    EXPECT_FALSE(j.ShiftFor(kAudio, {7100000, 23000}));  // 5.1 s ahead
}

// Catches: the input after a jump not going on where each stream ended (a
// gap, or a stream going back behind its own last packet), and a packet
// stored late that belongs before the jump moved with the rest.
TEST(TimestampJumps, GoesOnWhereTheStreamsEnded) {
    TTimestampJumps j(2);
    Play(j, 0, 1500000);  // video ends at 1.52 s, audio at 1.518 s
    const T jumped{300000, 23000};
    ASSERT_FALSE(j.ShiftFor(kAudio, jumped));
    EXPECT_TRUE(j.AfterJump(kAudio, jumped));
    EXPECT_TRUE(j.AfterJump(kVideo, {320000, 40000}));
    EXPECT_FALSE(j.AfterJump(kVideo, {1520000, 40000}));  // stored late
    const int64_t jump = j.Continue(300000, {320000, 300000});
    EXPECT_EQ(jump, 300000 - 1520000);
    // Audio goes on exactly at its end (1.518 s), video 2 ms after its own.
    EXPECT_EQ(j.Shift(), 1518000 - 300000);
    EXPECT_EQ(j.ShiftFor(kVideo, {360000, 40000}), 1218000);
}

}  // namespace
}  // namespace tw
