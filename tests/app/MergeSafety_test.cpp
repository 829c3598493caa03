// tests/app/MergeSafety_test.cpp — what the driver does to keep the user's
// files: the old output survives a failed merge, a fast merge refuses what
// cannot be copied, and sources are deleted only after the merged file has
// passed every check.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "app/JoinDriver.h"
#include "app/MergedFileCheck.h"
#include "app/PendingOutput.h"
#include "binding/FFLoad.h"
#include "diag/FFLog.h"
#include "tests/support/Frames.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Media.h"
#include "tests/support/ScriptedUser.h"
#include "tests/support/TempDir.h"

namespace tw {
namespace {

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        ::closedir(d);
    }
    return names;
}

using test::ScriptedUser;

class MergeSafety : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds)) << FFLoader().LastErrMsg();
        FFLogger()->TriggerEventInMainThread = false;
        FFLogger()->SetLogLevel(llQuiet);
        Enc.TaskVerbose = -1;
        User.Answer = true;  // replace an existing output when asked
    }
    std::string Clip(const std::string& name, const std::vector<std::string>& args = {}) {
        return test::GenerateClip(Dir.File(name), args);
    }
    // The facts the driver would read of a file.
    TSourceFacts Facts(const std::string& file) {
        TFFDecoder d;
        EXPECT_TRUE(d.LoadFile(file)) << d.LastError;
        return SurveySource(d.FormatContext(), file);
    }
    test::TempDir Dir;
    TFFEncoder Enc;
    ScriptedUser User;
    TJoinSettings Fast{true, false, 0};
};

// Catches: the old output deleted before any input was opened (a mistyped
// second input, or any failed merge, left the user with nothing), a pending
// file left behind, the old permissions lost on replacement.
TEST_F(MergeSafety, OldOutputSurvivesAFailedMergeAndIsReplacedByAGoodOne) {
    const std::string a = Clip("a.flv", {"--duration", "1"});
    const std::string out = Dir.File("out.flv");
    std::ofstream(out) << "precious";
    ::chmod(out.c_str(), 0640);

    std::vector<std::string> typo{a, Dir.File("mistyped.flv")};
    EXPECT_EQ(MergeWithChecks(User, Enc, typo, out, Fast), jrError);
    EXPECT_EQ(User.Last().rfind("AddTask Error: ", 0), 0u) << User.Last();
    EXPECT_EQ(Contents(out), "precious");

    // A failure after the output was set up: a source the container refuses.
    const std::string vp8 = Clip("v.mkv", {"--duration", "1", "--video-codec", "libvpx"});
    std::vector<std::string> refused{a, vp8};
    EXPECT_EQ(MergeWithChecks(User, Enc, refused, out, Fast), jrError);
    EXPECT_EQ(Contents(out), "precious");
    EXPECT_EQ(Names(Dir.Path()).size(), 3u) << "a pending file was left behind";

    std::vector<std::string> good{a, a};
    ASSERT_EQ(MergeWithChecks(User, Enc, good, out, Fast), jrDone) << User.Last();
    EXPECT_EQ(User.Last(), "合并成功");
    const test::MediaInfo merged = test::ReadMediaInfo(out);
    ASSERT_TRUE(merged.Ok()) << merged.error;
    EXPECT_EQ(merged.Video()->packets, 2 * test::ReadMediaInfo(a).Video()->packets);
    struct stat st;
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(Names(Dir.Path()).size(), 3u);
}

// Catches: a fast merge whose later source was spoiled after the sources
// were probed reported as a success (the source read as far as it went), or
// its failure putting a partial file in place of the old output.
TEST_F(MergeSafety, ASourceSpoiledDuringAFastMergeFailsItAndKeepsTheOldOutput) {
    std::vector<std::string> files;
    for (int i = 0; i < 6; ++i)
        files.push_back(Clip("s" + std::to_string(i) + ".flv", {"--duration", "1"}));
    const std::string out = Dir.File("out.flv");
    std::ofstream(out) << "precious";
    bool spoiled = false;
    // Called first right after the merge started, long before it reaches
    // the last source.
    const TJoinResult result = MergeWithChecks(User, Enc, files, out, Fast, [&] {
        if (spoiled) return;
        spoiled = true;
        std::ofstream(files[5], std::ios::binary | std::ios::trunc) << std::string(70000, 'x');
    });
    EXPECT_TRUE(spoiled);
    EXPECT_EQ(result, jrError);
    EXPECT_NE(User.Last().find(files[5]), std::string::npos) << User.Last();
    EXPECT_TRUE(Contents(out) == "precious");
    EXPECT_EQ(Names(Dir.Path()).size(), 7u);  // the sources and the old output, nothing hidden
}

// Catches: a device node or another non-file unlinked and replaced.
TEST_F(MergeSafety, AnOutputThatIsNoRegularFileIsRefused) {
    const std::string fifo = Dir.File("pipe.flv");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::vector<std::string> files{Clip("a.flv", {"--duration", "1"})};
    EXPECT_EQ(MergeWithChecks(User, Enc, files, fifo, Fast), jrError);
    EXPECT_EQ(User.Last(), fifo + "不是普通文件，不能作为合并到文件");
    EXPECT_TRUE(User.Asked.empty());
    struct stat st;
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    ::mkdir(Dir.File("folder").c_str(), 0700);
    EXPECT_EQ(MergeWithChecks(User, Enc, files, Dir.File("folder"), Fast), jrError);
    EXPECT_EQ(User.Last(), Dir.File("folder") + "不是普通文件，不能作为合并到文件");

    // An output in a folder that does not exist: told, nothing created.
    EXPECT_EQ(MergeWithChecks(User, Enc, files, Dir.File("no/such/out.flv"), Fast), jrError);
    EXPECT_EQ(User.Last().rfind("SetOutputFile Error: " + Dir.File("no/such/out.flv"), 0), 0u)
        << User.Last();
}

// Catches: a fast merge that writes a file the container cannot hold, or one
// whose later source leaves a stream with a hole, instead of refusing first.
TEST_F(MergeSafety, FastMergeRefusesWhatCannotBeCopied) {
    const std::string a = Clip("a.flv", {"--duration", "1"});
    const std::string silent = Clip("silent.flv", {"--duration", "1", "--no-audio"});
    const std::string mpeg2 = Clip("m.ts", {"--duration", "1", "--video-codec", "mpeg2video"});
    const std::string out = Dir.File("out.flv");
    std::string message;

    EXPECT_EQ(JoinFiles(Enc, {a, silent}, out, message, Fast), jrError);
    EXPECT_EQ(message, silent + "：缺少第一个文件有的音频，不能快速合并，请取消“快速合并”后再合并");
    EXPECT_FALSE(Exists(out));

    EXPECT_EQ(JoinFiles(Enc, {silent, a}, out, message, Fast), jrError);
    EXPECT_EQ(message, a + "：有第一个文件没有的音频，不能快速合并，请取消“快速合并”后再合并");

    EXPECT_EQ(JoinFiles(Enc, {mpeg2, a}, out, message, Fast), jrError);
    EXPECT_EQ(message,
              mpeg2 + "：mpeg2video 视频不能存入 FLV 文件，不能快速合并，请取消“快速合并”后再合并");
    EXPECT_FALSE(Exists(out));
}

// Catches: sources deleted after a merge whose result was damaged, only
// because its total duration looked right.
TEST_F(MergeSafety, SourcesStayWhenTheMergedFileFailsACheck) {
    // Differing sources: the fast merge goes on after its warning, but the
    // sources are never deleted.
    std::vector<std::string> files{Clip("a.flv"), Clip("big.flv", {"--size", "640x360"})};
    const std::vector<std::string> kept = files;
    TJoinSettings settings = Fast;
    settings.DeleteSources = true;
    ASSERT_EQ(MergeWithChecks(User, Enc, files, Dir.File("out.flv"), settings), jrDone)
        << User.Last();
    EXPECT_EQ(User.Last(), "合并后的文件未通过检查，源文件未删除：" + kept[1] +
                               "：编码与第一个文件不同（尺寸 640x360 / 320x240）");
    EXPECT_EQ(files, kept);
    for (const auto& f : kept) EXPECT_TRUE(Exists(f)) << f;
}

// Each check on its own, against a real file and the facts of its sources.
TEST_F(MergeSafety, EveryCheckOfTheMergedFile) {
    const std::string whole = Clip("whole.flv", {"--duration", "4"});
    TSourceFacts half = Facts(whole);
    half.Duration = 2000000;  // as if the file were two 2 s sources joined
    std::string why;
    EXPECT_TRUE(VerifyMerge({half, half}, whole, true, why)) << why;

    TSourceFacts longer = half;
    longer.Duration = 3500000;
    EXPECT_FALSE(VerifyMerge({half, longer}, whole, false, why));
    EXPECT_NE(why.find("时长 4.0"), std::string::npos) << why;
    EXPECT_NE(why.find("与源文件的总时长 5.50 秒 不符"), std::string::npos) << why;

    const std::string mute = Clip("mute.flv", {"--duration", "4", "--no-audio"});
    TSourceFacts withAudio = half;
    EXPECT_FALSE(VerifyMerge({withAudio, withAudio}, mute, false, why));
    EXPECT_EQ(why, mute + "：缺少音频");

    TSourceFacts other = half;
    other.SampleRate = 48000;
    EXPECT_FALSE(VerifyMerge({half, other}, whole, true, why));
    EXPECT_NE(why.find("采样率 48000 / 44100"), std::string::npos) << why;
    EXPECT_TRUE(VerifyMerge({half, other}, whole, false, why)) << why;  // re-encoded: no matter

    TSourceFacts unknown = half;
    unknown.Duration = -1;
    EXPECT_FALSE(VerifyMerge({half, unknown}, whole, false, why));

    // Damage where the two halves meet: the pictures there no longer decode.
    std::vector<int64_t> positions;
    {
        AVFormatContext* ic = nullptr;
        ASSERT_EQ(avformat_open_input(&ic, whole.c_str(), nullptr, nullptr), 0);
        ASSERT_GE(avformat_find_stream_info(ic, nullptr), 0);
        AVPacket* pkt = av_packet_alloc();
        while (av_read_frame(ic, pkt) >= 0) {
            const AVStream* st = ic->streams[pkt->stream_index];
            const double t = pkt->pts * av_q2d(st->time_base);
            if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && t > 2.1 && t < 2.6 &&
                pkt->size > 64)
                positions.push_back(pkt->pos);
            av_packet_unref(pkt);
        }
        av_packet_free(&pkt);
        avformat_close_input(&ic);
    }
    ASSERT_FALSE(positions.empty());
    {
        std::fstream f(whole, std::ios::in | std::ios::out | std::ios::binary);
        for (int64_t pos : positions) {
            // Past the tag header (11 bytes), the video tag byte, the packet
            // type and the composition time: into the picture data.
            f.seekp(pos + 11 + 5 + 8);
            const std::string noise(40, '\xA7');
            f.write(noise.data(), noise.size());
        }
    }
    EXPECT_FALSE(VerifyMerge({half, half}, whole, true, why));
    EXPECT_NE(why.find("视频在 2."), std::string::npos) << why;
    EXPECT_NE(why.find("处的衔接无法正常解码"), std::string::npos) << why;
}

// Catches: the picture size of a re-encoding merge taken from the coded
// size (odd numbers, sideways phone clips, wide pixels), or the audio values
// lost when the first source is silent.
TEST_F(MergeSafety, ReencodingTakesTheFirstPictureAsShownAndTheFirstSound) {
    TSourceFacts odd;
    odd.HasVideo = true;
    odd.Width = 721;
    odd.Height = 405;
    TSourceFacts phone = odd;
    phone.Width = 1920;
    phone.Height = 1080;
    phone.Rotation = 90;
    TSourceFacts anamorphic = odd;
    anamorphic.Width = 720;
    anamorphic.Height = 576;
    anamorphic.SampleAspect = {16, 11};
    TSourceFacts sound;
    sound.HasAudio = true;
    sound.Channels = 1;
    sound.SampleRate = 22050;
    sound.AudioBitrate = 64000;

    TMergePlan o;
    AdjustReencodePlan(o, {odd, sound});
    EXPECT_EQ(o.Video.Width, 720);
    EXPECT_EQ(o.Video.Height, 404);
    EXPECT_EQ(o.Video.PixelFormat, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(o.Audio.Channels, 1);
    EXPECT_EQ(o.Audio.SampleRate, 22050);
    EXPECT_EQ(o.Audio.Bitrate, 64000);

    TMergePlan p;
    AdjustReencodePlan(p, {phone});
    EXPECT_EQ(PlanOutputRecord(p).FrameSize, "1080x1920");
    TMergePlan q;
    AdjustReencodePlan(q, {anamorphic});
    EXPECT_EQ(PlanOutputRecord(q).FrameSize, "1046x576");

    // The first source's own sound wins when it has some.
    TMergePlan r;
    r.Audio.Channels = 2;
    r.Audio.SampleRate = 44100;
    AdjustReencodePlan(r, {odd, sound});
    EXPECT_EQ(r.Audio.Channels, 2);
    EXPECT_EQ(r.Audio.SampleRate, 44100);
}

// Catches: --threads reaching the encoders only (the decoders copy the
// thread count when their input is opened).
TEST_F(MergeSafety, DecodersOfEveryInputGetTheThreadCount) {
    const std::string a = Clip("a.flv", {"--duration", "1"});
    TJoinSettings settings;
    settings.Threads = 3;
    TInputOptions in = MergeInputOptions(settings);
    ASSERT_EQ(Enc.AddTask(a, &in), 0) << Enc.LastError;
    in = MergeInputOptions(settings);
    ASSERT_TRUE(Enc.AddInputFile(0, a, &in)) << Enc.LastError;
    const TFFmpeg& task = Enc.Tasks(0);
    ASSERT_EQ(task.InputDecoders.size() >= 2, true);
    for (int i = 0; i < 2; ++i)
        for (const auto& dec : task.InputDecoders[i]) {
            ASSERT_TRUE(dec);
            EXPECT_EQ(dec->thread_count, 3) << "input " << i;
        }
    // A fast merge decodes nothing.
    settings.FastJoin = true;
    EXPECT_EQ(MergeInputOptions(settings).Threads, -1);
}

// Catches: the libraries' automatic thread choice unreachable (0 meant "no
// option", and the engine's default is one thread).
TEST_F(MergeSafety, AutomaticThreadsReachDecodersAndEncoders) {
    const std::string a = Clip("a.flv", {"--duration", "1"});
    TJoinSettings settings;
    settings.Threads = kAutoThreads;
    TInputOptions in = MergeInputOptions(settings);
    EXPECT_EQ(in.Threads, 0);
    ASSERT_EQ(Enc.AddTask(a, &in), 0) << Enc.LastError;
    for (const auto& dec : Enc.Tasks(0).InputDecoders[0]) {
        ASSERT_TRUE(dec);
        EXPECT_EQ(dec->thread_count, 0);
    }
    TFFDecoder d;
    ASSERT_TRUE(d.LoadFile(a));
    EXPECT_EQ(MergeOutputPlan(d, false, kAutoThreads).Threads, 0);
    // The window's default stays the engine's one thread: no option.
    EXPECT_EQ(MergeOutputPlan(d, false, 0).Threads, -1);
    const auto options = PlanOptions(MergeOutputPlan(d, false, kAutoThreads));
    EXPECT_NE(std::find(options.begin(), options.end(),
                        std::pair<std::string, std::string>("threads", "0")),
              options.end());
}

// Catches, through the driver as the window and the command line use it: a
// silent first source dropping every later source's sound (and the sources
// then deleted), an odd first size stopping libx264, a phone clip coming
// out sideways or stretched.
TEST_F(MergeSafety, ReencodingMergeOfASilentOddSizedClipAndAPhoneClip) {
    const std::string silent = Clip("silent.mkv", {"--no-audio", "--video-codec", "libvpx",
                                                   "--size", "639x360", "--duration", "6"});
    // Long enough for a second key frame (the preset's interval is 10 s): an
    // index of one entry is no index to the readers.
    const std::string phone =
        Clip("phone.mp4", {"--rotate", "90", "--marks", "--pattern", "2", "--duration", "6"});
    std::vector<std::string> files{silent, phone};
    const std::string out = Dir.File("out.flv");
    TJoinSettings settings;
    settings.DeleteSources = true;
    ASSERT_EQ(MergeWithChecks(User, Enc, files, out, settings), jrDone) << User.Last();
    EXPECT_EQ(User.Told, (std::vector<std::string>{"合并成功", "合并后删除源文件组，成功"}));
    EXPECT_FALSE(Exists(silent));

    // Read with the libraries' warnings on: a key-frame index without valid
    // times (no frame rate on the encoded stream) is skipped with one.
    FFLogger()->SetLogLevel(llWarning);
    test::LogCapture log;
    const test::MediaInfo info = test::ReadMediaInfo(out, {true});
    EXPECT_FALSE(log.Contains("eyframe")) << log.Lines().front().Text;
    ASSERT_TRUE(info.Ok()) << info.error;
    ASSERT_NE(info.Video(), nullptr);
    ASSERT_NE(info.Audio(), nullptr);
    EXPECT_EQ(info.Video()->width, 638);
    EXPECT_EQ(info.Video()->height, 360);
    EXPECT_EQ(info.Video()->decodedFrames, 300);
    EXPECT_GE(info.Video()->keyPackets, 2);
    EXPECT_EQ(info.Video()->decodeErrors, 0);
    EXPECT_EQ(info.Audio()->decodeErrors, 0);
    // Silence while the first clip plays, the tone during the second.
    const test::Samples sound = test::DecodeSamples(out);
    ASSERT_TRUE(info.Video()->endTime);
    EXPECT_NEAR(sound.End(), *info.Video()->endTime, 0.07);
    EXPECT_LT(sound.Rms(0.2, 5.8), 0.01);
    EXPECT_GT(sound.Rms(6.2, 11.8), 0.1);
    // The phone's picture (240x320 as shown) upright between two bars: 270
    // pixels tall is all of 360, so 270 wide... 360 * 240 / 320 = 270.
    const test::Picture p = test::DecodePicture(out, 175);
    ASSERT_FALSE(p.Empty());
    int left = 0;
    while (left < p.width && p.BlackColumn(left) > 0.9) ++left;
    int right = p.width;
    while (right > 0 && p.BlackColumn(right - 1) > 0.9) --right;
    EXPECT_NEAR(right - left, 270, 4);
    EXPECT_NEAR(left, p.width - right, 3);
    EXPECT_GT(p.MeanY(left + 5, 5, left + 40, 40), 200);      // the white mark, top left
    EXPECT_LT(p.MeanY(right - 40, 320, right - 5, 355), 40);  // the black one, bottom right
}

// Catches: a key-frame index asked of an FLV without video, which readers
// then reject as an invalid object.
TEST_F(MergeSafety, AnAudioOnlyMergeHasNoKeyFrameIndex) {
    const std::string a = Clip("a.flv", {"--no-video"});
    std::vector<std::string> files{a, a};
    const std::string out = Dir.File("out.flv");
    ASSERT_EQ(MergeWithChecks(User, Enc, files, out, Fast), jrDone) << User.Last();
    FFLogger()->SetLogLevel(llWarning);
    test::LogCapture log;
    const test::MediaInfo info = test::ReadMediaInfo(out);
    ASSERT_TRUE(info.Ok()) << info.error;
    EXPECT_FALSE(log.Contains("eyframe")) << log.Lines().front().Text;
    ASSERT_NE(info.Audio(), nullptr);
    EXPECT_EQ(info.Audio()->packets, 2 * test::ReadMediaInfo(a).Audio()->packets);
}

TEST_F(MergeSafety, SurveyReadsRotationAndStreams) {
    const std::string a = Clip("a.mp4", {"--duration", "1"});
    const TSourceFacts f = Facts(a);
    EXPECT_TRUE(f.HasVideo);
    EXPECT_TRUE(f.HasAudio);
    EXPECT_EQ(f.Width, 320);
    EXPECT_EQ(f.Rotation, 0);
    EXPECT_EQ(f.SampleRate, 44100);
    EXPECT_NEAR(f.Duration / 1e6, 1.0, 0.1);
    EXPECT_EQ(CodecName(f.VideoCodec), "h264");
}

}  // namespace
}  // namespace tw
