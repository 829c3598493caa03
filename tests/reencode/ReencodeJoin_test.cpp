// tests/reencode/ReencodeJoin_test.cpp — joining by re-encoding to H.264 and
// AAC: sources of different sizes, sample rates and start times.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "binding/FFLoad.h"
#include "diag/FFLog.h"
#include "tests/support/EngineFixture.h"
#include "tests/support/Media.h"
#include "tests/support/Pictures.h"
#include "tests/support/TempDir.h"
#include "transcoder/CustomFFmpeg.h"

namespace tw {
namespace {

class ReencodeJoin : public test::EngineTest {
  protected:
    // A joined H.264 + AAC output, set up as the merge does it.
    void Join(const std::vector<std::string>& inputs, const std::string& out) {
        TCustomFFmpeg e(20);
        e.SetVerbose(-1);
        ASSERT_EQ(test::RunEngine(e, inputs, out,
                                  {{"f", "flv"},
                                   {"vcodec", "libx264"},
                                   {"acodec", "aac"},
                                   {"vpre", "libx264-default"},
                                   {"ar", "44100"}}),
                  "");
    }
    // At every join the next source's first audio and video lie within one
    // video frame of each other.
    void ExpectJoinsAligned(const std::vector<std::string>& inputs, const std::string& out) {
        const std::vector<double> video = test::PacketTimes(out, "video");
        const std::vector<double> audio = test::PacketTimes(out, "audio");
        double join = 0;
        for (size_t k = 0; k + 1 < inputs.size(); ++k) {
            const test::MediaInfo src = test::ReadMediaInfo(inputs[k]);
            const double start = std::min(*src.Video()->firstPts, *src.Audio()->firstPts);
            join += std::max(*src.Video()->endTime, *src.Audio()->endTime) - start;
            const double v = test::FirstAtOrAfter(video, join, 0.03);
            const double a = test::FirstAtOrAfter(audio, join, 0.03);
            ASSERT_GE(v, 0) << "join " << k;
            ASSERT_GE(a, 0) << "join " << k;
            EXPECT_NEAR(v, a, 0.04) << "join " << k << " at " << join;
        }
    }
};

// Catches: lost or doubled time at the joins, audio drifting away from the
// video, a source size or rate the encoder cannot take.
TEST_F(ReencodeJoin, DifferentSizesRatesAndStartTimes) {
    const std::vector<std::string> inputs = {
        Clip("a.flv"), Clip("big.flv", {"--size", "640x360", "--pattern", "1"}),
        Clip("r48.flv", {"--sample-rate", "48000", "--pattern", "2"}),
        Clip("s10.ts", {"--start-time", "10", "--pattern", "3"})};
    const std::string out = Dir.File("joined.flv");
    Join(inputs, out);
    const test::MediaInfo info = test::ReadMediaInfo(out, {.decode = true});
    ASSERT_TRUE(info.Ok()) << info.error;
    ASSERT_NE(info.Video(), nullptr);
    ASSERT_NE(info.Audio(), nullptr);
    EXPECT_EQ(info.Video()->codec, "h264");
    EXPECT_EQ(info.Audio()->codec, "aac");
    EXPECT_EQ(info.Audio()->sampleRate, 44100);
    EXPECT_EQ(info.Video()->decodeErrors, 0);
    EXPECT_TRUE(info.Video()->dtsMonotonic);
    EXPECT_TRUE(info.Audio()->dtsMonotonic);
    ASSERT_TRUE(info.Video()->endTime && info.Audio()->endTime);
    // Each source lasts until its longer stream ends; the next starts there.
    double sum = 0;
    for (const auto& in : inputs) {
        const test::MediaInfo src = test::ReadMediaInfo(in);
        const double start = std::min(*src.Video()->firstPts, *src.Audio()->firstPts);
        sum += std::max(*src.Video()->endTime, *src.Audio()->endTime) - start;
    }
    EXPECT_NEAR(std::max(*info.Video()->endTime, *info.Audio()->endTime), sum, 0.1);
    EXPECT_NEAR(*info.Audio()->endTime, *info.Video()->endTime, 0.1);
    // Every picture of every source is there once.
    EXPECT_NEAR(info.Video()->decodedFrames, 4 * 50, 2);
    ExpectJoinsAligned(inputs, out);
}

// Catches: the plain case (sources alike) losing or doubling time.
TEST_F(ReencodeJoin, SameEncoding) {
    const std::vector<std::string> inputs = {Clip("a.flv"), Clip("b.flv", {"--pattern", "1"}),
                                             Clip("c.flv", {"--pattern", "2"})};
    const std::string out = Dir.File("joined.flv");
    Join(inputs, out);
    const test::MediaInfo info = test::ReadMediaInfo(out, {.decode = true});
    ASSERT_TRUE(info.Ok()) << info.error;
    EXPECT_NEAR(info.Video()->decodedFrames, 3 * 50, 2);
    double sum = 0;  // each source lasts until its longer stream ends
    for (const auto& in : inputs) {
        const test::MediaInfo src = test::ReadMediaInfo(in);
        sum += std::max(*src.Video()->endTime, *src.Audio()->endTime);
    }
    EXPECT_NEAR(std::max(*info.Video()->endTime, *info.Audio()->endTime), sum, 0.1);
    EXPECT_NEAR(*info.Audio()->endTime, *info.Video()->endTime, 0.1);
    ExpectJoinsAligned(inputs, out);
}

}  // namespace
}  // namespace tw
