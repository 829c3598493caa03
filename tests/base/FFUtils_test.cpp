// tests/base/FFUtils_test.cpp — error texts and the formatting helpers.
#include "diag/FFUtils.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "binding/Entries.h"
#include "binding/FFLoad.h"

namespace tw {
namespace {

// Catches: a wrong text, a wrong separator, or a code mapped to its neighbour.
TEST(ErrorText, SubjectAndMessageOfEachGroup) {
    EXPECT_EQ(ErrorText("a.flv", -2), "a.flv: No such file or directory");
    EXPECT_EQ(ErrorText("a.flv", -32), "a.flv: End of file");
    EXPECT_EQ(ErrorText("a.flv", -10054), "a.flv: Connection reset by peer");
    EXPECT_EQ(ErrorText("a.flv", -1296385272), "a.flv: Demuxer not found");

    // Group 1, including the texts that are the libraries' own meanings.
    EXPECT_EQ(ErrorMessage(-1), "Operation not permitted");
    EXPECT_EQ(ErrorMessage(-11), "Resource temporarily unavailable / Try again");
    EXPECT_EQ(ErrorMessage(-12), "Not enough space / Out of memory");
    EXPECT_EQ(ErrorMessage(-22), "Invalid argument / Invalid data found when processing input");
    EXPECT_EQ(ErrorMessage(-33), "Number syntax expected in filename");
    EXPECT_EQ(ErrorMessage(-42), "Unknown format");
    EXPECT_EQ(ErrorMessage(-81), ".lib section in a.out corrupted");
    EXPECT_EQ(ErrorMessage(-109), "Too many references: cannot splice");
    EXPECT_EQ(ErrorMessage(-125), "Operation Canceled");
    EXPECT_EQ(ErrorMessage(-131), "State not recoverable");

    // Group 2: equivalents take the group-1 text, the rest their symbol.
    EXPECT_EQ(ErrorMessage(-10004), "Interrupted function call");
    EXPECT_EQ(ErrorMessage(-10036), "Operation now in progress");
    EXPECT_EQ(ErrorMessage(-10062), "Too many symbolic links encountered");
    EXPECT_EQ(ErrorMessage(-10071), "Object is remote");
    EXPECT_EQ(ErrorMessage(-10035), "WSAEWOULDBLOCK");
    EXPECT_EQ(ErrorMessage(-10108), "WSASERVICE_NOT_FOUND");
    EXPECT_EQ(ErrorMessage(-10110), "WSA_E_NO_MORE");
    EXPECT_EQ(ErrorMessage(-11004), "WSANO_DATA");

    // Group 3: the libraries' tag codes, as today's headers spell them.
    EXPECT_EQ(ErrorMessage(AVERROR_DECODER_NOT_FOUND), "Decoder not found");
    EXPECT_EQ(ErrorMessage(AVERROR_ENCODER_NOT_FOUND), "Encoder not found");
    EXPECT_EQ(ErrorMessage(AVERROR_BSF_NOT_FOUND), "Bitstream filter not found");
    EXPECT_EQ(ErrorMessage(AVERROR_FILTER_NOT_FOUND), "Filter not found");
    EXPECT_EQ(ErrorMessage(AVERROR_PROTOCOL_NOT_FOUND), "Protocol not found");
    EXPECT_EQ(ErrorMessage(AVERROR_STREAM_NOT_FOUND), "Stream not found");
    EXPECT_EQ(ErrorMessage(AVERROR_MUXER_NOT_FOUND), "Muxer not found");
    EXPECT_EQ(ErrorMessage(AVERROR_PATCHWELCOME), "Not yet implemented in FFmpeg");
}

// Catches: codes missing from the table or absent ones added (-41, -58,
// socket numbers between the listed ones).
TEST(ErrorText, TableHas200CodesAnd159Messages) {
    auto known = [](int code) {
        return ErrorMessage(code) != "Error number " + std::to_string(code) + " occurred";
    };
    int codes = 0;
    std::set<std::string> messages;
    auto count = [&](int code) {
        if (!known(code)) return;
        ++codes;
        messages.insert(ErrorMessage(code));
    };
    for (int code = -1; code >= -11100; --code) count(code);
    for (int code :
         {AVERROR_DECODER_NOT_FOUND, AVERROR_ENCODER_NOT_FOUND, AVERROR_BSF_NOT_FOUND,
          AVERROR_FILTER_NOT_FOUND, AVERROR_DEMUXER_NOT_FOUND, AVERROR_PROTOCOL_NOT_FOUND,
          AVERROR_STREAM_NOT_FOUND, AVERROR_MUXER_NOT_FOUND, AVERROR_PATCHWELCOME})
        count(code);
    EXPECT_EQ(codes, 200);
    EXPECT_EQ(messages.size(), 159u);
    EXPECT_FALSE(known(-41));
    EXPECT_FALSE(known(-58));
    EXPECT_FALSE(known(-132));
    EXPECT_FALSE(known(-10072));  // between two listed socket codes
}

TEST(ErrorText, DefaultMessageCarriesTheSignedCode) {
    EXPECT_EQ(ErrorText("a.flv", -41), "a.flv: Error number -41 occurred");
    EXPECT_EQ(ErrorText("x", 0), "x: Error number 0 occurred");
    EXPECT_EQ(ErrorText("x", 5), "x: Error number 5 occurred");
    EXPECT_EQ(ErrorText("", -2147483647 - 1), ": Error number -2147483648 occurred");
}

// Catches: today's end-of-file and invalid-data codes reaching the user as a
// bare number.
TEST(ErrorText, CodesOfTodaysLibrariesHaveTexts) {
    EXPECT_EQ(ErrorText("a.flv", AVERROR_EOF), "a.flv: End of file");
    EXPECT_EQ(ErrorText("a.flv", AVERROR_INVALIDDATA),
              "a.flv: Invalid data found when processing input");
    for (int code : {AVERROR_EXIT, AVERROR_BUG, AVERROR_BUG2, AVERROR_BUFFER_TOO_SMALL,
                     AVERROR_OPTION_NOT_FOUND, AVERROR_EXTERNAL, AVERROR_UNKNOWN,
                     AVERROR_EXPERIMENTAL, AVERROR_INPUT_CHANGED, AVERROR_OUTPUT_CHANGED,
                     AVERROR_HTTP_BAD_REQUEST, AVERROR_HTTP_UNAUTHORIZED, AVERROR_HTTP_FORBIDDEN,
                     AVERROR_HTTP_NOT_FOUND, AVERROR_HTTP_OTHER_4XX, AVERROR_HTTP_SERVER_ERROR}) {
        EXPECT_EQ(ErrorMessage(code).find("Error number"), std::string::npos) << code;
        EXPECT_FALSE(ErrorMessage(code).empty()) << code;
    }
}

TEST(FormatTime, Fields) {
    EXPECT_EQ(FormatTime(3723456789), "01:02:03.456");
    EXPECT_EQ(FormatTime(0), "00:00:00.000");
    EXPECT_EQ(FormatTime(int64_t(25) * 3600 * 1000000), "25:00:00.000");
    EXPECT_EQ(FormatTime(999), "00:00:00.000");  // milliseconds truncate
    EXPECT_EQ(FormatTime(59999999), "00:00:59.999");
    EXPECT_EQ(FormatTime(AV_NOPTS_VALUE), "N/A");
    // Remainders take the sign of the time.
    EXPECT_EQ(FormatTime(-3723456789), "-01:-02:-03.-456");
    // Hours are not cut to 32 bits.
    EXPECT_EQ(FormatTime(INT64_MAX), "2562047788:00:54.775");
}

TEST(MediaTypeName, EveryType) {
    EXPECT_EQ(MediaTypeName(0), "Video");
    EXPECT_EQ(MediaTypeName(1), "Audio");
    EXPECT_EQ(MediaTypeName(2), "Data");
    EXPECT_EQ(MediaTypeName(3), "Subtitle");
    EXPECT_EQ(MediaTypeName(4), "Attachment");
    EXPECT_EQ(MediaTypeName(-1), "Unknown");
    EXPECT_EQ(MediaTypeName(5), "Unknown");
}

struct TContextFree {
    void operator()(AVCodecContext* c) const { lib().avcodec_free_context(&c); }
};
struct TParametersFree {
    void operator()(AVCodecParameters* p) const { lib().avcodec_parameters_free(&p); }
};
struct TDictFree {
    void operator()(AVDictionary* d) const { lib().av_dict_free(&d); }
};

class LoadedLibraries : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds)) << FFLoader().LastErrMsg();
    }
};

// A decoder lookup that finds a codec of the test's making.
AVCodec gFakeCodec{};
const AVCodec* FindFake(AVCodecID) { return &gFakeCodec; }

TEST_F(LoadedLibraries, CodecDescriptionOfFoundCodecs) {
    std::unique_ptr<AVCodecContext, TContextFree> ctx(lib().avcodec_alloc_context3(nullptr));
    ASSERT_TRUE(ctx);
    ctx->codec_id = AV_CODEC_ID_H264;
    EXPECT_EQ(CodecDescription(ctx.get(), false),
              "h264(H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10)");
    ctx->codec_id = AV_CODEC_ID_AAC;
    EXPECT_EQ(CodecDescription(ctx.get(), false), "aac(AAC (Advanced Audio Coding))");
    // The encoder flag looks up the encoder, whose name differs here.
    ctx->codec_id = AV_CODEC_ID_FLV1;
    EXPECT_EQ(CodecDescription(ctx.get(), false),
              "flv(FLV / Sorenson Spark / Sorenson H.263 (Flash Video))");
    ctx->codec_id = AV_CODEC_ID_H264;
    if (lib().avcodec_find_encoder_by_name("libx264")) {
        EXPECT_EQ(CodecDescription(ctx.get(), true).rfind("libx264(", 0), 0u);
    }

    std::unique_ptr<AVCodecParameters, TParametersFree> par(lib().avcodec_parameters_alloc());
    ASSERT_TRUE(par);
    par->codec_id = AV_CODEC_ID_MP3;
    EXPECT_EQ(CodecDescription(par.get(), false), "mp3float(MP3 (MPEG audio layer 3))");
}

// Catches: "name()" or "name(  )" for a codec whose long name is blank, and
// long names that keep their padding.
TEST_F(LoadedLibraries, CodecDescriptionTrimsOrDropsTheLongName) {
    auto saved = lib().avcodec_find_decoder;
    lib().avcodec_find_decoder = &FindFake;
    std::unique_ptr<AVCodecParameters, TParametersFree> par(lib().avcodec_parameters_alloc());
    gFakeCodec.name = "fake";
    gFakeCodec.long_name = nullptr;
    EXPECT_EQ(CodecDescription(par.get(), false), "fake");
    gFakeCodec.long_name = "";
    EXPECT_EQ(CodecDescription(par.get(), false), "fake");
    gFakeCodec.long_name = " \t ";
    EXPECT_EQ(CodecDescription(par.get(), false), "fake");
    gFakeCodec.long_name = "  Fake Codec \t";
    EXPECT_EQ(CodecDescription(par.get(), false), "fake(Fake Codec)");
    lib().avcodec_find_decoder = saved;
}

// Catches: wrong byte order, wrong case of the hex digits, and printing
// unprintable bytes as characters.
TEST_F(LoadedLibraries, CodecDescriptionFallbacksWhenNoCodecIsFound) {
    std::unique_ptr<AVCodecContext, TContextFree> ctx(lib().avcodec_alloc_context3(nullptr));
    std::unique_ptr<AVCodecParameters, TParametersFree> par(lib().avcodec_parameters_alloc());
    ctx->codec_id = par->codec_id = AV_CODEC_ID_MPEG2TS;
    EXPECT_EQ(CodecDescription(ctx.get(), false), "mpeg2ts");
    EXPECT_EQ(CodecDescription(par.get(), true), "mpeg2ts");

    ctx->codec_id = par->codec_id = AV_CODEC_ID_NONE;
    ctx->codec_tag = par->codec_tag = MKTAG('F', 'L', 'V', '1');
    EXPECT_EQ(CodecDescription(ctx.get(), false), "FLV1 / 0x31564C46");
    EXPECT_EQ(CodecDescription(par.get(), false), "FLV1 / 0x31564C46");
    ctx->codec_tag = MKTAG('a', 'b', 'c', '~');
    EXPECT_EQ(CodecDescription(ctx.get(), false), "abc~ / 0x7E636261");
    ctx->codec_tag = MKTAG('a', 'b', 'c', 0x7F);
    EXPECT_EQ(CodecDescription(ctx.get(), false), "0x7f636261");
    ctx->codec_tag = MKTAG('F', 'L', 'V', 0x1F);
    EXPECT_EQ(CodecDescription(ctx.get(), false), "0x1f564c46");
    ctx->codec_tag = 0x1a;
    EXPECT_EQ(CodecDescription(ctx.get(), false), "0x001a");
    EXPECT_EQ(CodecDescription(static_cast<const AVCodecContext*>(nullptr), false), "");
}

// Catches: a crash when libavcodec is not bound.
TEST(CodecDescription, WithoutLibrariesFallsBackToTheTag) {
    auto savedDecoder = lib().avcodec_find_decoder;
    lib().avcodec_find_decoder = nullptr;
    AVCodecParameters par{};
    par.codec_id = AV_CODEC_ID_H264;
    par.codec_tag = MKTAG('H', '2', '6', '4');
    EXPECT_EQ(CodecDescription(&par, false), "H264 / 0x34363248");
    lib().avcodec_find_decoder = savedDecoder;
}

TEST_F(LoadedLibraries, MetadataValue) {
    AVDictionary* raw = nullptr;
    ASSERT_GE(lib().av_dict_set(&raw, "language", "eng", 0), 0);
    ASSERT_GE(lib().av_dict_set(&raw, "title", "", 0), 0);
    std::unique_ptr<AVDictionary, TDictFree> dict(raw);
    EXPECT_EQ(MetadataValue(dict.get(), "language", "und"), "eng");
    EXPECT_EQ(MetadataValue(dict.get(), "LANGUAGE", "und"), "eng");  // keys ignore case
    EXPECT_EQ(MetadataValue(dict.get(), "title", "none"), "");       // present but empty
    EXPECT_EQ(MetadataValue(dict.get(), "lang", "und"), "und");      // no prefix match
    EXPECT_EQ(MetadataValue(dict.get(), "artist", ""), "");
    EXPECT_EQ(MetadataValue(nullptr, "language", "und"), "und");
}

}  // namespace
}  // namespace tw
