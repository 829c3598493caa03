// tests/encoder/EncoderLibraries_test.cpp — which libraries a job loads: a
// copy only what copying needs, a re-encode the rest when it comes, and a
// missing one refused only by the job that needs it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "binding/FFLoad.h"
#include "encoder/FFEncode.h"
#include "encoder/OptionRecords.h"
#include "tests/support/EncoderFixture.h"
#include "tests/support/Media.h"

namespace tw {
namespace {

class EncoderLibraries : public test::EncoderTest {
  protected:
    void SetUp() override {
        EncoderTest::SetUp();
        // As a process that has only asked for what a merge always needs.
        FFLoader().Unload(ReencodeLibraryKinds);
        ASSERT_TRUE(Enc.LibrariesLoaded());
    }
    void TearDown() override { FFLoader().SetLibraryPath(""); }

    // One joined task over the inputs; copied, or re-encoded to H.264 + AAC.
    bool SetJoin(const std::vector<std::string>& inputs, const std::string& output, bool copy) {
        Enc.ClearTasks();
        const int t = Enc.AddTask(inputs[0]);
        EXPECT_EQ(t, 0) << Enc.LastError;
        for (size_t i = 1; i < inputs.size(); ++i)
            EXPECT_TRUE(Enc.AddInputFile(t, inputs[i])) << Enc.LastError;
        TOutputOptions o;
        o.VideoCodec = copy ? "copy" : "libx264";
        o.AudioCodec = copy ? "copy" : "aac";
        o.Join = true;
        return Enc.SetOutputFile(t, output, &o);
    }
    void RunTask() {
        Enc.Start(0);
        ASSERT_TRUE(Enc.Done);
        EXPECT_TRUE(Enc.Tasks(0).Finished) << Enc.Tasks(0).ErrorMessage;
        EXPECT_FALSE(Enc.Tasks(0).ErrorRaised) << Enc.Tasks(0).ErrorMessage;
    }
    static bool ReencodeLoaded() {
        return FFLoader().LibraryLoaded(lkAVCore) || FFLoader().LibraryLoaded(lkAVFilter);
    }
};

// Catches: a fast merge that loads the resampling and filter libraries
// anyway (the start-up cost of every copy), or a later re-encoding merge in
// the same process that finds them missing and fails or calls empty slots.
TEST_F(EncoderLibraries, AFastMergeLeavesTheRestForTheFirstReencode) {
    const std::string a = Clip("a.flv", {"--duration", "1", "--bframes", "2"});
    const std::string b = Clip("b.flv", {"--duration", "1", "--bframes", "2", "--pattern", "2"});
    const test::MediaInfo ia = test::ReadMediaInfo(a), ib = test::ReadMediaInfo(b);
    ASSERT_TRUE(ia.Ok() && ib.Ok());
    // What the window and the command line call before any merge.
    ASSERT_TRUE(Enc.LoadLibraries("")) << Enc.LastError;
    EXPECT_FALSE(ReencodeLoaded());

    ASSERT_TRUE(SetJoin({a, b}, Dir.File("fast.flv"), true)) << Enc.LastError;
    RunTask();
    EXPECT_FALSE(ReencodeLoaded());
    const test::MediaInfo fast = test::ReadMediaInfo(Dir.File("fast.flv"));
    ASSERT_TRUE(fast.Ok()) << fast.error;
    EXPECT_EQ(fast.Video()->packets, ia.Video()->packets + ib.Video()->packets);
    EXPECT_EQ(fast.Audio()->packets, ia.Audio()->packets + ib.Audio()->packets);

    ASSERT_TRUE(SetJoin({a, b}, Dir.File("again.mp4"), false)) << Enc.LastError;
    EXPECT_TRUE(FFLoader().Loaded(ReencodeLibraryKinds));
    RunTask();
    test::ReadOptions decode;
    decode.decode = true;
    const test::MediaInfo again = test::ReadMediaInfo(Dir.File("again.mp4"), decode);
    ASSERT_TRUE(again.Ok()) << again.error;
    EXPECT_EQ(again.Video()->codec, "h264");
    EXPECT_EQ(again.Video()->decodedFrames, ia.Video()->packets + ib.Video()->packets);
    EXPECT_EQ(again.Video()->decodeErrors, 0);
    ASSERT_NE(again.Audio(), nullptr);
    EXPECT_NEAR(double(again.Audio()->decodedSamples), 2 * 44100.0, 0.05 * 2 * 44100);
}

// Catches: a fast merge refused for a library only re-encoding uses, or a
// re-encode that starts without it instead of failing with the loader's
// text (and takes the copy libraries down with it).
TEST_F(EncoderLibraries, AMissingReencodeLibraryRefusesOnlyAReencode) {
    const std::string a = Clip("a.flv", {"--duration", "1"});
    const std::string folder = Dir.File("LibAV");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    const std::string broken = folder + "/" + FFLoader().LibraryFileName(lkAVFilter);
    std::ofstream(broken) << "not a library\n";
    FFLoader().SetLibraryPath(folder);

    ASSERT_TRUE(SetJoin({a, a}, Dir.File("fast.flv"), true)) << Enc.LastError;
    RunTask();
    EXPECT_TRUE(test::ReadMediaInfo(Dir.File("fast.flv")).Ok());

    EXPECT_FALSE(SetJoin({a, a}, Dir.File("slow.flv"), false));
    EXPECT_EQ(Enc.LastError.rfind("Load library " + broken + " error: ", 0), 0u) << Enc.LastError;
    EXPECT_FALSE(ReencodeLoaded());
    EXPECT_TRUE(Enc.LibrariesLoaded());

    // What could be copied still can.
    ASSERT_TRUE(SetJoin({a, a}, Dir.File("fast2.flv"), true)) << Enc.LastError;
    RunTask();
}

// Catches: an engine asked to re-encode without the resampling and filter
// libraries (loaded by someone who knew only of copies) calling an empty slot
// instead of failing with a message.
TEST_F(EncoderLibraries, AReencodeWithoutItsLibrariesFailsWithAMessage) {
    const std::string a = Clip("a.flv", {"--duration", "1"});
    ASSERT_TRUE(SetJoin({a}, Dir.File("slow.flv"), false)) << Enc.LastError;
    FFLoader().Unload(ReencodeLibraryKinds);
    Enc.Start(0);
    ASSERT_TRUE(Enc.Done);
    EXPECT_FALSE(Enc.Tasks(0).Finished);
    EXPECT_TRUE(Enc.Tasks(0).ErrorRaised);
    EXPECT_EQ(Enc.Tasks(0).ErrorMessage, "LibSwResample not loaded.");
}

}  // namespace
}  // namespace tw
