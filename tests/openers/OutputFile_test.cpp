// tests/openers/OutputFile_test.cpp — creating the output and its streams,
// and the joined output.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "binding/FFLoad.h"
#include "diag/FFLog.h"
#include "tests/support/Media.h"
#include "tests/support/TempDir.h"
#include "transcoder/CustomFFmpeg.h"
#include "transcoder/files/StreamTables.h"

namespace tw {
namespace {

class OutputFile : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds)) << FFLoader().LastErrMsg();
        FFLogger()->TriggerEventInMainThread = false;
        E = std::make_unique<TCustomFFmpeg>(20);
        E->SetVerbose(-1);
    }
    std::string Clip(const std::string& name, const std::vector<std::string>& args = {}) {
        return test::GenerateClip(Dir.File(name), args);
    }
    void OpenInputs(const std::vector<std::string>& files) {
        for (const auto& f : files) ASSERT_TRUE(E->OpenInputFile(f)) << E->LastError;
    }
    test::TempDir Dir;
    std::unique_ptr<TCustomFFmpeg> E;
};

// Catches: joined slots with contexts of their own, a duration that is not
// the sum, and a second output damaging the joined one.
TEST_F(OutputFile, JoiningThreeInputs) {
    OpenInputs({Clip("a.flv", {"--duration", "1"}), Clip("b.flv", {"--duration", "2"}),
                Clip("c.flv", {"--duration", "3"})});
    int64_t sum = 0;
    for (int i = 0; i < 3; ++i) sum += E->InputFiles[i]->duration;
    E->SetOption("vcodec", "copy");
    E->SetOption("acodec", "copy");
    const std::string out = Dir.File("out.flv");
    ASSERT_EQ(E->OpenOutputFile(out, true), 1) << E->LastError;
    EXPECT_TRUE(E->JoinMode);
    E->ExpandJoinedOutput();
    ASSERT_EQ(E->OutputFileCount, 3);
    EXPECT_EQ(E->OutputFiles[1].get(), E->OutputFiles[0].get());
    EXPECT_EQ(E->OutputFiles[2].get(), E->OutputFiles[0].get());
    EXPECT_EQ(E->TotalDuration, sum);
    for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(E->OutputStreamCount(k), 2) << k;
        for (int s = 0; s < 2; ++s) {
            EXPECT_EQ(E->OutputStreams[k][s]->FileIndex, k);
            EXPECT_EQ(E->OutputStreams[k][s]->StreamIndex, s);
            EXPECT_TRUE(E->OutputStreams[k][s]->StreamCopy);
        }
    }
    struct stat st;
    EXPECT_EQ(stat(out.c_str(), &st), 0);  // opened for writing

    EXPECT_EQ(E->OpenOutputFile(Dir.File("second.flv"), true), -1);
    EXPECT_EQ(E->LastError, "Cannot join more than one output file.");
    EXPECT_EQ(E->OutputFileCount, 3);
    EXPECT_NE(E->OutputFiles[0].get(), nullptr);
}

TEST_F(OutputFile, OneInputDoesNotJoin) {
    OpenInputs({Clip("a.flv")});
    E->SetOption("vcodec", "copy");
    E->SetOption("acodec", "copy");
    ASSERT_EQ(E->OpenOutputFile(Dir.File("out.flv"), true), 1);
    EXPECT_FALSE(E->JoinMode);
    E->ExpandJoinedOutput();
    EXPECT_EQ(E->OutputFileCount, 1);
}

// Catches: an audio stream made for a join whose first input has none.
TEST_F(OutputFile, TheFirstInputDecidesTheStreamTypes) {
    OpenInputs({Clip("v.flv", {"--no-audio"}), Clip("b.flv")});
    E->SetOption("vcodec", "copy");
    E->SetOption("acodec", "copy");
    ASSERT_EQ(E->OpenOutputFile(Dir.File("out.flv"), true), 1) << E->LastError;
    ASSERT_EQ(E->OutputStreamCount(0), 1);
    EXPECT_EQ(E->OutputStreams[0][0]->Encoder->codec_type, AVMEDIA_TYPE_VIDEO);
}

TEST_F(OutputFile, CopiedVideoTakesItsAspectFromTheOptionState) {
    OpenInputs({Clip("a.flv", {"--size", "640x360"})});
    E->FrameAspectRatio = 16.0f / 9.0f;
    E->FrameWidth = 480;  // as if the last input were 480x360 shown at 16:9
    E->FrameHeight = 360;
    E->SetOption("vcodec", "copy");
    E->SetOption("acodec", "copy");
    ASSERT_EQ(E->OpenOutputFile(Dir.File("out.flv"), false), 1) << E->LastError;
    const AVRational sar = E->OutputFiles[0]->streams[0]->sample_aspect_ratio;
    EXPECT_EQ(sar.num, 4);
    EXPECT_EQ(sar.den, 3);
}

// Catches: an encoder left without a frame rate, or forced key frames in the
// wrong time base or count.
TEST_F(OutputFile, EncodedVideoSettings) {
    E->SetOption("vcodec", "libx264");
    E->SetOption("acodec", "aac");
    E->SetOption("s", "320x240");
    E->FrameRate = {0, 1};
    E->SetOption("force_key_frames", "1,2.5,4");
    ASSERT_EQ(E->OpenOutputFile(Dir.File("out.flv"), false), 1) << E->LastError;
    ASSERT_EQ(E->OutputStreamCount(0), 2);
    const TOutputStream& video = *E->OutputStreams[0][0];
    ASSERT_TRUE(video.Encoder);
    EXPECT_EQ(video.Encoder->time_base.num, 1);
    EXPECT_EQ(video.Encoder->time_base.den, 25);
    EXPECT_EQ(video.Encoder->width, 320);
    EXPECT_TRUE(video.Encoder->flags & AV_CODEC_FLAG_GLOBAL_HEADER);          // FLV asks for it
    EXPECT_EQ(video.ForcedKeyFramePts, (std::vector<int64_t>{25, 63, 100}));  // 62.5 rounds up
    EXPECT_TRUE(E->ForcedKeyFrames.empty());
    EXPECT_TRUE(E->VideoCodecName.empty());
    const TOutputStream& audio = *E->OutputStreams[0][1];
    EXPECT_EQ(audio.Encoder->time_base.den, audio.Encoder->sample_rate);
    EXPECT_EQ(E->OutputCodecs.size(), 2u);
}

TEST_F(OutputFile, FailuresAndTheirTexts) {
    E->SetOption("f", "no_such_muxer");
    EXPECT_EQ(E->OpenOutputFile(Dir.File("a.flv"), false), -1);
    EXPECT_EQ(E->LastError,
              "Requested output format 'no_such_muxer' is not a suitable output format");
    EXPECT_EQ(E->ForcedFormatName, "no_such_muxer");  // consumed only when found
    E->ForcedFormatName.clear();
    const std::string odd = Dir.File("a.unknownext");
    EXPECT_EQ(E->OpenOutputFile(odd, false), -1);
    EXPECT_EQ(E->LastError, "Unable to find a suitable output format for '" + odd + "'");

    const std::string unwritable = Dir.File("no/such/dir/a.flv");
    EXPECT_EQ(E->OpenOutputFile(unwritable, false), -1);
    EXPECT_EQ(E->LastError, unwritable + ": No such file or directory");
    EXPECT_EQ(E->OutputFileCount, 0);
    EXPECT_EQ(E->OutputFiles[0], nullptr);

    E->SetOption("vcodec", "no_such_encoder");
    EXPECT_EQ(E->OpenOutputFile(Dir.File("b.flv"), false), -1);
    EXPECT_EQ(E->LastError, "new_video_stream fail: Unknown encoder 'no_such_encoder'");
    EXPECT_EQ(E->OutputFileCount, 0);
}

TEST_F(OutputFile, NamesWithColonsAreWrittenThroughOurOwnIO) {
    const std::string odd = Dir.File("a:b 合并.flv");
    E->SetOption("vcodec", "libx264");
    E->SetOption("s", "64x48");
    ASSERT_EQ(E->OpenOutputFile(odd, false), 1) << E->LastError;
    struct stat st;
    EXPECT_EQ(stat(odd.c_str(), &st), 0);
    E.reset();  // closes the file through the same I/O
}

TEST_F(OutputFile, NewStreamOptionsAddToTheLastOutput) {
    E->SetOption("vcodec", "libx264");
    E->SetOption("s", "64x48");
    E->SetOption("an", "1");
    E->SetOption("sn", "1");  // Matroska would add a subtitle stream of its own
    ASSERT_EQ(E->OpenOutputFile(Dir.File("a.mkv"), false), 1) << E->LastError;
    ASSERT_EQ(E->OutputStreamCount(0), 1);
    E->SetOption("acodec", "aac");
    E->SetOption("newaudio", "");
    ASSERT_EQ(E->OutputStreamCount(0), 2);
    EXPECT_EQ(E->OutputFiles[0]->streams[1]->index, 1);
    EXPECT_EQ(E->OutputStreams[0][1]->Encoder->codec_type, AVMEDIA_TYPE_AUDIO);
}

}  // namespace
}  // namespace tw
