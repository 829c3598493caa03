// tests/encoder/MergePlan_test.cpp — a merge plan's settings reach the file
// the encoder writes: codec, profile, level, pixel format, closed groups of
// pictures, the FLV key-frame index, the MP4 index in front, and options a
// user typed on top of them.
#include "encoder/MergePlan.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "diag/MainThread.h"
#include "media/SourceSurvey.h"
#include "tests/support/EncoderFixture.h"
#include "tests/support/KeyFrames.h"
#include "tests/support/Mp4Boxes.h"

namespace tw {
namespace {

class MergePlanFile : public test::EncoderTest {
  protected:
    /// Writes sources to out as plan says; "" when it was written, else why not.
    std::string Write(const std::vector<std::string>& sources, const std::string& out,
                      const TMergePlan& plan) {
        if (Enc.AddTask(sources[0]) < 0) return "AddTask: " + Enc.LastError;
        for (size_t i = 1; i < sources.size(); ++i)
            if (!Enc.AddInputFile(0, sources[i])) return "AddInputFile: " + Enc.LastError;
        if (!Enc.SetOutputPlan(0, out, plan)) return "SetOutputPlan: " + Enc.LastError;
        Enc.Start(1);
        while (!Enc.Done) WaitAndDrainMainThreadCalls(std::chrono::milliseconds(50));
        const TTerminateInfo outcome = Enc.TaskOutcome(0);
        Enc.ClearTasks();
        if (outcome.ErrorRaised) return outcome.ErrorMessage;
        return outcome.Finished ? "" : "not finished";
    }

    static TSourceFacts Survey(const std::string& file) {
        TFFDecoder d;
        return d.LoadFile(file) ? SurveySource(d.FormatContext(), file) : TSourceFacts{};
    }

    static TMergePlan Reencode(const std::string& container) {
        TMergePlan plan;
        plan.Container = container;
        plan.Video.Codec = "libx264";
        plan.Video.Preset = "libx264-default";
        plan.Audio.Codec = "aac";
        plan.Audio.Experimental = true;
        plan.FitPictures = true;
        plan.FillMissingAudio = true;
        return plan;
    }
};

// Catches: a plan's profile, level, pixel format, key-frame interval or
// closed groups of pictures not reaching libx264 (4:2:0 instead of 4:2:2,
// High profile, open groups whose key frames are no IDR frames), MP4's
// index left behind the media data, or an option the user typed lost or
// overridden by the plan's own.
TEST_F(MergePlanFile, ReencodingSettingsReachTheMp4) {
    const std::string a = Clip("a.mp4", {"--duration", "2", "--size", "160x120", "--bframes", "2",
                                         "--pix-fmt", "yuv444p"});
    const std::string b = Clip("b.flv", {"--duration", "1", "--size", "160x120"});
    TMergePlan plan = Reencode("mp4");
    plan.Video.Profile = FF_PROFILE_H264_HIGH_422;
    plan.Video.Level = 31;
    plan.Video.PixelFormat = AV_PIX_FMT_YUV422P;
    plan.Video.KeyFrameInterval = 10;
    plan.Video.ClosedGop = true;
    plan.Video.Width = 128;
    plan.Video.Height = 96;
    plan.Threads = 0;
    plan.FastStart = true;
    // Not fitted: the pixel format is then the plan's alone.
    plan.FitPictures = false;
    const std::string out = Dir.File("out.mp4");
    ASSERT_EQ(Write({a, b}, out, plan), "");
    const TSourceFacts made = Survey(out);
    ASSERT_TRUE(made.HasVideo);
    EXPECT_EQ(made.VideoCodec, AV_CODEC_ID_H264);
    EXPECT_EQ(made.VideoProfile, FF_PROFILE_H264_HIGH_422);
    EXPECT_EQ(made.VideoLevel, 31);
    EXPECT_EQ(made.PixFmt, AV_PIX_FMT_YUV422P);
    EXPECT_EQ(made.Width, 128);
    EXPECT_EQ(made.Height, 96);
    EXPECT_TRUE(made.HasAudio);
    EXPECT_EQ(made.AudioCodec, AV_CODEC_ID_AAC);
    const test::KeyFrameList keys = test::ReadKeyFrames(out);
    ASSERT_TRUE(keys.error.empty()) << keys.error;
    EXPECT_EQ(keys.videoPackets, 75);
    // One key frame at least every ten pictures, each an IDR frame.
    EXPECT_GE(keys.packets.size(), 8u);
    for (const test::KeyFrame& k : keys.packets) EXPECT_TRUE(k.idr) << "key frame at " << k.time;
    EXPECT_EQ(test::IndexPlace(out), "front");

    // What a user types comes after the plan's own options and wins.
    plan.ExtOptions = "vlevel=40\r\n";
    plan.FastStart = false;
    const std::string typed = Dir.File("typed.mp4");
    ASSERT_EQ(Write({a}, typed, plan), "");
    EXPECT_EQ(Survey(typed).VideoLevel, 40);
    EXPECT_EQ(test::IndexPlace(typed), "back");
}

// Catches: the FLV key-frame index missing from a plan that asks for it (a
// merged FLV players cannot seek), or written into one that does not.
TEST_F(MergePlanFile, FlvKeyFrameIndexAsPlanned) {
    const std::string a = Clip("a.flv", {"--duration", "2", "--size", "128x96", "--gop", "10"});
    TMergePlan plan;
    plan.Container = "flv";
    plan.Video.Codec = "copy";
    plan.Audio.Codec = "copy";
    plan.KeyFrameIndex = true;
    const std::string indexed = Dir.File("indexed.flv");
    ASSERT_EQ(Write({a, a}, indexed, plan), "");
    const test::KeyFrameList keys = test::ReadKeyFrames(indexed);
    ASSERT_TRUE(keys.error.empty()) << keys.error;
    ASSERT_TRUE(keys.hasFlvIndex);
    EXPECT_EQ(keys.flvIndex.size(), keys.packets.size());
    EXPECT_GE(keys.packets.size(), 2u);

    plan.KeyFrameIndex = false;
    const std::string bare = Dir.File("bare.flv");
    ASSERT_EQ(Write({a, a}, bare, plan), "");
    EXPECT_FALSE(test::ReadKeyFrames(bare).hasFlvIndex);
}

}  // namespace
}  // namespace tw
