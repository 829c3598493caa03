// tests/openers/InputFile_test.cpp — opening input files into the engine.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "binding/FFLoad.h"
#include "binding/InterruptCB.h"
#include "diag/FFLog.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Media.h"
#include "tests/support/TempDir.h"
#include "transcoder/CustomFFmpeg.h"

namespace tw {
namespace {

class InputFile : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds)) << FFLoader().LastErrMsg();
        FFLogger()->SetLogLevel(llInfo);
        E = std::make_unique<TCustomFFmpeg>(20);
        E->SetVerbose(-1);
    }
    void TearDown() override { E.reset(); }
    std::string Clip(const std::string& name, const std::vector<std::string>& args = {}) {
        return test::GenerateClip(Dir.File(name), args);
    }

    test::LogCapture Log;
    test::TempDir Dir;
    std::unique_ptr<TCustomFFmpeg> E;
};

// Catches: the option state keeping the first input's parameters, inputs
// overwriting each other's slot, or the longest duration lost.
TEST_F(InputFile, TwoInputsOfDifferentSizes) {
    ASSERT_TRUE(E->OpenInputFile(Clip("a.flv", {"--duration", "3"}))) << E->LastError;
    EXPECT_EQ(E->FrameWidth, 320);
    ASSERT_TRUE(E->OpenInputFile(Clip("b.flv", {"--size", "640x360", "--sample-rate", "48000"})))
        << E->LastError;
    EXPECT_EQ(E->InputFileCount, 2);
    EXPECT_EQ(E->FrameWidth, 640);
    EXPECT_EQ(E->FrameHeight, 360);
    EXPECT_NEAR(E->FrameAspectRatio, 640.0 / 360.0, 1e-4);
    EXPECT_EQ(E->AudioSampleRate, 48000);
    EXPECT_EQ(E->AudioChannels, 2);
    EXPECT_EQ(E->FrameRate.num * 1.0 / E->FrameRate.den, 25.0);
    EXPECT_NE(E->InputFiles[0].get(), E->InputFiles[1].get());
    ASSERT_EQ(E->InputDecoders[1].size(), 2u);
    EXPECT_EQ(E->InputCodecCount(), 4);
    EXPECT_NEAR(E->TotalDuration, 3000000, 100000);  // the longer one
}

// Catches: the start position applied to every later input, or an offset
// that ignores the container's own start time.
TEST_F(InputFile, StartPositionAndOffsets) {
    E->SetOption("itsoffset", "5");
    E->SetOption("ss", "1");
    ASSERT_TRUE(E->OpenInputFile(Clip("start10.ts", {"--start-time", "10"}))) << E->LastError;
    const int64_t start = E->InputFiles[0]->start_time;
    EXPECT_NEAR(start, 10000000, 200000);
    EXPECT_EQ(E->StartTime, 0);
    EXPECT_EQ(E->InputTsOffsets[0], 5000000 - (1000000 + start));
    ASSERT_TRUE(E->OpenInputFile(Clip("b.flv"))) << E->LastError;
    // Not seeked, but the offset still applies.
    EXPECT_EQ(E->InputTsOffsets[1], 5000000 - E->InputFiles[1]->start_time);

    E->CopyTs = true;
    ASSERT_TRUE(E->OpenInputFile(Clip("c.flv"))) << E->LastError;
    EXPECT_EQ(E->InputTsOffsets[2], 5000000);
}

TEST_F(InputFile, FailuresRecordNothing) {
    const std::string missing = Dir.File("missing.flv");
    EXPECT_FALSE(E->OpenInputFile(missing));
    EXPECT_EQ(E->LastError, missing + ": No such file or directory");
    EXPECT_EQ(E->InputFileCount, 0);

    const std::string empty = Dir.File("empty.flv");
    std::ofstream(empty).close();
    EXPECT_FALSE(E->OpenInputFile(empty));
    EXPECT_EQ(E->LastError.rfind(empty + ": ", 0), 0u) << E->LastError;
    EXPECT_EQ(E->InputFileCount, 0);

    E->SetOption("vcodec", "no_such_decoder");
    EXPECT_FALSE(E->OpenInputFile(Clip("a.flv")));
    EXPECT_EQ(E->LastError, "Unknown decoder 'no_such_decoder'");
    EXPECT_TRUE(E->VideoCodecName.empty());  // consumed

    E->SetOption("f", "no_such_format");
    try {
        E->OpenInputFile(Clip("b.flv"));
        FAIL() << "no exception";
    } catch (const FFmpegException& e) {
        EXPECT_STREQ(e.what(), "Unknown input format: \"no_such_format\"");
    }
    EXPECT_EQ(E->InputFileCount, 0);
}

TEST_F(InputFile, ATruncatedFileAndOddNamesOpen) {
    ASSERT_TRUE(E->OpenInputFile(Clip("cut.flv", {"--truncate", "0.5"}))) << E->LastError;
    const std::string odd = Dir.File("a:b 合并.flv");
    ASSERT_EQ(rename(Clip("x.flv").c_str(), odd.c_str()), 0);
    ASSERT_TRUE(E->OpenInputFile(odd)) << E->LastError;
    EXPECT_EQ(E->InputFileCount, 2);
    E.reset();  // closes the custom I/O of the second input too
}

// Catches: an unknown duration (the no-time value) taken for a length.
TEST_F(InputFile, AFileWithoutDurationLeavesTheTotalAlone) {
    ASSERT_TRUE(E->OpenInputFile(Clip("a.flv"))) << E->LastError;
    const int64_t total = E->TotalDuration;
    EXPECT_GT(total, 0);
    ASSERT_TRUE(E->OpenInputFile(Clip("raw.h264", {"--no-audio", "--format", "h264"})))
        << E->LastError;
    EXPECT_EQ(E->InputFiles[1]->duration, AV_NOPTS_VALUE);
    EXPECT_EQ(E->TotalDuration, total);
}

TEST_F(InputFile, TheInputCapacityIsEnforced) {
    E = std::make_unique<TCustomFFmpeg>(1);
    E->SetVerbose(-1);
    const std::string a = Clip("a.flv");
    ASSERT_TRUE(E->OpenInputFile(a));
    EXPECT_FALSE(E->OpenInputFile(a));
    EXPECT_EQ(E->InputFileCount, 1);
}

// A local server that accepts a connection and never says anything.
struct SilentServer {
    int Fd = -1;
    int Port = 0;
    SilentServer() {
        Fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(Fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(Fd, 4);
        socklen_t len = sizeof addr;
        getsockname(Fd, reinterpret_cast<sockaddr*>(&addr), &len);
        Port = ntohs(addr.sin_port);
    }
    ~SilentServer() { close(Fd); }
    std::string Url() const { return "tcp://127.0.0.1:" + std::to_string(Port); }
};

TEST_F(InputFile, ABlockingOpenTimesOut) {
    SilentServer server;
    E->IOTimeout = 300;
    EXPECT_FALSE(E->OpenInputFile(server.Url()));
    EXPECT_TRUE(Log.Has("connecting/reading/writing timeout"));
    EXPECT_EQ(E->InputFileCount, 0);
    EXPECT_EQ(E->IOStartTime.load(), INT64_MAX);
}

// What a stop does to an engine that is opening on the caller's thread.
TEST_F(InputFile, ABlockingOpenIsCancelled) {
    SilentServer server;
    E->IOTimeout = 60000;
    std::atomic<bool> done{false};
    std::thread stopper([&] {
        while (!done && E->IOStartTime.load() == INT64_MAX) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        E->IOStartTime = 0;
    });
    EXPECT_FALSE(E->OpenInputFile(server.Url()));
    done = true;
    stopper.join();
    EXPECT_TRUE(Log.Has("connecting/reading/writing canceled"));
}

// Catches: a handler that throws during the open leaving the I/O check of
// this engine registered for the thread, so later reads on the thread ask an
// engine that may be gone (and give up when its open was cancelled).
TEST_F(InputFile, ThrowingHandlerLeavesNoIOCheckBehind) {
    const std::string a = Clip("a.flv", {"--duration", "0.5"});
    E->BeforeFindStreamInfoCallback = [](TCustomFFmpeg*, AVFormatContext*) {
        throw std::runtime_error("handler failed");
    };
    EXPECT_THROW(E->OpenInputFile(a), std::runtime_error);
    EXPECT_EQ(E->InputFileCount, 0);
    E->IOStartTime = 0;  // what a cancelled open leaves
    EXPECT_FALSE(InterruptCB()->Check(CurrentThreadID()));
    E->IOStartTime = INT64_MAX;
    E->BeforeFindStreamInfoCallback = nullptr;
    EXPECT_TRUE(E->OpenInputFile(a)) << E->LastError;
}

// Catches: a refusal late in the open (after the file was opened through our
// own I/O) that leaves the I/O check registered, keeps the consumed codec
// names and channel, or leaks the file's own I/O (LeakSanitizer).
TEST_F(InputFile, ALateRefusalUndoesTheOpenSteps) {
    const std::string odd = Dir.File("a:b.flv");
    std::rename(Clip("plain.flv", {"--duration", "0.5"}).c_str(), odd.c_str());
    E->SetOption("programid", "99");
    E->SetOption("vcodec", "h264");
    E->VideoChannel = 3;
    EXPECT_FALSE(E->OpenInputFile(odd));
    EXPECT_EQ(E->LastError, "Specified program id not found");
    EXPECT_EQ(E->InputFileCount, 0);
    EXPECT_TRUE(E->VideoCodecName.empty());
    EXPECT_EQ(E->VideoChannel, 0);
    E->IOStartTime = 0;  // what a cancelled open leaves
    EXPECT_FALSE(InterruptCB()->Check(CurrentThreadID()));
    E->IOStartTime = INT64_MAX;

    E->SetOption("programid", "0");
    ASSERT_TRUE(E->OpenInputFile(odd)) << E->LastError;
    EXPECT_EQ(E->InputFileCount, 1);
}

// Catches: an input with more streams than any video file has analysed
// (a decoder per stream: gigabytes for a thousand) instead of refused at
// once with its name and the count; and one at the limit refused.
TEST_F(InputFile, TooManyStreamsAreRefused) {
    const std::string many = Clip("many.mp4", {"--duration", "1", "--tracks", "99"});
    EXPECT_FALSE(E->OpenInputFile(many));
    EXPECT_EQ(E->LastError, many + ": 100 streams, more than a video file has (64 at most)");
    EXPECT_EQ(E->InputFileCount, 0);
    EXPECT_TRUE(E->OpenInputFile(Clip("limit.mp4", {"--duration", "1", "--tracks", "63"})))
        << E->LastError;
}

}  // namespace
}  // namespace tw
