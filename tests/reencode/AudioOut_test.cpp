// tests/reencode/AudioOut_test.cpp — the audio output: a rate change in the
// middle of a stream, whole encoder frames, and encoders without a frame
// size.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "binding/FFLoad.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Media.h"
#include "tests/support/TempDir.h"
#include "transcoder/CustomFFmpeg.h"

namespace tw {
namespace {

class AudioOut : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds)) << FFLoader().LastErrMsg();
    }
    bool Encode(const std::string& in, const std::string& out, const std::string& acodec) {
        TCustomFFmpeg e(4);
        e.SetVerbose(-1);
        if (!e.OpenInputFile(in)) return false;
        e.SetOption("vn", "1");
        e.SetOption("acodec", acodec);
        e.SetOption("ar", "44100");
        if (e.OpenOutputFile(out, false) != 1) return false;
        e.Start(false);
        Error = e.ErrorMessage;
        return !e.ErrorRaised;
    }
    test::LogCapture Log;
    test::TempDir Dir;
    std::string Error;
};

// Catches: a rate change mid-stream not noticed (audio played at the wrong
// speed), logged at every buffer, or ending the run.
TEST_F(AudioOut, RateChangeInTheMiddleGetsANewResampler) {
    const std::string a = test::GenerateClip(Dir.File("a.ts"), {"--no-video", "--duration", "1"});
    const std::string b = test::GenerateClip(
        Dir.File("b.ts"),
        {"--no-video", "--duration", "1", "--sample-rate", "48000", "--start-time", "1"});
    const std::string both = Dir.File("both.ts");
    {
        std::ofstream out(both, std::ios::binary);
        out << std::ifstream(a, std::ios::binary).rdbuf()
            << std::ifstream(b, std::ios::binary).rdbuf();
    }
    ASSERT_TRUE(Encode(both, Dir.File("out.mkv"), "aac")) << Error;
    EXPECT_EQ(Log.Count("frame changed from rate:44100 fmt:fltp ch:2 to rate:48000 fmt:fltp ch:2"),
              1);
    const test::MediaInfo info = test::ReadMediaInfo(Dir.File("out.mkv"), {.decode = true});
    ASSERT_TRUE(info.Ok()) << info.error;
    // What both parts hold, at 44100 Hz, give or take the encoder's frames.
    const double expected =
        test::ReadMediaInfo(a, {.decode = true}).Audio()->decodedSamples +
        test::ReadMediaInfo(b, {.decode = true}).Audio()->decodedSamples * 44100.0 / 48000.0;
    EXPECT_NEAR(info.Audio()->decodedSamples, expected, 3 * 1024);
}

// Catches: AAC fed partial frames, or a PCM encoder made to wait for frames
// it does not have.
TEST_F(AudioOut, WholeFramesForAacEveryBufferForPcm) {
    const std::string src =
        test::GenerateClip(Dir.File("a.flv"), {"--no-video", "--duration", "1"});
    const test::MediaInfo in = test::ReadMediaInfo(src, {.decode = true});

    ASSERT_TRUE(Encode(src, Dir.File("aac.mkv"), "aac")) << Error;
    const test::MediaInfo aac = test::ReadMediaInfo(Dir.File("aac.mkv"), {.decode = true});
    ASSERT_TRUE(aac.Ok()) << aac.error;
    EXPECT_EQ(aac.Audio()->decodedSamples % 1024, 0);
    EXPECT_EQ(aac.Audio()->decodedSamples, aac.Audio()->decodedFrames * 1024);
    EXPECT_GE(aac.Audio()->decodedSamples, in.Audio()->decodedSamples);

    ASSERT_TRUE(Encode(src, Dir.File("pcm.mkv"), "pcm_s16le")) << Error;
    const test::MediaInfo pcm = test::ReadMediaInfo(Dir.File("pcm.mkv"), {.decode = true});
    ASSERT_TRUE(pcm.Ok()) << pcm.error;
    EXPECT_EQ(pcm.Audio()->codec, "pcm_s16le");
    // Every decoded sample arrives; nothing is held back for a last frame.
    EXPECT_NEAR(pcm.Audio()->decodedSamples, in.Audio()->decodedSamples, 64);
}

}  // namespace
}  // namespace tw
