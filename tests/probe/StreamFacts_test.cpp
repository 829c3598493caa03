// tests/probe/StreamFacts_test.cpp — the facts the probing component reads
// of a source for reports: its streams, its readable length, the libraries'
// names, what its name means.
#include "probe/StreamFacts.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "binding/FFLoad.h"
#include "probe/FFDecode.h"
#include "probe/FileNames.h"
#include "probe/FileSurvey.h"
#include "probe/MediaNames.h"
#include "probe/SourceLength.h"
#include "tests/support/Media.h"
#include "tests/support/TempDir.h"

namespace tw {
namespace {

class SourceFacts : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds)) << FFLoader().LastErrMsg();
    }
    std::string Clip(const std::string& name, const std::vector<std::string>& args) {
        return test::GenerateClip(Dir.File(name), args);
    }
    test::TempDir Dir;
};

// Catches: cover art described with its meaningless frame rate, a phone
// clip's turn or the audio layout lost, profile and pixel format names
// missing, tags not read.
TEST_F(SourceFacts, StreamsOfAPhoneClipWithCover) {
    const std::string clip = Clip("phone.mp4", {"--rotate", "90", "--cover", "--channels", "1",
                                                "--size", "160x120", "--duration", "1"});
    TFFDecoder d;
    ASSERT_TRUE(d.LoadFile(clip)) << d.LastError;
    EXPECT_NE(ContainerName(d.FormatContext()).find("mp4"), std::string::npos);
    const std::vector<TStreamFacts> streams = DescribeStreams(d.FormatContext());
    const TStreamFacts *video = nullptr, *audio = nullptr, *cover = nullptr;
    for (const TStreamFacts& s : streams) {
        if (s.Kind == AVMEDIA_TYPE_VIDEO && s.AttachedPicture) cover = &s;
        if (s.Kind == AVMEDIA_TYPE_VIDEO && !s.AttachedPicture) video = &s;
        if (s.Kind == AVMEDIA_TYPE_AUDIO) audio = &s;
    }
    ASSERT_TRUE(video && audio && cover);
    EXPECT_EQ(video->Type, "video");
    EXPECT_EQ(video->Codec, "h264");
    EXPECT_TRUE(video->Profile.has_value());
    EXPECT_EQ(video->PixelFormat, "yuv420p");
    EXPECT_EQ(video->Width, 160);
    EXPECT_EQ(video->Height, 120);
    EXPECT_EQ(video->FrameRate.num / video->FrameRate.den, 25);
    EXPECT_EQ(video->Rotation, 90);
    EXPECT_EQ(cover->FrameRate.num, 0);  // no rate for a single picture
    EXPECT_EQ(audio->Profile, "LC");
    EXPECT_EQ(audio->Channels, 1);
    EXPECT_EQ(audio->ChannelLayout, "mono");
    EXPECT_GT(audio->SampleRate, 0);
    EXPECT_EQ(audio->Language, "und");

    EXPECT_STREQ(PixelFormatName(AV_PIX_FMT_YUV444P), "yuv444p");
    EXPECT_EQ(PixelFormatName(-1), nullptr);
    EXPECT_STREQ(ProfileName(AV_CODEC_ID_H264, FF_PROFILE_H264_HIGH), "High");
    EXPECT_EQ(ProfileName(AV_CODEC_ID_H264, -1), nullptr);
}

// Catches: a truncated source measured by its header (the progress total and
// the probe report then promise media that is not there).
TEST_F(SourceFacts, TruncatedSourceFallsShortOfItsHeader) {
    const std::string whole = Clip("whole.flv", {"--duration", "3", "--size", "128x96"});
    const std::string cut =
        Clip("cut.flv", {"--duration", "3", "--size", "128x96", "--truncate", "0.5"});
    TFFDecoder d;
    ASSERT_TRUE(d.LoadFile(whole)) << d.LastError;
    const TSourceLength full = MeasureSource(d.FormatContext());
    EXPECT_EQ(full.Missing(), 0);
    EXPECT_NEAR(full.Best() / 1e6, 3.0, 0.2);
    ASSERT_TRUE(d.LoadFile(cut)) << d.LastError;
    const TSourceLength half = MeasureSource(d.FormatContext());
    EXPECT_NEAR(half.Header / 1e6, 3.0, 0.2);
    EXPECT_LT(half.Readable / 1e6, 2.0);
    EXPECT_GT(half.Missing(), 1000000);
}

// Catches: a FIFO taken for a file that can be read twice, a name with a
// colon or bytes that are no UTF-8 handed to the libraries as it is.
TEST_F(SourceFacts, WhatNamesMeanToTheLibraries) {
    const std::string fifo = Dir.File("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_TRUE(IsReadOnceSource(fifo));
    EXPECT_FALSE(IsReadOnceSource(Clip("a.flv", {"--duration", "1"})));
    EXPECT_TRUE(NeedsWideName("/tmp/a:b.flv"));
    EXPECT_TRUE(NeedsWideName("/tmp/\xff.flv"));
    EXPECT_FALSE(NeedsWideName("/tmp/plain.flv"));
}

// Catches: a file that cannot be opened surveyed as an empty source without
// the reason (a smart merge would then copy a part it never read back).
TEST_F(SourceFacts, SurveyOfAFileByName) {
    TSourceFacts facts;
    std::string error;
    const std::string clip = Clip("a.mkv", {"--duration", "1", "--size", "128x96"});
    ASSERT_TRUE(SurveyFile(clip, facts, error)) << error;
    EXPECT_EQ(facts.File, clip);
    EXPECT_TRUE(facts.HasVideo && facts.HasAudio);
    EXPECT_EQ(facts.Width, 128);
    const std::string missing = Dir.File("missing.mp4");
    EXPECT_FALSE(SurveyFile(missing, facts, error));
    EXPECT_NE(error.find("missing.mp4"), std::string::npos) << error;
    EXPECT_EQ(facts.File, missing);
    EXPECT_FALSE(facts.HasVideo);
}

}  // namespace
}  // namespace tw
