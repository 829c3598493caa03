// tests/engine/CopyJoin_test.cpp — running the engine: joining generated clips
// by stream copy, stopping, and failures of a run.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "binding/FFLoad.h"
#include "diag/FFLog.h"
#include "tests/support/EngineFixture.h"
#include "tests/support/Media.h"
#include "tests/support/Pictures.h"
#include "tests/support/TempDir.h"
#include "transcoder/CustomFFmpeg.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace tw {
namespace {

class CopyJoin : public test::EngineTest {
  protected:
    std::unique_ptr<TCustomFFmpeg> NewEngine() {
        auto e = std::make_unique<TCustomFFmpeg>(20);
        e->SetVerbose(-1);
        e->TerminateCallback = [this](TCustomFFmpeg*) { ++Terminations; };
        return e;
    }
    // Opens the inputs and a joined copy output; false with a gtest failure.
    bool Prepare(TCustomFFmpeg& e, const std::vector<std::string>& inputs, const std::string& out) {
        const std::string error =
            test::PrepareEngine(e, inputs, out, {{"vcodec", "copy"}, {"acodec", "copy"}});
        if (!error.empty()) ADD_FAILURE() << error;
        return error.empty();
    }
    std::atomic<int> Terminations{0};
};

// Catches: lost or duplicated packets at a join, timestamps that go back, a
// second file that starts anywhere but where the first ended.
TEST_F(CopyJoin, ThreeFlvClips) {
    const std::vector<std::string> inputs = {Clip("a.flv", {"--duration", "2"}),
                                             Clip("b.flv", {"--duration", "3", "--pattern", "1"}),
                                             Clip("c.flv", {"--duration", "1", "--pattern", "2"})};
    const std::string out = Dir.File("joined.flv");
    auto e = NewEngine();
    ASSERT_TRUE(Prepare(*e, inputs, out));
    int lastFile = 0, lastFrames = 0;
    e->ProgressCallback = [&](TCustomFFmpeg*, int file, int64_t, int64_t, int64_t, float, float,
                              int, int frames) {
        lastFile = file;
        lastFrames = frames;
    };
    e->Start(false);
    EXPECT_TRUE(e->Finished);
    EXPECT_FALSE(e->ErrorRaised) << e->ErrorMessage;
    EXPECT_TRUE(e->Terminated);
    EXPECT_EQ(Terminations, 1);

    // Each clip ends where its longer stream ends; the next one starts there.
    int64_t videoPackets = 0, audioPackets = 0;
    std::vector<double> ends;
    for (const auto& in : inputs) {
        const test::MediaInfo info = test::ReadMediaInfo(in);
        videoPackets += info.Video()->packets;
        audioPackets += info.Audio()->packets;
        ends.push_back(std::max(*info.Video()->endTime, *info.Audio()->endTime));
    }
    const test::MediaInfo joined = test::ReadMediaInfo(out);
    ASSERT_TRUE(joined.Ok()) << joined.error;
    EXPECT_TRUE(joined.readError.empty()) << joined.readError;
    ASSERT_NE(joined.Video(), nullptr);
    ASSERT_NE(joined.Audio(), nullptr);
    EXPECT_EQ(joined.Video()->packets, videoPackets);
    EXPECT_EQ(joined.Audio()->packets, audioPackets);
    // The final report speaks of every picture of the join.
    EXPECT_EQ(lastFile, -1);
    EXPECT_EQ(lastFrames, videoPackets);
    EXPECT_TRUE(joined.Video()->dtsMonotonic);
    EXPECT_TRUE(joined.Audio()->dtsMonotonic);
    ASSERT_TRUE(joined.duration);
    EXPECT_NEAR(*joined.duration, ends[0] + ends[1] + ends[2], 0.041);

    // The first picture of the second clip comes where the first clip ended,
    // the third's where the second ended.
    const std::vector<double> times = test::PacketTimes(out, "video");
    const size_t firstOfB = static_cast<size_t>(test::ReadMediaInfo(inputs[0]).Video()->packets);
    const size_t firstOfC =
        firstOfB + static_cast<size_t>(test::ReadMediaInfo(inputs[1]).Video()->packets);
    ASSERT_GT(times.size(), firstOfC);
    EXPECT_NEAR(times[firstOfB], ends[0], 0.002);
    EXPECT_NEAR(times[firstOfC], ends[0] + ends[1], 0.002);
    EXPECT_GT(times[firstOfB], times[firstOfB - 1]);
}

TEST_F(CopyJoin, NonZeroStartTimesAndCopyTs) {
    const std::vector<std::string> inputs = {
        Clip("a.ts", {"--duration", "2"}), Clip("b.ts", {"--duration", "2", "--start-time", "10"})};
    {
        const std::string out = Dir.File("joined.flv");
        auto e = NewEngine();
        ASSERT_TRUE(Prepare(*e, inputs, out));
        e->Start(false);
        ASSERT_FALSE(e->ErrorRaised) << e->ErrorMessage;
        const test::MediaInfo joined = test::ReadMediaInfo(out);
        ASSERT_TRUE(joined.Ok());
        EXPECT_TRUE(joined.Video()->dtsMonotonic);
        ASSERT_TRUE(joined.duration);
        EXPECT_NEAR(*joined.duration, 4.0, 0.15);  // B starts where A ended, not at 10 s
    }
    {
        const std::string out = Dir.File("copyts.flv");
        auto e = NewEngine();
        e->SetOption("copyts", "1");
        ASSERT_TRUE(Prepare(*e, inputs, out));
        e->Start(false);
        ASSERT_FALSE(e->ErrorRaised) << e->ErrorMessage;
        const test::MediaInfo joined = test::ReadMediaInfo(out);
        ASSERT_TRUE(joined.Ok());
        ASSERT_TRUE(joined.Video()->lastPts);
        EXPECT_GT(*joined.Video()->lastPts, 12.0);  // B keeps its own start on top
    }
}

TEST_F(CopyJoin, Mp4AndTransportStreamIntoFlv) {
    const std::vector<std::string> inputs = {Clip("a.mp4"), Clip("b.ts", {"--pattern", "1"})};
    const std::string out = Dir.File("joined.flv");
    auto e = NewEngine();
    ASSERT_TRUE(Prepare(*e, inputs, out));
    e->Start(false);
    ASSERT_FALSE(e->ErrorRaised) << e->ErrorMessage;
    EXPECT_TRUE(e->Finished);
    const test::MediaInfo joined = test::ReadMediaInfo(out, {.decode = true});
    ASSERT_TRUE(joined.Ok()) << joined.error;
    EXPECT_EQ(joined.Video()->codec, "h264");
    EXPECT_EQ(joined.Video()->decodeErrors, 0);
    EXPECT_TRUE(joined.Video()->dtsMonotonic);
    ASSERT_TRUE(joined.duration);
    EXPECT_NEAR(*joined.duration, 4.0, 0.15);
}

// Catches: a stop that leaves a file without trailer, a second terminate
// notification, or Finished claimed after a stop.
TEST_F(CopyJoin, StopDuringTheFirstInput) {
    const std::vector<std::string> inputs = {Clip("a.flv", {"--duration", "20"}), Clip("b.flv"),
                                             Clip("c.flv")};
    const std::string out = Dir.File("stopped.flv");
    auto e = NewEngine();
    ASSERT_TRUE(Prepare(*e, inputs, out));
    std::atomic<bool> reached{false};
    std::atomic<int> fileIndex{-2};
    e->ProgressIntervalUs = 0;
    // Copying is fast: the worker waits in its report until the stop has
    // been asked for, as if the user had pressed the button just then.
    e->ProgressCallback = [&](TCustomFFmpeg* engine, int file, int64_t, int64_t current, int64_t,
                              float, float, int, int) {
        if (current > 1000000 && !reached) {
            fileIndex = file;
            reached = true;
            while (!engine->StopRequested)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    TConvertThread* worker = e->Start(true);
    ASSERT_NE(worker, nullptr);
    worker->Resume();
    while (!reached && !e->Terminated) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    e->Stop(true);
    EXPECT_EQ(fileIndex, 0);
    EXPECT_FALSE(e->Finished);
    EXPECT_FALSE(e->ErrorRaised) << e->ErrorMessage;
    EXPECT_EQ(Terminations, 1);
    e.reset();
    EXPECT_EQ(Terminations, 1);
    const test::MediaInfo info = test::ReadMediaInfo(out);
    ASSERT_TRUE(info.Ok()) << info.error;
    EXPECT_TRUE(info.readError.empty()) << info.readError;
    ASSERT_NE(info.Video(), nullptr);
    EXPECT_GT(info.Video()->packets, 0);
    EXPECT_LT(info.Video()->packets, 500);  // the 20 s clip was not copied whole
}

// Catches: a run that reads its option values live, so that one changed
// while it goes on (here the recording time, from its progress handler)
// cuts the output short.
TEST_F(CopyJoin, OptionsChangedDuringARunDoNotReachIt) {
    const std::vector<std::string> inputs = {Clip("a.flv", {"--duration", "1"}),
                                             Clip("b.flv", {"--duration", "1", "--pattern", "1"})};
    const std::string out = Dir.File("joined.flv");
    auto e = NewEngine();
    ASSERT_TRUE(Prepare(*e, inputs, out));
    e->ProgressIntervalUs = 0;
    e->ProgressCallback = [](TCustomFFmpeg* engine, const TProgress&) {
        engine->RecordingTime = 1;
    };
    e->Start(false);
    EXPECT_TRUE(e->Finished);
    EXPECT_FALSE(e->ErrorRaised) << e->ErrorMessage;
    EXPECT_EQ(e->RecordingTime, 1);
    int64_t sourcePackets = 0;
    for (const std::string& in : inputs) {
        const test::MediaInfo info = test::ReadMediaInfo(in);
        ASSERT_NE(info.Video(), nullptr);
        sourcePackets += info.Video()->packets;
    }
    const test::MediaInfo joined = test::ReadMediaInfo(out);
    ASSERT_TRUE(joined.Ok()) << joined.error;
    ASSERT_NE(joined.Video(), nullptr);
    EXPECT_EQ(joined.Video()->packets, sourcePackets);
}

// Catches: the run moving the inputs' own timestamp offsets (where it places
// a joined input) instead of its own, so that the engine's tables no longer
// say what the inputs were opened with.
TEST_F(CopyJoin, TheRunPlacesInputsWithItsOwnOffsets) {
    const std::vector<std::string> inputs = {Clip("a.flv", {"--duration", "1"}),
                                             Clip("b.flv", {"--duration", "1", "--pattern", "1"})};
    const std::string out = Dir.File("joined.flv");
    auto e = NewEngine();
    ASSERT_TRUE(Prepare(*e, inputs, out));
    const std::vector<int64_t> before = e->InputTsOffsets;
    e->Start(false);
    EXPECT_TRUE(e->Finished);
    EXPECT_FALSE(e->ErrorRaised) << e->ErrorMessage;
    EXPECT_EQ(e->InputTsOffsets, before);
    // The second input still went after the first.
    const test::MediaInfo joined = test::ReadMediaInfo(out);
    ASSERT_TRUE(joined.Ok()) << joined.error;
    ASSERT_TRUE(joined.duration.has_value());
    EXPECT_GT(*joined.duration, 1.8);
}

TEST_F(CopyJoin, ATruncatedInputEndsAndTheJoinGoesOn) {
    const std::vector<std::string> inputs = {
        Clip("cut.flv", {"--duration", "4", "--truncate", "0.5"}),
        Clip("b.flv", {"--duration", "2"})};
    const std::string out = Dir.File("joined.flv");
    auto e = NewEngine();
    ASSERT_TRUE(Prepare(*e, inputs, out));
    e->Start(false);
    EXPECT_FALSE(e->ErrorRaised) << e->ErrorMessage;
    EXPECT_TRUE(e->Finished);
    const test::MediaInfo joined = test::ReadMediaInfo(out);
    ASSERT_TRUE(joined.Ok());
    EXPECT_EQ(joined.Video()->packets, test::ReadMediaInfo(inputs[0]).Video()->packets +
                                           test::ReadMediaInfo(inputs[1]).Video()->packets);
    EXPECT_TRUE(joined.Video()->dtsMonotonic);
}

TEST_F(CopyJoin, FailuresOfARun) {
    {
        auto e = NewEngine();
        EXPECT_EQ(e->Start(false), nullptr);
        EXPECT_TRUE(e->ErrorRaised);
        EXPECT_EQ(e->ErrorMessage, "At least one output file must be specified");
        EXPECT_EQ(Terminations, 1);
        EXPECT_EQ(e->Start(false), nullptr);  // terminated: never again
        EXPECT_EQ(Terminations, 1);
    }
    {
        // A setup failure (a joined input without the audio the output has)
        // leaves no output file behind.
        const std::string out = Dir.File("never.flv");
        auto e = NewEngine();
        EXPECT_EQ(test::RunEngine(*e, {Clip("a.flv"), Clip("v.flv", {"--no-audio"})}, out,
                                  {{"vcodec", "copy"}, {"acodec", "copy"}}),
                  "Could not find input stream matching output stream #1.1 (Audio)");
        EXPECT_TRUE(e->ErrorRaised);
        EXPECT_FALSE(e->Finished);
        struct stat st;
        EXPECT_NE(stat(out.c_str(), &st), 0) << "empty output left behind";
    }
    if (access("/dev/full", W_OK) == 0) {
        // A full disk fails the run, also when only the last writes fail.
        auto e = NewEngine();
        ASSERT_TRUE(e->OpenInputFile(Clip("a.flv")));
        e->SetOption("f", "flv");
        e->SetOption("vcodec", "copy");
        e->SetOption("acodec", "copy");
        ASSERT_EQ(e->OpenOutputFile("/dev/full", false), 1) << e->LastError;
        e->Start(false);
        EXPECT_TRUE(e->ErrorRaised);
        EXPECT_FALSE(e->Finished);
        EXPECT_NE(e->ErrorMessage.find("No space left on device"), std::string::npos)
            << e->ErrorMessage;
    }
}

TEST_F(CopyJoin, AnEngineThatNeverRanIsTerminatedOnce) {
    auto e = NewEngine();
    e->Terminate(true);
    EXPECT_TRUE(e->Terminated);
    EXPECT_EQ(Terminations, 1);
    e->Terminate(true);
    EXPECT_EQ(Terminations, 1);
}

// Catches: a worker started twice when the encoder resumes it while a
// stopping caller does, a Stop that returns before a never-resumed worker
// has run, and a second terminate notification from a direct DoTerminate.
TEST_F(CopyJoin, AStopBeforeTheWorkerWasResumed) {
    const std::string out = Dir.File("early.flv");
    auto e = NewEngine();
    ASSERT_TRUE(Prepare(*e, {Clip("a.flv"), Clip("b.flv")}, out));
    TConvertThread* worker = e->Start(true);
    ASSERT_NE(worker, nullptr);
    EXPECT_TRUE(worker->Suspended());
    std::thread resumer([worker] { worker->Resume(); });
    e->Stop(true);
    resumer.join();
    worker->Resume();
    EXPECT_FALSE(worker->Suspended());
    EXPECT_FALSE(e->Running);
    EXPECT_TRUE(e->Terminated);
    EXPECT_FALSE(e->Finished);
    EXPECT_EQ(Terminations, 1);
    e->DoTerminate();
    e->Terminate(true);
    e.reset();
    EXPECT_EQ(Terminations, 1);
}

}  // namespace
}  // namespace tw
