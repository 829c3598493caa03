// Tests of the generator's variants that only some containers keep: single
// streams, chapters, metadata, truncation, other codecs and patterns.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/support/Media.h"

namespace tw::test {
namespace {

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Catches: an empty stream written for the missing medium.
TEST(Variants, SingleStreamClips) {
    TempDir dir;
    const MediaInfo videoOnly = ReadMediaInfo(GenerateClip(dir.File("v.flv"), {"--no-audio"}));
    ASSERT_TRUE(videoOnly.Ok()) << videoOnly.error;
    ASSERT_EQ(videoOnly.streams.size(), 1u);
    EXPECT_EQ(videoOnly.streams[0].type, "video");
    EXPECT_EQ(videoOnly.streams[0].packets, 50);

    const MediaInfo audioOnly = ReadMediaInfo(GenerateClip(dir.File("a.mkv"), {"--no-video"}));
    ASSERT_TRUE(audioOnly.Ok()) << audioOnly.error;
    ASSERT_EQ(audioOnly.streams.size(), 1u);
    EXPECT_EQ(audioOnly.streams[0].type, "audio");
    EXPECT_NEAR(*audioOnly.duration, 2.0, 0.05);
}

// Catches: chapters missing, unequal, untitled, or not covering the clip.
TEST(Variants, ChaptersSplitTheClipEqually) {
    TempDir dir;
    const MediaInfo mkv = ReadMediaInfo(GenerateClip(dir.File("c.mkv"), {"--chapters", "4"}));
    ASSERT_TRUE(mkv.Ok()) << mkv.error;
    ASSERT_EQ(mkv.chapters.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(mkv.chapters[i].title, "Chapter " + std::to_string(i + 1));
        EXPECT_NEAR(mkv.chapters[i].start, 0.5 * i, 1e-3);
        EXPECT_NEAR(mkv.chapters[i].end, 0.5 * (i + 1), 1e-3);
    }

    const MediaInfo mp4 = ReadMediaInfo(GenerateClip(dir.File("c.mp4"), {"--chapters", "2"}));
    ASSERT_TRUE(mp4.Ok()) << mp4.error;
    ASSERT_EQ(mp4.chapters.size(), 2u);
    EXPECT_EQ(mp4.chapters[1].title, "Chapter 2");
    EXPECT_NEAR(mp4.chapters[1].start, 1.0, 1e-3);
}

// Catches: chapters silently dropped by a container that cannot store them.
TEST(Variants, ChaptersInFlvAreRefused) {
    TempDir dir;
    const GeneratorRun run = RunGenerator({"--chapters", "2", dir.File("c.flv")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("cannot store chapters"), std::string::npos) << run.output;
    EXPECT_FALSE(std::filesystem::exists(dir.File("c.flv")));
}

// Catches: --trim writing no edit list (the whole media shown) or one that
// keeps the end, and --ts-jump not moving the clock where it was asked to.
TEST(Variants, TrimsAndClockJumps) {
    TempDir dir;
    const MediaInfo trimmed =
        ReadMediaInfo(GenerateClip(dir.File("t.mp4"), {"--duration", "4", "--trim", "1:3"}));
    ASSERT_TRUE(trimmed.Ok()) << trimmed.error;
    ASSERT_TRUE(trimmed.duration);
    EXPECT_NEAR(*trimmed.duration, 2.0, 0.05);  // what the edit list shows
    EXPECT_NEAR(*trimmed.Audio()->endTime, 2.0, 0.03);
    for (const std::string ext : {"flv", "ts"}) {
        const MediaInfo jumped = ReadMediaInfo(
            GenerateClip(dir.File("j." + ext), {"--duration", "3", "--ts-jump", "1.5:-1"}));
        ASSERT_TRUE(jumped.Ok()) << jumped.error;
        const StreamInfo& v = *jumped.Video();
        EXPECT_FALSE(v.dtsMonotonic) << ext;
        EXPECT_NEAR(*v.lastPts - *v.firstPts, 1.96, 0.05) << ext;  // the end came 1 s early
    }
    EXPECT_EQ(RunGenerator({"--trim", "1:3", dir.File("x.flv")}).exitCode, 2);
    EXPECT_EQ(RunGenerator({"--ts-jump", "1:1", dir.File("x.mkv")}).exitCode, 2);
}

// Catches: metadata not reaching the container, or values with spaces split.
TEST(Variants, MetadataIsStored) {
    TempDir dir;
    for (const char* ext : {"flv", "mp4", "mkv"}) {
        SCOPED_TRACE(ext);
        const MediaInfo info = ReadMediaInfo(
            GenerateClip(dir.File(std::string("m.") + ext),
                         {"--duration", "0.5", "--metadata", "title=A title", "--metadata",
                          "artist=Someone", "--metadata", "comment=x=y"}));
        ASSERT_TRUE(info.Ok()) << info.error;
        EXPECT_EQ(info.Tag("title").value_or(""), "A title");
        EXPECT_EQ(info.Tag("artist").value_or(""), "Someone");
        EXPECT_EQ(info.Tag("comment").value_or(""), "x=y");
    }
}

// Catches: truncation that leaves the file whole, or a truncated file that
// still reads as the complete clip.
TEST(Variants, TruncatedFileLosesItsEnd) {
    TempDir dir;
    const std::string whole = GenerateClip(dir.File("whole.flv"), {});
    const std::string cut = GenerateClip(dir.File("cut.flv"), {"--truncate", "0.5"});
    const auto wholeSize = std::filesystem::file_size(whole);
    EXPECT_EQ(std::filesystem::file_size(cut), wholeSize / 2);
    EXPECT_EQ(Bytes(cut), Bytes(whole).substr(0, wholeSize / 2)) << "same clip, only cut";

    const MediaInfo info = ReadMediaInfo(cut);
    ASSERT_TRUE(info.Ok()) << info.error;
    const int64_t packets = info.Video()->packets + info.Audio()->packets;
    EXPECT_TRUE(!info.readError.empty() || packets < 50 + 88)
        << "read " << packets << " packets to a clean end";
}

// Catches: the codec options ignored, or a codec the container refuses
// reported as success.
TEST(Variants, OtherCodecs) {
    TempDir dir;
    const MediaInfo info = ReadMediaInfo(
        GenerateClip(dir.File("m.mkv"), {"--video-codec", "mpeg4", "--audio-codec", "mp2"}));
    ASSERT_TRUE(info.Ok()) << info.error;
    EXPECT_EQ(info.Video()->codec, "mpeg4");
    EXPECT_EQ(info.Video()->packets, 50);
    EXPECT_EQ(info.Audio()->codec, "mp2");

    const GeneratorRun run = RunGenerator({"--audio-codec", "mp2", dir.File("m.flv")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("cannot hold mp2"), std::string::npos) << run.output;
}

// Catches: patterns that do not change the picture, or a generator whose
// output varies from run to run (tests compare files).
TEST(Variants, PatternsDifferAndRunsRepeat) {
    TempDir dir;
    const std::string a1 = GenerateClip(dir.File("a1.mkv"), {"--no-audio", "--duration", "0.4"});
    const std::string a2 = GenerateClip(dir.File("a2.mkv"), {"--no-audio", "--duration", "0.4"});
    const std::string b =
        GenerateClip(dir.File("b.mkv"), {"--no-audio", "--duration", "0.4", "--pattern", "1"});
    EXPECT_EQ(Bytes(a1), Bytes(a2));
    EXPECT_NE(Bytes(a1), Bytes(b));
}

}  // namespace
}  // namespace tw::test
