// Tests of the option value parsers (transcoder/options/Parsers.h).
#include "transcoder/options/Parsers.h"

#include <gtest/gtest.h>

#include <functional>

namespace tw {
namespace {

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "<no error>";
}

TEST(Parsers, AspectRatio) {
    EXPECT_FLOAT_EQ(float(ParseAspectRatioText("16:9")), 1.7777778f);
    EXPECT_EQ(ParseAspectRatioText("16:0"), 0.0);
    EXPECT_EQ(ParseAspectRatioText("0"), 0.0);
    EXPECT_EQ(ParseAspectRatioText("x:9"), 0.0);  // a non-integer part counts as 0
    EXPECT_DOUBLE_EQ(ParseAspectRatioText("1.85"), 1.85);
    EXPECT_DOUBLE_EQ(ParseAspectRatioText("-4:3"), -4.0 / 3.0);
    EXPECT_EQ(ParseAspectRatioText("wide"), 0.0);
}

// Catches: the option table and the value parsers reading numbers by
// different rules (one accepting "12\r\n", the other not).
TEST(Parsers, OneRuleForNumbers) {
    int i = -1;
    int64_t w = -1;
    double d = -1;
    EXPECT_TRUE(TryParseInt(" -12\t", i));
    EXPECT_EQ(i, -12);
    EXPECT_TRUE(TryParseInt64("$1F", w));
    EXPECT_EQ(w, 31);
    EXPECT_TRUE(TryParseFloat(" 2.5 ", d));
    EXPECT_EQ(d, 2.5);
    for (const char* bad : {"12\r\n", "\n12", "12\x01", "", " ", "1.5", "12x"})
        EXPECT_FALSE(TryParseInt(bad, i)) << bad;
    EXPECT_FALSE(TryParseInt("3000000000", i));
    for (const char* bad : {"1.5\r\n", "nan", "inf", "1e999", "0x10", "0,5", ""})
        EXPECT_FALSE(TryParseFloat(bad, d)) << bad;
    EXPECT_EQ(i, -12);  // failures leave the value alone
    EXPECT_EQ(d, 2.5);

    // The parsers built on them follow the same rule.
    EXPECT_EQ(ParseAspectRatioText("16:9\r\n"), 0.0);
    EXPECT_EQ(ParseAspectRatioText("nan"), 0.0);
    EXPECT_FLOAT_EQ(float(ParseAspectRatioText(" 16:9 ")), 1.7777778f);
    EXPECT_EQ(ErrorOf([] { ParseCodecTagText("1234\r\n"); }),
              "tag parameter must be 4 chars or int value");
    EXPECT_EQ(ErrorOf([] { ToInt("7\n"); }), "'7\n' is not a valid integer value");
}

// Catches: trimming that stops at spaces and tabs where texts are trimmed of
// every blank (the target value, preset lines, blank option names).
TEST(Parsers, TextsAreTrimmedOfEveryBlank) {
    EXPECT_EQ(Trim("\r\n\t pal-vcd \x01\n"), "pal-vcd");
    EXPECT_TRUE(IsBlank("\r\n \t"));
    EXPECT_FALSE(IsBlank(" x "));
    EXPECT_EQ(ToLineFeeds("a\r\nb\rc\n"), "a\nb\nc\n");
}

TEST(Parsers, CodecTag) {
    EXPECT_EQ(ParseCodecTagText("XVID"), 0x44495658u);  // 'X' in the lowest byte
    EXPECT_EQ(ParseCodecTagText("1234"), 1234u);        // a number wins over letters
    EXPECT_EQ(ParseCodecTagText("4294967297"), 1u);     // low 32 bits
    EXPECT_EQ(ErrorOf([] { ParseCodecTagText("XVIDX"); }),
              "tag parameter must be 4 chars or int value");
}

TEST(Parsers, StreamChapterAndMetadataMaps) {
    TStreamMap m = ParseStreamMapText("0:1");
    EXPECT_EQ((std::vector<int>{m.File, m.Stream, m.SyncFile, m.SyncStream}),
              (std::vector<int>{0, 1, 0, 1}));
    m = ParseStreamMapText("1.2,0x3:4");
    EXPECT_EQ((std::vector<int>{m.File, m.Stream, m.SyncFile, m.SyncStream}),
              (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(ParseChapterMapText("1:0"), (std::pair<int, int>{1, 0}));

    auto [out, in] = ParseMetadataMapText("0,s1:1,s2");
    EXPECT_EQ((std::tuple{out.File, out.Kind, out.Index}), (std::tuple{0, 's', 1}));
    EXPECT_EQ((std::tuple{in.File, in.Kind, in.Index}), (std::tuple{1, 's', 2}));
    auto [gOut, gIn] = ParseMetadataMapText("0,g:2,c3");
    EXPECT_EQ((std::tuple{gOut.File, gOut.Kind}), (std::tuple{0, 'g'}));
    EXPECT_EQ((std::tuple{gIn.File, gIn.Kind, gIn.Index}), (std::tuple{2, 'c', 3}));
    auto [plainOut, plainIn] = ParseMetadataMapText("1:0");
    EXPECT_EQ(plainOut.Kind, 'g');
    EXPECT_EQ(plainIn.File, 0);
    EXPECT_EQ(ErrorOf([] { ParseMetadataMapText("0,x:1"); }), "Invalid metadata type x.");
}

TEST(Parsers, TsScaleAndStreamId) {
    EXPECT_EQ(ParseTsScaleText("1:0.5"), (std::pair<int, double>{1, 0.5}));
    EXPECT_EQ(ErrorOf([] { ParseTsScaleText("20:1"); }), "stream index over MAX_STREAMS(20)");
    EXPECT_EQ(ErrorOf([] { ParseTsScaleText("-1:1"); }), "stream index over MAX_STREAMS(20)");
    EXPECT_EQ(ParseStreamIdText("streamid", "2:301"), (std::pair<int, int>{2, 301}));
    for (const char* bad : {"2", "a:1", "2:b", "-1:5"})
        EXPECT_EQ(ErrorOf([&] { ParseStreamIdText("streamid", bad); }),
                  std::string("Invalid value \"") + bad +
                      "\" for option \"streamid\", required syntax is \"index:value\"");
}

TEST(Parsers, GrowArrayZeroFillsAndNeverShrinks) {
    std::vector<double> a{7};
    GrowArray(a, 3);
    EXPECT_EQ(a, (std::vector<double>{7, 0, 0}));
    GrowArray(a, 1);
    EXPECT_EQ(a.size(), 3u);
    EXPECT_EQ(ErrorOf([&] { GrowArray(a, size_t(INT_MAX) / sizeof(double)); }), "Array too big.");
    EXPECT_EQ(a.size(), 3u);
}

TEST(Parsers, Matrix) {
    std::string v;
    for (int i = 1; i <= 64; ++i) v += std::to_string(i) + (i < 64 ? "," : ",junk");
    const auto m = ParseMatrixText(v);
    EXPECT_EQ(m[0], 1);
    EXPECT_EQ(m[63], 64);
    const std::string short63 = v.substr(0, v.find(",64"));
    EXPECT_EQ(ErrorOf([&] { ParseMatrixText(short63); }),
              "Syntax error in matrix \"" + short63 + "\" at coeff 62");
}

TEST(Parsers, BitstreamFilterNamesAndHookArguments) {
    EXPECT_EQ(BitstreamFilterNameOf("h264_mp4toannexb=arg"), "h264_mp4toannexb");
    EXPECT_EQ(BitstreamFilterNameOf("noise"), "noise");
    EXPECT_EQ(BitstreamFilterNameOf("=noise"), "");
    EXPECT_EQ(BitstreamFilterNameOf(""), "");
    EXPECT_EQ(SplitHookArguments("hook.so -a 1"), (std::vector<std::string>{"hook.so", "-a", "1"}));
    EXPECT_EQ(SplitHookArguments("my hook.so|x y"),
              (std::vector<std::string>{"my hook.so", "x y"}));
}

TEST(Parsers, VstatsFileName) {
    std::tm t{};
    t.tm_year = 111;
    t.tm_mday = 1;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 7;
    EXPECT_EQ(VstatsFileNameFor("/opt/tw/", std::mktime(&t)), "/opt/tw/vstats_090507.log");
    const std::string folder = ExecutableFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
}

}  // namespace
}  // namespace tw
