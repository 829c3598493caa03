// tests/app/SourceOpens_test.cpp — how often a merge opens each source and
// analyses its streams: the command line's survey, the driver and the
// engine share what was read, and a fast merge that opens a source again
// when it comes to it does not analyse it all over.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/JoinDriver.h"
#include "probe/SourceLength.h"
#include "media/SourceSurvey.h"
#include "tests/support/EncoderFixture.h"
#include "tests/support/JoinCheck.h"
#include "tests/support/OpenCount.h"
#include "tests/support/ScriptedUser.h"

namespace tw {
namespace {

class JoinDriverOpens : public test::EncoderTest {
  protected:
    // One encoding in three containers whose analysis differs: MPEG-TS
    // shows its streams as its packets come, Matroska in its header but
    // without every packet's duration, MP4 with an index of every packet.
    std::vector<std::string> Sources() {
        std::vector<std::string> files;
        int pattern = 0;
        for (const char* ext : {"ts", "mkv", "mp4"})
            files.push_back(
                Clip(std::string("s.") + ext, {"--duration", "1", "--size", "160x120", "--bframes",
                                               "2", "--pattern", std::to_string(pattern++)}));
        return files;
    }
    // What the command line does before a merge: open and survey every
    // source, measure its readable length; the facts go to the merge.
    std::vector<TSourceFacts> Survey(const std::vector<std::string>& files) {
        std::vector<TSourceFacts> facts;
        for (const auto& f : files) {
            TFFDecoder d;
            EXPECT_TRUE(d.LoadFile(f)) << d.LastError;
            facts.push_back(SurveySource(d.FormatContext(), f));
            MeasureSource(d.FormatContext());
        }
        return facts;
    }
    void ExpectEveryPacket(const std::string& out, const std::vector<std::string>& sources) {
        const test::JoinCheck c = test::CheckJoin(out, sources);
        ASSERT_TRUE(c.error.empty()) << c.error;
        ASSERT_EQ(c.parts.size(), sources.size());
        for (size_t k = 0; k < c.parts.size(); ++k) {
            SCOPED_TRACE(sources[k]);
            EXPECT_EQ(c.parts[k].videoPackets, c.parts[k].sourceVideoPackets);
            EXPECT_EQ(c.parts[k].audioPackets, c.parts[k].sourceAudioPackets);
        }
        EXPECT_EQ(c.videoDecodeErrors, 0);
    }
    test::ScriptedUser User;
};

// Catches: the driver opening and analysing the first source once more for
// its output options although the engine has it open; the facts the command
// line read not reaching the merge; a fast merge analysing a source whose
// header describes its streams all over again when it reopens it.
TEST_F(JoinDriverOpens, CommandLineFastMergeReusesTheSurveyAndTheEnginesOpen) {
    const std::vector<std::string> files = Sources();
    test::OpenCount count;
    TJoinSettings settings;
    settings.FastJoin = true;
    settings.Sources = Survey(files);
    std::vector<std::string> list = files;
    ASSERT_EQ(MergeWithChecks(User, Enc, list, Dir.File("out.flv"), settings), jrDone)
        << User.Last();
    // The survey's open and analysis, then the engine's: the first source
    // is kept open for the run, the later ones are opened again when the
    // merge comes to them. Matroska is read a little then to learn its
    // packet durations again; MP4 is not analysed again.
    EXPECT_EQ(count.Opens(files[0]), 2);
    EXPECT_EQ(count.Analyses(files[0]), 2);
    EXPECT_EQ(count.Opens(files[1]), 3);
    EXPECT_EQ(count.Analyses(files[1]), 3);
    EXPECT_EQ(count.Opens(files[2]), 3);
    EXPECT_EQ(count.Analyses(files[2]), 2);
    ExpectEveryPacket(Dir.File("out.flv"), files);
}

// Catches: the same repeats in a merge started from the window (no survey
// before it): one analysis of each source, two opens at most.
TEST_F(JoinDriverOpens, WindowFastMergeOpensEachSourceForTheSetUpAndItsTurn) {
    const std::vector<std::string> files = Sources();
    test::OpenCount count;
    TJoinSettings settings;
    settings.FastJoin = true;
    std::vector<std::string> list = files;
    ASSERT_EQ(MergeWithChecks(User, Enc, list, Dir.File("out.flv"), settings), jrDone)
        << User.Last();
    EXPECT_EQ(count.Opens(files[0]), 1);
    EXPECT_EQ(count.Analyses(files[0]), 1);
    EXPECT_EQ(count.Opens(files[1]), 2);
    EXPECT_EQ(count.Analyses(files[1]), 2);
    EXPECT_EQ(count.Opens(files[2]), 2);
    EXPECT_EQ(count.Analyses(files[2]), 1);
    ExpectEveryPacket(Dir.File("out.flv"), files);
}

// Catches: a re-encoding merge analysing its first source twice (the
// driver's own load beside the engine's), from the window and from the
// command line (whose survey is the only other analysis).
TEST_F(JoinDriverOpens, ReencodingMergeAnalysesEachSourceOnce) {
    const std::vector<std::string> files = Sources();
    for (const bool surveyed : {false, true}) {
        SCOPED_TRACE(surveyed ? "command line" : "window");
        TJoinSettings settings;
        const int before = surveyed ? 1 : 0;
        test::OpenCount count;
        if (surveyed) settings.Sources = Survey(files);
        std::vector<std::string> list = files;
        const std::string out = Dir.File(surveyed ? "cli.mp4" : "window.mp4");
        settings.Container = "mp4";
        ASSERT_EQ(MergeWithChecks(User, Enc, list, out, settings), jrDone) << User.Last();
        for (const auto& f : files) {
            SCOPED_TRACE(f);
            EXPECT_EQ(count.Opens(f), before + 1);
            EXPECT_EQ(count.Analyses(f), before + 1);
        }
        // Every picture of every source, re-encoded (the change of clock at a
        // join may repeat one).
        const test::JoinCheck c = test::CheckJoin(out, files);
        ASSERT_TRUE(c.error.empty()) << c.error;
        int64_t pictures = 0;
        for (const auto& p : c.parts) pictures += p.sourceVideoPackets;
        EXPECT_GE(c.videoFrames, pictures);
        EXPECT_LE(c.videoFrames, pictures + int64_t(files.size()));
        EXPECT_EQ(c.videoDecodeErrors, 0);
        EXPECT_EQ(c.audioDecodeErrors, 0);
    }
}

// Catches: a smart merge surveying its sources once more after the command
// line did, and each of its merges (the re-encoded part, the copy) loading
// its first file again beside the engine.
TEST_F(JoinDriverOpens, SmartMergeTakesTheSurveyAndOpensEachSourceForItsStepsOnly) {
    const std::vector<std::string> base = {"--duration", "1", "--bframes", "2"};
    auto clip = [&](const std::string& name, const std::string& size) {
        std::vector<std::string> args = base;
        args.insert(args.end(), {"--size", size});
        return Clip(name, args);
    };
    // The second has another size: it is re-encoded; the others are copied.
    const std::vector<std::string> files = {clip("a.mp4", "160x120"), clip("b.mp4", "320x240"),
                                            clip("c.mp4", "160x120")};
    test::OpenCount count;
    TJoinSettings settings;
    settings.SmartJoin = true;
    settings.Sources = Survey(files);
    std::vector<std::string> list = files;
    ASSERT_EQ(MergeWithChecks(User, Enc, list, Dir.File("smart.flv"), settings), jrDone)
        << User.Last();
    // The survey, then the copy's engine (first source kept open), or the
    // part's engine (the source re-encoded), or the copy's engine and its
    // reopen without a second analysis.
    EXPECT_EQ(count.Opens(files[0]), 2);
    EXPECT_EQ(count.Analyses(files[0]), 2);
    EXPECT_EQ(count.Opens(files[1]), 2);
    EXPECT_EQ(count.Analyses(files[1]), 2);
    EXPECT_EQ(count.Opens(files[2]), 3);
    EXPECT_EQ(count.Analyses(files[2]), 2);
    const test::MediaInfo out = test::ReadMediaInfo(Dir.File("smart.flv"));
    ASSERT_TRUE(out.Ok()) << out.error;
    int64_t pictures = 0;
    for (const auto& f : files) pictures += test::ReadMediaInfo(f).Video()->packets;
    EXPECT_EQ(out.Video()->packets, pictures);
}

}  // namespace
}  // namespace tw
