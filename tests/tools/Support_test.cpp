// Tests of the test support itself: the scratch folder and the failure paths
// of the clip helpers, which other tests rely on to fail loudly.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/Media.h"

namespace tw::test {
namespace {

namespace fs = std::filesystem;

// Catches: scratch folders that are shared or left behind.
TEST(Support, TempDirIsFreshAndRemovesItself) {
    std::string path;
    {
        TempDir a, b;
        path = a.Path();
        EXPECT_NE(a.Path(), b.Path());
        ASSERT_TRUE(fs::is_directory(path));
        EXPECT_TRUE(fs::is_empty(path));
        fs::create_directories(a.File("sub/deeper"));
        std::ofstream(a.File("sub/file.txt")) << "x";
    }
    EXPECT_FALSE(fs::exists(path));
}

void GenerateIntoMissingFolder() {
    try {
        GenerateClip("/nonexistent-folder/clip.flv", {});
    } catch (const std::runtime_error&) {
    }
}

// Catches: a generator failure that a test would not notice.
TEST(Support, GenerateClipFailsTheTest) {
    EXPECT_NONFATAL_FAILURE(GenerateIntoMissingFolder(), "exit status 1");
    EXPECT_THROW(
        {
            testing::TestPartResultArray swallowed;
            testing::ScopedFakeTestPartResultReporter quiet(&swallowed);
            GenerateClip("/nonexistent-folder/clip.flv", {});
        },
        std::runtime_error);
}

// Catches: a reader that reports an unreadable file as an empty clip.
TEST(Support, ReadMediaInfoReportsUnreadableFiles) {
    TempDir dir;
    const MediaInfo missing = ReadMediaInfo(dir.File("missing.flv"));
    EXPECT_FALSE(missing.Ok());
    EXPECT_NE(missing.error.find("missing.flv"), std::string::npos) << missing.error;
    EXPECT_TRUE(missing.streams.empty());

    std::ofstream(dir.File("text.flv")) << "this is not a media file\n";
    EXPECT_FALSE(ReadMediaInfo(dir.File("text.flv")).Ok());
}

// Catches: decoding counts mixed up between streams, or filled when not asked.
TEST(Support, DecodeCountsOnlyWhenAsked) {
    TempDir dir;
    const std::string clip = GenerateClip(dir.File("c.ts"), {"--duration", "0.4"});
    const MediaInfo quick = ReadMediaInfo(clip);
    EXPECT_EQ(quick.Video()->decodedFrames, -1);
    const MediaInfo full = ReadMediaInfo(clip, {.decode = true});
    EXPECT_EQ(full.Video()->decodedFrames, 10);
    EXPECT_EQ(full.Video()->decodedSamples, 0);
    EXPECT_GT(full.Audio()->decodedSamples, full.Audio()->decodedFrames);
    EXPECT_EQ(full.Audio()->decodeErrors, 0);
}

}  // namespace
}  // namespace tw::test
