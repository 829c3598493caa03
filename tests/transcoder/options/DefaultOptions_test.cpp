// Tests of the generic option path, of copying the recorded options into real
// contexts, and of codec lookup by name.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "binding/Entries.h"
#include "binding/FFLoad.h"
#include "diag/FFLog.h"
#include "tests/support/LogCapture.h"
#include "transcoder/CustomFFmpeg.h"

namespace tw {
namespace {

class GenericOptions : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds));
        FFLogger()->TriggerEventInMainThread = false;
        FFLogger()->SetLogLevel(llInfo);
        E.ResetOptions();  // the engine was built before the libraries were loaded
    }

    TOptionContexts& Oc() { return *E.OptionContexts; }
    int64_t Int(void* ctx, const char* name) {
        int64_t v = -12345;
        EXPECT_GE(lib().av_opt_get_int(ctx, name, 0, &v), 0) << name;
        return v;
    }
    static std::string Text(void* ctx, const char* name) {
        uint8_t* out = nullptr;
        if (lib().av_opt_get(ctx, name, 0, &out) < 0 || !out) return "<none>";
        std::string s(reinterpret_cast<char*>(out));
        lib().av_free(out);
        return s;
    }

    TCustomFFmpeg E{20};
};

struct CodecCtxFree {
    void operator()(AVCodecContext* c) const { lib().avcodec_free_context(&c); }
};
using CodecCtx = std::unique_ptr<AVCodecContext, CodecCtxFree>;

// Catches: a codec option set in the wrong media types' contexts.
TEST_F(GenericOptions, CodecOptionGoesToEveryMediaTypeItBelongsTo) {
    ASSERT_TRUE(E.SetDefaultOption("g", "18"));  // video only
    EXPECT_EQ(Oc().Codec(AVMEDIA_TYPE_VIDEO)->gop_size, 18);
    EXPECT_NE(Oc().Codec(AVMEDIA_TYPE_AUDIO)->gop_size, 18);
    EXPECT_NE(Oc().Codec(AVMEDIA_TYPE_SUBTITLE)->gop_size, 18);
    // data and attachment take any codec option
    EXPECT_EQ(Oc().Codec(AVMEDIA_TYPE_DATA)->gop_size, 18);
    EXPECT_EQ(Oc().Codec(AVMEDIA_TYPE_ATTACHMENT)->gop_size, 18);

    ASSERT_TRUE(E.SetDefaultOption("cutoff", "15000"));  // audio only
    EXPECT_EQ(Oc().Codec(AVMEDIA_TYPE_AUDIO)->cutoff, 15000);
    EXPECT_EQ(Oc().Codec(AVMEDIA_TYPE_VIDEO)->cutoff, 0);

    ASSERT_TRUE(E.SetDefaultOption("b", "300000"));  // video and audio
    EXPECT_EQ(Oc().Codec(AVMEDIA_TYPE_VIDEO)->bit_rate, 300000);
    EXPECT_EQ(Oc().Codec(AVMEDIA_TYPE_AUDIO)->bit_rate, 300000);

    ASSERT_EQ(Oc().RecordedCount(), 3);
    EXPECT_EQ(Oc().Recorded()[0].Name, "g");
    EXPECT_FALSE(Oc().Recorded()[0].HasValue);
}

// Catches: the format and scaler contexts skipped, or tried before codecs.
TEST_F(GenericOptions, FormatThenScalerOptions) {
    ASSERT_TRUE(E.SetDefaultOption("packetsize", "2324"));
    EXPECT_EQ(Oc().Format()->packet_size, 2324u);
    ASSERT_TRUE(E.SetDefaultOption("sws_flags", "bilinear"));
    EXPECT_EQ(Int(Oc().Scaler(), "sws_flags"), SWS_BILINEAR);
    EXPECT_EQ(Oc().RecordedCount(), 2);
}

// Catches: the prefix rule applied before the flag lookup, or to the wrong type.
TEST_F(GenericOptions, PrefixRuleReachesTheTypesOwnOption) {
    const int64_t videoB = Oc().Codec(AVMEDIA_TYPE_VIDEO)->bit_rate;
    ASSERT_TRUE(E.SetDefaultOption("ab", "96000"));
    EXPECT_EQ(Oc().Codec(AVMEDIA_TYPE_AUDIO)->bit_rate, 96000);
    EXPECT_EQ(Oc().Codec(AVMEDIA_TYPE_VIDEO)->bit_rate, videoB);
    ASSERT_TRUE(E.SetDefaultOption("vb", "700000"));
    EXPECT_EQ(Oc().Codec(AVMEDIA_TYPE_VIDEO)->bit_rate, 700000);
    EXPECT_EQ(Oc().Codec(AVMEDIA_TYPE_AUDIO)->bit_rate, 96000);
    // recorded under the name of the option that took it: libavcodec still
    // knows "ab" itself, "vb" reaches "b" through the prefix rule
    ASSERT_EQ(Oc().RecordedCount(), 2);
    EXPECT_EQ(Oc().Recorded()[0].Name, "ab");
    EXPECT_EQ(Oc().Recorded()[1].Name, "b");
}

// Catches: wrong failure texts, failures recorded, or a blank name touching
// the failure text.
TEST_F(GenericOptions, FailuresLeaveTheirTextAndRecordNothing) {
    EXPECT_FALSE(E.SetDefaultOption("g", "many"));
    EXPECT_EQ(E.LastOptionFailure(), "Invalid value \"many\" for option \"g\"");
    EXPECT_FALSE(E.SetDefaultOption("vb", "lots"));
    EXPECT_EQ(E.LastOptionFailure(), "Invalid value \"lots\" for option \"vb\"");
    EXPECT_FALSE(E.SetDefaultOption("no_such_thing", "1"));
    EXPECT_EQ(E.LastOptionFailure(), "Unrecognized option \"no_such_thing\"");
    EXPECT_FALSE(E.SetDefaultOption(" \t", "1"));
    EXPECT_EQ(E.LastOptionFailure(), "Unrecognized option \"no_such_thing\"");
    EXPECT_EQ(Oc().RecordedCount(), 0);
}

// Catches: the failure text shared by engines (one engine's failure raised by
// another, or a data race between engines configured on different threads).
TEST_F(GenericOptions, FailureTextBelongsToTheEngine) {
    TCustomFFmpeg other(1);
    EXPECT_FALSE(E.SetDefaultOption("main_failure", "1"));
    std::thread([&] { EXPECT_FALSE(other.SetDefaultOption("other_failure", "1")); }).join();
    EXPECT_EQ(E.LastOptionFailure(), "Unrecognized option \"main_failure\"");
    EXPECT_EQ(other.LastOptionFailure(), "Unrecognized option \"other_failure\"");
}

// Catches: private options of codecs and muxers refused, or recorded without
// their value.
TEST_F(GenericOptions, PrivateOptionsAreRecordedWithTheirValue) {
    ASSERT_TRUE(E.SetDefaultOption("flvflags", "add_keyframe_index"));  // flv muxer
    ASSERT_EQ(Oc().RecordedCount(), 1);
    EXPECT_EQ(Oc().Recorded()[0].Name, "flvflags");
    EXPECT_TRUE(Oc().Recorded()[0].HasValue);
    EXPECT_EQ(Oc().Recorded()[0].Value, "add_keyframe_index");
}

// Catches: older spellings not translated, or a dropped part not reported.
TEST_F(GenericOptions, OlderSpellingsAreTranslated) {
    test::LogCapture log;
    ASSERT_TRUE(E.SetDefaultOption("directpred", "1"));
    ASSERT_EQ(Oc().RecordedCount(), 1);
    EXPECT_EQ(Oc().Recorded()[0].Name, "direct-pred");
    EXPECT_EQ(Oc().Recorded()[0].Value, "spatial");

    ASSERT_TRUE(E.SetDefaultOption("flags", "+gmc"));
    EXPECT_EQ(Oc().RecordedCount(), 1);
    int verbose = 0;
    for (const test::LogCapture::Line& l : log.Lines()) verbose += l.Level == llVerbose;
    EXPECT_EQ(verbose, 1);
}

// Catches: the debug rule missing.
TEST_F(GenericOptions, DebugSettingRaisesTheLogLevel) {
    ASSERT_TRUE(E.SetDefaultOption("debug", "pict"));
    EXPECT_EQ(FFLogger()->LogLevel(), llDebug);
}

// Catches: recorded options not copied, copied against the flags, or private
// options not reaching priv_data.
TEST_F(GenericOptions, ApplyContextOptionsCopiesIntoARealEncoder) {
    const AVCodec* x264 = lib().avcodec_find_encoder_by_name("libx264");
    if (!x264) GTEST_SKIP() << "libx264 not in this build";
    ASSERT_TRUE(E.SetDefaultOption("vb", "800000"));
    ASSERT_TRUE(E.SetDefaultOption("cutoff", "12000"));  // audio only: must not be copied
    ASSERT_TRUE(E.SetDefaultOption("preset", "veryslow"));

    CodecCtx ctx(lib().avcodec_alloc_context3(x264));
    ASSERT_TRUE(ctx);
    E.ApplyContextOptions(ctx.get(), Oc().Codec(AVMEDIA_TYPE_VIDEO),
                          AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM, x264);
    EXPECT_EQ(ctx->bit_rate, 800000);
    EXPECT_EQ(ctx->cutoff, 0);
    EXPECT_EQ(Text(ctx->priv_data, "preset"), "veryslow");

    // Without the codec there is no private context to receive it.
    CodecCtx plain(lib().avcodec_alloc_context3(x264));
    E.ApplyContextOptions(plain.get(), Oc().Codec(AVMEDIA_TYPE_VIDEO), 17, nullptr);
    EXPECT_EQ(Text(plain->priv_data, "preset"), "medium");

    // A decoding flag set excludes encoding-only options such as "b".
    CodecCtx dec(lib().avcodec_alloc_context3(nullptr));
    E.ApplyContextOptions(dec.get(), Oc().Codec(AVMEDIA_TYPE_VIDEO), 18, nullptr);
    EXPECT_NE(dec->bit_rate, 800000);
}

// Catches: a private value the codec refuses being dropped silently.
TEST_F(GenericOptions, ApplyContextOptionsReportsARefusedPrivateValue) {
    const AVCodec* x264 = lib().avcodec_find_encoder_by_name("libx264");
    if (!x264) GTEST_SKIP() << "libx264 not in this build";
    ASSERT_TRUE(E.SetDefaultOption("crf", "very good"));
    CodecCtx ctx(lib().avcodec_alloc_context3(x264));
    try {
        E.ApplyContextOptions(ctx.get(), Oc().Codec(AVMEDIA_TYPE_VIDEO), 17, x264);
        ADD_FAILURE() << "refused value accepted";
    } catch (const FFmpegException& ex) {
        EXPECT_STREQ(ex.what(), "Invalid value \"very good\" for option \"crf\"");
    }
}

// Catches: format options not reaching an output context or its muxer.
TEST_F(GenericOptions, ApplyContextOptionsToAnOutputFormat) {
    ASSERT_TRUE(E.SetDefaultOption("packetsize", "2048"));
    ASSERT_TRUE(E.SetDefaultOption("flvflags", "add_keyframe_index"));
    AVFormatContext* raw = nullptr;
    ASSERT_GE(lib().avformat_alloc_output_context2(&raw, nullptr, "flv", nullptr), 0);
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> oc(
        raw, [](AVFormatContext* c) { lib().avformat_free_context(c); });
    E.ApplyContextOptions(oc.get(), Oc().Format(), AV_OPT_FLAG_ENCODING_PARAM);
    EXPECT_EQ(oc->packet_size, 2048u);
    EXPECT_EQ(Int(oc->priv_data, "flvflags"), 4);  // add_keyframe_index
}

// Catches: wrong lookup results or texts of FindCodec.
TEST_F(GenericOptions, FindCodecResultsAndTexts) {
    AVCodecID id = AV_CODEC_ID_H264;
    EXPECT_TRUE(E.FindCodec("", AVMEDIA_TYPE_VIDEO, true, 0, id));
    EXPECT_EQ(id, AV_CODEC_ID_NONE);

    EXPECT_FALSE(E.FindCodec("nosuchcodec", AVMEDIA_TYPE_VIDEO, true, 0, id));
    EXPECT_EQ(E.LastError, "Unknown encoder 'nosuchcodec'");
    EXPECT_FALSE(E.FindCodec("nosuchcodec", AVMEDIA_TYPE_VIDEO, false, 0, id));
    EXPECT_EQ(E.LastError, "Unknown decoder 'nosuchcodec'");

    EXPECT_FALSE(E.FindCodec("aac", AVMEDIA_TYPE_VIDEO, true, 0, id));
    EXPECT_EQ(E.LastError, "Invalid encoder type 'aac'");

    EXPECT_TRUE(E.FindCodec("h264", AVMEDIA_TYPE_VIDEO, false, 0, id));
    EXPECT_EQ(id, AV_CODEC_ID_H264);
    EXPECT_TRUE(E.FindCodec("aac", AVMEDIA_TYPE_AUDIO, true, 0, id));
    EXPECT_EQ(id, AV_CODEC_ID_AAC);
}

// Catches: experimental codecs accepted without "-strict experimental", or
// the wrong advice text.
TEST_F(GenericOptions, FindCodecRefusesExperimentalEncoders) {
    // Prefer one with a non-experimental alternative, so the advice is checked too.
    const AVCodec* exp = nullptr;
    void* it = nullptr;
    while (const AVCodec* c = lib().av_codec_iterate(&it)) {
        if (!lib().av_codec_is_encoder(c) || !(c->capabilities & AV_CODEC_CAP_EXPERIMENTAL))
            continue;
        const AVCodec* d = lib().avcodec_find_encoder(c->id);
        if (!exp || (d && !(d->capabilities & AV_CODEC_CAP_EXPERIMENTAL))) exp = c;
    }
    if (!exp) GTEST_SKIP() << "no experimental encoder in this build";

    std::string expected = std::string("encoder '") + exp->name +
                           "' is experimental and might produce bad results.\r\n"
                           "Add '-strict experimental' if you want to use it.";
    const AVCodec* def = lib().avcodec_find_encoder(exp->id);
    if (def && !(def->capabilities & AV_CODEC_CAP_EXPERIMENTAL))
        expected += std::string("\r\nOr use the non experimental encoder '") + def->name + "'.";

    AVCodecID id = AV_CODEC_ID_NONE;
    EXPECT_FALSE(E.FindCodec(exp->name, exp->type, true, FF_COMPLIANCE_NORMAL, id));
    EXPECT_EQ(E.LastError, expected);
    EXPECT_EQ(id, AV_CODEC_ID_NONE);
    EXPECT_TRUE(E.FindCodec(exp->name, exp->type, true, FF_COMPLIANCE_EXPERIMENTAL, id));
    EXPECT_EQ(id, exp->id);
}

}  // namespace
}  // namespace tw
