// tests/reencode/AudioSync_test.cpp — keeping re-encoded audio in time with
// its input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/FFLoad.h"
#include "diag/FFLog.h"
#include "tests/support/Media.h"
#include "tests/support/TempDir.h"
#include "transcoder/CustomFFmpeg.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace tw {
namespace {

// A copy of src whose audio starts `late` seconds after its video.
void ShiftAudio(const std::string& src, const std::string& dst, double late) {
    AVFormatContext* in = nullptr;
    ASSERT_EQ(avformat_open_input(&in, src.c_str(), nullptr, nullptr), 0);
    ASSERT_GE(avformat_find_stream_info(in, nullptr), 0);
    AVFormatContext* out = nullptr;
    ASSERT_GE(avformat_alloc_output_context2(&out, nullptr, "matroska", dst.c_str()), 0);
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        AVStream* st = avformat_new_stream(out, nullptr);
        avcodec_parameters_copy(st->codecpar, in->streams[i]->codecpar);
        st->codecpar->codec_tag = 0;
        st->time_base = in->streams[i]->time_base;
    }
    ASSERT_GE(avio_open(&out->pb, dst.c_str(), AVIO_FLAG_WRITE), 0);
    ASSERT_GE(avformat_write_header(out, nullptr), 0);
    AVPacket* pkt = av_packet_alloc();
    while (av_read_frame(in, pkt) >= 0) {
        AVStream* ist = in->streams[pkt->stream_index];
        if (ist->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            const int64_t shift = av_rescale_q(static_cast<int64_t>(late * 1000000),
                                               AVRational{1, 1000000}, ist->time_base);
            if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += shift;
            if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += shift;
        }
        av_packet_rescale_ts(pkt, ist->time_base, out->streams[pkt->stream_index]->time_base);
        av_interleaved_write_frame(out, pkt);
    }
    av_packet_free(&pkt);
    av_write_trailer(out);
    avio_closep(&out->pb);
    avformat_free_context(out);
    avformat_close_input(&in);
}

// Catches: late audio pulled forward (audio and video out of step by the
// delay), or silence inserted more than once.
TEST(AudioSync, LateAudioGetsOneSecondOfSilence) {
    ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds)) << FFLoader().LastErrMsg();
    FFLogger()->TriggerEventInMainThread = false;
    test::TempDir dir;
    const std::string src = test::GenerateClip(dir.File("a.flv"), {"--duration", "3"});
    const std::string late = dir.File("late.mkv");
    ShiftAudio(src, late, 1.0);
    const std::string out = dir.File("out.flv");
    {
        TCustomFFmpeg e(4);
        e.SetVerbose(-1);
        ASSERT_TRUE(e.OpenInputFile(late)) << e.LastError;
        e.SetOption("vcodec", "libx264");
        e.SetOption("acodec", "aac");
        e.SetOption("async", "1");
        ASSERT_EQ(e.OpenOutputFile(out, false), 1) << e.LastError;
        e.Start(false);
        ASSERT_FALSE(e.ErrorRaised) << e.ErrorMessage;
    }
    const test::MediaInfo in = test::ReadMediaInfo(src, {.decode = true});
    const test::MediaInfo res = test::ReadMediaInfo(out, {.decode = true});
    ASSERT_TRUE(res.Ok()) << res.error;
    // The source's samples plus 44100 of silence; the encoder works in
    // frames of 1024 and primes with one more.
    EXPECT_NEAR(res.Audio()->decodedSamples - in.Audio()->decodedSamples, 44100, 2 * 1024);
    ASSERT_TRUE(res.Audio()->endTime && res.Video()->endTime);
    EXPECT_NEAR(*res.Audio()->endTime, *res.Video()->endTime + 1.0, 0.1);
}

}  // namespace
}  // namespace tw
