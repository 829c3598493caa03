// tests/app/Rotation_test.cpp — phone clips that are shown turned: a fast
// merge keeps their display matrix where the container holds one and is
// refused where it cannot, --auto turns them upright instead, sources turned
// differently are told apart, and the check before deleting sources reads
// the merged file's rotation.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "app/EncodingTable.h"
#include "app/MergedFileCheck.h"
#include "app/Messages.h"
#include "binding/FFLoad.h"
#include "diag/FFLog.h"
#include "media/SourceSurvey.h"
#include "probe/FFDecode.h"
#include "tests/support/Frames.h"
#include "tests/support/JoinProgram.h"
#include "tests/support/Media.h"
#include "tests/support/TempDir.h"

namespace tw {
namespace {

using test::RunJoin;

// How the command line ends a refusal of a fast merge.
constexpr const char* kWithoutFastMode =
    ": a fast merge cannot join it; merge without -f (re-encoding)";

class Rotation : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds)) << FFLoader().LastErrMsg();
        FFLogger()->TriggerEventInMainThread = false;
        FFLogger()->SetLogLevel(llQuiet);
        // The texts in the language of the command line the tests run.
        SetMessagesLanguage("en");
    }
    void TearDown() override { SetMessagesLanguage("zh_CN"); }
    std::string Clip(const std::string& name, const std::vector<std::string>& args = {}) {
        return test::GenerateClip(Dir.File(name), args);
    }
    // A phone clip: coded 320x240, shown turned 90° clockwise (240x320).
    std::string Phone(const std::string& name, int pattern = 0) {
        return Clip(name, {"--rotate", "90", "--marks", "--duration", "1", "--pattern",
                           std::to_string(pattern)});
    }
    TSourceFacts Facts(const std::string& file) {
        TFFDecoder d;
        EXPECT_TRUE(d.LoadFile(file)) << d.LastError;
        return SurveySource(d.FormatContext(), file);
    }
    test::TempDir Dir;
};

// Catches: a fast merge of phone clips into MP4 that drops the display
// matrix (the joined clip plays sideways) or turns it the other way.
TEST_F(Rotation, FastMergeIntoMp4KeepsTheRotation) {
    const std::string a = Phone("a.mp4"), b = Phone("b.mp4", 1);
    const std::string out = Dir.File("out.mp4");
    std::string text;
    ASSERT_EQ(RunJoin({"-f", "-q", "-o", out, a, b}, &text), 0) << text;
    const auto rotation = test::DisplayRotation(out);
    ASSERT_TRUE(rotation.has_value()) << "no display matrix in the merged file";
    EXPECT_NEAR(*rotation, *test::DisplayRotation(a), 0.01);
    EXPECT_NEAR(*rotation, -90, 0.01);
    const test::MediaInfo info = test::ReadMediaInfo(out, {true});
    ASSERT_TRUE(info.Ok()) << info.error;
    EXPECT_EQ(info.Video()->decodedFrames, 50);
    EXPECT_EQ(info.Video()->decodeErrors, 0);
    // A merge checked before its sources go: the rotation is the sources'.
    std::string why;
    EXPECT_TRUE(VerifyMerge({Facts(a), Facts(b)}, out, true, why)) << why;
}

// Catches: a fast merge into a container that writes no rotation (FLV,
// Matroska, MPEG-TS) going ahead and giving a sideways file, or being
// refused only after the old output was replaced.
TEST_F(Rotation, FastMergeIntoAContainerWithoutRotationIsRefusedBeforeWriting) {
    const std::string a = Phone("a.mp4"), b = Phone("b.mp4", 1);
    for (const auto& [name, shown] : std::vector<std::pair<std::string, std::string>>{
             {"old.flv", "FLV"}, {"old.mkv", "MKV"}, {"old.ts", "TS"}}) {
        SCOPED_TRACE(name);
        const std::string out = Dir.File(name);
        {
            std::ofstream old(out, std::ios::binary);
            old << "the user's old file";
        }
        std::string text;
        EXPECT_EQ(RunJoin({"-f", "-y", "-o", out, a, b}, &text), 1) << text;
        EXPECT_NE(text.find(a + ": the picture is turned 90°; " + shown + " cannot store the turn" +
                            kWithoutFastMode),
                  std::string::npos)
            << text;
        EXPECT_EQ(test::FileContents(out), "the user's old file");
    }
}

// Catches: --auto copying phone clips into a container that drops their
// rotation instead of re-encoding them upright, or re-encoding them sideways
// or mirrored.
TEST_F(Rotation, AutoReencodesUprightWhereTheContainerCannotTurn) {
    const std::string a = Phone("a.mp4"), b = Phone("b.mp4", 1);
    const std::string out = Dir.File("out.mkv");
    std::string text;
    ASSERT_EQ(RunJoin({"--auto", "-o", out, a, b}, &text), 0) << text;
    EXPECT_NE(text.find("--auto: re-encoding: " + a + ": the picture is turned 90°; MKV"),
              std::string::npos)
        << text;
    EXPECT_FALSE(test::DisplayRotation(out).has_value());
    const test::Picture p = test::DecodePicture(out, 10);
    ASSERT_EQ(p.width, 240);
    ASSERT_EQ(p.height, 320);
    // The marks where an upright picture has them: white at the top left,
    // black at the bottom right, and neither at the other two corners.
    EXPECT_GT(p.MeanY(5, 5, 50, 50), 200);
    EXPECT_LT(p.MeanY(190, 270, 235, 315), 40);
    EXPECT_LT(p.MeanY(190, 5, 235, 50), 200);
    EXPECT_GT(p.MeanY(5, 270, 50, 315), 40);
    // And into MP4, which holds the matrix, --auto copies.
    ASSERT_EQ(RunJoin({"--auto", "-o", Dir.File("out.mp4"), a, b}, &text), 0) << text;
    EXPECT_NE(text.find("--auto: fast merge"), std::string::npos) << text;
    EXPECT_NEAR(test::DisplayRotation(Dir.File("out.mp4")).value_or(0), -90, 0.01);
}

// Catches: a phone clip next to an upright one passing as the same encoding:
// no rotation in the table, a fast merge that turns both alike.
TEST_F(Rotation, SourcesTurnedDifferentlyDiffer) {
    const std::string upright = Clip("upright.mp4", {"--duration", "1"});
    const std::string phone = Phone("phone.mp4");
    std::string text;
    // Sources turned differently cannot be copied together: --probe says 1.
    ASSERT_EQ(RunJoin({"--probe", upright, phone}, &text), 1) << text;
    EXPECT_NE(text.find("rotation"), std::string::npos) << text;
    EXPECT_NE(text.find("90*"), std::string::npos) << text;

    const std::string out = Dir.File("out.mp4");
    EXPECT_EQ(RunJoin({"-f", "-o", out, upright, phone}, &text), 1) << text;
    EXPECT_NE(text.find(phone + ": the picture is turned 90°, that of the first file 0°" +
                        kWithoutFastMode),
              std::string::npos)
        << text;
    EXPECT_FALSE(test::PathExists(out));

    // --auto turns the phone clip upright into the first one's encoding and
    // copies the first: an upright output.
    EXPECT_EQ(RunJoin({"--auto", "-o", out, upright, phone}, &text), 0) << text;
    EXPECT_NE(text.find("smart merge, re-encoding 1 of 2 sources: the sources are encoded "
                        "differently: rotation 90 / 0"),
              std::string::npos)
        << text;
    EXPECT_NEAR(test::DisplayRotation(out).value_or(0), 0, 0.01);

    // The same rules as values: the driver's checks and the table.
    const TSourceFacts u = Facts(upright), r = Facts(phone);
    std::string file;
    EXPECT_EQ(EncodingDifference({u, r}, file), "rotation 90 / 0");
    EXPECT_EQ(file, phone);
    EXPECT_EQ(FastMergeProblem({r, r}, "mp4"), "");
    EXPECT_EQ(FastMergeProblem({r, r}, "mov"), "");
    EXPECT_NE(FastMergeProblem({r, r}, "matroska"), "");
    EXPECT_NE(FastMergeProblem({r, u}, "mp4"), "");
    EXPECT_EQ(FastMergeProblem({u, u}, "flv"), "");
    bool same = false;
    EXPECT_NE(EncodingTableText({{r, ""}, {r, ""}}, 200, same).find("rotation 90"),
              std::string::npos);
    EXPECT_TRUE(same);
}

// Catches: sources deleted after a merge that lost their rotation (a
// sideways file), or after one that turned upright pictures.
TEST_F(Rotation, CheckBeforeDeletingComparesTheRotation) {
    const std::string upright = Clip("upright.mp4", {"--duration", "2"});
    TSourceFacts phone = Facts(Phone("phone.mp4"));
    phone.Duration = 1000000;
    std::string why;
    EXPECT_FALSE(VerifyMerge({phone, phone}, upright, true, why));
    EXPECT_EQ(why, upright + ": the picture is turned 0°, the sources' 90°");

    // A re-encoding turns the pictures upright: an upright output is right,
    // a turned one would be turned twice.
    EXPECT_TRUE(VerifyMerge({phone, phone}, upright, false, why)) << why;
    const std::string turned = Clip("turned.mp4", {"--rotate", "90", "--duration", "2"});
    TSourceFacts plain = Facts(upright);
    plain.Duration = 1000000;
    EXPECT_FALSE(VerifyMerge({plain, plain}, turned, false, why));
    EXPECT_EQ(why, turned + ": the picture is turned 90°, the sources' 0°");
}

}  // namespace
}  // namespace tw
