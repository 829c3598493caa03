// Tests of the generator's picture shapes: display rotation, pixel formats
// and odd sizes, as phones and other encoders write them.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "tests/support/Frames.h"
#include "tests/support/Media.h"

namespace tw::test {
namespace {

// Catches: a rotation that the containers lose, or stored the wrong way
// round (a phone's clockwise turn reads back as -90), or a picture painted
// sideways so that it is not upright once turned.
TEST(Shapes, RotationIsStoredAndThePictureIsUprightOnceTurned) {
    TempDir dir;
    for (const char* name : {"r.mp4"}) {
        const std::string clip = GenerateClip(dir.File(name), {"--rotate", "90", "--marks"});
        const auto rotation = DisplayRotation(clip);
        ASSERT_TRUE(rotation.has_value()) << name;
        EXPECT_NEAR(*rotation, -90, 0.01) << name;
        // Coded 320x240; turned clockwise the bottom-left corner becomes the
        // displayed top-left (white) and the top-right the bottom-right (black).
        const Picture p = DecodePicture(clip, 0);
        ASSERT_EQ(p.width, 320) << name;
        ASSERT_EQ(p.height, 240) << name;
        EXPECT_GT(p.MeanY(5, 200, 50, 235), 200) << name;
        EXPECT_LT(p.MeanY(270, 5, 315, 50), 40) << name;
    }
    const std::string half = GenerateClip(dir.File("h.mp4"), {"--rotate", "180", "--marks"});
    EXPECT_NEAR(std::fabs(*DisplayRotation(half)), 180, 0.01);
    const Picture p = DecodePicture(half, 0);
    EXPECT_GT(p.MeanY(270, 190, 315, 235), 200);  // coded bottom-right shows top-left
    const std::string plain = GenerateClip(dir.File("p.mp4"), {"--marks"});
    EXPECT_FALSE(DisplayRotation(plain).has_value());
    const Picture q = DecodePicture(plain, 0);
    EXPECT_GT(q.MeanY(20, 20, 55, 55), 200);
    EXPECT_LT(q.MeanY(270, 190, 315, 235), 40);
}

// Catches: the pixel format or an odd size not reaching the encoder, or odd
// sizes refused for encoders that take them.
TEST(Shapes, PixelFormatsAndOddSizes) {
    TempDir dir;
    struct Case {
        std::string file;
        std::vector<std::string> args;
        std::string codec, pixFmt;
        int width, height;
    };
    const std::vector<Case> cases = {
        {"f444.mp4", {"--pix-fmt", "yuv444p", "--size", "639x360"}, "h264", "yuv444p", 639, 360},
        {"f422.mkv", {"--pix-fmt", "yuv422p"}, "h264", "yuv422p", 320, 240},
        {"vp8.webm",
         {"--video-codec", "libvpx", "--no-audio", "--size", "720x405"},
         "vp8",
         "yuv420p",
         720,
         405},
        {"vp9.mkv",
         {"--video-codec", "libvpx-vp9", "--no-audio", "--size", "639x360"},
         "vp9",
         "yuv420p",
         639,
         360},
        {"m2.mpg",
         {"--video-codec", "mpeg2video", "--audio-codec", "mp2", "--size", "639x360"},
         "mpeg2video",
         "yuv420p",
         639,
         360},
        {"m2.ts",
         {"--video-codec", "mpeg2video", "--size", "720x405"},
         "mpeg2video",
         "yuv420p",
         720,
         405},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--duration", "0.4"});
        const std::string clip = GenerateClip(dir.File(c.file), args);
        const MediaInfo info = ReadMediaInfo(clip, {.decode = true});
        ASSERT_TRUE(info.Ok()) << c.file << ": " << info.error;
        ASSERT_NE(info.Video(), nullptr) << c.file;
        EXPECT_EQ(info.Video()->codec, c.codec) << c.file;
        EXPECT_EQ(info.Video()->decodedFrames, 10) << c.file;
        EXPECT_EQ(info.Video()->decodeErrors, 0) << c.file;
        const Picture p = DecodePicture(clip, 0);
        EXPECT_EQ(p.pixFmt, c.pixFmt) << c.file;
        EXPECT_EQ(p.width, c.width) << c.file;
        EXPECT_EQ(p.height, c.height) << c.file;
        // The last column and row are painted like the rest (not left dark
        // or green by an unpainted chroma sample).
        EXPECT_LT(p.BlackColumn(c.width - 1), 0.5) << c.file;
        EXPECT_LT(p.BlackRow(c.height - 1), 0.5) << c.file;
    }
}

// Catches: bad shape options accepted, or a format the encoder cannot take
// written anyway.
TEST(Shapes, BadShapesAreRefused) {
    TempDir dir;
    auto refused = [&](const std::vector<std::string>& args, int code, const std::string& text) {
        const GeneratorRun run = RunGenerator(args);
        EXPECT_EQ(run.exitCode, code) << run.output;
        EXPECT_NE(run.output.find(text), std::string::npos) << run.output;
    };
    refused({"--rotate", "45", dir.File("a.mp4")}, 2, "0, 90, 180 or 270");
    refused({"--rotate", "90", dir.File("a.mkv")}, 1, "cannot store a rotation");
    refused({"--pix-fmt", "no-such", dir.File("a.mp4")}, 2, "unknown pixel format");
    refused({"--size", "639x360", dir.File("a.mp4")}, 2, "even for libx264 with yuv420p");
    refused({"--video-codec", "mpeg4", "--pix-fmt", "yuv444p", dir.File("a.mkv")}, 1,
            "does not take yuv444p");
    EXPECT_FALSE(std::filesystem::exists(dir.File("a.mkv")));
}

}  // namespace
}  // namespace tw::test
