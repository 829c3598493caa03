// tests/reencode/EngineFaults_test.cpp — faults of the re-encoding engine
// found on real runs: PCM packets, silence of unsigned audio, "vf" in a
// join, a failed input open, a stop during rate emulation, the encoder's
// reason for not opening, the decoders' thread count, and a source ending in
// a damaged picture.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "binding/FFLoad.h"
#include "diag/FFLog.h"
#include "tests/support/EngineFixture.h"
#include "tests/support/Frames.h"
#include "tests/support/Media.h"
#include "tests/support/Remux.h"
#include "tests/support/TempDir.h"
#include "transcoder/CustomFFmpeg.h"

namespace tw {
namespace {

using Options = test::EngineOptions;

class EngineFaults : public test::EngineTest {
  protected:
    EngineFaults() { ClipDefaults = {"--duration", "1"}; }
    // Opens the inputs (input options before them), then the output with
    // its options, joined when there are several inputs, and runs.
    bool Run(const std::vector<std::string>& inputs, const std::string& out, const Options& output,
             const Options& input = {}) {
        TCustomFFmpeg e(8);
        e.SetVerbose(-1);
        Error = test::RunEngine(e, inputs, out, output, input, inputs.size() > 1);
        return Error.empty();
    }
    std::string Error;
};

// Catches: a PCM encoder (no fixed frame size) given one sample per packet
// instead of each decoded buffer whole.
TEST_F(EngineFaults, PcmPacketsCarryWholeBuffers) {
    const std::string src = Clip("a.flv", {"--no-video"});
    const std::string out = Dir.File("pcm.mkv");
    ASSERT_TRUE(Run({src}, out, {{"acodec", "pcm_s16le"}})) << Error;
    const test::MediaInfo in = test::ReadMediaInfo(src, {.decode = true});
    const test::MediaInfo res = test::ReadMediaInfo(out, {.decode = true});
    ASSERT_TRUE(res.Ok()) << res.error;
    EXPECT_LE(res.Audio()->packets, in.Audio()->decodedFrames + 2);
    EXPECT_NEAR(res.Audio()->decodedSamples, in.Audio()->decodedSamples, 64);
}

// Catches: silence inserted as zero bytes into unsigned 8-bit audio, where
// zero is full negative scale (a loud click and an offset), not silence.
TEST_F(EngineFaults, InsertedSilenceOfUnsignedAudioIsMidScale) {
    const std::string src = Clip("u8.mkv", {"--audio-codec", "pcm_u8", "--duration", "1.5"});
    const std::string late = Dir.File("late.mkv");
    ASSERT_TRUE(test::ShiftAudio(src, late, 0.5));
    const std::string out = Dir.File("out.mkv");
    ASSERT_TRUE(Run({late}, out, {{"vn", ""}, {"acodec", "pcm_u8"}, {"async", "1"}})) << Error;
    const test::Samples s = test::DecodeSamples(out);
    ASSERT_GT(s.rate, 0);
    EXPECT_LT(s.Rms(s.start + 0.05, s.start + 0.45), 0.01) << "the inserted half second";
    EXPECT_GT(s.Rms(s.start + 0.6, s.start + 1.4), 0.1) << "the tone after it";
}

// Catches: "vf" in a join compounding the picture size, each later set's
// graph applying the chain to a size the chain had already changed.
TEST_F(EngineFaults, FilterChainInAJoinKeepsOneOutputSize) {
    const std::vector<std::string> inputs = {Clip("a.flv", {"--no-audio"}),
                                             Clip("b.flv", {"--no-audio", "--pattern", "1"}),
                                             Clip("c.flv", {"--no-audio", "--pattern", "2"})};
    const std::string out = Dir.File("joined.flv");
    ASSERT_TRUE(Run(inputs, out, {{"vcodec", "libx264"}, {"vf", "scale=iw/2:ih/2"}})) << Error;
    const test::MediaInfo info = test::ReadMediaInfo(out, {.decode = true});
    ASSERT_TRUE(info.Ok()) << info.error;
    EXPECT_EQ(info.Video()->width, 160);
    EXPECT_EQ(info.Video()->height, 120);
    EXPECT_NEAR(info.Video()->decodedFrames, 75, 2);
    EXPECT_EQ(info.Video()->decodeErrors, 0);
    // Later sources fill the picture like the first (not a quarter of it).
    for (int frame : {10, 35, 60}) {
        const test::Picture p = test::DecodePicture(out, frame);
        ASSERT_EQ(p.width, 160) << "frame " << frame;
        EXPECT_LT(p.BlackColumn(150), 0.5) << "frame " << frame;
        EXPECT_LT(p.BlackRow(110), 0.5) << "frame " << frame;
    }
}

// Catches: a failure while opening an input leaving its forced decoders in
// the table, where the next input's streams would pick them up.
TEST_F(EngineFaults, FailedInputOpenLeavesNoForcedDecoders) {
    const std::string a = Clip("a.flv");
    // Every third picture left out: the average rate differs from the base
    // rate, which the open reports while it sets up the streams.
    const std::string vfr = Dir.File("vfr.mp4");
    ASSERT_TRUE(
        test::Remux(Clip("b.mkv", {"--no-audio"}), vfr, {.dropVideoEvery = 3, .format = "mp4"}));
    TCustomFFmpeg e(4);
    ASSERT_TRUE(e.OpenInputFile(a)) << e.LastError;
    ASSERT_EQ(e.InputCodecCount(), 2);
    // A log handler that fails on that report fails the open midway.
    FFLogger()->OnLog = [](TLogSender, uint32_t, TLogLevel, const std::string& text) {
        if (text.find("Seems stream") != std::string::npos) throw std::runtime_error("no");
    };
    e.SetOption("vcodec", "mpeg4");
    EXPECT_ANY_THROW(e.OpenInputFile(vfr));
    FFLogger()->OnLog = nullptr;
    EXPECT_EQ(e.InputFileCount, 1);
    EXPECT_EQ(e.InputCodecCount(), 2) << "entries of the failed input stayed";
}

// Catches: rate emulation ("re") sleeping through a stop request until the
// input's next packet is due (here half a minute away).
TEST_F(EngineFaults, StopEndsRateEmulationAtOnce) {
    const std::string src = Clip("a.flv", {"--no-audio"});
    TCustomFFmpeg e(4);
    e.SetVerbose(-1);
    e.SetOption("re", "1");
    e.SetOption("itsoffset", "30");
    ASSERT_TRUE(e.OpenInputFile(src)) << e.LastError;
    e.SetOption("vcodec", "libx264");
    ASSERT_EQ(e.OpenOutputFile(Dir.File("out.flv"), false), 1) << e.LastError;
    const auto started = std::chrono::steady_clock::now();
    std::thread worker([&] { e.Start(false); });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    e.StopRequested = true;
    worker.join();
    // Not a speed limit: far below the 30 s the sleep would have lasted.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_FALSE(e.Finished);
}

// Catches: an encoder that refuses its parameters reported only with the
// general text, its own reason left in the log.
TEST_F(EngineFaults, EncoderOpenFailureCarriesTheLibraryReason) {
    const std::string src = Clip("a.flv", {"--no-audio"});
    EXPECT_FALSE(Run({src}, Dir.File("out.flv"),
                     {{"vcodec", "libx264"}, {"s", "321x240"}, {"pix_fmt", "yuv420p"}}));
    EXPECT_EQ(Error.rfind("Error while opening encoder for output stream #0.0 (Video) - maybe "
                          "incorrect parameters such as bit_rate, rate, width or height.",
                          0),
              0u)
        << Error;
    EXPECT_NE(Error.find("libx264"), std::string::npos) << Error;
    EXPECT_NE(Error.find("width not divisible by 2"), std::string::npos) << Error;
}

// Catches: the input-side "threads" option not reaching the decoders that
// the run opens.
TEST_F(EngineFaults, DecodersGetTheThreadCount) {
    const std::string src = Clip("a.flv");
    TCustomFFmpeg e(4);
    e.SetVerbose(-1);
    e.SetOption("threads", "3");
    ASSERT_TRUE(e.OpenInputFile(src)) << e.LastError;
    e.SetOption("threads", "1");  // the output's own setting does not change them
    e.SetOption("vcodec", "libx264");
    e.SetOption("acodec", "aac");
    std::atomic<int> seen{-1}, open{0};
    e.VideoInputHookCallback = [&](TCustomFFmpeg* engine, TBitmap*, bool& stop, bool& update,
                                   int64_t, int) {
        const AVCodecContext* dec = engine->InputDecoders[0][0].get();
        open = avcodec_is_open(const_cast<AVCodecContext*>(dec));
        seen = dec->thread_count;
        update = false;
        stop = true;
    };
    ASSERT_EQ(e.OpenOutputFile(Dir.File("out.flv"), false), 1) << e.LastError;
    e.Start(false);
    ASSERT_FALSE(e.ErrorRaised) << e.ErrorMessage;
    EXPECT_EQ(open, 1);
    EXPECT_EQ(seen, 3);
}

// Catches: a source that ends in a damaged picture (a cut download) making
// the decoder's drain fail, so that the encoders were never drained and the
// pictures they held back (a second of them with libx264) were lost.
TEST_F(EngineFaults, DamagedLastPictureStillDrainsTheEncoders) {
    const std::string whole = Clip("whole.flv", {"--duration", "2", "--bframes", "2"});
    // Cut through the middle of a video packet half-way into the file.
    int64_t cutAt = -1;
    {
        AVFormatContext* ic = nullptr;
        ASSERT_GE(avformat_open_input(&ic, whole.c_str(), nullptr, nullptr), 0);
        const int64_t half = avio_size(ic->pb) / 2;
        AVPacket* pkt = av_packet_alloc();
        while (cutAt < 0 && av_read_frame(ic, pkt) >= 0) {
            if (ic->streams[pkt->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                pkt->pos >= half && pkt->size > 200)
                cutAt = pkt->pos + pkt->size / 2;
            av_packet_unref(pkt);
        }
        av_packet_free(&pkt);
        avformat_close_input(&ic);
    }
    ASSERT_GT(cutAt, 0);
    const std::string cut = Dir.File("cut.flv");
    ASSERT_EQ(::truncate(whole.c_str(), cutAt), 0);
    ASSERT_EQ(::rename(whole.c_str(), cut.c_str()), 0);
    const std::string first = Clip("first.flv");
    // Decoder threads report a damaged picture only when it is taken out,
    // here during the drain: the automatic count (one per core) reports it
    // when the picture is asked for, two threads already on the empty
    // packet that starts the drain.
    for (const char* threads : {"0", "2"})
        for (const auto& inputs :
             {std::vector<std::string>{cut}, std::vector<std::string>{first, cut}}) {
            SCOPED_TRACE(std::to_string(inputs.size()) + " sources, threads " + threads);
            const std::string out = Dir.File("out.flv");
            ASSERT_TRUE(Run(inputs, out, {{"vcodec", "libx264"}, {"acodec", "aac"}},
                            {{"threads", threads}}))
                << Error;
            int64_t pictures = 0;
            for (const auto& in : inputs) pictures += test::ReadMediaInfo(in).Video()->packets;
            const test::MediaInfo res = test::ReadMediaInfo(out, {.decode = true});
            ASSERT_TRUE(res.Ok()) << res.error;
            ASSERT_NE(res.Video(), nullptr);
            // Every picture but the damaged one.
            EXPECT_GE(res.Video()->decodedFrames, pictures - 1);
            EXPECT_LE(res.Video()->decodedFrames, pictures);
        }
}

}  // namespace
}  // namespace tw
