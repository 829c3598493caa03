// Tests of the generated clips in each container: what the generator promises
// (codecs, sizes, rates, exact frame and sample counts, aligned starts) must
// be what a reader finds.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/support/Media.h"

namespace tw::test {
namespace {

constexpr int kAacFrame = 1024;  // also the AAC encoder's priming

struct ContainerCase {
    const char* extension;
    const char* demuxer;
    bool hidesPriming;  // the container trims the encoder's priming on reading
};

void PrintTo(const ContainerCase& c, std::ostream* os) { *os << c.extension; }

std::string CaseName(const testing::TestParamInfo<ContainerCase>& info) {
    return info.param.extension;
}

class Container : public testing::TestWithParam<ContainerCase> {
  protected:
    std::string File(const std::string& stem) const {
        return dir_.File(stem + "." + GetParam().extension);
    }
    TempDir dir_;
};

// Catches: wrong codecs or parameters, a frame lost or added at the end (the
// encoders' delayed packets not drained), audio cut short or padded by more
// than the last frame.
TEST_P(Container, DefaultClipHasExactContent) {
    const MediaInfo info = ReadMediaInfo(GenerateClip(File("clip"), {}), {.decode = true});
    ASSERT_TRUE(info.Ok()) << info.error;
    EXPECT_EQ(info.readError, "");
    EXPECT_EQ(info.format, GetParam().demuxer);

    const StreamInfo* v = info.Video();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->codec, "h264");
    EXPECT_EQ(v->width, 320);
    EXPECT_EQ(v->height, 240);
    EXPECT_DOUBLE_EQ(v->fps, 25.0);
    EXPECT_EQ(v->packets, 50);
    EXPECT_EQ(v->decodedFrames, 50);
    EXPECT_EQ(v->keyPackets, 2) << "one key frame per second by default";
    EXPECT_TRUE(v->dtsMonotonic);
    EXPECT_TRUE(v->ptsInFileOrder) << "no B-frames by default";

    const StreamInfo* a = info.Audio();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->codec, "aac");
    EXPECT_EQ(a->sampleRate, 44100);
    EXPECT_EQ(a->channels, 2);
    EXPECT_TRUE(a->dtsMonotonic);
    // 88200 samples plus the priming fill 88 frames, the last one partly.
    EXPECT_EQ(a->packets, 88);
    const int64_t content = a->decodedSamples - (GetParam().hidesPriming ? 0 : kAacFrame);
    EXPECT_GE(content, 88200);
    EXPECT_LT(content, 88200 + kAacFrame);

    ASSERT_TRUE(info.duration.has_value());
    EXPECT_NEAR(*info.duration, 2.0, 0.05);
}

// Catches: audio and video not starting together (e.g. the priming pushing
// the video back), and a start time other than zero.
TEST_P(Container, StreamsStartTogetherAtZero) {
    const MediaInfo info = ReadMediaInfo(GenerateClip(File("clip"), {"--duration", "1"}));
    ASSERT_TRUE(info.Ok()) << info.error;
    ASSERT_TRUE(info.startTime.has_value());
    EXPECT_NEAR(*info.startTime, 0.0, 1e-3);
    ASSERT_TRUE(info.Video() && info.Audio());
    EXPECT_NEAR(*info.Video()->firstPts, 0.0, 1e-3);
    EXPECT_NEAR(*info.Video()->endTime, 1.0, 1e-3);
    if (GetParam().hidesPriming)
        EXPECT_NEAR(*info.Audio()->firstPts, -kAacFrame / 44100.0, 1e-3);
    else
        EXPECT_NEAR(*info.Audio()->firstPts, 0.0, 1e-3);
}

// Catches: options not reaching the encoders (size, rates, channels, GOP).
TEST_P(Container, OptionsShapeTheStreams) {
    const MediaInfo info = ReadMediaInfo(
        GenerateClip(File("clip"), {"--duration", "1.2", "--size", "176x144", "--fps", "30",
                                    "--sample-rate", "48000", "--channels", "1", "--gop", "9"}),
        {.decode = true});
    ASSERT_TRUE(info.Ok()) << info.error;
    const StreamInfo* v = info.Video();
    const StreamInfo* a = info.Audio();
    ASSERT_TRUE(v && a);
    EXPECT_EQ(v->width, 176);
    EXPECT_EQ(v->height, 144);
    EXPECT_DOUBLE_EQ(v->fps, 30.0);
    EXPECT_EQ(v->packets, 36);
    EXPECT_EQ(v->keyPackets, 4);  // frames 0, 9, 18, 27
    EXPECT_EQ(a->sampleRate, 48000);
    EXPECT_EQ(a->channels, 1);
    const int64_t content = a->decodedSamples - (GetParam().hidesPriming ? 0 : kAacFrame);
    EXPECT_GE(content, 57600);
    EXPECT_LT(content, 57600 + kAacFrame);
}

// Catches: B-frames not enabled, or decode times going backwards.
TEST_P(Container, BFramesReorderPictures) {
    const MediaInfo info = ReadMediaInfo(GenerateClip(File("clip"), {"--bframes", "2"}));
    ASSERT_TRUE(info.Ok()) << info.error;
    const StreamInfo* v = info.Video();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->packets, 50);
    EXPECT_TRUE(v->dtsMonotonic);
    EXPECT_FALSE(v->ptsInFileOrder);
    // Reordering puts the first decode time before the first picture.
    if (v->firstDts) {
        EXPECT_LT(*v->firstDts, *v->firstPts - 0.01);
    }
    // Containers that cannot store a negative decode time shift both streams
    // alike, so they still start together.
    EXPECT_NEAR(*info.Audio()->firstPts - *v->firstPts,
                GetParam().hidesPriming ? -kAacFrame / 44100.0 : 0.0, 2e-3);
}

// Catches: a container that loses the start offset or shifts one stream only.
TEST_P(Container, StartTimeShiftsEveryStream) {
    const MediaInfo info =
        ReadMediaInfo(GenerateClip(File("late"), {"--duration", "1", "--start-time", "10"}));
    ASSERT_TRUE(info.Ok()) << info.error;
    ASSERT_TRUE(info.startTime.has_value());
    // MP4 keeps the AAC priming before the start (see ClipWriter.h).
    const double priming = GetParam().hidesPriming ? kAacFrame / 44100.0 : 0.0;
    EXPECT_NEAR(*info.startTime, 10.0 - priming, 2e-3);
    EXPECT_NEAR(*info.Video()->firstPts, 10.0, 1e-3);
    EXPECT_NEAR(*info.Audio()->firstPts, 10.0 - priming, 2e-3);
    EXPECT_NEAR(*info.Video()->endTime, 11.0, 1e-3);
}

INSTANTIATE_TEST_SUITE_P(Generated, Container,
                         testing::Values(ContainerCase{"flv", "flv", false},
                                         ContainerCase{"mp4", "mov,mp4,m4a,3gp,3g2,mj2", true},
                                         ContainerCase{"ts", "mpegts", false},
                                         ContainerCase{"mkv", "matroska,webm", false}),
                         CaseName);

}  // namespace
}  // namespace tw::test
