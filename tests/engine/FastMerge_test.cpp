// tests/engine/FastMerge_test.cpp — fast merges of sources in different
// containers and forms: every source's pictures and audio frames in the
// output, decodable, in decode-time order, each part in sync; codecs the
// container refuses; the muxer's own options.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "binding/FFLoad.h"
#include "diag/FFLog.h"
#include "tests/support/EngineFixture.h"
#include "tests/support/JoinCheck.h"
#include "tests/support/Media.h"
#include "tests/support/TempDir.h"
#include "transcoder/CustomFFmpeg.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

namespace tw {
namespace {

// Sequence-header tags of an FLV file: AAC configurations (and how many
// of them are empty) and AVC configurations.
struct FlvConfigs {
    int aac = 0, emptyAac = 0, avc = 0;
};

FlvConfigs ReadFlvConfigs(const std::string& path) {
    FlvConfigs c;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return c;
    std::vector<unsigned char> b(1 << 22);
    b.resize(std::fread(b.data(), 1, b.size(), f));
    std::fclose(f);
    // The tags follow the 9-byte header and the first back pointer; a
    // sequence header has packet type 0 after the codec byte.
    for (size_t pos = 13; pos + 13 <= b.size();) {
        const size_t size = (size_t(b[pos + 1]) << 16) | (b[pos + 2] << 8) | b[pos + 3];
        if (b[pos] == 8 && (b[pos + 11] >> 4) == 10 && b[pos + 12] == 0) {
            ++c.aac;
            if (size <= 2) ++c.emptyAac;
        }
        if (b[pos] == 9 && (b[pos + 11] & 0xf) == 7 && b[pos + 12] == 0) ++c.avc;
        pos += 11 + size + 4;
    }
    return c;
}

class FastMerge : public test::EngineTest {
  protected:
    std::unique_ptr<TCustomFFmpeg> NewEngine() {
        auto e = std::make_unique<TCustomFFmpeg>(20);
        e->SetVerbose(-1);
        return e;
    }
    // Runs a copy join of inputs into out; the engine's error text, empty
    // on success.
    std::string Join(const std::vector<std::string>& inputs, const std::string& out,
                     const test::EngineOptions& options = {}) {
        test::EngineOptions all = {{"vcodec", "copy"}, {"acodec", "copy"}};
        all.insert(all.end(), options.begin(), options.end());
        return test::RunEngine(*NewEngine(), inputs, out, all);
    }
    // Every part of the join complete, decodable, in order and in sync.
    void ExpectCleanJoin(const std::string& out, const std::vector<std::string>& inputs) {
        const test::JoinCheck c = test::CheckJoin(out, inputs);
        ASSERT_TRUE(c.error.empty()) << c.error;
        EXPECT_TRUE(c.videoDtsIncreasing);
        EXPECT_TRUE(c.audioDtsIncreasing);
        EXPECT_EQ(c.videoDecodeErrors, 0);
        EXPECT_EQ(c.audioDecodeErrors, 0);
        EXPECT_EQ(c.videoFrames, c.videoPackets) << "pictures that do not decode";
        ASSERT_EQ(c.parts.size(), inputs.size());
        const double vf = c.videoFrameDuration, af = c.audioFrameDuration;
        ASSERT_GT(vf, 0);
        ASSERT_GT(af, 0);
        for (size_t k = 0; k < c.parts.size(); ++k) {
            const test::JoinPart& p = c.parts[k];
            SCOPED_TRACE("part " + std::to_string(k) + " from " + inputs[k]);
            EXPECT_EQ(p.videoPackets, p.sourceVideoPackets);
            EXPECT_EQ(p.audioPackets, p.sourceAudioPackets);
            EXPECT_NEAR(p.avOffset, p.sourceAvOffset, af);
            if (k == 0) continue;
            // Nothing overlaps the previous part, and the part starts at most
            // a frame after the previous part's longer stream ended.
            EXPECT_GE(p.videoGap, -0.0015);
            EXPECT_GE(p.audioGap, -0.0015);
            EXPECT_GE(p.gap, -0.0015);
            EXPECT_LE(p.gap, std::max(vf, af) + 0.0015);
        }
    }
};

// Catches: the second MP4's AAC priming (pts -1024) landing before the first
// file's last audio, refused by the muxer ("Invalid argument").
TEST_F(FastMerge, Mp4WithAacPrimingTwice) {
    const std::vector<std::string> in = {Clip("a.mp4"), Clip("b.mp4", {"--pattern", "1"})};
    const std::string out = Dir.File("o.flv");
    ASSERT_EQ(Join(in, out), "");
    ExpectCleanJoin(out, in);
}

// Catches: B-frame decode times (one or two frames before the pictures'
// times) going back at a join, in each container; Matroska's missing decode
// times derived without the join offset.
TEST_F(FastMerge, BFrameSourcesInEachContainer) {
    for (const std::string ext : {"flv", "mp4", "mkv", "ts"}) {
        SCOPED_TRACE(ext);
        const std::vector<std::string> in = {
            Clip("b1." + ext, {"--bframes", "2"}),
            Clip("b2." + ext, {"--bframes", "2", "--pattern", "1", "--duration", "3"}),
            Clip("b3." + ext, {"--bframes", "2", "--pattern", "2"})};
        const std::string out = Dir.File("bf_" + ext + ".flv");
        ASSERT_EQ(Join(in, out), "");
        ExpectCleanJoin(out, in);
    }
}

// Catches: the header taken from the last input (first clip's video lost
// or undecodable), Annex-B packets and ADTS headers passed into a
// length-prefixed, raw stream, an empty AAC configuration written at 0 ms
// before the real one when a TS comes first, a new configuration for a
// source whose configuration is the same in another form.
TEST_F(FastMerge, OneEncodingInEveryContainerEveryOneFirst) {
    const std::string flv = Clip("s.flv"), ts = Clip("s.ts", {"--pattern", "1"}),
                      mp4 = Clip("s.mp4", {"--pattern", "2"}),
                      mkv = Clip("s.mkv", {"--pattern", "3"});
    const std::vector<std::vector<std::string>> orders = {
        {flv, ts, mp4, mkv}, {ts, flv, mkv, mp4}, {mp4, mkv, ts, flv}, {mkv, mp4, flv, ts}};
    int n = 0;
    for (const auto& in : orders) {
        SCOPED_TRACE("order " + std::to_string(n));
        const std::string out = Dir.File("mixed" + std::to_string(n++) + ".flv");
        ASSERT_EQ(Join(in, out), "");
        ExpectCleanJoin(out, in);
        const FlvConfigs configs = ReadFlvConfigs(out);
        EXPECT_EQ(configs.aac, 1);
        EXPECT_EQ(configs.emptyAac, 0);
        EXPECT_EQ(configs.avc, 1);
        // The header describes the stored form from the start.
        AVFormatContext* ic = nullptr;
        ASSERT_EQ(avformat_open_input(&ic, out.c_str(), nullptr, nullptr), 0);
        ASSERT_GE(avformat_find_stream_info(ic, nullptr), 0);
        for (unsigned i = 0; i < ic->nb_streams; ++i) {
            const AVCodecParameters* par = ic->streams[i]->codecpar;
            ASSERT_GT(par->extradata_size, 0) << "stream " << i;
            if (par->codec_id == AV_CODEC_ID_H264) {
                EXPECT_EQ(par->extradata[0], 1);  // avcC
            }
            if (par->codec_id == AV_CODEC_ID_AAC) {
                EXPECT_EQ(par->sample_rate, 44100);
            }
        }
        avformat_close_input(&ic);
    }
}

// Catches: the header written with the last input's parameters (48000 Hz
// for the whole file), a source's other picture size or audio rate left out
// of the stream (its pictures undecodable, its audio played at the first
// one's rate), and a source like the first after one of those decoded with
// the other's parameters.
TEST_F(FastMerge, OtherSizeAndRateFollowTheFirstSourcesHeader) {
    const std::vector<std::string> in = {Clip("a.flv"), Clip("big.flv", {"--size", "640x480"}),
                                         Clip("r48.flv", {"--sample-rate", "48000"}),
                                         Clip("b.flv", {"--pattern", "1"})};
    const std::string out = Dir.File("sizes.flv");
    ASSERT_EQ(Join(in, out), "");
    const test::MediaInfo info = test::ReadMediaInfo(out);
    ASSERT_TRUE(info.Ok()) << info.error;
    EXPECT_EQ(info.Video()->width, 320);
    EXPECT_EQ(info.Audio()->sampleRate, 44100);
    const test::JoinCheck c = test::CheckJoin(out, in);
    ASSERT_TRUE(c.error.empty()) << c.error;
    EXPECT_EQ(c.videoDecodeErrors, 0);
    EXPECT_EQ(c.audioDecodeErrors, 0);
    EXPECT_EQ(c.videoFrames, c.videoPackets);
    EXPECT_EQ(c.videoWidths, (std::vector<int>{320, 640, 320}));
    EXPECT_EQ(c.audioRates, (std::vector<int>{44100, 48000, 44100}));
    EXPECT_TRUE(c.videoDtsIncreasing);
    EXPECT_TRUE(c.audioDtsIncreasing);
    EXPECT_EQ(ReadFlvConfigs(out).aac, 3);  // the header's, 48000 Hz, 44100 Hz again
}

// Catches: a codec FLV cannot hold, or a source of another codec than the
// first one's, accepted up to the header write (or written into the stream
// the header announced for the first one's) with a message that does not
// say what was refused, and data written before the refusal.
TEST_F(FastMerge, CodecsTheOutputCannotHoldAreRefusedBeforeWriting) {
    const std::string ok = Clip("ok.flv");
    const std::string vp8 = Clip("v.mkv", {"--video-codec", "libvpx"});
    const std::string mpeg2 = Clip("m.ts", {"--video-codec", "mpeg2video"});
    const std::string mp3 = Clip("mp3.flv", {"--audio-codec", "libmp3lame"});
    const std::string head =
        "Could not write header for output file #0 (incorrect codec parameters ?)";
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {vp8, ok, ": vp8 video cannot be stored in flv"},
        {ok, vp8, ": vp8 video cannot be stored in flv"},  // a later source is checked too
        {mpeg2, ok, ": mpeg2video video cannot be stored in flv"},
        {ok, mp3, ": mp3 audio of input #1 cannot follow aac"}};
    int n = 0;
    for (const auto& [first, second, text] : cases) {
        SCOPED_TRACE(first + " + " + second);
        const std::string out = Dir.File("refused" + std::to_string(n++) + ".flv");
        auto e = NewEngine();
        EXPECT_EQ(
            test::RunEngine(*e, {first, second}, out, {{"vcodec", "copy"}, {"acodec", "copy"}}),
            head + text);
        EXPECT_TRUE(e->ErrorRaised);
        struct stat st;
        if (stat(out.c_str(), &st) == 0) {
            EXPECT_EQ(st.st_size, 0) << "data written";
        }
    }
}

// Catches: "flvflags" set before the muxer's private data exists and lost
// (no key-frame index, no seeking), and a bad value taken silently.
TEST_F(FastMerge, FlvMuxerFlagsTakeEffect) {
    const std::vector<std::string> in = {Clip("k1.flv", {"--duration", "3"}),
                                         Clip("k2.flv", {"--duration", "3", "--pattern", "1"})};
    const std::string out = Dir.File("indexed.flv");
    ASSERT_EQ(Join(in, out, {{"flvflags", "add_keyframe_index"}}), "");
    // The demuxer turns onMetaData's keyframes into index entries when it
    // reads the metadata tag: one per second of each 3 s source (without
    // them it knows only the key frames it has read while probing). An index
    // with bad times or positions is skipped.
    auto indexEntries = [](const std::string& path) {
        AVFormatContext* ic = nullptr;
        if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) return -1;
        avformat_find_stream_info(ic, nullptr);
        int count = 0;
        for (unsigned i = 0; i < ic->nb_streams; ++i)
            if (ic->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
                count = avformat_index_get_entries_count(ic->streams[i]);
        avformat_close_input(&ic);
        return count;
    };
    EXPECT_GE(indexEntries(out), 6);
    AVFormatContext* ic = nullptr;
    ASSERT_EQ(avformat_open_input(&ic, out.c_str(), nullptr, nullptr), 0);
    ASSERT_GE(avformat_find_stream_info(ic, nullptr), 0);
    const int v = av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    ASSERT_GE(v, 0);
    AVStream* st = ic->streams[v];
    // A seek into the second source lands on one of its key frames.
    const int64_t target = av_rescale_q(4500000, AVRational{1, 1000000}, st->time_base);
    ASSERT_GE(av_seek_frame(ic, v, target, AVSEEK_FLAG_BACKWARD), 0);
    AVPacket* pkt = av_packet_alloc();
    bool found = false;
    while (!found && av_read_frame(ic, pkt) >= 0) {
        if (pkt->stream_index == v) {
            found = true;
            EXPECT_TRUE(pkt->flags & AV_PKT_FLAG_KEY);
            const double t = pkt->pts * av_q2d(st->time_base);
            EXPECT_GE(t, 3.0);
            EXPECT_LE(t, 4.5);
        }
        av_packet_unref(pkt);
    }
    EXPECT_TRUE(found);
    av_packet_free(&pkt);
    avformat_close_input(&ic);

    // Without the flag there is no index to find.
    const std::string plain = Dir.File("plain.flv");
    ASSERT_EQ(Join(in, plain), "");
    EXPECT_LT(indexEntries(plain), 6);

    auto e = NewEngine();
    ASSERT_TRUE(e->OpenInputFile(in[0]));
    e->SetOption("vcodec", "copy");
    e->SetOption("acodec", "copy");
    e->SetOption("flvflags", "bogus");
    EXPECT_LT(e->OpenOutputFile(Dir.File("bogus.flv"), false), 0);
    EXPECT_NE(e->LastError.find("bogus"), std::string::npos) << e->LastError;
}

// Catches: the preload given to an option no muxer has ("muxpreload")
// instead of the MPEG program stream muxer's "preload".
TEST_F(FastMerge, PreloadReachesTheProgramStreamMuxer) {
    auto e = NewEngine();
    ASSERT_TRUE(e->OpenInputFile(Clip("src.ts")));
    e->SetOption("vcodec", "copy");
    e->SetOption("acodec", "copy");
    e->SetOption("muxpreload", "0.3");
    ASSERT_EQ(e->OpenOutputFile(Dir.File("out.mpg"), false), 1) << e->LastError;
    AVFormatContext* oc = e->OutputFiles[0].get();
    ASSERT_NE(oc->priv_data, nullptr);
    int64_t preload = 0;
    ASSERT_GE(av_opt_get_int(oc->priv_data, "preload", 0, &preload), 0);
    EXPECT_EQ(preload, 300000);
}

// Catches: "timestamp" written as microseconds into creation_time, which
// the muxers reject or misread.
TEST_F(FastMerge, TimestampBecomesTheCreationTime) {
    for (const std::string ext : {"mp4", "mkv"}) {
        SCOPED_TRACE(ext);
        const std::string out = Dir.File("stamped." + ext);
        auto e = NewEngine();
        ASSERT_TRUE(e->OpenInputFile(Clip("src.flv")));
        e->SetOption("vcodec", "copy");
        e->SetOption("acodec", "copy");
        e->SetOption("timestamp", "2011-05-01 12:00:00");
        ASSERT_EQ(e->OpenOutputFile(out, false), 1) << e->LastError;
        e->Start(false);
        ASSERT_FALSE(e->ErrorRaised) << e->ErrorMessage;
        const test::MediaInfo info = test::ReadMediaInfo(out);
        ASSERT_TRUE(info.Ok()) << info.error;
        const auto created = info.Tag("creation_time");
        ASSERT_TRUE(created);
        EXPECT_EQ(created->substr(0, 19), "2011-05-01T12:00:00");
    }
}

}  // namespace
}  // namespace tw
