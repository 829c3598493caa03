// tests/app/EncodingTable_test.cpp — the encoding table: its text for known
// sources, widths by display columns, names cut at character boundaries,
// parameter sets and AAC configurations compared by content.
#include "app/EncodingTable.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/Messages.h"
#include "binding/FFLoad.h"
#include "probe/FFDecode.h"
#include "tests/support/Media.h"
#include "tests/support/TempDir.h"

namespace tw {
namespace {

class EncodingTable : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds)) << FFLoader().LastErrMsg();
        // The English heads (the program's Chinese ones have their own test).
        SetMessagesLanguage("en");
    }
    void TearDown() override { SetMessagesLanguage("zh_CN"); }
    static TSourceFacts H264(const std::string& file) {
        TSourceFacts f;
        f.File = file;
        f.HasVideo = f.HasAudio = true;
        f.VideoCodec = AV_CODEC_ID_H264;
        f.VideoProfile = 100;  // High
        f.Width = 640;
        f.Height = 360;
        f.PixFmt = AV_PIX_FMT_YUV420P;
        f.SampleAspect = {1, 1};
        f.FrameRate = {25, 1};
        f.VideoConfig = "6764001e,68ee3cb0";
        f.AudioCodec = AV_CODEC_ID_AAC;
        f.AudioProfile = 1;  // LC
        f.SampleRate = 44100;
        f.Channels = 2;
        f.AudioConfig = "2/44100/2";
        return f;
    }
    static std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    TSourceFacts Probe(const std::string& file) {
        TFFDecoder d;
        EXPECT_TRUE(d.LoadFile(file)) << d.LastError;
        return SurveySource(d.FormatContext(), file);
    }
    test::TempDir Dir;
};

// Catches: profiles shown as numbers, an unknown aspect as "0:1", the
// values every row shares repeated in every row.
TEST_F(EncodingTable, OneKnownDifference) {
    TSourceFacts a = H264("/videos/a.flv"), b = H264("/videos/b.flv");
    b.VideoProfile = 77;  // Main
    b.SampleAspect = {0, 1};
    b.HasAudio = false;
    bool same = true;
    const std::string text = EncodingTableText({{a, ""}, {b, ""}}, 80, same);
    EXPECT_FALSE(same);
    EXPECT_EQ(text,
              "same in every file: video h264, size 640x360, pix_fmt yuv420p, fps 25,\n"
              "  params b3952b22\n"
              "file   profile  sar   audio  aprofile  rate    ch  aconfig\n"
              "a.flv  High     1:1   aac    LC        44100   2   a6331c54\n"
              "b.flv  Main*    -*    -*     -*        -*      -*  -*\n");
}

// Catches: wide characters padded as bytes (columns out of line), names cut
// inside a UTF-8 character, lines wider than the screen.
TEST_F(EncodingTable, WidthsByDisplayColumns) {
    TSourceFacts a = H264("/videos/第一段视频文件名字很长很长很长很长很长的一集.flv");
    TSourceFacts b = H264("b.flv");
    b.VideoCodec = AV_CODEC_ID_HEVC;
    b.VideoProfile = 2;  // Main 10
    b.Width = 1920;
    b.Height = 1080;
    b.PixFmt = AV_PIX_FMT_YUV420P10LE;
    b.SampleAspect = {4, 3};
    b.FrameRate = {30000, 1001};
    b.VideoConfig = "40010c01";
    b.AudioCodec = AV_CODEC_ID_OPUS;
    b.AudioProfile = -99;
    b.SampleRate = 48000;
    b.Channels = 6;
    b.AudioConfig = "4f707573";
    TEncodingSource broken{H264("broken.flv"),
                           "LoadFile Error: Invalid data found when "
                           "processing input, a very long text indeed"};
    bool same = true;
    const std::string text = EncodingTableText({{a, ""}, {b, ""}, broken}, 80, same);
    EXPECT_FALSE(same);
    const std::vector<std::string> lines = Lines(text);
    ASSERT_GE(lines.size(), 4u);
    for (const std::string& line : lines) {
        EXPECT_LE(DisplayWidth(line), 80) << line;
        // Every line is valid UTF-8: nothing cut inside a character.
        EXPECT_EQ(line.find("\xef\xbf\xbd"), std::string::npos) << line;
    }
    // In each block the second column starts at the same display column in
    // every row: the heads' "video" and the values below it.
    const size_t head = lines[0].find("video");
    ASSERT_NE(head, std::string::npos) << text;
    const int column = DisplayWidth(lines[0].substr(0, head));
    const size_t h264 = lines[1].find("h264");
    ASSERT_NE(h264, std::string::npos) << text;
    EXPECT_EQ(DisplayWidth(lines[1].substr(0, h264)), column) << text;
    EXPECT_EQ(DisplayWidth(lines[2].substr(0, lines[2].find("hevc*"))), column) << text;
    // The unreadable file is a row with its error; the others still print.
    bool errorRow = false;
    for (const std::string& line : lines)
        errorRow |= line.rfind("broken.flv ", 0) == 0 &&
                    line.find("LoadFile Error: Invalid data") != std::string::npos;
    EXPECT_TRUE(errorRow) << text;
    EXPECT_NE(text.find("Main 10*"), std::string::npos) << text;
    EXPECT_NE(text.find("29.97*"), std::string::npos) << text;
}

TEST_F(EncodingTable, NamesFitAtCharacterBoundaries) {
    EXPECT_EQ(DisplayWidth("abc"), 3);
    EXPECT_EQ(DisplayWidth("中文.flv"), 8);
    EXPECT_EQ(DisplayWidth("e\xcc\x81"), 1);  // e + combining acute
    EXPECT_EQ(DisplayWidth("a\xff"
                           "b"),
              3);  // a broken byte counts one
    const std::string name = "中文中文中文中文中文.flv";
    for (int width = 4; width < 24; ++width) {
        const std::string cut = FitToWidth(name, width);
        EXPECT_LE(DisplayWidth(cut), width) << cut;
        EXPECT_GE(DisplayWidth(cut), width - 1) << cut;  // a wide character may leave one
        EXPECT_EQ(cut.find("\xef\xbf\xbd"), std::string::npos) << cut;
    }
    EXPECT_EQ(FitToWidth(name, 13), "中文中....flv");
    EXPECT_EQ(FitToWidth("short.flv", 20), "short.flv");
}

// Catches: the raw extra data hashed, so that the length-prefixed (FLV, MP4)
// and the Annex-B (TS) form of the same SPS and PPS differed.
TEST_F(EncodingTable, ParameterSetsByContent) {
    const uint8_t sps[] = {0x67, 0x64, 0x00, 0x1e, 0xac};
    const uint8_t pps[] = {0x68, 0xee, 0x3c, 0xb0};
    std::vector<uint8_t> avcc = {1, 0x64, 0x00, 0x1e, 0xff, 0xe1, 0, sizeof sps};
    avcc.insert(avcc.end(), sps, sps + sizeof sps);
    avcc.insert(avcc.end(), {1, 0, sizeof pps});
    avcc.insert(avcc.end(), pps, pps + sizeof pps);
    std::vector<uint8_t> annexB = {0, 0, 0, 1};
    annexB.insert(annexB.end(), sps, sps + sizeof sps);
    annexB.insert(annexB.end(), {0, 0, 1});
    annexB.insert(annexB.end(), pps, pps + sizeof pps);
    const auto fromAvcc = ParameterSets(avcc.data(), int(avcc.size()), AV_CODEC_ID_H264);
    ASSERT_EQ(fromAvcc.size(), 2u);
    EXPECT_EQ(fromAvcc, ParameterSets(annexB.data(), int(annexB.size()), AV_CODEC_ID_H264));
    // Another PPS is another encoding.
    annexB.back() ^= 1;
    EXPECT_NE(fromAvcc, ParameterSets(annexB.data(), int(annexB.size()), AV_CODEC_ID_H264));
    // A cut avcC is kept whole rather than read past its end.
    EXPECT_EQ(ParameterSets(avcc.data(), 9, AV_CODEC_ID_H264).size(), 1u);
}

// Catches: an FLV and a TS of one encoding marked different (parameter sets
// packed differently, ADTS audio without extra data shown as "-").
TEST_F(EncodingTable, FlvAndTsOfOneEncodingAgree) {
    const TSourceFacts flv = Probe(test::GenerateClip(Dir.File("a.flv"), {"--duration", "1"}));
    const TSourceFacts ts = Probe(test::GenerateClip(Dir.File("a.ts"), {"--duration", "1"}));
    EXPECT_FALSE(flv.VideoConfig.empty());
    EXPECT_EQ(flv.VideoConfig, ts.VideoConfig);
    EXPECT_EQ(flv.AudioConfig, "2/44100/2");
    EXPECT_EQ(ts.AudioConfig, "2/44100/2");
    bool same = false;
    const std::string text = EncodingTableText({{flv, ""}, {ts, ""}}, 80, same);
    EXPECT_TRUE(same) << text;
    EXPECT_EQ(text.find('*'), std::string::npos) << text;
    EXPECT_NE(text.find("profile Constrained Baseline"), std::string::npos) << text;
    // A source of another size is marked.
    const TSourceFacts wide =
        Probe(test::GenerateClip(Dir.File("w.ts"), {"--duration", "1", "--size", "640x360"}));
    EXPECT_NE(EncodingTableText({{flv, ""}, {wide, ""}}, 80, same).find("640x360*"),
              std::string::npos);
    EXPECT_FALSE(same);
}

TEST_F(EncodingTable, FastMergeProblemFollowsTheContainer) {
    TSourceFacts a = H264("a.mkv");
    a.VideoCodec = AV_CODEC_ID_HEVC;
    a.AudioCodec = AV_CODEC_ID_OPUS;
    EXPECT_NE(FastMergeProblem({a, a}, "flv"), "");
    EXPECT_EQ(FastMergeProblem({a, a}, "matroska"), "");
    a.VideoCodec = AV_CODEC_ID_VP9;
    EXPECT_EQ(FastMergeProblem({a, a}, "mp4"), "");
    EXPECT_NE(FastMergeProblem({a, a}, "flv").find("FLV"), std::string::npos);
}

}  // namespace
}  // namespace tw
