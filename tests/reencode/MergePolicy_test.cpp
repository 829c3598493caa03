// tests/reencode/MergePolicy_test.cpp — the join driver's re-encoding merge:
// pictures fitted upright into the output size, silence for sources without
// audio, odd sizes and other pixel formats.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "binding/FFLoad.h"
#include "diag/FFLog.h"
#include "tests/support/EngineFixture.h"
#include "tests/support/Frames.h"
#include "tests/support/Media.h"
#include "tests/support/TempDir.h"
#include "transcoder/CustomFFmpeg.h"

namespace tw {
namespace {

class MergePolicy : public test::EngineTest {
  protected:
    MergePolicy() { ClipDefaults = {"--duration", "1"}; }
    // A re-encoding merge with the driver's settings: the output size (the
    // first source's displayed size, even), 4:2:0, the first audio source's
    // channels and rate, and both merge switches.
    bool Merge(const std::vector<std::string>& inputs, const std::string& out,
               const std::string& size, bool switches = true) {
        TCustomFFmpeg e(20);
        e.SetVerbose(-1);
        e.FitPictures = e.FillMissingAudio = switches;
        Error = test::RunEngine(e, inputs, out,
                                {{"f", "flv"},
                                 {"vcodec", "libx264"},
                                 {"acodec", "aac"},
                                 {"vpre", "libx264-default"},
                                 {"s", size},
                                 {"pix_fmt", "yuv420p"},
                                 {"ar", "44100"},
                                 {"ac", "2"}});
        return Error.empty();
    }
    std::string Error;
};

// Rows (or columns) of black padding at the start and end of a picture.
struct Bars {
    int before = 0, after = 0;
};
Bars RowBars(const test::Picture& p) {
    Bars b;
    while (b.before < p.height && p.BlackRow(b.before) > 0.95) ++b.before;
    while (b.after < p.height && p.BlackRow(p.height - 1 - b.after) > 0.95) ++b.after;
    return b;
}
Bars ColumnBars(const test::Picture& p) {
    Bars b;
    while (b.before < p.width && p.BlackColumn(b.before) > 0.95) ++b.before;
    while (b.after < p.width && p.BlackColumn(p.width - 1 - b.after) > 0.95) ++b.after;
    return b;
}

// Catches: a later source of another shape stretched to the output size, the
// padding off centre or not black, non-square output pixels.
TEST_F(MergePolicy, PortraitThenLandscapeKeepsEachAspect) {
    const std::vector<std::string> inputs = {Clip("portrait.mp4", {"--size", "180x320"}),
                                             Clip("landscape.flv", {"--pattern", "1"})};
    const std::string out = Dir.File("joined.flv");
    ASSERT_TRUE(Merge(inputs, out, "180x320")) << Error;

    const test::Picture first = test::DecodePicture(out, 5);
    ASSERT_EQ(first.width, 180);
    ASSERT_EQ(first.height, 320);
    EXPECT_EQ(first.pixFmt, "yuv420p");
    EXPECT_EQ(first.sarNum, first.sarDen) << "pixels not square";
    EXPECT_LE(RowBars(first).before + RowBars(first).after, 2);

    // 320x240 into 180x320: 180x135 in the middle, black above and below.
    const test::Picture second = test::DecodePicture(out, 35);
    ASSERT_EQ(second.width, 180);
    const Bars rows = RowBars(second);
    const int content = second.height - rows.before - rows.after;
    EXPECT_NEAR(rows.before, rows.after, 3);
    EXPECT_NEAR(double(second.width) / content, 320.0 / 240.0, 0.04) << content << " rows";
    EXPECT_LE(ColumnBars(second).before, 1);
}

// Catches: a phone clip's display rotation ignored (sideways pictures) or
// applied the wrong way round, and the turned picture stretched.
TEST_F(MergePolicy, RotatedSourceComesOutUpright) {
    const std::vector<std::string> inputs = {
        Clip("landscape.flv"), Clip("phone.mp4", {"--rotate", "90", "--marks", "--pattern", "2"})};
    const std::string out = Dir.File("joined.flv");
    ASSERT_TRUE(Merge(inputs, out, "320x240")) << Error;
    // Displayed 240x320 into 320x240: 180x240 between two bars of 70.
    const test::Picture p = test::DecodePicture(out, 35);
    ASSERT_EQ(p.width, 320);
    ASSERT_EQ(p.height, 240);
    const Bars cols = ColumnBars(p);
    EXPECT_NEAR(cols.before, 70, 3);
    EXPECT_NEAR(cols.after, 70, 3);
    // The white mark is at the top-left of the picture, nothing white at its
    // top-right: upright, not turned either way or flipped.
    const int left = cols.before;
    const int right = p.width - cols.after;
    EXPECT_GT(p.MeanY(left + 5, 5, left + 40, 40), 200);
    EXPECT_LT(p.MeanY(right - 40, 5, right - 5, 40), 180);
    EXPECT_LT(p.MeanY(right - 40, 200, right - 5, 235), 40);  // the black mark
}

// Catches: a source whose picture size changes midway (two transport
// streams back to back) losing its later pictures or stretching them.
TEST_F(MergePolicy, SizeChangeWithinASourceIsFittedAgain) {
    const std::string a = Clip("a.ts", {"--no-audio"});
    const std::string b =
        Clip("b.ts", {"--no-audio", "--size", "160x90", "--start-time", "1", "--pattern", "1"});
    const std::string both = Dir.File("both.ts");
    {
        std::ofstream out(both, std::ios::binary);
        out << std::ifstream(a, std::ios::binary).rdbuf()
            << std::ifstream(b, std::ios::binary).rdbuf();
    }
    const std::string out = Dir.File("joined.flv");
    ASSERT_TRUE(Merge({Clip("first.flv", {"--no-audio"}), both}, out, "320x240")) << Error;
    const test::MediaInfo info = test::ReadMediaInfo(out, {.decode = true});
    ASSERT_TRUE(info.Ok()) << info.error;
    EXPECT_NEAR(info.Video()->decodedFrames, 3 * 25, 2);
    // 160x90 into 320x240: 320x180 between bars of 30.
    const test::Picture p = test::DecodePicture(out, 65);
    const Bars rows = RowBars(p);
    EXPECT_NEAR(rows.before, 30, 3);
    EXPECT_NEAR(rows.after, 30, 3);
    EXPECT_LE(ColumnBars(p).before, 1);
}

// Catches: a source in 4:4:4 or 4:2:2 giving a 4:4:4 stream most players
// refuse, and odd sizes (first or later source) the encoder cannot take.
TEST_F(MergePolicy, OddSizesAndOtherPixelFormatsGiveEven420) {
    const std::vector<std::string> inputs = {
        Clip("full.mp4", {"--size", "639x360", "--pix-fmt", "yuv444p"}),
        Clip("odd.ts", {"--size", "720x405", "--video-codec", "mpeg2video", "--pattern", "1"}),
        Clip("half.mkv", {"--pix-fmt", "yuv422p", "--pattern", "2"})};
    const std::string out = Dir.File("joined.flv");
    ASSERT_TRUE(Merge(inputs, out, "638x360")) << Error;
    const test::MediaInfo info = test::ReadMediaInfo(out, {.decode = true});
    ASSERT_TRUE(info.Ok()) << info.error;
    EXPECT_EQ(info.Video()->width, 638);
    EXPECT_EQ(info.Video()->height, 360);
    EXPECT_NEAR(info.Video()->decodedFrames, 3 * 25, 2);
    EXPECT_EQ(info.Video()->decodeErrors, 0);
    for (int frame : {5, 30, 55}) {
        const test::Picture p = test::DecodePicture(out, frame);
        EXPECT_EQ(p.pixFmt, "yuv420p") << "frame " << frame;
    }
}

// Where each source lies in the output: it lasts until its longer stream
// ends, the next one starting there; the whole output is shifted by the
// encoder's reorder delay (the first picture's time).
std::vector<double> SourceStarts(const std::vector<std::string>& inputs, const std::string& out) {
    const test::MediaInfo info = test::ReadMediaInfo(out);
    std::vector<double> starts;
    double t = info.Ok() && info.Video() ? info.Video()->firstPts.value_or(0) : 0;
    for (const auto& in : inputs) {
        starts.push_back(t);
        const test::MediaInfo src = test::ReadMediaInfo(in);
        double end = *src.Video()->endTime;
        if (src.Audio()) end = std::max(end, *src.Audio()->endTime);
        t += end;
    }
    starts.push_back(t);
    return starts;
}

// Output audio of a merge: as long as the video (within one AAC frame, plus
// what the last source's own audio is longer), quiet where a source had no
// audio, its tone elsewhere, and each source's tone starting with it.
void ExpectAudioPerSource(const std::vector<std::string>& inputs, const std::string& out) {
    const test::MediaInfo info = test::ReadMediaInfo(out);
    ASSERT_TRUE(info.Ok()) << info.error;
    ASSERT_NE(info.Audio(), nullptr) << "no audio stream";
    ASSERT_TRUE(info.Video()->endTime && info.Audio()->endTime);
    EXPECT_TRUE(info.Audio()->dtsMonotonic);
    const std::vector<double> starts = SourceStarts(inputs, out);
    const test::MediaInfo last = test::ReadMediaInfo(inputs.back());
    EXPECT_NEAR(*info.Video()->endTime, starts[inputs.size() - 1] + *last.Video()->endTime, 0.03)
        << "sources lost or doubled";
    const double excess =
        last.Audio() ? *last.Audio()->endTime - *last.Video()->endTime : 0.0;  // its priming
    const double frame = 1024.0 / 44100;
    EXPECT_GE(*info.Audio()->endTime, *info.Video()->endTime - frame) << "audio ends early";
    EXPECT_LE(*info.Audio()->endTime, *info.Video()->endTime + excess + frame) << "audio too long";

    const test::Samples samples = test::DecodeSamples(out);
    ASSERT_EQ(samples.rate, 44100);
    EXPECT_LT(samples.start, info.Video()->firstPts.value_or(0) + 0.001) << "audio starts late";
    for (size_t k = 0; k < inputs.size(); ++k) {
        const bool silent = test::ReadMediaInfo(inputs[k]).Audio() == nullptr;
        // Away from the joins, where the encoder's frames overlap.
        const double level = samples.Rms(starts[k] + 0.1, starts[k + 1] - 0.1);
        if (silent) {
            EXPECT_LT(level, 0.002) << "source " << k << " should be silent";
        } else {
            EXPECT_GT(level, 0.1) << "source " << k << " should carry its tone";
            // Its tone begins after its own priming (23 ms), neither before
            // the source nor later.
            EXPECT_GT(samples.Rms(starts[k] + 0.04, starts[k] + 0.1), 0.1) << "source " << k;
        }
        if (k > 0 && !silent && test::ReadMediaInfo(inputs[k - 1]).Audio() == nullptr) {
            EXPECT_LT(samples.Rms(starts[k] - 0.1, starts[k] - 0.01), 0.002) << "source " << k;
        }
    }
}

// Catches: a first source without audio leaving the whole output without
// audio (later sources' audio dropped without a word), a later one stopping
// the merge, silence shorter or longer than the source's video, the next
// source's audio not starting where its video starts, the last source's
// silence not drained from the encoder.
TEST_F(MergePolicy, SourcesWithoutAudioGiveSilenceOfTheirLength) {
    const std::string mute = Clip("mute.mp4", {"--no-audio", "--pattern", "1"});
    const std::string a = Clip("a.flv");
    const std::string b = Clip("b.ts", {"--pattern", "2", "--tone", "660"});
    const std::vector<std::vector<std::string>> merges = {{mute, a}, {a, mute, b}, {a, mute}};
    for (size_t i = 0; i < merges.size(); ++i) {
        SCOPED_TRACE("merge " + std::to_string(i));
        const std::string out = Dir.File("joined" + std::to_string(i) + ".flv");
        ASSERT_TRUE(Merge(merges[i], out, "320x240")) << Error;
        ExpectAudioPerSource(merges[i], out);
    }
}

// Catches: the merge switches changing what other callers get: without
// them the first input decides the streams, and a later input without audio
// is refused.
TEST_F(MergePolicy, WithoutTheSwitchesTheFirstInputDecides) {
    const std::string mute = Clip("mute.mp4", {"--no-audio"});
    const std::string a = Clip("a.flv");
    const std::string first = Dir.File("first.flv");
    ASSERT_TRUE(Merge({mute, a}, first, "320x240", false)) << Error;
    const test::MediaInfo info = test::ReadMediaInfo(first);
    ASSERT_TRUE(info.Ok()) << info.error;
    EXPECT_EQ(info.Audio(), nullptr);
    EXPECT_FALSE(Merge({a, mute}, Dir.File("later.flv"), "320x240", false));
    EXPECT_EQ(Error, "Could not find input stream matching output stream #1.1 (Audio)");
}

}  // namespace
}  // namespace tw
