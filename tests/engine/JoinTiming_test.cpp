// tests/engine/JoinTiming_test.cpp — where the parts of a joined output lie
// in time, in both modes: the sources' chapters (and one per source) at the
// place each source took, a source trimmed by its MP4 edit list playing only
// what the list shows, and a source whose clock jumps going on without a
// gap.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/EngineFixture.h"
#include "tests/support/Media.h"
#include "transcoder/CustomFFmpeg.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace tw {
namespace {

constexpr double kFrame = 0.04;         // one picture at 25 fps
constexpr double kAudioFrame = 0.0233;  // 1024 samples at 44100 Hz
// A re-encoded source's first picture lies up to a frame from where the
// join placed the source (the encoder keeps its frame grid), plus the
// muxer's shift of the whole output past the AAC priming.
constexpr double kReencodedStart = kFrame + kAudioFrame;

// What a player shows of a file's first stream of a type: the packets not
// marked discarded, their presentation times in file order, where the
// first starts and the last one ends, and how long they play together.
struct Shown {
    std::vector<double> pts;
    double first = 1e100, end = -1e100, played = 0;
};

Shown ShownPackets(const std::string& path, AVMediaType type) {
    Shown s;
    AVFormatContext* ic = nullptr;
    if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) return s;
    avformat_find_stream_info(ic, nullptr);
    const int index = av_find_best_stream(ic, type, -1, -1, nullptr, 0);
    AVPacket* pkt = av_packet_alloc();
    while (index >= 0 && av_read_frame(ic, pkt) >= 0) {
        if (pkt->stream_index == index && !(pkt->flags & AV_PKT_FLAG_DISCARD) &&
            pkt->pts != AV_NOPTS_VALUE) {
            const double tb = av_q2d(ic->streams[index]->time_base);
            s.pts.push_back(pkt->pts * tb);
            s.first = std::min(s.first, pkt->pts * tb);
            s.end = std::max(s.end, (pkt->pts + pkt->duration) * tb);
            s.played += pkt->duration * tb;
        }
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&ic);
    return s;
}

// The first time at or after t (less a little), or -1.
double FirstFrom(const std::vector<double>& times, double t) {
    double best = -1;
    for (double x : times)
        if (x >= t - 0.002 && (best < 0 || x < best)) best = x;
    return best;
}

// The longest step between neighbouring times.
double LongestGap(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    double gap = 0;
    for (size_t i = 1; i < times.size(); ++i) gap = std::max(gap, times[i] - times[i - 1]);
    return gap;
}

class JoinTiming : public test::EngineTest {
  protected:
    // Joins as the merge does, copying or re-encoding to H.264 + AAC, into
    // out (container by its extension); titles give one chapter per input.
    // The engine's error text, empty on success.
    std::string Join(const std::vector<std::string>& in, const std::string& out, bool copy,
                     const std::vector<std::string>& titles = {}) {
        TCustomFFmpeg e(20);
        e.SetVerbose(-1);
        e.SourceChapterTitles = titles;
        const std::string ext = out.substr(out.rfind('.') + 1);
        test::EngineOptions o = {{"f", ext == "mkv" ? "matroska" : ext}};
        if (copy)
            o.insert(o.end(), {{"vcodec", "copy"}, {"acodec", "copy"}});
        else
            o.insert(o.end(), {{"vcodec", "libx264"},
                               {"acodec", "aac"},
                               {"vpre", "libx264-default"},
                               {"ar", "44100"}});
        std::string error = test::RunEngine(e, in, out, o);
        Warnings = e.Warnings;
        return error;
    }
    static std::string Mode(bool copy) { return copy ? "copy" : "re-encode"; }
    std::vector<std::string> Warnings;
};

// --- chapters

// Catches: the chapters of every source after the first dropped (two
// 2-chapter sources giving 2 chapters), or left at the times of their own
// source instead of where it starts in the output.
TEST_F(JoinTiming, EverySourcesChaptersWhereItStarts) {
    for (const std::string src : {"mkv", "mp4"}) {
        const std::vector<std::string> in = {
            Clip("a." + src, {"--chapters", "2"}),
            Clip("b." + src, {"--chapters", "2", "--duration", "3", "--pattern", "1"})};
        for (const std::string ext : {"mkv", "mp4"})
            for (const bool copy : {true, false}) {
                SCOPED_TRACE(src + " -> " + ext + ", " + Mode(copy));
                const std::string out = Dir.File("o." + ext);
                ASSERT_EQ(Join(in, out, copy), "");
                const test::MediaInfo m = test::ReadMediaInfo(out);
                ASSERT_TRUE(m.Ok()) << m.error;
                ASSERT_EQ(m.chapters.size(), 4u);
                const Shown video = ShownPackets(out, AVMEDIA_TYPE_VIDEO);
                const double bStart = FirstFrom(video.pts, video.first + 2.0);
                const double expected[] = {video.first, video.first + 1.0, bStart, bStart + 1.5};
                for (size_t i = 0; i < 4; ++i) {
                    EXPECT_NEAR(m.chapters[i].start, expected[i], kReencodedStart)
                        << "chapter " << i;
                    EXPECT_EQ(m.chapters[i].title, i % 2 ? "Chapter 2" : "Chapter 1");
                }
            }
    }
}

// Catches: chapters placed by the sources' durations before the header and
// never moved to where the loop put each source (a source copied from the
// key frame before its shown start is longer than its duration says).
TEST_F(JoinTiming, ChaptersFollowWhereTheSourceWasPlaced) {
    const std::vector<std::string> in = {
        Clip("a.mp4", {"--chapters", "2"}),
        Clip("t.mp4", {"--duration", "4", "--trim", "1:3", "--gop", "40", "--pattern", "2"}),
        Clip("b.mp4", {"--chapters", "2", "--pattern", "1"})};
    for (const std::string ext : {"mp4", "mkv"}) {
        SCOPED_TRACE(ext);
        const std::string out = Dir.File("o." + ext);
        ASSERT_EQ(Join(in, out, true), "");
        const test::MediaInfo m = test::ReadMediaInfo(out);
        ASSERT_EQ(m.chapters.size(), 4u);
        const Shown video = ShownPackets(out, AVMEDIA_TYPE_VIDEO);
        // b's pictures are the last 50.
        ASSERT_GE(video.pts.size(), 150u);
        const double bStart = video.pts[video.pts.size() - 50];
        EXPECT_NEAR(m.chapters[2].start, bStart, kFrame);
        EXPECT_NEAR(m.chapters[3].start, bStart + 1.0, kFrame);
    }
}

// Catches: --chapters-per-source ignored by the engine, or its chapters not
// at each source's start, in either mode.
TEST_F(JoinTiming, OneChapterPerSourceWithItsTitle) {
    const std::vector<std::string> in = {Clip("n1.flv"),
                                         Clip("n2.flv", {"--pattern", "1", "--bframes", "2"})};
    for (const bool copy : {true, false}) {
        SCOPED_TRACE(Mode(copy));
        const std::string out = Dir.File("o.mkv");
        ASSERT_EQ(Join(in, out, copy, {"first", "second"}), "");
        const test::MediaInfo m = test::ReadMediaInfo(out);
        ASSERT_EQ(m.chapters.size(), 2u);
        const Shown video = ShownPackets(out, AVMEDIA_TYPE_VIDEO);
        EXPECT_EQ(m.chapters[0].title, "first");
        EXPECT_EQ(m.chapters[1].title, "second");
        EXPECT_NEAR(m.chapters[0].start, video.first, kFrame);
        EXPECT_NEAR(m.chapters[1].start, FirstFrom(video.pts, video.first + 2.0), kReencodedStart);
        EXPECT_NEAR(m.chapters[1].end, video.end, 2 * kFrame);
    }
}

// --- edit lists

// The trimmed clip: 4 s of media, the edit list shows 1 s to 3 s, key
// frames every 1.6 s (the shown start needs the one at 0).
class EditLists : public JoinTiming {
  protected:
    void SetUp() override {
        JoinTiming::SetUp();
        Trimmed = Clip("t.mp4", {"--duration", "4", "--trim", "1:3", "--gop", "40"});
        Plain = Clip("a.mp4", {"--pattern", "1"});
    }
    // Each part's sound starts with the picture shown at that moment: the
    // first audio at or after the part's first shown picture lies within one
    // audio frame of it.
    void ExpectInSync(const Shown& video, const Shown& audio, const std::vector<size_t>& firsts) {
        for (size_t first : firsts) {
            ASSERT_LT(first, video.pts.size());
            const double picture = video.pts[first];
            EXPECT_NEAR(FirstFrom(audio.pts, picture - kAudioFrame), picture, kAudioFrame)
                << "part starting with picture " << first;
        }
    }
    std::string Trimmed, Plain;
};

// Catches: the trimmed source copied whole (the pictures after the shown end
// kept; 6.03 s of video against 5.03 s of audio), its sound drifting from
// its picture, in FLV where the copy must start at the earlier key frame.
TEST_F(EditLists, FastMergeIntoFlvPlaysTheShownPart) {
    const std::vector<std::vector<std::string>> orders = {{Trimmed, Plain}, {Plain, Trimmed}};
    for (const auto& in : orders) {
        SCOPED_TRACE(in[0]);
        const std::string out = Dir.File("o.flv");
        ASSERT_EQ(Join(in, out, true), "");
        const Shown video = ShownPackets(out, AVMEDIA_TYPE_VIDEO);
        const Shown audio = ShownPackets(out, AVMEDIA_TYPE_AUDIO);
        // 25 pictures from the key frame to the shown start, 50 shown, 50 of
        // the plain clip: nothing past the shown end.
        EXPECT_EQ(video.pts.size(), 125u);
        // The sound is the shown length; where the trimmed clip comes second
        // it waits while the pictures from its key frame play.
        EXPECT_NEAR(audio.played, 4.0, 2 * kAudioFrame);
        EXPECT_LE(video.end - video.first, 4.0 + 1.6 + kFrame);  // at most one GOP more
        ExpectInSync(video, audio,
                     in[0] == Trimmed ? std::vector<size_t>{25, 75} : std::vector<size_t>{0, 75});
        const test::MediaInfo m = test::ReadMediaInfo(out, {.decode = true});
        EXPECT_EQ(m.Video()->decodeErrors, 0);
        EXPECT_EQ(m.Audio()->decodeErrors, 0);
        EXPECT_EQ(m.Video()->decodedFrames, 125);
    }
}

// Catches: an MP4 output showing more than the sources show: its own edit
// list hides the pictures before the first source's shown start, so picture
// and sound are exactly the shown length.
TEST_F(EditLists, FastMergeIntoMp4IsExact) {
    const std::string out = Dir.File("o.mp4");
    ASSERT_EQ(Join({Trimmed, Plain}, out, true), "");
    const Shown video = ShownPackets(out, AVMEDIA_TYPE_VIDEO);
    const Shown audio = ShownPackets(out, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(video.pts.size(), 100u);
    EXPECT_NEAR(video.end - video.first, 4.0, kFrame);
    EXPECT_NEAR(audio.end - audio.first, 4.0, 2 * kAudioFrame);
    ExpectInSync(video, audio, {0, 50});
}

// Catches: a re-encoding merge showing the hidden pictures or sound.
TEST_F(EditLists, ReencodingShowsOnlyTheShownPart) {
    const std::string out = Dir.File("o.mp4");
    ASSERT_EQ(Join({Trimmed, Plain}, out, false), "");
    const test::MediaInfo m = test::ReadMediaInfo(out, {.decode = true});
    ASSERT_TRUE(m.Ok()) << m.error;
    EXPECT_NEAR(m.Video()->decodedFrames, 100, 1);
    EXPECT_NEAR(double(m.Audio()->decodedSamples) / 44100, 4.0, 2 * kAudioFrame);
    const Shown video = ShownPackets(out, AVMEDIA_TYPE_VIDEO);
    const Shown audio = ShownPackets(out, AVMEDIA_TYPE_AUDIO);
    ExpectInSync(video, audio, {0});
}

// --- clock jumps

// Catches: a clock that goes back failing the merge ("Invalid argument"), one
// that leaps ahead leaving a gap of that size (outputs hundreds of hours
// long), without a word naming the source and the time.
TEST_F(JoinTiming, ClockJumpsGoOnWithoutAGap) {
    const std::string plain = Clip("n.flv");
    for (const std::string ext : {"flv", "ts"})
        for (const std::string delta : {"-1.2", "20"}) {
            const std::string jumping =
                Clip("j." + ext, {"--duration", "3", "--ts-jump", "1.5:" + delta});
            for (const bool copy : {true, false}) {
                SCOPED_TRACE(ext + " " + delta + " " + Mode(copy));
                const std::string out = Dir.File("o.mkv");
                ASSERT_EQ(Join({plain, jumping}, out, copy), "");
                for (const AVMediaType type : {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO}) {
                    const Shown s = ShownPackets(out, type);
                    EXPECT_NEAR(s.end - s.first, 5.0, 3 * kFrame);
                    EXPECT_LE(LongestGap(s.pts), 2 * kFrame + 0.005);
                }
                ASSERT_EQ(Warnings.size(), 1u);
                const std::string& w = Warnings[0];
                EXPECT_EQ(w.rfind(jumping + ": ", 0), 0u) << w;
                const std::string way = delta[0] == '-' ? "back by " : "forward by ";
                const size_t by = w.find(way);
                ASSERT_NE(by, std::string::npos) << w;
                EXPECT_NEAR(std::atof(w.c_str() + by + way.size()),
                            std::fabs(std::atof(delta.c_str())), 0.05)
                    << w;
                const size_t at = w.find(" at ");
                ASSERT_NE(at, std::string::npos) << w;
                EXPECT_NEAR(std::atof(w.c_str() + at + 4), 1.5, 0.1) << w;
            }
        }
}

// Catches: ordinary streams taken for jumps: pictures stored out of order
// (Matroska gives no decode times), a pause of a few seconds, an audio-only
// source with a short gap.
TEST_F(JoinTiming, OrdinaryTimesAreNoJumps) {
    const std::string bframes = Clip("b.mkv", {"--bframes", "2"});
    const std::string pause = Clip("p.flv", {"--ts-jump", "1:3"});
    const std::string song = Clip("s.flv", {"--no-video", "--ts-jump", "1:2"});
    ASSERT_EQ(Join({bframes, Clip("b2.mkv", {"--bframes", "2", "--pattern", "1"})},
                   Dir.File("o1.mkv"), true),
              "");
    EXPECT_TRUE(Warnings.empty());
    ASSERT_EQ(Join({Clip("n.flv"), pause}, Dir.File("o2.mkv"), true), "");
    EXPECT_TRUE(Warnings.empty());
    // The pause stays: 2 s, then 1 s, 3 s of nothing, 1 s.
    EXPECT_NEAR(ShownPackets(Dir.File("o2.mkv"), AVMEDIA_TYPE_VIDEO).end, 7.0, 3 * kFrame);
    ASSERT_EQ(Join({song, Clip("s2.flv", {"--no-video"})}, Dir.File("o3.mkv"), true), "");
    EXPECT_TRUE(Warnings.empty());
}

}  // namespace
}  // namespace tw
