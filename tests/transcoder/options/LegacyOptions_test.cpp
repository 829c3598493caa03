// Tests of the translation of older codec option spellings (transcoder/options/LegacyOptions.h).
//
// The text-level cases pin the table; the encoder cases set the translated
// options on a real libx264 context (linked directly, as a verifier) and read
// back the settings x264 writes into its first packet.
#include "transcoder/options/LegacyOptions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

namespace tw {
namespace {

using TOpts = std::vector<std::pair<std::string, std::string>>;

TLegacyTranslation Translate(const std::string& name, const std::string& value) {
    TLegacyTranslation t;
    EXPECT_TRUE(TranslateLegacyOption(name, value, t)) << name << "=" << value;
    return t;
}

TEST(LegacyOptions, SimpleRenamesAndValueNames) {
    EXPECT_EQ(Translate("directpred", "0").Options, (TOpts{{"direct-pred", "none"}}));
    EXPECT_EQ(Translate("directpred", "1").Options, (TOpts{{"direct-pred", "spatial"}}));
    EXPECT_EQ(Translate("directpred", "2").Options, (TOpts{{"direct-pred", "temporal"}}));
    EXPECT_EQ(Translate("directpred", "3").Options, (TOpts{{"direct-pred", "auto"}}));
    EXPECT_EQ(Translate("wpredp", "0").Options, (TOpts{{"weightp", "none"}}));
    EXPECT_EQ(Translate("wpredp", "2").Options, (TOpts{{"weightp", "smart"}}));
    EXPECT_EQ(Translate("cqp", "0").Options, (TOpts{{"qp", "0"}}));
    EXPECT_EQ(Translate("aq_mode", "2").Options, (TOpts{{"aq-mode", "2"}}));
}

TEST(LegacyOptions, MotionEstimationGoesToX264AndMpegFamily) {
    EXPECT_EQ(Translate("me_method", "hex").Options,
              (TOpts{{"motion-est", "hex"}, {"motion_est", "epzs"}}));
    EXPECT_EQ(Translate("me_method", "dia").Options,
              (TOpts{{"motion-est", "dia"}, {"motion_est", "epzs"}}));
    EXPECT_EQ(Translate("me_method", "full").Options,
              (TOpts{{"motion-est", "esa"}, {"motion_est", "epzs"}}));
    EXPECT_EQ(Translate("me_method", "zero").Options,
              (TOpts{{"motion-est", "hex"}, {"motion_est", "zero"}}));
    EXPECT_EQ(Translate("me_method", "5").Options,  // the older number of epzs
              (TOpts{{"motion-est", "dia"}, {"motion_est", "epzs"}}));
    TLegacyTranslation t;
    EXPECT_FALSE(TranslateLegacyOption("me_method", "bogus", t));
}

TEST(LegacyOptions, PartitionsBecomeCommaList) {
    EXPECT_EQ(Translate("partitions", "+parti8x8+parti4x4+partp8x8+partb8x8").Options,
              (TOpts{{"partitions", "i8x8,i4x4,p8x8,b8x8"}}));
    EXPECT_EQ(Translate("partitions", "-parti8x8+parti4x4+partp8x8-partp4x4-partb8x8").Options,
              (TOpts{{"partitions", "i4x4,p8x8"}}));
    EXPECT_EQ(Translate("partitions", "-parti8x8-parti4x4-partp8x8-partp4x4-partb8x8").Options,
              (TOpts{{"partitions", "none"}}));
    TLegacyTranslation t;
    EXPECT_FALSE(TranslateLegacyOption("partitions", "i8x8,p8x8", t));  // already today's form
}

TEST(LegacyOptions, Flags2SwitchesBecomeX264Options) {
    EXPECT_EQ(Translate("flags2", "+mixed_refs+wpred+dct8x8+fastpskip").Options,
              (TOpts{{"mixed-refs", "1"}, {"weightb", "1"}, {"8x8dct", "1"}, {"fast-pskip", "1"}}));
    EXPECT_EQ(Translate("flags2", "-bpyramid-mixed_refs-wpred-dct8x8+fastpskip-mbtree").Options,
              (TOpts{{"b-pyramid", "none"},
                     {"mixed-refs", "0"},
                     {"weightb", "0"},
                     {"8x8dct", "0"},
                     {"fast-pskip", "1"},
                     {"mbtree", "0"}}));
    EXPECT_EQ(Translate("flags2", "+bpyramid").Options, (TOpts{{"b-pyramid", "normal"}}));
    // Values still known to flags2 stay there, in front.
    EXPECT_EQ(Translate("flags2", "+fast+wpred").Options,
              (TOpts{{"flags2", "+fast"}, {"weightb", "1"}}));
    TLegacyTranslation t;
    EXPECT_FALSE(TranslateLegacyOption("flags2", "+fast+local_header", t));
}

TEST(LegacyOptions, FlagsKeepKnownValuesAndMoveTheOthers) {
    TLegacyTranslation t;
    EXPECT_FALSE(TranslateLegacyOption("flags", "+loop", t));
    EXPECT_FALSE(TranslateLegacyOption("cmp", "+chroma", t));
    EXPECT_FALSE(TranslateLegacyOption("coder", "1", t));
    EXPECT_EQ(Translate("flags", "-loop").Options,
              (TOpts{{"flags", "-loop"}, {"x264-params", "no-deblock=1"}}));
    EXPECT_EQ(Translate("flags", "+scan_offset").Options, (TOpts{{"scan_offset", "1"}}));
    EXPECT_EQ(Translate("flags", "+mv0+naq+qpel").Options,
              (TOpts{{"flags", "+qpel"}, {"mpv_flags", "+mv0+naq"}}));
    const TLegacyTranslation gmc = Translate("flags", "+gmc+mv4");
    EXPECT_EQ(gmc.Options, (TOpts{{"flags", "+mv4"}}));
    EXPECT_EQ(gmc.NoEffect, "flags=+gmc");
}

TEST(LegacyOptions, UnknownNamesAreLeftAlone) {
    TLegacyTranslation t;
    t.NoEffect = "untouched";
    EXPECT_FALSE(TranslateLegacyOption("no_such_option", "1", t));
    EXPECT_FALSE(TranslateLegacyOption("b_strategy", "1", t));
    EXPECT_FALSE(TranslateLegacyOption("sc_threshold", "40", t));
    EXPECT_EQ(t.NoEffect, "untouched");
    EXPECT_TRUE(t.Options.empty());
}

// --- on a real encoder ------------------------------------------------------

struct CtxFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};

/// Opens libx264 on a 64x64 picture with the translations of `legacy`
/// applied, encodes a few grey frames and returns x264's settings text.
std::string X264Settings(const std::vector<std::pair<std::string, std::string>>& legacy) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) return {};
    std::unique_ptr<AVCodecContext, CtxFree> c(avcodec_alloc_context3(codec));
    c->width = 64;
    c->height = 64;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = {1, 25};
    for (const auto& [name, value] : legacy) {
        TLegacyTranslation t;
        TOpts opts = TranslateLegacyOption(name, value, t) ? t.Options : TOpts{{name, value}};
        for (const auto& [n, v] : opts) {
            // Options for the MPEG family are not libx264's: ignored here as the
            // engine ignores them for a codec that lacks them.
            if (n == "motion_est" || n == "mpv_flags" || n == "scan_offset") continue;
            EXPECT_GE(av_opt_set(c.get(), n.c_str(), v.c_str(), AV_OPT_SEARCH_CHILDREN), 0)
                << n << "=" << v;
        }
    }
    if (avcodec_open2(c.get(), codec, nullptr) < 0) return "open failed";
    AVFrame* f = av_frame_alloc();
    f->format = c->pix_fmt;
    f->width = 64;
    f->height = 64;
    av_frame_get_buffer(f, 0);
    for (int p = 0; p < 3; ++p)
        std::memset(f->data[p], 128, size_t(f->linesize[p]) * (p ? 32 : 64));
    std::string settings;
    AVPacket* pkt = av_packet_alloc();
    for (int i = 0; i < 3; ++i) {
        f->pts = i;
        avcodec_send_frame(c.get(), f);
    }
    avcodec_send_frame(c.get(), nullptr);
    while (avcodec_receive_packet(c.get(), pkt) == 0) {
        std::string data(reinterpret_cast<const char*>(pkt->data), size_t(pkt->size));
        const size_t at = data.find("x264 - ");
        if (settings.empty() && at != std::string::npos)
            settings = data.substr(at, data.find('\0', at) - at);
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    av_frame_free(&f);
    return " " + settings;
}

/// x264's settings with ':' made a blank, so that every setting is a word
/// bounded by blanks.
std::string SettingWords(std::string s) {
    for (char& ch : s)
        if (ch == ':') ch = ' ';
    return s + " ";
}

#define SKIP_WITHOUT_X264() \
    if (!avcodec_find_encoder_by_name("libx264")) GTEST_SKIP() << "no libx264"

TEST(LegacyOptionsOnX264, EachTranslationReachesTheEncoder) {
    SKIP_WITHOUT_X264();
    struct Case {
        std::string Name, Value, Expect;
    };
    const std::vector<Case> cases = {
        {"directpred", "2", " direct=2 "},
        {"directpred", "3", " direct=3 "},
        {"me_method", "umh", " me=umh "},
        {"me_method", "dia", " me=dia "},
        {"me_method", "tesa", " me=tesa "},
        {"wpredp", "1", " weightp=1 "},
        {"cqp", "0", " qp=0 "},
        {"partitions", "-parti8x8+parti4x4+partp8x8-partp4x4-partb8x8", " analyse=0x3 0x11 "},
        {"partitions", "-parti8x8-parti4x4-partp8x8-partb8x8", " analyse=0x3 0 "},
        {"flags2", "-mixed_refs", " mixed_ref=0 "},
        {"flags2", "-wpred", " weightb=0 "},
        {"flags2", "-dct8x8", " 8x8dct=0 "},
        {"flags2", "-fastpskip", " fast_pskip=0 "},
        {"flags2", "-bpyramid", " b_pyramid=0 "},
        {"flags2", "-mbtree", " mbtree=0 "},
        {"flags", "-loop", " deblock=0 0 0 "},
    };
    for (const Case& c : cases) {
        const std::string s = SettingWords(X264Settings({{c.Name, c.Value}}));
        EXPECT_NE(s.find(c.Expect), std::string::npos)
            << c.Name << "=" << c.Value << " gave:" << s.substr(0, 600);
    }
}

TEST(LegacyOptionsOnX264, DefaultsDifferFromTheTranslatedValues) {
    // Catches a case above passing only because x264's default equals it.
    SKIP_WITHOUT_X264();
    const std::string s = SettingWords(X264Settings({}));
    for (const char* d : {" direct=1 ", " me=hex ", " weightp=2 ", " mixed_ref=1 ", " weightb=1 ",
                          " 8x8dct=1 ", " fast_pskip=1 ", " b_pyramid=2 ", " mbtree=1 ", " rc=crf ",
                          " analyse=0x3 0x113 ", " deblock=1 0 0 "})
        EXPECT_NE(s.find(d), std::string::npos) << d;
}

}  // namespace
}  // namespace tw
