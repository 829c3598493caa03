// tests/app/KeyFrames_test.cpp — every key frame a merged file marks is a
// place where a player that seeks can start decoding: a re-encoding merge
// writes closed groups of pictures (IDR frames only) into MP4, Matroska
// and FLV; a fast merge keeps its sources' own key frames.
#include "tests/support/KeyFrames.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/JoinProgram.h"
#include "tests/support/Media.h"
#include "tests/support/TempDir.h"

namespace tw {
namespace {

using test::RunJoin;

// Catches: libx264 left in open groups of pictures, whose later key frames
// are I-frames that are no IDR frames, marked as MP4 sync samples,
// Matroska key frames and FLV index entries: a browser seeking there fails
// to decode.
TEST(KeyFrames, ReencodedKeyFramesAreIdrFramesInEveryContainer) {
    test::TempDir dir;
    // 300 pictures: more than the preset's key-frame interval of 250.
    const std::string source = test::GenerateClip(
        dir.File("a.mp4"),
        {"--fps", "50", "--duration", "6", "--size", "128x96", "--bframes", "2"});
    for (const char* name : {"out.mp4", "out.mkv", "out.flv"}) {
        SCOPED_TRACE(name);
        const std::string out = dir.File(name);
        std::string text;
        ASSERT_EQ(RunJoin({"-q", "-o", out, source}, &text), 0) << text;
        const test::KeyFrameList keys = test::ReadKeyFrames(out);
        ASSERT_TRUE(keys.error.empty()) << keys.error;
        EXPECT_EQ(keys.videoPackets, 300);
        ASSERT_GE(keys.packets.size(), 2u) << "a single group of pictures proves nothing";
        for (const test::KeyFrame& k : keys.packets)
            EXPECT_TRUE(k.idr) << "key frame at " << k.time;
        if (std::string(name) == "out.flv") {
            ASSERT_TRUE(keys.hasFlvIndex);
            EXPECT_EQ(keys.flvIndex.size(), keys.packets.size());
            for (const test::KeyFrame& k : keys.flvIndex)
                EXPECT_TRUE(k.idr) << "index entry at " << k.time;
        }
    }
}

// Catches: a fast merge that drops or unmarks a source's own open-GOP key
// frames (pictures a decoder resumes at, by their recovery point), or an
// FLV index that loses them.
TEST(KeyFrames, FastMergeKeepsTheSourcesOwnKeyFrames) {
    test::TempDir dir;
    const std::string a = test::GenerateClip(
        dir.File("a.mp4"), {"--open-gop", "--bframes", "2", "--duration", "2", "--size", "128x96"});
    const test::KeyFrameList source = test::ReadKeyFrames(a);
    ASSERT_TRUE(source.error.empty()) << source.error;
    ASSERT_EQ(source.packets.size(), 2u);
    ASSERT_FALSE(source.packets[1].idr);  // the generator's open group
    ASSERT_TRUE(source.packets[1].recoveryPoint);
    for (const char* name : {"out.mp4", "out.flv"}) {
        SCOPED_TRACE(name);
        const std::string out = dir.File(name);
        std::string text;
        ASSERT_EQ(RunJoin({"-f", "-q", "-o", out, a, a}, &text), 0) << text;
        const test::KeyFrameList keys = test::ReadKeyFrames(out);
        ASSERT_TRUE(keys.error.empty()) << keys.error;
        ASSERT_EQ(keys.packets.size(), 4u);
        for (const test::KeyFrame& k : keys.packets)
            EXPECT_TRUE(k.idr || k.recoveryPoint) << "key frame at " << k.time;
        if (std::string(name) == "out.flv") {
            ASSERT_EQ(keys.flvIndex.size(), 4u);
            for (const test::KeyFrame& k : keys.flvIndex)
                EXPECT_TRUE(k.idr || k.recoveryPoint) << "index entry at " << k.time;
        }
    }
}

}  // namespace
}  // namespace tw
