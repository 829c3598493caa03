// tests/probe/StreamAnalysis_test.cpp — what the analysis of a source finds
// does not depend on the threads its probe decoders are given.
#include "binding/StreamAnalysis.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/FFLoad.h"
#include "media/SourceSurvey.h"
#include "probe/FFDecode.h"
#include "tests/support/Media.h"
#include "tests/support/TempDir.h"

namespace tw {
namespace {

// Everything the survey and the merge read of an analysed source, one line
// per value, so that a difference names itself.
std::string AnalysedFacts(const std::string& file) {
    TFFDecoder d;
    if (!d.LoadFile(file)) return "not loaded: " + d.LastError;
    const AVFormatContext* ic = d.FormatContext();
    const TSourceFacts f = SurveySource(ic, file);
    std::string text;
    auto add = [&text](const std::string& name, const std::string& value) {
        text += name + "=" + value + "\n";
    };
    add("duration", std::to_string(ic->duration));
    add("estimated from", std::to_string(int(ic->duration_estimation_method)));
    add("start", std::to_string(ic->start_time));
    add("video", CodecName(f.VideoCodec) + " profile " + std::to_string(f.VideoProfile) +
                     " level " + std::to_string(f.VideoLevel) + " " + std::to_string(f.Width) +
                     "x" + std::to_string(f.Height) + " pixfmt " + std::to_string(f.PixFmt));
    add("aspect", std::to_string(f.SampleAspect.num) + ":" + std::to_string(f.SampleAspect.den));
    add("rate", std::to_string(f.FrameRate.num) + "/" + std::to_string(f.FrameRate.den));
    add("video config", f.VideoConfig);
    add("rotation", std::to_string(f.Rotation));
    add("audio", CodecName(f.AudioCodec) + " profile " + std::to_string(f.AudioProfile) + " " +
                     std::to_string(f.SampleRate) + " Hz " + std::to_string(f.Channels) + " ch");
    add("audio config", f.AudioConfig);
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        const AVStream* st = ic->streams[i];
        const AVCodecParameters* par = st->codecpar;
        add("stream " + std::to_string(i),
            "reorder delay " + std::to_string(par->video_delay) + " format " +
                std::to_string(par->format) + " start " + std::to_string(st->start_time) +
                " duration " + std::to_string(st->duration) + " base rate " +
                std::to_string(st->r_frame_rate.num) + "/" + std::to_string(st->r_frame_rate.den) +
                " frame size " + std::to_string(par->frame_size) + " padding " +
                std::to_string(par->initial_padding));
    }
    return text;
}

class SurveyAnalysis : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(FFLoader().Load(CopyLibraryKinds)) << FFLoader().LastErrMsg();
    }
    void TearDown() override { SetSingleThreadAnalysis(true); }
    test::TempDir Dir;
};

// Catches: one-thread probe decoders finding other facts than the library's
// own choice (profile, level, pixel format, reorder delay, sizes, durations,
// AAC priming) for the shapes users have: MP4 with B-frames and AAC
// priming, MPEG-TS, Matroska, FLV, a turned phone clip, a clip without sound,
// an odd-sized 4:4:4 one.
TEST_F(SurveyAnalysis, OneDecoderThreadFindsTheSameFacts) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> shapes = {
        {"bframes.mp4", {"--bframes", "2"}},
        {"bframes.ts", {"--bframes", "2"}},
        {"bframes.mkv", {"--bframes", "3"}},
        {"plain.flv", {"--bframes", "1"}},
        {"turned.mp4", {"--rotate", "90"}},
        {"silent.mkv", {"--no-audio", "--bframes", "2"}},
        {"odd.mp4", {"--size", "161x97", "--pix-fmt", "yuv444p", "--bframes", "2"}},
    };
    for (const auto& [name, options] : shapes) {
        std::vector<std::string> args = {"--duration", "1"};
        if (name != "odd.mp4") args.insert(args.end(), {"--size", "160x96"});
        args.insert(args.end(), options.begin(), options.end());
        const std::string file = test::GenerateClip(Dir.File(name), args);
        SetSingleThreadAnalysis(false);
        const std::string libraryChoice = AnalysedFacts(file);
        SetSingleThreadAnalysis(true);
        const std::string oneThread = AnalysedFacts(file);
        EXPECT_EQ(oneThread, libraryChoice) << name;
        EXPECT_EQ(oneThread.find("not loaded"), std::string::npos) << oneThread;
    }
}

}  // namespace
}  // namespace tw
