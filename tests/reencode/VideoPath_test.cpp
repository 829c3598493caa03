// tests/reencode/VideoPath_test.cpp — the picture side of re-encoding:
// hooks, frame-hook modules, the filter graph, frame-rate synchronisation,
// size changes, deinterlacing, the preview and the statistics file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "binding/Entries.h"
#include "binding/FFLoad.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Media.h"
#include "tests/support/Pictures.h"
#include "tests/support/TempDir.h"
#include "transcoder/paths/AudioVolume.h"
#include "transcoder/CustomFFmpeg.h"
#include "transcoder/paths/Deinterlace.h"
#include "transcoder/files/StreamTables.h"

namespace tw {
namespace {

using Configure = std::function<void(TCustomFFmpeg&)>;

class VideoPath : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds)) << FFLoader().LastErrMsg();
    }

    std::string Clip(const std::string& name, std::vector<std::string> args = {}) {
        args.insert(args.begin(), {"--no-audio", "--duration", "1"});  // later ones win
        return test::GenerateClip(Dir.File(name), args);
    }
    // Re-encodes one input to H.264 in FLV; before the output opens,
    // `before` adjusts the engine, `after` once it is open.
    bool Encode(const std::string& in, const std::string& out, const Configure& before,
                const Configure& after = {}) {
        TCustomFFmpeg e(4);
        e.SetVerbose(-1);
        if (!e.OpenInputFile(in)) {
            Error = e.LastError;
            return false;
        }
        e.SetOption("vcodec", "libx264");
        if (WithPreset) e.SetOption("vpre", "libx264-default");
        if (before) before(e);
        if (e.OpenOutputFile(out, false) != 1) {
            Error = e.LastError;
            return false;
        }
        if (after) after(e);
        e.Start(false);
        Error = e.ErrorMessage;
        Dups = e.Counters.DupFrames;
        Drops = e.Counters.DropFrames;
        FlagsAfter = e.PreviewFlags();
        return !e.ErrorRaised;
    }
    std::string HookModule() const { return std::string(TW_BUILD_DIR) + "/hooks/twhook_fill.so"; }

    test::LogCapture Log;
    test::TempDir Dir;
    std::string Error;
    int Dups = 0, Drops = 0, FlagsAfter = -1;
    bool WithPreset = true;
};

double Mean(const std::vector<double>& v) {
    double s = 0;
    for (double x : v) s += x;
    return v.empty() ? -1 : s / v.size();
}

// Catches: edits of the bitmap not reaching the encoder, a stop request of
// the handler ignored, or a throwing handler ending the run.
TEST_F(VideoPath, InputHookEditsStopsAndSurvivesItsHandler) {
    const std::string src = Clip("src.flv");
    const double source = Mean(test::MeanLumas(src, 25));

    int calls = 0;
    int lastFrame = 0;
    ASSERT_TRUE(Encode(src, Dir.File("white.flv"), [&](TCustomFFmpeg& e) {
        e.VideoInputHookCallback = [&](TCustomFFmpeg*, TBitmap* bmp, bool&, bool& update, int64_t,
                                       int frame) {
            ++calls;
            lastFrame = frame;
            for (int y = 0; y < bmp->Height(); ++y)
                std::memset(bmp->ScanLine(y), 255, bmp->RowSize());
            update = true;
        };
    })) << Error;
    EXPECT_EQ(calls, 25);
    EXPECT_EQ(lastFrame, 25);
    EXPECT_GT(Mean(test::MeanLumas(Dir.File("white.flv"), 25)), 225);

    calls = 0;
    ASSERT_TRUE(Encode(src, Dir.File("stopped.flv"), [&](TCustomFFmpeg& e) {
        e.VideoInputHookCallback = [&](TCustomFFmpeg*, TBitmap*, bool& stop, bool& update, int64_t,
                                       int) {
            ++calls;
            update = false;
            stop = true;
        };
    })) << Error;
    EXPECT_EQ(calls, 1);

    calls = 0;
    ASSERT_TRUE(Encode(src, Dir.File("threw.flv"), [&](TCustomFFmpeg& e) {
        e.VideoInputHookCallback = [&](TCustomFFmpeg*, TBitmap* bmp, bool&, bool&, int64_t, int) {
            ++calls;
            std::memset(bmp->ScanLine(0), 255, bmp->RowSize());
            throw std::runtime_error("boom");
        };
    })) << Error;
    EXPECT_EQ(calls, 25);
    EXPECT_EQ(Log.Count("Error occurs VideoHook event: boom"), 25);
    // The picture went on unchanged.
    EXPECT_NEAR(Mean(test::MeanLumas(Dir.File("threw.flv"), 25)), source, 3);
}

// Catches: output hook numbering, times or sizes of the scaled picture, and
// preview bitmaps not handed out (or the window flag kept without a window).
TEST_F(VideoPath, OutputHookAndPreviewSeeTheScaledPictures) {
    const std::string src = Clip("src.flv");
    std::vector<int> frames;
    std::vector<int64_t> times;
    int width = 0, previews = 0, previewWidth = 0;
    ASSERT_TRUE(Encode(src, Dir.File("out.flv"), [&](TCustomFFmpeg& e) {
        e.SetOption("s", "160x120");
        e.VideoOutputHookCallback = [&](TCustomFFmpeg*, TBitmap* bmp, bool&, bool& update,
                                        int64_t pts, int frame) {
            frames.push_back(frame);
            times.push_back(pts);
            width = bmp->Width();
            update = false;
        };
        e.PreviewCallback = [&](TCustomFFmpeg*, TBitmap* bmp, int64_t, int) {
            ++previews;
            previewWidth = bmp->Width();
        };
        e.PreviewIntervalUs = -1;  // every picture
        e.SetPreviewFlags(TCustomFFmpeg::pfBitmap | TCustomFFmpeg::pfWindow);
    })) << Error;
    ASSERT_EQ(frames.size(), 25u);
    EXPECT_EQ(frames.front(), 1);
    EXPECT_EQ(frames.back(), 25);
    EXPECT_EQ(times[1] - times[0], 40000);
    EXPECT_EQ(width, 160);
    EXPECT_EQ(previews, 25);
    EXPECT_EQ(previewWidth, 160);

    // No window to show pictures in: the window preview switches itself off.
    ASSERT_TRUE(Encode(src, Dir.File("window.flv"), [&](TCustomFFmpeg& e) {
        e.PreviewIntervalUs = -1;
        e.SetPreviewFlags(TCustomFFmpeg::pfWindow);
    })) << Error;
    EXPECT_EQ(FlagsAfter, 0);
}

// Catches: frame-hook modules not run over the pictures, or a copy allowed
// with them.
TEST_F(VideoPath, FrameHookModulePaintsEveryPicture) {
    const std::string src = Clip("src.flv");
    ASSERT_TRUE(Encode(src, Dir.File("black.flv"), [&](TCustomFFmpeg& e) {
        e.SetOption("vhook", HookModule() + "|16");
    })) << Error;
    const std::vector<double> lumas = test::MeanLumas(Dir.File("black.flv"), 25);
    ASSERT_EQ(lumas.size(), 25u);
    EXPECT_LT(lumas.front(), 20);
    EXPECT_LT(lumas.back(), 20);

    EXPECT_FALSE(Encode(src, Dir.File("copy.flv"), [&](TCustomFFmpeg& e) {
        e.SetOption("vhook", HookModule());
        e.SetOption("vcodec", "copy");
    }));
    EXPECT_EQ(Error, "-vcodec copy and -vhook are incompatible (frames are not decoded)");
}

// Catches: the user's chain not applied, its size not reaching the encoder,
// or the graph's pictures not in the encoder's format.
TEST_F(VideoPath, FilterGraphScalesAndRunsTheChain) {
    const std::string src = Clip("src.flv");
    ASSERT_TRUE(Encode(src, Dir.File("scaled.flv"), [&](TCustomFFmpeg& e) {
        e.SetOption("s", "160x120");
        e.SetOption("vf", "hflip");
    })) << Error;
    test::MediaInfo info = test::ReadMediaInfo(Dir.File("scaled.flv"), {.decode = true});
    ASSERT_TRUE(info.Ok()) << info.error;
    EXPECT_EQ(info.Video()->width, 160);
    EXPECT_EQ(info.Video()->height, 120);
    EXPECT_EQ(info.Video()->decodedFrames, 25);

    // A chain that changes the size itself.
    ASSERT_TRUE(Encode(src, Dir.File("cropped.flv"), [&](TCustomFFmpeg& e) {
        e.SetOption("vf", "crop=128:96");
    })) << Error;
    info = test::ReadMediaInfo(Dir.File("cropped.flv"));
    EXPECT_EQ(info.Video()->width, 128);
    EXPECT_EQ(info.Video()->height, 96);

    EXPECT_FALSE(Encode(src, Dir.File("bad.flv"),
                        [&](TCustomFFmpeg& e) { e.SetOption("vf", "no_such_filter"); }));
    EXPECT_EQ(Error, "Error opening filters!");
}

// Catches: wrong duplicate or drop decisions of the two synchronisation
// methods.
TEST_F(VideoPath, ConstantRateDuplicatesAndDropsVariableRateNeverDuplicates) {
    const std::string src = Clip("src.flv");  // 25 pictures at 25 fps
    ASSERT_TRUE(Encode(src, Dir.File("r50.flv"), [&](TCustomFFmpeg& e) {
        e.SetOption("r", "50");
        e.SetOption("vsync", "1");
    })) << Error;
    // Picture k lies at frame 2k: the second is 1 frame ahead (written once),
    // every later one 2 frames ahead (written twice).
    EXPECT_EQ(Dups, 23);
    EXPECT_EQ(Drops, 0);
    EXPECT_EQ(test::ReadMediaInfo(Dir.File("r50.flv")).Video()->packets, 48);

    ASSERT_TRUE(Encode(src, Dir.File("r10.flv"), [&](TCustomFFmpeg& e) {
        e.SetOption("r", "10");
        e.SetOption("vsync", "1");
    })) << Error;
    EXPECT_EQ(Dups, 0);
    EXPECT_EQ(Drops, 14);  // up to 1.1 frames behind still counts as in time

    ASSERT_TRUE(Encode(src, Dir.File("vfr.flv"), [&](TCustomFFmpeg& e) {
        e.SetOption("r", "50");
        e.SetOption("vsync", "2");
    })) << Error;
    EXPECT_EQ(Dups, 0);
    EXPECT_EQ(Drops, 0);
    EXPECT_EQ(test::ReadMediaInfo(Dir.File("vfr.flv")).Video()->packets, 25);

    ASSERT_TRUE(Encode(src, Dir.File("none.flv"), [&](TCustomFFmpeg& e) {
        e.SetOption("r", "50");
        e.SetOption("vsync", "0");
    })) << Error;
    EXPECT_EQ(Dups + Drops, 0);
    EXPECT_EQ(test::ReadMediaInfo(Dir.File("none.flv")).Video()->packets, 25);
}

// Catches: a mid-stream size change passed to the encoder unscaled, logged
// more than once, or stopping a run that scales anyway.
TEST_F(VideoPath, SizeChangeMidStream) {
    // Two MPEG-TS clips of different sizes, back to back in one file.
    const std::string a = Clip("a.ts", {"--size", "320x240"});
    const std::string b = Clip("b.ts", {"--size", "160x120", "--start-time", "1"});
    const std::string both = Dir.File("both.ts");
    {
        std::ofstream out(both, std::ios::binary);
        out << std::ifstream(a, std::ios::binary).rdbuf()
            << std::ifstream(b, std::ios::binary).rdbuf();
    }
    ASSERT_TRUE(Encode(both, Dir.File("scaled.flv"), [&](TCustomFFmpeg& e) {
        e.SetOption("s", "256x192");
    })) << Error;
    EXPECT_EQ(Log.Count("frame size changed to 160x120, yuv420p"), 1);
    EXPECT_EQ(test::ReadMediaInfo(Dir.File("scaled.flv"), {.decode = true}).Video()->decodedFrames,
              50);

    // Without scaling set up the run stops.
    EXPECT_FALSE(Encode(both, Dir.File("unscaled.flv"), {}));
    EXPECT_EQ(Error, "Assertion failure");
}

// Catches: deinterlacing failing on planar YUV, or blending the wrong rows.
TEST_F(VideoPath, DeinterlaceBlendsNeighbouringLines) {
    FramePtr src(lib().av_frame_alloc()), dst(lib().av_frame_alloc());
    for (AVFrame* f : {src.get(), dst.get()}) {
        f->format = AV_PIX_FMT_YUV420P;
        f->width = 8;
        f->height = 6;
        ASSERT_GE(lib().av_frame_get_buffer(f, 0), 0);
    }
    for (int y = 0; y < 6; ++y)
        std::memset(src->data[0] + y * src->linesize[0], y % 2 ? 200 : 0, 8);
    std::memset(src->data[1], 128, src->linesize[1] * 3);
    std::memset(src->data[2], 128, src->linesize[2] * 3);
    ASSERT_EQ(DeinterlacePicture(dst.get(), src.get()), 0);
    EXPECT_EQ(dst->data[0][0], 0);                       // edge row kept
    EXPECT_EQ(dst->data[0][1 * dst->linesize[0]], 100);  // (0 + 2 x 200 + 0 + 2) >> 2
    EXPECT_EQ(dst->data[0][2 * dst->linesize[0]], 100);  // (200 + 0 + 200 + 2) >> 2
    EXPECT_EQ(dst->data[1][dst->linesize[1]], 128);

    // Packed formats are refused; the run then works on a copy.
    FramePtr rgb(lib().av_frame_alloc());
    rgb->format = AV_PIX_FMT_RGB24;
    rgb->width = 8;
    rgb->height = 6;
    ASSERT_GE(lib().av_frame_get_buffer(rgb.get(), 0), 0);
    EXPECT_LT(DeinterlacePicture(rgb.get(), rgb.get()), 0);
    // So are formats whose chroma shares one plane: half of each row would
    // be blended and the rest left as it was.
    FramePtr nv12(lib().av_frame_alloc());
    nv12->format = AV_PIX_FMT_NV12;
    nv12->width = 8;
    nv12->height = 6;
    ASSERT_GE(lib().av_frame_get_buffer(nv12.get(), 0), 0);
    EXPECT_LT(DeinterlacePicture(nv12.get(), nv12.get()), 0);

    const std::string clip = Clip("src.flv");
    ASSERT_TRUE(Encode(clip, Dir.File("di.flv"), [](TCustomFFmpeg& e) {
        e.SetOption("deinterlace", "1");
    })) << Error;
    EXPECT_EQ(Log.Count("Deinterlacing failed."), 0);
    EXPECT_EQ(test::ReadMediaInfo(Dir.File("di.flv")).Video()->packets, 25);
}

// Catches: statistics lines missing, or the file not written at all.
TEST_F(VideoPath, VideoStatisticsFileHasOneLinePerCodedPicture) {
    // Long enough for the encoder's look-ahead to give pictures before the end.
    const std::string src = Clip("src.flv", {"--duration", "3"});
    const std::string stats = Dir.File("vstats.log");
    ASSERT_TRUE(Encode(src, Dir.File("out.flv"), [&](TCustomFFmpeg& e) {
        e.SetOption("vstats_file", stats);
    })) << Error;
    std::ifstream in(stats);
    std::string line, first;
    int lines = 0;
    while (std::getline(in, line)) {
        if (!lines) first = line;
        ++lines;
        EXPECT_EQ(line.rfind("frame= ", 0), 0u) << line;
    }
    EXPECT_GT(lines, 0);
    EXPECT_LE(lines, 75);
    EXPECT_NE(first.find("type= I"), std::string::npos) << first;

    EXPECT_FALSE(Encode(src, Dir.File("out2.flv"), [&](TCustomFFmpeg& e) {
        e.SetOption("vstats_file", Dir.File("no/such/folder/vstats.log"));
    }));
    EXPECT_EQ(Error, "fopen fail: " + Dir.File("no/such/folder/vstats.log"));
}

// Catches: the final report line without the quantizer histogram or the
// PSNR of the whole run, or PSNR values taken from one plane only.
TEST_F(VideoPath, FinalReportCarriesHistogramAndPsnr) {
    FFLogger()->SetLogLevel(llVerbose);
    WithPreset = false;  // an encoder that reports its errors per plane
    ASSERT_TRUE(Encode(Clip("src.flv"), Dir.File("out.flv"), [](TCustomFFmpeg& e) {
        e.SetVerbose(0);
        e.SetOption("vcodec", "flv");
        e.SetOption("qphist", "1");
        e.SetOption("psnr", "1");
    })) << Error;
    std::string final;
    for (const test::LogCapture::Line& l : Log.Lines())
        if (l.Text.find("frame=") != std::string::npos && l.Text.find(" L") != std::string::npos)
            final = l.Text;
    ASSERT_FALSE(final.empty());
    // "L", then 32 hexadecimal digits of the histogram, then the planes.
    const size_t l = final.find(" L");
    ASSERT_GT(final.size(), l + 2 + 32);
    EXPECT_EQ(final.substr(l + 2, 32).find_first_not_of("0123456789ABCDEF"), std::string::npos)
        << final;
    double y = 0, u = 0, v = 0, all = 0;
    ASSERT_EQ(std::sscanf(final.c_str() + final.find("PSNR="), "PSNR=Y:%lf U:%lf V:%lf *:%lf", &y,
                          &u, &v, &all),
              4)
        << final;
    // A clean test pattern codes well; the planes differ from each other.
    for (double p : {y, u, v, all}) {
        EXPECT_GT(p, 25.0) << final;
        EXPECT_LT(p, 99.0) << final;
    }
    EXPECT_TRUE(all >= std::min({y, u, v}) && all <= std::max({y, u, v})) << final;
}

// Catches: first-pass statistics not written, or a second pass that cannot
// read them back.
TEST_F(VideoPath, TwoPassesShareTheirStatistics) {
    const std::string src = Clip("src.flv");
    const std::string prefix = Dir.File("stats");
    WithPreset = false;  // the encoder of these passes is not libx264
    for (const char* pass : {"1", "2"}) {
        ASSERT_TRUE(Encode(src, Dir.File(std::string("pass") + pass + ".flv"),
                           [&](TCustomFFmpeg& e) {
                               e.SetOption("vcodec", "flv");
                               e.SetOption("b", "200000");
                               e.SetOption("pass", pass);
                               e.SetOption("passlogfile", prefix);
                           }))
            << "pass " << pass << ": " << Error;
        if (*pass == '1') {
            std::ifstream log(prefix + "-0.log");
            std::string first;
            std::getline(log, first);
            EXPECT_NE(first.find("in:"), std::string::npos) << first;  // one line per picture
        }
    }
    EXPECT_EQ(test::ReadMediaInfo(Dir.File("pass2.flv")).Video()->packets, 25);
    EXPECT_FALSE(Encode(src, Dir.File("pass2b.flv"), [&](TCustomFFmpeg& e) {
        e.SetOption("vcodec", "flv");
        e.SetOption("pass", "2");
        e.SetOption("passlogfile", Dir.File("nostats"));
    }));
    EXPECT_NE(Error.find("for pass-2 encoding"), std::string::npos) << Error;
}

// Catches: 16-bit volume without the rounding and clipping of the option,
// or other sample formats left alone.
TEST(AudioVolume, EverySampleFormat) {
    int16_t s16[] = {20000, -20000, 3, -3, 0};
    ApplyVolume(reinterpret_cast<uint8_t*>(s16), sizeof s16, AV_SAMPLE_FMT_S16, 512);
    EXPECT_EQ(s16[0], 32767);
    EXPECT_EQ(s16[1], -32768);
    EXPECT_EQ(s16[2], 6);
    int16_t half[] = {3, -3, 101};
    ApplyVolume(reinterpret_cast<uint8_t*>(half), sizeof half, AV_SAMPLE_FMT_S16, 128);
    EXPECT_EQ(half[0], 2);   // (384 + 128) >> 8
    EXPECT_EQ(half[1], -1);  // (-384 + 128) >> 8
    EXPECT_EQ(half[2], 51);

    float flt[] = {0.5f, -0.25f};
    ApplyVolume(reinterpret_cast<uint8_t*>(flt), sizeof flt, AV_SAMPLE_FMT_FLTP, 512);
    EXPECT_FLOAT_EQ(flt[0], 1.0f);
    EXPECT_FLOAT_EQ(flt[1], -0.5f);
    int32_t s32[] = {INT32_MAX / 2 + 10, -100};
    ApplyVolume(reinterpret_cast<uint8_t*>(s32), sizeof s32, AV_SAMPLE_FMT_S32, 512);
    EXPECT_EQ(s32[0], INT32_MAX);
    EXPECT_EQ(s32[1], -200);
    uint8_t u8[] = {128, 228, 0};
    ApplyVolume(u8, sizeof u8, AV_SAMPLE_FMT_U8, 512);
    EXPECT_EQ(u8[0], 128);
    EXPECT_EQ(u8[1], 255);  // +100 doubled, clipped
    EXPECT_EQ(u8[2], 0);
    int16_t same[] = {1234};
    ApplyVolume(reinterpret_cast<uint8_t*>(same), sizeof same, AV_SAMPLE_FMT_S16, 256);
    EXPECT_EQ(same[0], 1234);
}

}  // namespace
}  // namespace tw
