// tests/reencode/AudioSync_test.cpp — keeping re-encoded audio in time with
// its input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/FFLoad.h"
#include "diag/FFLog.h"
#include "tests/support/Media.h"
#include "tests/support/Remux.h"
#include "tests/support/TempDir.h"
#include "transcoder/CustomFFmpeg.h"

namespace tw {
namespace {

// Catches: late audio pulled forward (audio and video out of step by the
// delay), or silence inserted more than once.
TEST(AudioSync, LateAudioGetsOneSecondOfSilence) {
    ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds)) << FFLoader().LastErrMsg();
    FFLogger()->TriggerEventInMainThread = false;
    test::TempDir dir;
    const std::string src = test::GenerateClip(dir.File("a.flv"), {"--duration", "3"});
    const std::string late = dir.File("late.mkv");
    ASSERT_TRUE(test::ShiftAudio(src, late, 1.0));
    const std::string out = dir.File("out.flv");
    {
        TCustomFFmpeg e(4);
        e.SetVerbose(-1);
        ASSERT_TRUE(e.OpenInputFile(late)) << e.LastError;
        e.SetOption("vcodec", "libx264");
        e.SetOption("acodec", "aac");
        e.SetOption("async", "1");
        ASSERT_EQ(e.OpenOutputFile(out, false), 1) << e.LastError;
        e.Start(false);
        ASSERT_FALSE(e.ErrorRaised) << e.ErrorMessage;
    }
    const test::MediaInfo in = test::ReadMediaInfo(src, {.decode = true});
    const test::MediaInfo res = test::ReadMediaInfo(out, {.decode = true});
    ASSERT_TRUE(res.Ok()) << res.error;
    // The source's samples plus 44100 of silence; the encoder works in
    // frames of 1024 and primes with one more.
    EXPECT_NEAR(res.Audio()->decodedSamples - in.Audio()->decodedSamples, 44100, 2 * 1024);
    ASSERT_TRUE(res.Audio()->endTime && res.Video()->endTime);
    EXPECT_NEAR(*res.Audio()->endTime, *res.Video()->endTime + 1.0, 0.1);
}

}  // namespace
}  // namespace tw
