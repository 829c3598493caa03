// Tests of the built-in encoder presets (transcoder/options/Presets.h): the table
// itself, and that every preset, once translated, opens libx264.
#include "transcoder/options/Presets.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <sstream>

#include "transcoder/options/LegacyOptions.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

namespace tw {
namespace {

std::vector<std::string> Lines(std::string_view text) {
    std::vector<std::string> lines;
    std::istringstream in{std::string(text)};
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> LinesOf(const char* name) {
    const TOptionsPreset* p = FindBuiltInPreset(name);
    EXPECT_NE(p, nullptr) << name;
    return p ? Lines(p->Text) : std::vector<std::string>{};
}

TEST(PresetTable, DefaultTextLineByLine) {
    EXPECT_EQ(LinesOf("libx264-default"),
              (std::vector<std::string>{"coder=1",
                                        "flags=+loop",
                                        "cmp=+chroma",
                                        "partitions=+parti8x8+parti4x4+partp8x8+partb8x8",
                                        "me_method=hex",
                                        "subq=7",
                                        "me_range=16",
                                        "g=250",
                                        "keyint_min=25",
                                        "sc_threshold=40",
                                        "i_qfactor=0.71",
                                        "b_strategy=1",
                                        "qcomp=0.6",
                                        "qmin=10",
                                        "qmax=51",
                                        "qdiff=4",
                                        "bf=3",
                                        "refs=3",
                                        "directpred=1",
                                        "trellis=1",
                                        "flags2=+mixed_refs+wpred+dct8x8+fastpskip",
                                        "wpredp=2"}));
}

TEST(PresetTable, LosslessUltrafastDropsLinesAndEndsWithCqp) {
    EXPECT_EQ(LinesOf("libx264-lossless_ultrafast"),
              (std::vector<std::string>{"coder=0", "flags=+loop", "cmp=+chroma",
                                        "partitions=-parti8x8-parti4x4-partp8x8-partp4x4-partb8x8",
                                        "me_method=dia", "subq=0", "me_range=16", "g=250",
                                        "keyint_min=25", "sc_threshold=40", "i_qfactor=0.71",
                                        "b_strategy=1", "qcomp=0.6", "qmin=10", "qmax=51",
                                        "qdiff=4", "directpred=1", "flags2=+fastpskip", "cqp=0"}));
}

TEST(PresetTable, PlaceboFirstpassIsPlacebo) {
    const std::vector<std::string> expected{
        "coder=1",
        "flags=+loop",
        "cmp=+chroma",
        "partitions=+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8",
        "me_method=tesa",
        "subq=10",
        "me_range=24",
        "g=250",
        "keyint_min=25",
        "sc_threshold=40",
        "i_qfactor=0.71",
        "b_strategy=2",
        "qcomp=0.6",
        "qmin=10",
        "qmax=51",
        "qdiff=4",
        "bf=16",
        "refs=16",
        "directpred=3",
        "trellis=2",
        "flags2=+bpyramid+mixed_refs+wpred+dct8x8-fastpskip",
        "wpredp=2"};
    EXPECT_EQ(LinesOf("libx264-placebo_firstpass"), expected);
    EXPECT_EQ(LinesOf("libx264-placebo"), expected);
}

TEST(PresetTable, WholeTextEntriesAndCqpPlacement) {
    EXPECT_EQ(LinesOf("libx264-main"), (std::vector<std::string>{"flags2=-dct8x8"}));
    EXPECT_EQ(
        LinesOf("libx264-ipod640"),
        (std::vector<std::string>{"coder=0", "bf=0", "refs=1", "flags2=-wpred-dct8x8", "level=30",
                                  "maxrate=10000000", "bufsize=10000000", "wpredp=0"}));
    const std::vector<std::string> fast = LinesOf("libx264-lossless_fast");
    ASSERT_GE(fast.size(), 2u);
    EXPECT_EQ(fast[fast.size() - 2], "cqp=0");
    EXPECT_EQ(fast.back(), "wpredp=0");
}

TEST(PresetTable, NamesOrderAndLookup) {
    const auto& all = BuiltInPresets();
    EXPECT_EQ(all.front().Name, "libx264-baseline");
    EXPECT_EQ(all[1].Name, "libx264-default");
    EXPECT_EQ(all.back().Name, "libx264-veryslow_firstpass");
    std::set<std::string_view> names;
    for (const TOptionsPreset& p : all) {
        names.insert(p.Name);
        for (const std::string& line : Lines(p.Text)) {
            const size_t eq = line.find('=');
            EXPECT_TRUE(eq != std::string::npos && eq > 0 && eq + 1 < line.size())
                << p.Name << ": " << line;
        }
        EXPECT_NE(p.Text.back(), '\n') << p.Name;
    }
    EXPECT_EQ(names.size(), BuiltInPresetCount);
    EXPECT_EQ(FindBuiltInPreset("LIBX264-DEFAULT"), &all[1]);
    EXPECT_EQ(FindBuiltInPreset("libx264-default "), nullptr);
    EXPECT_EQ(FindBuiltInPreset("default"), nullptr);
}

// --- every preset on libx264 ------------------------------------------------

struct CtxFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};

TEST(PresetTable, EveryPresetTranslatedOpensX264) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) GTEST_SKIP() << "no libx264";
    for (const TOptionsPreset& p : BuiltInPresets()) {
        std::unique_ptr<AVCodecContext, CtxFree> c(avcodec_alloc_context3(codec));
        c->width = 64;
        c->height = 64;
        c->pix_fmt = AV_PIX_FMT_YUV420P;
        c->time_base = {1, 25};
        for (const std::string& line : Lines(p.Text)) {
            const size_t eq = line.find('=');
            const std::string name = line.substr(0, eq), value = line.substr(eq + 1);
            TLegacyTranslation t;
            std::vector<std::pair<std::string, std::string>> opts{{name, value}};
            if (TranslateLegacyOption(name, value, t)) opts = t.Options;
            for (const auto& [n, v] : opts) {
                if (n == "motion_est") continue;  // the MPEG family's, not libx264's
                EXPECT_GE(av_opt_set(c.get(), n.c_str(), v.c_str(), AV_OPT_SEARCH_CHILDREN), 0)
                    << p.Name << ": " << n << "=" << v;
            }
        }
        EXPECT_GE(avcodec_open2(c.get(), codec, nullptr), 0) << p.Name;
    }
}

}  // namespace
}  // namespace tw
