// tests/reencode/TranscodeErrors_test.cpp — how the transcode reacts to a
// packet its decoder refuses, with and without "xerror", and the two-pass
// statistics file of the first pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "binding/FFLoad.h"
#include "diag/FFLog.h"
#include "tests/support/EngineFixture.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Media.h"
#include "tests/support/TempDir.h"
#include "transcoder/CustomFFmpeg.h"

namespace tw {
namespace {

using Options = test::EngineOptions;

class TranscodeErrors : public test::EngineTest {
  protected:
    struct TOutcome {
        bool Finished = false;
        bool ErrorRaised = false;
        std::string ErrorMessage;
    };
    TOutcome Run(const std::string& in, const std::string& out, const Options& output) {
        TCustomFFmpeg e(4);
        e.SetVerbose(0);
        EXPECT_EQ(test::PrepareEngine(e, {in}, out, output, {}, false), "");
        e.Start(false);
        return {e.Finished, e.ErrorRaised, e.ErrorMessage};
    }
    // An audio-only clip whose AAC packets 10 to 12 are overwritten with
    // zeros: the decoder refuses each of them (no parser in between).
    std::string DamagedAudioClip() {
        const std::string path =
            test::GenerateClip(Dir.File("a.flv"), {"--duration", "2", "--no-video"});
        std::vector<std::vector<uint8_t>> payloads;
        {
            AVFormatContext* ic = nullptr;
            EXPECT_GE(avformat_open_input(&ic, path.c_str(), nullptr, nullptr), 0);
            AVPacket* pkt = av_packet_alloc();
            for (int n = 0; av_read_frame(ic, pkt) >= 0; ++n) {
                if (n >= 10 && n <= 12) payloads.emplace_back(pkt->data, pkt->data + pkt->size);
                av_packet_unref(pkt);
            }
            av_packet_free(&pkt);
            avformat_close_input(&ic);
        }
        std::ifstream f(path, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), {});
        f.close();
        for (const auto& p : payloads) {
            auto at = std::search(bytes.begin(), bytes.end(), p.begin(), p.end());
            EXPECT_NE(at, bytes.end());
            if (at != bytes.end()) std::fill(at, at + p.size(), 0);
        }
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return path;
    }
};

// Catches: a packet the decoder refuses ending the run without "xerror"
// (it is logged and the run goes on), or not ending it with "xerror" (the
// run fails with the text), once the failure travels as an exception.
TEST_F(TranscodeErrors, RefusedPacketStopsOnlyWithExitOnError) {
    const std::string in = DamagedAudioClip();
    const std::string text = "Error while decoding stream #0.0 (Audio)";
    {
        test::LogCapture log;
        const TOutcome r = Run(in, Dir.File("go-on.flv"), {{"acodec", "aac"}});
        EXPECT_TRUE(r.Finished);
        EXPECT_FALSE(r.ErrorRaised) << r.ErrorMessage;
        EXPECT_GE(log.Count(text), 1);
        EXPECT_TRUE(log.Has(llVerbose, text));
    }
    {
        const TOutcome r = Run(in, Dir.File("stop.flv"), {{"acodec", "aac"}, {"xerror", "1"}});
        EXPECT_FALSE(r.Finished);
        EXPECT_TRUE(r.ErrorRaised);
        EXPECT_EQ(r.ErrorMessage, text);
    }
}

// Catches: the first pass's statistics file not written out completely or
// left open when the run ends (its owner closes it now, not a hand-written
// fclose in the release step).
TEST_F(TranscodeErrors, FirstPassWritesItsStatisticsFile) {
    const std::string in = test::GenerateClip(Dir.File("v.flv"), {"--duration", "1"});
    const std::string prefix = Dir.File("stats");
    const TOutcome r =
        Run(in, Dir.File("pass1.flv"),
            {{"vcodec", "flv"}, {"an", "1"}, {"pass", "1"}, {"passlogfile", prefix}});
    ASSERT_TRUE(r.Finished) << r.ErrorMessage;
    std::ifstream f(prefix + "-0.log");
    ASSERT_TRUE(f.good());
    std::string text((std::istreambuf_iterator<char>(f)), {});
    // The mpegvideo encoders write one line per picture, each ending in a newline.
    EXPECT_GE(std::count(text.begin(), text.end(), '\n'), 20);
    EXPECT_EQ(text.back(), '\n');
}

}  // namespace
}  // namespace tw
