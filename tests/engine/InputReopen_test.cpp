// tests/engine/InputReopen_test.cpp — inputs closed once probed and opened
// again when the join reads them: few sources open at a time, every packet
// of every source in the output, the same file as when all stay open, a
// source spoiled after it was probed failing the run by its name, and a FIFO
// among them read once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/EngineFixture.h"
#include "tests/support/JoinCheck.h"
#include "tests/support/OpenCount.h"

namespace tw {
namespace {

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Descriptors of this process that name one of the files.
int OpenDescriptorsOf(const std::set<std::string>& files) {
    int count = 0;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
        char target[PATH_MAX];
        const ssize_t n = ::readlink(e.path().c_str(), target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = 0;
        if (files.count(target)) ++count;
    }
    return count;
}

class InputReopen : public test::EngineTest {
  protected:
    std::unique_ptr<TCustomFFmpeg> NewEngine(bool reopen) {
        auto e = std::make_unique<TCustomFFmpeg>(20);
        e->SetVerbose(-1);
        e->ReopenInputs = reopen;
        e->ProgressIntervalUs = 0;  // a report after every packet
        return e;
    }
    std::string Join(TCustomFFmpeg& e, const std::vector<std::string>& inputs,
                     const std::string& out) {
        return test::RunEngine(e, inputs, out, {{"vcodec", "copy"}, {"acodec", "copy"}});
    }
    std::vector<std::string> Clips(int n, const std::string& ext) {
        std::vector<std::string> list;
        for (int i = 0; i < n; ++i)
            list.push_back(Clip("s" + std::to_string(i) + "." + ext,
                                {"--duration", "1", "--size", "160x120", "--pattern",
                                 std::to_string(i % 4), "--bframes", "2"}));
        return list;
    }
    // Replaces victim with replacement while the first input is being
    // copied; replaced tells that it happened.
    static void ReplaceDuringTheFirstInput(TCustomFFmpeg& e, const std::string& victim,
                                           const std::string& replacement, bool& replaced) {
        replaced = false;
        e.ProgressCallback = [victim, replacement, &replaced](TCustomFFmpeg*, int file, int64_t,
                                                              int64_t, int64_t, float, float, int,
                                                              int) {
            if (replaced || file != 0) return;
            replaced = true;
            std::filesystem::copy_file(replacement, victim,
                                       std::filesystem::copy_options::overwrite_existing);
        };
    }
    void ExpectEveryPacket(const std::string& out, const std::vector<std::string>& sources) {
        const test::JoinCheck c = test::CheckJoin(out, sources);
        ASSERT_TRUE(c.error.empty()) << c.error;
        ASSERT_EQ(c.parts.size(), sources.size());
        for (size_t k = 0; k < c.parts.size(); ++k) {
            SCOPED_TRACE("part " + std::to_string(k) + " from " + sources[k]);
            EXPECT_GT(c.parts[k].sourceVideoPackets, 0);
            EXPECT_EQ(c.parts[k].videoPackets, c.parts[k].sourceVideoPackets);
            EXPECT_EQ(c.parts[k].audioPackets, c.parts[k].sourceAudioPackets);
        }
        EXPECT_TRUE(c.videoDtsIncreasing);
        EXPECT_TRUE(c.audioDtsIncreasing);
        EXPECT_EQ(c.videoDecodeErrors, 0);
    }
};

// Catches: every source of a join kept open (with its demuxer's buffers)
// for the whole run, so that memory and descriptors grow with the number of
// sources; a reopened source read differently from one that stayed open.
TEST_F(InputReopen, ManySourcesWithAtMostTwoOpenAndEveryPacketCopied) {
    // Twenty of the case that matters most (FLV), a few of the others.
    for (const auto& [ext, count] :
         {std::pair<std::string, int>{"flv", 20}, {"mp4", 4}, {"ts", 4}, {"mkv", 4}}) {
        SCOPED_TRACE(ext);
        const std::vector<std::string> in = Clips(count, ext);
        std::set<std::string> names;
        for (const auto& f : in) names.insert(std::filesystem::canonical(f).string());

        auto e = NewEngine(true);
        int most = 0, mostCounted = 0;
        std::set<int> files;
        e->ProgressCallback = [&](TCustomFFmpeg* engine, int file, int64_t, int64_t, int64_t, float,
                                  float, int, int) {
            most = std::max(most, OpenDescriptorsOf(names));
            mostCounted = std::max(mostCounted, engine->OpenInputCount());
            files.insert(file);
        };
        const std::string out = Dir.File("lazy." + ext + ".flv");
        ASSERT_EQ(test::PrepareEngine(*e, in, out, {{"vcodec", "copy"}, {"acodec", "copy"}}), "");
        // Probed, described and closed, all but the first.
        EXPECT_EQ(OpenDescriptorsOf(names), 1);
        EXPECT_EQ(e->OpenInputCount(), 1);
        e->Start(false);
        ASSERT_FALSE(e->ErrorRaised) << e->ErrorMessage;
        ASSERT_TRUE(e->Finished);
        EXPECT_LE(most, 2);
        EXPECT_LE(mostCounted, 2);
        EXPECT_GE(files.size(), in.size());  // reports from every source (and the final one)
        ExpectEveryPacket(out, in);

        // Byte for byte what a join that keeps every source open writes.
        auto all = NewEngine(false);
        const std::string open = Dir.File("open." + ext + ".flv");
        ASSERT_EQ(Join(*all, in, open), "");
        EXPECT_TRUE(Contents(out) == Contents(open));
    }
}

// Catches: a source removed, or overwritten with junk, after it was probed
// read as far as it goes (or not at all) and the run reported finished; the
// failure not naming the source.
TEST_F(InputReopen, ASourceSpoiledAfterProbingFailsTheRunByItsName) {
    const std::vector<std::string> in = Clips(4, "flv");
    for (int removed = 0; removed < 2; ++removed) {
        SCOPED_TRACE(removed ? "removed" : "overwritten");
        const std::string victim = in[2];
        const std::string keep = Contents(victim);
        auto e = NewEngine(true);
        bool spoiled = false;
        e->ProgressCallback = [&](TCustomFFmpeg*, int file, int64_t, int64_t, int64_t, float, float,
                                  int, int) {
            if (spoiled || file != 0) return;
            spoiled = true;
            if (removed)
                std::remove(victim.c_str());
            else
                std::ofstream(victim, std::ios::binary | std::ios::trunc)
                    << std::string(70000, 'x');
        };
        const std::string out = Dir.File("out" + std::to_string(removed) + ".flv");
        const std::string error = Join(*e, in, out);
        EXPECT_TRUE(spoiled);
        EXPECT_TRUE(e->ErrorRaised);
        EXPECT_FALSE(e->Finished);
        EXPECT_NE(error.find(victim), std::string::npos) << error;
        std::ofstream(victim, std::ios::binary | std::ios::trunc) << keep;
    }
}

// Catches: a source with other streams than it was probed with (replaced
// by another recording) copied as if it were the one probed.
TEST_F(InputReopen, ASourceReplacedByOneWithOtherStreamsIsRefusedByItsName) {
    const std::vector<std::string> in = Clips(3, "flv");
    const std::string silent = Clip("silent.flv", {"--duration", "1", "--no-audio"});
    const std::string keep = Contents(in[1]);
    auto e = NewEngine(true);
    bool replaced = false;
    ReplaceDuringTheFirstInput(*e, in[1], silent, replaced);
    const std::string error = Join(*e, in, Dir.File("out.flv"));
    EXPECT_TRUE(replaced);
    EXPECT_FALSE(e->Finished);
    EXPECT_EQ(error, in[1] + ": the file has changed since it was opened (its streams differ)");
    std::ofstream(in[1], std::ios::binary | std::ios::trunc) << keep;
}

// Catches: a source opened again analysed all over, although its MP4 index
// shows the streams it was probed with and every packet's times; a
// Matroska, MPEG-TS or FLV source opened again without the short analysis
// that finds its streams and packet durations, or with a full one.
TEST_F(InputReopen, ASourceOpenedAgainIsNotAnalysedAgainWhenItsHeaderSuffices) {
    for (const std::string ext : {"mp4", "mkv", "ts", "flv"}) {
        SCOPED_TRACE(ext);
        const std::vector<std::string> in = Clips(3, ext);
        auto e = NewEngine(true);
        const std::string out = Dir.File("counted." + ext + ".flv");
        ASSERT_EQ(test::PrepareEngine(*e, in, out, {{"vcodec", "copy"}, {"acodec", "copy"}}), "");
        test::OpenCount count;
        e->Start(false);
        ASSERT_FALSE(e->ErrorRaised) << e->ErrorMessage;
        EXPECT_EQ(count.Opens(in[0]), 0);
        const bool header = ext == "mp4";
        for (size_t k = 1; k < in.size(); ++k) {
            EXPECT_EQ(count.Opens(in[k]), 1);
            EXPECT_EQ(count.Analyses(in[k]), header ? 0 : 1);
        }
        ExpectEveryPacket(out, in);
    }
}

// Catches: Matroska sources opened again without an analysis, whose AAC
// packets then come without their durations: the MP4 output's audio times
// differ from those of a join that keeps every source open.
TEST_F(InputReopen, MatroskaSourcesOpenedAgainKeepTheirPacketDurations) {
    const std::vector<std::string> in = Clips(3, "mkv");
    auto lazy = NewEngine(true);
    ASSERT_EQ(Join(*lazy, in, Dir.File("lazy.mp4")), "");
    auto all = NewEngine(false);
    ASSERT_EQ(Join(*all, in, Dir.File("open.mp4")), "");
    EXPECT_TRUE(Contents(Dir.File("lazy.mp4")) == Contents(Dir.File("open.mp4")));
}

// Catches: a source replaced by one with other streams passing as the one
// probed because its reopen took the header's streams without a look (or
// failing with another text than the FLV case).
TEST_F(InputReopen, ASourceReplacedInAnyContainerIsRefusedByItsName) {
    for (const std::string ext : {"mp4", "mkv", "ts"}) {
        SCOPED_TRACE(ext);
        const std::vector<std::string> in = Clips(3, ext);
        const std::string silent =
            Clip("silent." + ext, {"--duration", "1", "--size", "160x120", "--no-audio"});
        auto e = NewEngine(true);
        bool replaced = false;
        ReplaceDuringTheFirstInput(*e, in[2], silent, replaced);
        const std::string error = Join(*e, in, Dir.File("replaced." + ext + ".flv"));
        EXPECT_TRUE(replaced);
        EXPECT_FALSE(e->Finished);
        EXPECT_EQ(error, in[2] + ": the file has changed since it was opened (its streams differ)");
    }
}

// Catches: a FIFO among the sources closed after probing (it cannot be
// opened again: its data is gone) instead of staying open until it is read.
TEST_F(InputReopen, AFifoBetweenSourcesIsReadOnce) {
    const std::vector<std::string> clips = Clips(4, "flv");
    const std::string fifo = Dir.File("pipe.flv");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string data = Contents(clips[1]);
    std::thread writer([&] {
        const int fd = ::open(fifo.c_str(), O_WRONLY);
        if (fd < 0) return;
        for (size_t done = 0; done < data.size();) {
            const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        ::close(fd);
    });
    auto e = NewEngine(true);
    const std::string out = Dir.File("out.flv");
    const std::string error = Join(*e, {clips[0], fifo, clips[2], clips[3]}, out);
    writer.join();
    ASSERT_EQ(error, "");
    ExpectEveryPacket(out, clips);
}

}  // namespace
}  // namespace tw
