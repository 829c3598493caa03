// tests/probe/FFDecode_test.cpp — the probing component on generated clips.
#include "probe/FFDecode.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "binding/FFLoad.h"
#include "diag/FFLog.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Media.h"
#include "tests/support/TempDir.h"

// The test side builds unusual files and contexts with the libraries
// directly (the product reaches them through the loader only).
extern "C" {
#include <libavformat/avformat.h>
}

namespace tw {
namespace {

class Probe : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds)) << FFLoader().LastErrMsg();
        FFLogger()->SetLogLevel(llInfo);
    }

    test::TempDir Dir;
    TFFDecoder D;
    test::LogCapture Log{&D};  // only the component's own lines
};

// Copies a clip's video and audio, writing its audio twice: one video and two
// audio streams in MP4.
void WriteTwoAudioMp4(const std::string& src, const std::string& dst) {
    AVFormatContext* in = nullptr;
    ASSERT_EQ(avformat_open_input(&in, src.c_str(), nullptr, nullptr), 0);
    ASSERT_GE(avformat_find_stream_info(in, nullptr), 0);
    AVFormatContext* out = nullptr;
    ASSERT_GE(avformat_alloc_output_context2(&out, nullptr, "mp4", dst.c_str()), 0);
    std::vector<std::vector<int>> targets(in->nb_streams);
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        const int copies = in->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO ? 2 : 1;
        for (int c = 0; c < copies; ++c) {
            AVStream* st = avformat_new_stream(out, nullptr);
            avcodec_parameters_copy(st->codecpar, in->streams[i]->codecpar);
            st->codecpar->codec_tag = 0;
            st->time_base = in->streams[i]->time_base;
            if (c == 1) av_dict_set(&st->metadata, "language", "ger", 0);
            targets[i].push_back(st->index);
        }
    }
    ASSERT_GE(avio_open(&out->pb, dst.c_str(), AVIO_FLAG_WRITE), 0);
    ASSERT_GE(avformat_write_header(out, nullptr), 0);
    AVPacket* pkt = av_packet_alloc();
    while (av_read_frame(in, pkt) >= 0) {
        const AVRational from = in->streams[pkt->stream_index]->time_base;
        for (int t : targets[pkt->stream_index]) {
            AVPacket* copy = av_packet_clone(pkt);
            copy->stream_index = t;
            av_packet_rescale_ts(copy, from, out->streams[t]->time_base);
            av_interleaved_write_frame(out, copy);
            av_packet_free(&copy);
        }
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    av_write_trailer(out);
    avio_closep(&out->pb);
    avformat_free_context(out);
    avformat_close_input(&in);
}

TEST_F(Probe, OneVideoAndTwoAudioStreams) {
    const std::string src = test::GenerateClip(Dir.File("src.mp4"));
    const std::string file = Dir.File("two-audio.mp4");
    WriteTwoAudioMp4(src, file);
    ASSERT_TRUE(D.LoadFile(file)) << D.LastError;
    EXPECT_EQ(D.StreamCount(), 3);
    EXPECT_EQ(D.VideoStreamCount(), 1);
    EXPECT_EQ(D.AudioStreamCount(), 2);
    EXPECT_EQ(D.SubtitleStreamCount(), 0);
    EXPECT_EQ(D.FirstSubtitleStream(), -1);
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(D.FileSize(), st.st_size);

    TAudioStreamInfo first, second;
    ASSERT_TRUE(D.GetAudioStreamInfo(first));
    EXPECT_NE(first.Language, "ger");  // the first audio stream, not the second
    EXPECT_EQ(first.Channels, 2);
    EXPECT_EQ(first.SampleRate, 44100);
    EXPECT_EQ(first.CodecName, "aac(AAC (Advanced Audio Coding))");
    EXPECT_GT(first.BitRate, 0);
    EXPECT_NEAR(first.DurationUs, 2000000, 100000);
    const int secondIndex = D.FirstAudioStream() + 1;
    ASSERT_TRUE(D.GetAudioStreamInfo(secondIndex, second));
    EXPECT_EQ(second.Language, "ger");

    TVideoStreamInfo video;
    ASSERT_TRUE(D.GetVideoStreamInfo(video));
    EXPECT_EQ(video.Width, 320);
    EXPECT_EQ(video.Height, 240);
    // The clip does not state a sample aspect (0/1): width x 0 / height.
    EXPECT_FLOAT_EQ(video.AspectRatio, 0.0f);
    EXPECT_EQ(video.FrameRateNum * 1.0 / video.FrameRateDen, 25.0);
    EXPECT_EQ(video.PixFmt, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(video.CodecName.rfind("h264(", 0), 0u);
}

// Catches: a type mix-up or an out-of-range index reported as success, and a
// failed getter leaving values of the previous stream behind.
TEST_F(Probe, GetterFailuresReportAndLeaveMinusOne) {
    TVideoStreamInfo video;
    EXPECT_FALSE(D.GetVideoStreamInfo(video));
    EXPECT_EQ(D.LastError, "file not loaded.");
    ASSERT_EQ(Log.Lines().size(), 1u);
    EXPECT_EQ(Log.Lines()[0].Level, llWarning);

    ASSERT_TRUE(D.LoadFile(test::GenerateClip(Dir.File("a.flv"))));
    ASSERT_TRUE(D.GetVideoStreamInfo(video));
    const int audio = D.FirstAudioStream();
    EXPECT_FALSE(D.GetVideoStreamInfo(audio, video));
    EXPECT_EQ(D.LastError, "stream #" + std::to_string(audio) + " is not video stream.");
    EXPECT_EQ(Log.Lines().back().Level, llError);
    EXPECT_EQ(video.Width, -1);
    EXPECT_EQ(video.AspectRatio, -1.0f);
    EXPECT_TRUE(video.CodecName.empty());
    TAudioStreamInfo info;
    EXPECT_FALSE(D.GetAudioStreamInfo(7, info));
    EXPECT_EQ(D.LastError, "stream index #7 is invalid.");
    EXPECT_EQ(info.SampleRate, -1);
}

TEST_F(Probe, AFileWithoutAudio) {
    ASSERT_TRUE(D.LoadFile(test::GenerateClip(Dir.File("v.flv"), {"--no-audio"})));
    EXPECT_EQ(D.AudioStreamCount(), 0);
    EXPECT_EQ(D.FirstAudioStream(), -1);
    TAudioStreamInfo info;
    EXPECT_FALSE(D.GetAudioStreamInfo(info));
    EXPECT_EQ(D.LastError, "no audio stream.");
    EXPECT_EQ(info.Channels, -1);
    EXPECT_EQ(info.BitRate, -1);
}

// Catches: a failed open reported as success, a crash on an empty or cut
// file, and values of the previous file surviving a failed load.
TEST_F(Probe, MissingEmptyTruncatedAndUnknownFormat) {
    ASSERT_TRUE(D.LoadFile(test::GenerateClip(Dir.File("a.flv"))));
    const std::string missing = Dir.File("missing.flv");
    EXPECT_FALSE(D.LoadFile(missing));
    EXPECT_EQ(D.LastError, missing + ": No such file or directory");
    EXPECT_EQ(D.StreamCount(), -1);
    EXPECT_EQ(D.FileSize(), -1);
    EXPECT_EQ(D.FormatContext(), nullptr);

    const std::string empty = Dir.File("empty.flv");
    std::ofstream(empty).close();
    EXPECT_FALSE(D.LoadFile(empty));
    EXPECT_EQ(D.LastError.rfind(empty + ": ", 0), 0u) << D.LastError;

    EXPECT_FALSE(D.LoadFile(Dir.File("a.flv"), "no_such_format"));
    EXPECT_EQ(D.LastError, "Unknown input format: no_such_format");

    // A cut file still opens: what was written is there.
    const std::string cut = test::GenerateClip(Dir.File("cut.flv"), {"--truncate", "0.5"});
    ASSERT_TRUE(D.LoadFile(cut, "flv")) << D.LastError;
    EXPECT_EQ(D.FormatName(), "flv");
    EXPECT_EQ(D.VideoStreamCount(), 1);
}

TEST_F(Probe, NamesWithColonsAndOtherScripts) {
    for (const std::string name : {"a:b.flv", "合并 片段.flv", "x\xff.flv"}) {
        const std::string path = test::GenerateClip(Dir.File("plain.flv"));
        const std::string odd = Dir.File(name);
        ASSERT_EQ(rename(path.c_str(), odd.c_str()), 0);
        ASSERT_TRUE(D.LoadFile(odd)) << name << ": " << D.LastError;
        EXPECT_EQ(D.StreamCount(), 2);
        struct stat st;
        ASSERT_EQ(stat(odd.c_str(), &st), 0);
        EXPECT_EQ(D.FileSize(), st.st_size);
        D.CloseFile();
        EXPECT_EQ(D.StreamCount(), -1);
    }
}

// The open file descriptors of this process.
int OpenFiles() {
    int count = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d)) ++count;
        ::closedir(d);
    }
    return count;
}

// Catches: the file behind our own I/O (a name the libraries cannot open
// themselves) left open when the open fails, or when the file is closed,
// replaced or the component destroyed.
TEST_F(Probe, OwnIOIsClosedOnEveryPath) {
    const std::string junk = Dir.File("no:media.flv");
    std::ofstream(junk) << std::string(4096, 'x');
    const std::string good = Dir.File("a:b.flv");
    ASSERT_EQ(rename(test::GenerateClip(Dir.File("plain.flv")).c_str(), good.c_str()), 0);
    const int before = OpenFiles();
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(D.LoadFile(junk));
        EXPECT_EQ(D.LastError.rfind(junk + ": ", 0), 0u) << D.LastError;
        ASSERT_TRUE(D.LoadFile(good)) << D.LastError;
        ASSERT_TRUE(D.LoadFile(good)) << D.LastError;  // replaces the open one
        D.CloseFile();
        {
            TFFDecoder other;
            ASSERT_TRUE(other.LoadFile(good)) << other.LastError;
            EXPECT_TRUE(other.Owned());
        }
    }
    EXPECT_EQ(OpenFiles(), before);
}

// A context whose I/O cannot tell its size, like a stream being received.
struct UnsizedInput {
    FILE* File = nullptr;
    AVFormatContext* Ctx = nullptr;
    static int Read(void* opaque, uint8_t* buf, int size) {
        const size_t n = fread(buf, 1, size, static_cast<UnsizedInput*>(opaque)->File);
        return n == 0 ? AVERROR_EOF : static_cast<int>(n);
    }
    explicit UnsizedInput(const std::string& path) {
        File = fopen(path.c_str(), "rb");
        Ctx = avformat_alloc_context();
        const int size = 4096;
        Ctx->pb = avio_alloc_context(static_cast<unsigned char*>(av_malloc(size)), size, 0, this,
                                     Read, nullptr, nullptr);
        Ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
        if (avformat_open_input(&Ctx, path.c_str(), nullptr, nullptr) == 0)
            avformat_find_stream_info(Ctx, nullptr);
    }
    ~UnsizedInput() {
        AVIOContext* pb = Ctx ? Ctx->pb : nullptr;
        avformat_close_input(&Ctx);
        if (pb) {
            av_freep(&pb->buffer);
            avio_context_free(&pb);
        }
        fclose(File);
    }
};

// Catches: the size of a container that cannot tell it reported as unknown
// while the file is there; an attached context closed by the component.
TEST_F(Probe, SizeFromTheFileSystemAndAttachedContextsStayOpen) {
    const std::string path = test::GenerateClip(Dir.File("a.ts"));
    UnsizedInput input(path);
    ASSERT_NE(input.Ctx, nullptr);
    ASSERT_LT(avio_size(input.Ctx->pb), 0);
    D.AttachContext(input.Ctx);
    EXPECT_FALSE(D.Owned());
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(D.FileSize(), st.st_size);
    EXPECT_EQ(D.VideoStreamCount(), 1);
    D.CloseFile();
    EXPECT_EQ(D.FileSize(), -1);
    // Still usable by its owner.
    AVPacket* pkt = av_packet_alloc();
    EXPECT_GE(av_read_frame(input.Ctx, pkt), 0);
    av_packet_free(&pkt);
}

TEST_F(Probe, UnknownDurationStaysMinusOne) {
    const std::string path = test::GenerateClip(Dir.File("a.ts"));
    ASSERT_TRUE(D.LoadFile(path));
    AVStream* st = D.FormatContext()->streams[D.FirstVideoStream()];
    st->duration = AV_NOPTS_VALUE;
    st->time_base = {0, 0};  // the guard mends it
    TVideoStreamInfo info;
    ASSERT_TRUE(D.GetVideoStreamInfo(info));
    EXPECT_EQ(info.Duration, -1);
    EXPECT_EQ(info.DurationUs, -1);
    EXPECT_EQ(st->time_base.den, 1);
}

TEST(ProbeLibraries, CheckNamesTheFirstMissingLibrary) {
    // Nothing is loaded in this process.
    try {
        TCustomDecoder::CheckLibraries();
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "LibAVCodec not loaded.");
    }
}

// Catches: the probing component analysing a file with a hundred streams
// instead of refusing it before the analysis, naming it and the count.
TEST_F(Probe, TooManyStreamsAreRefused) {
    const std::string many =
        test::GenerateClip(Dir.File("many.mp4"), {"--duration", "1", "--tracks", "99"});
    EXPECT_FALSE(D.LoadFile(many));
    EXPECT_EQ(D.LastError, many + ": 100 streams, more than a video file has (64 at most)");
    EXPECT_EQ(D.FormatContext(), nullptr);
}

}  // namespace
}  // namespace tw
