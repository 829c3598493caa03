// Every built-in preset through the engine, as a user's "vpre" gives it: the
// 2011 option names must reach today's libx264 and the encoder must open.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "binding/Entries.h"
#include "binding/FFLoad.h"
#include "binding/LockManager.h"
#include "diag/FFLog.h"
#include "transcoder/CustomFFmpeg.h"
#include "transcoder/options/Presets.h"

namespace tw {
namespace {

struct EncoderFree {
    void operator()(AVCodecContext* c) const { lib().avcodec_free_context(&c); }
};

class PresetsOnEngine : public ::testing::TestWithParam<size_t> {
  protected:
    void SetUp() override {
        ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds)) << FFLoader().LastErrMsg();
        FFLogger()->TriggerEventInMainThread = false;
        Codec = lib().avcodec_find_encoder_by_name("libx264");
        if (!Codec) GTEST_SKIP() << "this libavcodec has no libx264";
    }
    const AVCodec* Codec = nullptr;
};

// Catches: a preset line that today's libraries refuse (a legacy name left
// untranslated, a value spelled the 2011 way), or settings that make libx264
// refuse to open.
TEST_P(PresetsOnEngine, AppliesStrictlyAndTheEncoderOpens) {
    const TOptionsPreset& preset = BuiltInPresets().at(GetParam());
    TCustomFFmpeg engine(4);
    engine.RaiseOnUnknownOption = true;
    engine.SetOption("vcodec", "libx264");
    ASSERT_NO_THROW(engine.SetOption("vpre", std::string(preset.Name))) << preset.Name;

    std::unique_ptr<AVCodecContext, EncoderFree> ctx(lib().avcodec_alloc_context3(Codec));
    ASSERT_TRUE(ctx);
    ASSERT_NO_THROW(
        engine.ApplyContextOptions(ctx.get(), engine.OptionContexts->Codec(AVMEDIA_TYPE_VIDEO),
                                   AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM, Codec))
        << preset.Name;
    ctx->width = 64;
    ctx->height = 48;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->time_base = {1, 25};
    ctx->framerate = {25, 1};
    int ret;
    {
        CodecLockGuard lock;
        ret = lib().avcodec_open2(ctx.get(), Codec, nullptr);
    }
    EXPECT_GE(ret, 0) << preset.Name;
}

INSTANTIATE_TEST_SUITE_P(AllBuiltIn, PresetsOnEngine,
                         ::testing::Range<size_t>(0, BuiltInPresetCount),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             std::string name(BuiltInPresets().at(info.param).Name);
                             for (char& c : name)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

TEST(PresetsOnEngineTexts, AnUnknownNameStillFails) {
    ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds));
    TCustomFFmpeg engine(4);
    engine.RaiseOnUnknownOption = true;
    try {
        engine.SetOption("no_such_option_2011", "1");
        FAIL() << "accepted";
    } catch (const FFmpegException& e) {
        EXPECT_STREQ(e.what(), "Unrecognized option \"no_such_option_2011\"");
    }
}

}  // namespace
}  // namespace tw
