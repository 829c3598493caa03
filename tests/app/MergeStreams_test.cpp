// tests/app/MergeStreams_test.cpp — what a merge keeps of its sources beyond
// one picture and one sound: further audio tracks, subtitles, cover art; what
// it says it leaves out; and the sources it refuses before writing.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/JoinDriver.h"
#include "binding/FFLoad.h"
#include "diag/FFLog.h"
#include "tests/support/EncoderFixture.h"
#include "tests/support/JoinProgram.h"
#include "tests/support/Media.h"
#include "tests/support/ScriptedUser.h"
#include "tests/support/TempDir.h"
#include "tests/support/Tracks.h"

namespace tw {
namespace {

using test::TrackRead;

std::vector<const TrackRead*> OfType(const std::vector<TrackRead>& tracks,
                                     const std::string& type) {
    std::vector<const TrackRead*> list;
    for (const TrackRead& t : tracks)
        if (t.type == type && !t.attachedPic) list.push_back(&t);
    return list;
}

// The index of a track in its file's list.
int IndexOf(const std::vector<TrackRead>& tracks, const TrackRead* t) {
    return static_cast<int>(t - tracks.data());
}

class MergeStreams : public test::EncoderTest {
  protected:
    // A merge through the driver, answering yes; its result.
    TJoinResult Merge(std::vector<std::string> files, const std::string& out, bool fast,
                      const std::string& container) {
        TJoinSettings settings;
        settings.FastJoin = fast;
        settings.Container = container;
        User.Answer = true;
        return MergeWithChecks(User, Enc, files, out, settings);
    }
    // Each audio track of out holds the packets of the same track of every
    // source, and plays that track's tone in the second source's part.
    void ExpectTracksFollowOn(const std::string& out, const std::vector<std::string>& sources,
                              bool copied) {
        const std::vector<TrackRead> o = test::ReadTracks(out);
        const std::vector<const TrackRead*> audio = OfType(o, "audio");
        ASSERT_EQ(audio.size(), 2u);
        EXPECT_EQ(audio[0]->language, "eng");
        EXPECT_EQ(audio[1]->language, "fra");
        const double second = OfType(o, "video")[0]->times[50];  // the second part's first picture
        for (size_t n = 0; n < audio.size(); ++n) {
            SCOPED_TRACE("track " + std::to_string(n + 1));
            size_t packets = 0;
            for (const std::string& s : sources)
                packets += OfType(test::ReadTracks(s), "audio")[n]->times.size();
            if (copied)
                EXPECT_EQ(audio[n]->times.size(), packets);
            else
                EXPECT_NEAR(double(audio[n]->times.size()), double(packets), 3);
            // Pattern 1 plays 550 Hz on track 1 and 825 Hz on track 2.
            EXPECT_NEAR(test::ToneHz(out, IndexOf(o, audio[n]), second + 0.3, second + 1.3),
                        550.0 * (1 + 0.5 * double(n)), 15);
        }
    }
    test::ScriptedUser User;
};

// Catches: a fast merge keeping only the first of two audio tracks (the
// second language lost, exit 0), a later source's tracks crossed over, the
// languages not carried over.
TEST_F(MergeStreams, TwoAudioTracksFastIntoMkvAndMp4) {
    const std::vector<std::string> in = {Clip("a.mp4", {"--audio-tracks", "2"}),
                                         Clip("b.mp4", {"--audio-tracks", "2", "--pattern", "1"})};
    for (const auto& [ext, container] : {std::pair{"mkv", "matroska"}, std::pair{"mp4", "mp4"}}) {
        SCOPED_TRACE(ext);
        const std::string out = Dir.File(std::string("o.") + ext);
        ASSERT_EQ(Merge(in, out, true, container), jrDone) << User.Last();
        EXPECT_EQ(User.Last(), "合并成功");
        ExpectTracksFollowOn(out, in, true);
    }
}

// Catches: the second track dropped from an FLV without a word, or the
// merge failing on a container with room for one audio stream.
TEST_F(MergeStreams, FlvKeepsTheFirstTrackAndSaysWhatItLeftOut) {
    const std::vector<std::string> in = {Clip("a.mp4", {"--audio-tracks", "2"}),
                                         Clip("b.mp4", {"--audio-tracks", "2", "--pattern", "1"})};
    const std::string out = Dir.File("o.flv");
    ASSERT_EQ(Merge(in, out, true, "flv"), jrDone) << User.Last();
    EXPECT_EQ(User.Last(),
              "合并成功\n注意：FLV 文件不能存入第一个文件的第 2 条音轨（aac，fra），"
              "合并后的文件不含这些流");
    const std::vector<TrackRead> o = test::ReadTracks(out);
    ASSERT_EQ(OfType(o, "audio").size(), 1u);
    EXPECT_NEAR(test::ToneHz(out, IndexOf(o, OfType(o, "audio")[0]), 2.3, 3.3), 550, 15);

    // The command line says it on standard error, as a warning.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        test::ExecJoin({"-f", "-y", "-o", Dir.File("cli.flv"), in[0], in[1]},
                       {.output = fds[1], .folder = {}, .fileLimit = 0});
    }
    ::close(fds[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) text.append(buf, size_t(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0) << text;
    EXPECT_NE(text.find("warning: Note: FLV cannot hold the first file's audio track 2 (aac, fra)"),
              std::string::npos)
        << text;
}

// Catches: SRT subtitles sent to an encoder in a fast merge ("The encoder
// timebase is not set"), the second source's cues missing or not moved to
// where it starts.
TEST_F(MergeStreams, SrtSubtitlesFastMergedWithEveryCueInPlace) {
    const std::vector<std::string> in = {
        Clip("a.mkv", {"--subtitles"}),
        Clip("b.mkv", {"--subtitles", "--pattern", "1", "--duration", "1.5"})};
    const std::string out = Dir.File("o.mkv");
    ASSERT_EQ(Merge(in, out, true, "matroska"), jrDone) << User.Last();
    const std::vector<TrackRead> o = test::ReadTracks(out);
    const auto subtitles = OfType(o, "subtitle");
    ASSERT_EQ(subtitles.size(), 1u);
    EXPECT_EQ(subtitles[0]->codec, "subrip");
    EXPECT_EQ(subtitles[0]->language, "eng");
    // 4 cues of the first source, 3 of the second, each where its source
    // plays: the second's cues start with its first picture.
    const std::vector<double>& cues = subtitles[0]->times;
    ASSERT_EQ(cues.size(), 7u);
    const double second = OfType(o, "video")[0]->times[50];
    const double expected[] = {0, 0.5, 1.0, 1.5, second, second + 0.5, second + 1.0};
    for (size_t i = 0; i < cues.size(); ++i) EXPECT_NEAR(cues[i], expected[i], 0.002) << i;
}

// Catches: a source with another track layout merged by copy (a hole in a
// track, or a track of the wrong language), or refused only after the
// output was begun.
TEST_F(MergeStreams, SourceWithAnotherTrackLayoutRefusedBeforeWriting) {
    const std::string two = Clip("two.mp4", {"--audio-tracks", "2"});
    const std::string one = Clip("one.mp4", {"--pattern", "1"});
    const std::string out = Dir.File("o.mkv");
    EXPECT_EQ(Merge({two, one}, out, true, "matroska"), jrError);
    EXPECT_EQ(User.Last(),
              one + "：缺少第一个文件有的第 2 条音轨，不能快速合并，请取消“快速合并”后再合并");
    EXPECT_FALSE(test::PathExists(out));
    EXPECT_EQ(Merge({one, two}, out, true, "matroska"), jrError);
    EXPECT_EQ(User.Last(),
              two + "：有第一个文件没有的第 2 条音轨，不能快速合并，请取消“快速合并”后再合并");
    EXPECT_FALSE(test::PathExists(out));

    const std::string subs = Clip("subs.mkv", {"--subtitles"});
    const std::string plain = Clip("plain.mkv", {"--pattern", "1"});
    EXPECT_EQ(Merge({subs, plain}, out, true, "matroska"), jrError);
    EXPECT_EQ(User.Last(),
              plain + "：缺少第一个文件有的第 1 条字幕，不能快速合并，请取消“快速合并”后再合并");
    EXPECT_FALSE(test::PathExists(out));
    // A re-encoding merge takes them: the missing track is silence.
    EXPECT_EQ(Merge({two, one}, out, false, "matroska"), jrDone) << User.Last();
    EXPECT_EQ(OfType(test::ReadTracks(out), "audio").size(), 2u);
}

// Catches: a re-encoding merge keeping only the first audio track, or
// feeding a later source's first track into the second.
TEST_F(MergeStreams, ReencodingIntoMkvKeepsBothTracks) {
    const std::vector<std::string> in = {Clip("a.mp4", {"--audio-tracks", "2"}),
                                         Clip("b.mp4", {"--audio-tracks", "2", "--pattern", "1"})};
    const std::string out = Dir.File("o.mkv");
    ASSERT_EQ(Merge(in, out, false, "matroska"), jrDone) << User.Last();
    ExpectTracksFollowOn(out, in, false);
}

// Catches: SRT subtitles of a re-encoding merge into MP4 lost, or the
// timed-text encoder failing to open (no time base, no styles).
TEST_F(MergeStreams, ReencodingIntoMp4ConvertsSrtToTimedText) {
    const std::vector<std::string> in = {
        Clip("a.mkv", {"--subtitles"}),
        Clip("b.mkv", {"--subtitles", "--pattern", "1", "--duration", "1.5"})};
    const std::string out = Dir.File("o.mp4");
    ASSERT_EQ(Merge(in, out, false, "mp4"), jrDone) << User.Last();
    EXPECT_EQ(User.Last(), "合并成功");
    const std::vector<TrackRead> tracks = test::ReadTracks(out);
    const auto subtitles = OfType(tracks, "subtitle");
    ASSERT_EQ(subtitles.size(), 1u);
    EXPECT_EQ(subtitles[0]->codec, "mov_text");
    EXPECT_EQ(subtitles[0]->language, "eng");
    // MP4 fills the gaps between cues with empty samples: the last cue is
    // the second source's third, a second after that source begins.
    ASSERT_FALSE(subtitles[0]->times.empty());
    EXPECT_NEAR(subtitles[0]->times.back(), 3.0, 0.1);

    // A fast merge cannot convert: it leaves them out and says so.
    ASSERT_EQ(Merge(in, Dir.File("fast.mp4"), true, "mp4"), jrDone) << User.Last();
    EXPECT_NE(User.Last().find("第 1 条字幕（subrip，eng）"), std::string::npos) << User.Last();
}

// Runs tarnwick-join, killed after limitSeconds; its exit status, -2 when
// it had to be killed.
int JoinWithin(const std::vector<std::string>& args, int limitSeconds) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        test::ExecJoin(args, {.output = null, .folder = {}, .fileLimit = 0});
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(limitSeconds);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) != pid) {
        if (std::chrono::steady_clock::now() > end) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            return -2;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The attached pictures (cover art) of a file.
std::vector<const TrackRead*> Covers(const std::vector<TrackRead>& tracks) {
    std::vector<const TrackRead*> list;
    for (const TrackRead& t : tracks)
        if (t.attachedPic) list.push_back(&t);
    return list;
}

// Catches: the frame rate of a re-encode taken from the cover picture
// (90000 fps: the merge never ends), the cover encoded as a picture of the
// video, the cover lost where the container holds one (MP4: an attached
// picture; Matroska: an image attachment, read back as one).
TEST_F(MergeStreams, Mp4sWithCoverArtReencodeInNormalTimeAndKeepTheCover) {
    const std::string a = Clip("a.mp4", {"--cover"});
    const std::string b = Clip("b.mp4", {"--cover", "--pattern", "1"});
    for (const std::string ext : {"mp4", "mkv"}) {
        SCOPED_TRACE(ext);
        const std::string out = Dir.File("o." + ext);
        ASSERT_EQ(JoinWithin({"-y", "-q", "-o", out, a, b}, 120), 0);
        const test::MediaInfo info = test::ReadMediaInfo(out, {.decode = true});
        ASSERT_TRUE(info.Ok()) << info.error;
        ASSERT_NE(info.Video(), nullptr);
        EXPECT_EQ(info.Video()->codec, "h264");
        EXPECT_NEAR(info.Video()->fps, 25, 0.01);
        EXPECT_EQ(info.Video()->decodedFrames, 100);
        const std::vector<TrackRead> o = test::ReadTracks(out);
        EXPECT_EQ(OfType(o, "video").size(), 1u);
        ASSERT_EQ(Covers(o).size(), 1u);
        EXPECT_EQ(Covers(o)[0]->codec, "png");
    }
    // A fast merge keeps it too, and copies every picture of the video.
    const std::string out = Dir.File("fast.mp4");
    ASSERT_EQ(Merge({a, b}, out, true, "mp4"), jrDone) << User.Last();
    EXPECT_EQ(User.Last(), "合并成功");
    const std::vector<TrackRead> o = test::ReadTracks(out);
    ASSERT_EQ(OfType(o, "video").size(), 1u);
    EXPECT_EQ(OfType(o, "video")[0]->times.size(), 100u);
    EXPECT_EQ(Covers(o).size(), 1u);
}

// Catches: songs with covers re-encoded with a one-frame H.264 "video", or
// refused in a fast merge into FLV ("... video cannot be stored in flv").
TEST_F(MergeStreams, Mp3SongsWithCoversBecomeAudioOnly) {
    // (An MP4 of them keeps the cover as cover art, no video.)
    const std::vector<std::string> in = {
        Clip("a.mp3", {"--no-video", "--audio-codec", "libmp3lame", "--cover"}),
        Clip("b.mp3", {"--no-video", "--audio-codec", "libmp3lame", "--cover", "--tone", "660"})};
    const std::string out = Dir.File("o.mp4");
    ASSERT_EQ(Merge(in, out, false, "mp4"), jrDone) << User.Last();
    std::vector<TrackRead> o = test::ReadTracks(out);
    EXPECT_TRUE(OfType(o, "video").empty());
    EXPECT_EQ(Covers(o).size(), 1u);
    ASSERT_EQ(OfType(o, "audio").size(), 1u);
    EXPECT_NEAR(test::ToneHz(out, IndexOf(o, OfType(o, "audio")[0]), 2.5, 3.5), 660, 15);

    const std::string flv = Dir.File("o.flv");
    ASSERT_EQ(Merge(in, flv, true, "flv"), jrDone) << User.Last();
    EXPECT_NE(User.Last().find("封面图片（png）"), std::string::npos) << User.Last();
    o = test::ReadTracks(flv);
    EXPECT_EQ(o.size(), 1u);
    ASSERT_EQ(OfType(o, "audio").size(), 1u);
    size_t packets = 0;
    for (const std::string& s : in)
        packets += OfType(test::ReadTracks(s), "audio")[0]->times.size();
    EXPECT_EQ(OfType(o, "audio")[0]->times.size(), packets);
}

// Catches: MPEG-4 Part 2 passing the check before writing and then refused
// by the FLV muxer in English without the file's name.
TEST_F(MergeStreams, Mpeg4PartTwoRefusedUpFrontForFlv) {
    const std::string a = Clip("a.avi", {"--video-codec", "mpeg4"});
    const std::string b = Clip("b.avi", {"--video-codec", "mpeg4", "--pattern", "1"});
    const std::string out = Dir.File("o.flv");
    EXPECT_EQ(Merge({a, b}, out, true, "flv"), jrError);
    EXPECT_EQ(User.Last(),
              a + "：mpeg4 视频不能存入 FLV 文件，不能快速合并，请取消“快速合并”后再合并");
    EXPECT_FALSE(test::PathExists(out));
    // Into Matroska it is copied.
    ASSERT_EQ(Merge({a, b}, Dir.File("o.mkv"), true, "matroska"), jrDone) << User.Last();
}

}  // namespace
}  // namespace tw
