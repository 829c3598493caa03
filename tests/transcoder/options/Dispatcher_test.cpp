// Tests of the option table: entry order, value conversions, the fixed texts
// and the edge cases of single options.
#include "transcoder/options/Dispatcher.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "binding/Entries.h"
#include "binding/FFLoad.h"
#include "diag/FFLog.h"
#include "tests/support/LogCapture.h"
#include "transcoder/CustomFFmpeg.h"

namespace tw {
namespace {

class Dispatcher : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds));
        FFLogger()->SetLogLevel(llInfo);
        E.ResetOptions();  // the engine was built before the libraries were loaded
    }

    int64_t VideoB() const {
        int64_t v = 0;
        lib().av_opt_get_int(E.OptionContexts->Codec(AVMEDIA_TYPE_VIDEO), "b", 0, &v);
        return v;
    }
    int64_t AudioB() const {
        int64_t v = 0;
        lib().av_opt_get_int(E.OptionContexts->Codec(AVMEDIA_TYPE_AUDIO), "b", 0, &v);
        return v;
    }

    /// The message of the FFmpegException SetOption raises, or "" when none.
    std::string Failure(const std::string& name, const std::string& value) {
        try {
            E.SetOption(name, value);
        } catch (const FFmpegException& ex) {
            return ex.what();
        }
        return "";
    }

    TCustomFFmpeg E{20};
    test::LogCapture Log;
};

// Catches: an entry that writes the wrong field, or two fields swapped within
// one entry ("dump" into HexDump, "vsync" into AudioSyncMethod, ...).
TEST_F(Dispatcher, PlainEntriesWriteTheirOwnField) {
    struct Case {
        const char* Name;
        const char* Value;
        std::function<double(const TCustomFFmpeg&)> Field;
        double Expected;
    };
    const std::vector<Case> cases = {
        {"fs", "123456789012", [](auto& e) { return double(e.FileSizeLimit); }, 123456789012.0},
        {"dframes", "3", [](auto& e) { return double(e.MaxFrames[mfData]); }, 3},
        {"vframes", "4", [](auto& e) { return double(e.MaxFrames[mfVideo]); }, 4},
        {"aframes", "5", [](auto& e) { return double(e.MaxFrames[mfAudio]); }, 5},
        {"dump", "1", [](auto& e) { return double(e.PacketDump); }, 1},
        {"hex", "1", [](auto& e) { return double(e.HexDump); }, 1},
        {"re", "1", [](auto& e) { return double(e.RateEmulation); }, 1},
        {"loop_input", "1", [](auto& e) { return double(e.LoopInput); }, 1},
        {"loop_output", "3", [](auto& e) { return double(e.LoopOutput); }, 3},
        {"v", "2", [](auto& e) { return double(e.Verbose); }, 2},
        {"vsync", "2", [](auto& e) { return double(e.VideoSyncMethod); }, 2},
        {"async", "3", [](auto& e) { return double(e.AudioSyncMethod); }, 3},
        {"adrift_threshold", "0.25", [](auto& e) { return double(e.AudioDriftThreshold); }, 0.25},
        {"vglobal", "2", [](auto& e) { return double(e.VideoGlobalHeader); }, 2},
        {"copyts", "1", [](auto& e) { return double(e.CopyTs); }, 1},
        {"copytb", "1", [](auto& e) { return double(e.CopyTb); }, 1},
        {"shortest", "1", [](auto& e) { return double(e.Shortest); }, 1},
        {"dts_delta_threshold", "4.5", [](auto& e) { return double(e.DtsDeltaThreshold); }, 4.5},
        {"programid", "9", [](auto& e) { return double(e.ProgramId); }, 9},
        {"xerror", "1", [](auto& e) { return double(e.ExitOnError); }, 1},
        {"copyinkf", "1", [](auto& e) { return double(e.CopyInitialNonKeyframes); }, 1},
        {"intra", "1", [](auto& e) { return double(e.IntraOnly); }, 1},
        {"vn", "1", [](auto& e) { return double(e.VideoDisable); }, 1},
        {"vdt", "8", [](auto& e) { return double(e.VideoDiscard); }, 8},
        {"qscale", "3.5", [](auto& e) { return double(e.VideoQscale); }, 3.5},
        {"me_threshold", "6", [](auto& e) { return double(e.MeThreshold); }, 6},
        {"sameq", "1", [](auto& e) { return double(e.SameQuality); }, 1},
        {"pass", "2", [](auto& e) { return double(e.PassNumber); }, 2},
        {"deinterlace", "1", [](auto& e) { return double(e.Deinterlace); }, 1},
        {"psnr", "1", [](auto& e) { return double(e.DoPsnr); }, 1},
        {"top", "0", [](auto& e) { return double(e.TopFieldFirst); }, 0},
        {"dc", "10", [](auto& e) { return double(e.IntraDcPrecision); }, 10},
        {"qphist", "1", [](auto& e) { return double(e.QpHistogram); }, 1},
        {"force_fps", "1", [](auto& e) { return double(e.ForceFps); }, 1},
        {"aq", "4.5", [](auto& e) { return double(e.AudioQscale); }, 4.5},
        {"ar", "22050", [](auto& e) { return double(e.AudioSampleRate); }, 22050},
        {"ac", "6", [](auto& e) { return double(e.AudioChannels); }, 6},
        {"an", "1", [](auto& e) { return double(e.AudioDisable); }, 1},
        {"vol", "512", [](auto& e) { return double(e.AudioVolume); }, 512},
        {"sn", "1", [](auto& e) { return double(e.SubtitleDisable); }, 1},
        {"vc", "2", [](auto& e) { return double(e.VideoChannel); }, 2},
        {"isync", "1", [](auto& e) { return double(e.InputSync); }, 1},
        {"muxdelay", "3.5", [](auto& e) { return double(e.MuxMaxDelay); }, 3.5},
        {"muxpreload", "0", [](auto& e) { return double(e.MuxPreload); }, 0},
    };
    for (const Case& c : cases) {
        TCustomFFmpeg e(1);
        e.SetOption(c.Name, c.Value);
        EXPECT_DOUBLE_EQ(c.Field(e), c.Expected) << c.Name;
    }

    struct TextCase {
        const char* Name;
        std::string TCustomFFmpeg::*Field;
    };
    for (const TextCase& c : std::vector<TextCase>{
             {"f", &TCustomFFmpeg::ForcedFormatName},
             {"rc_override", &TCustomFFmpeg::VideoRcOverride},
             {"passlogfile", &TCustomFFmpeg::PassLogFilePrefix},
             {"vstats_file", &TCustomFFmpeg::VstatsFileName},
             {"vfilters", &TCustomFFmpeg::VideoFilters},
             {"vf", &TCustomFFmpeg::VideoFilters},
             {"vlang", &TCustomFFmpeg::VideoLanguage},
             {"force_key_frames", &TCustomFFmpeg::ForcedKeyFrames},
             {"alang", &TCustomFFmpeg::AudioLanguage},
             {"slang", &TCustomFFmpeg::SubtitleLanguage},
             {"tvstd", &TCustomFFmpeg::VideoStandard},
         }) {
        TCustomFFmpeg e(1);
        e.SetOption(c.Name, "some text");
        EXPECT_EQ(e.*c.Field, "some text") << c.Name;
    }
}

// Catches: no-action entries that act, or a wrong log text or level.
TEST_F(Dispatcher, NoActionEntriesOnlyLog) {
    for (const char* name : {"L", "h", "version", "formats", "codecs", "bsfs", "protocols",
                             "filters", "i", "y", "benchmark"}) {
        Log.Clear();
        E.SetOption(name, "whatever.flv");
        EXPECT_TRUE(Log.Has(llInfo, std::string("Do nothing: option - ") + name)) << name;
    }
    EXPECT_EQ(E.OptionContexts->RecordedCount(), 0);
    EXPECT_EQ(E.ForcedFormatName, "");

    Log.Clear();
    E.SetOption("timelimit", "10");
    EXPECT_TRUE(Log.Has(llWarning, "Warning: -timelimit not implemented on Windows"));
    EXPECT_EQ(E.OptionContexts->RecordedCount(), 0);
}

// Catches: "vb"/"b"/"ab" reaching the generic path without the bit-rate
// check, or the prefix rule setting the wrong media type.
TEST_F(Dispatcher, BitRateOptionsSetTheirMediaTypeAndWarnWhenLow) {
    const int64_t audioBefore = AudioB();
    E.SetOption("vb", "1000k");
    EXPECT_EQ(VideoB(), 1000000);
    EXPECT_EQ(AudioB(), audioBefore);
    EXPECT_FALSE(Log.Has(llWarning,
                         "WARNING: The bitrate parameter is set too low. It takes "
                         "bits/s as argument, not kbits/s"));

    E.SetOption("ab", "500");
    EXPECT_EQ(AudioB(), 500);
    EXPECT_EQ(VideoB(), 1000000);
    EXPECT_TRUE(Log.Has(llWarning,
                        "WARNING: The bitrate parameter is set too low. It takes "
                        "bits/s as argument, not kbits/s"));

    E.SetOption("b", "64000");
    EXPECT_EQ(VideoB(), 64000);
    EXPECT_EQ(Failure("b", "fast"), "Invalid value \"fast\" for option \"b\"");
}

// Catches: a case-insensitive comparison, or unknown names accepted while
// RaiseOnUnknownOption is set.
TEST_F(Dispatcher, NamesAreCaseSensitiveAndUnknownNamesRaise) {
    EXPECT_EQ(Failure("VCODEC", "libx264"), "Unrecognized option \"VCODEC\"");
    EXPECT_EQ(E.VideoCodecName, "");

    E.RaiseOnUnknownOption = false;
    EXPECT_EQ(Failure("no_such_option", "1"), "");
    EXPECT_EQ(Failure("g", "not a number"), "");
    EXPECT_EQ(E.OptionContexts->RecordedCount(), 0);

    E.RaiseOnUnknownOption = true;
    EXPECT_EQ(Failure("  ", "1"), "Empty option name");
}

// Catches: wrong flag, integer or float conversion rules or texts.
TEST_F(Dispatcher, ValueConversions) {
    E.SetOption("copyts", "");
    EXPECT_TRUE(E.CopyTs);
    E.SetOption("copyts", "0");
    EXPECT_FALSE(E.CopyTs);
    E.SetOption("copyts", "no");
    EXPECT_TRUE(E.CopyTs);

    E.SetOption("loop_output", "$1F");
    EXPECT_EQ(E.LoopOutput, 31);
    E.SetOption("loop_output", "-2");
    EXPECT_EQ(E.LoopOutput, -2);
    EXPECT_EQ(Failure("loop_output", "12x"), "'12x' is not a valid integer value");
    EXPECT_EQ(Failure("loop_output", ""), "'' is not a valid integer value");
    EXPECT_EQ(Failure("loop_output", "3000000000"), "'3000000000' is not a valid integer value");
    EXPECT_EQ(E.LoopOutput, -2);

    E.SetOption("fs", "3000000000");
    EXPECT_EQ(E.FileSizeLimit, 3000000000LL);
    EXPECT_EQ(Failure("fs", "1.5"), "'1.5' is not a valid integer value");

    EXPECT_EQ(Failure("muxdelay", "0,5"), "'0,5' is not a valid floating point value");
    EXPECT_EQ(Failure("muxdelay", "abc"), "'abc' is not a valid floating point value");
    EXPECT_FLOAT_EQ(E.MuxMaxDelay, 0.7f);
    E.SetOption("muxdelay", "-1");  // no range check for the option
    EXPECT_FLOAT_EQ(E.MuxMaxDelay, -1.0f);
}

// Catches: the ar/ac guard missing, or applied to the direct "vol" value.
TEST_F(Dispatcher, SampleRateAndChannelsIgnoreValuesNotAboveZero) {
    E.SetOption("ar", "0");
    E.SetOption("ac", "-1");
    EXPECT_EQ(E.AudioSampleRate, 44100);
    EXPECT_EQ(E.AudioChannels, 2);
    EXPECT_EQ(Failure("ar", "x"), "'x' is not a valid integer value");
}

// Catches: removed options silently accepted, or the wrong text.
TEST_F(Dispatcher, RemovedCropAndPadOptionsFail) {
    for (const char* n : {"croptop", "cropbottom", "cropleft", "cropright"})
        EXPECT_EQ(Failure(n, "8"), "Removed, use the crop filter instead") << n;
    for (const char* n : {"padtop", "padbottom", "padleft", "padright", "padcolor"})
        EXPECT_EQ(Failure(n, "8"), "Removed, use the pad filter instead") << n;
}

// Catches: the thread warning shown regardless of the verbosity.
TEST_F(Dispatcher, ThreadsWarnsOnlyWhenVerbose) {
    const std::string warning =
        "Warning: if the ffmpeg libraries were not compiled with thread support, it would be "
        "using thread emulation.";
    E.SetOption("threads", "4");
    EXPECT_EQ(E.ThreadCount, 4);
    EXPECT_TRUE(Log.Has(llVerbose, warning));
    Log.Clear();
    E.SetOption("v", "-1");
    E.SetOption("threads", "2");
    EXPECT_EQ(E.ThreadCount, 2);
    EXPECT_FALSE(Log.Has(llVerbose, warning));
}

// Catches: "copy" stored as a codec name, or an empty value clearing a choice.
TEST_F(Dispatcher, CodecOptionsAndStreamCopy) {
    E.SetOption("vcodec", "libx264");
    EXPECT_EQ(E.VideoCodecName, "libx264");
    E.SetOption("vcodec", "");
    EXPECT_EQ(E.VideoCodecName, "libx264");
    E.SetOption("vcodec", "copy");
    EXPECT_TRUE(E.VideoStreamCopy);
    EXPECT_EQ(E.VideoCodecName, "");

    E.SetOption("acodec", "copy");
    E.SetOption("scodec", "mov_text");
    EXPECT_TRUE(E.AudioStreamCopy);
    EXPECT_EQ(E.AudioCodecName, "");
    EXPECT_EQ(E.SubtitleCodecName, "mov_text");
    EXPECT_FALSE(E.SubtitleStreamCopy);
}

// Catches: "f", "vf" overwritten by an empty value; "loglevel" not reaching
// the shared logger.
TEST_F(Dispatcher, EmptyValuesKeepFormatAndFiltersAndLoglevelSetsTheLogger) {
    E.SetOption("f", "flv");
    E.SetOption("f", "");
    EXPECT_EQ(E.ForcedFormatName, "flv");
    E.SetOption("vf", "scale=320:240");
    E.SetOption("vf", "");
    EXPECT_EQ(E.VideoFilters, "scale=320:240");

    E.SetOption("loglevel", "warning");
    EXPECT_EQ(FFLogger()->LogLevel(), llWarning);
    E.SetOption("loglevel", "debug");
    EXPECT_EQ(FFLogger()->LogLevel(), llDebug);
    EXPECT_FALSE(Failure("loglevel", "loudest").empty());
    EXPECT_EQ(FFLogger()->LogLevel(), llDebug);
}

// Catches: time options parsed with the wrong kind, "t" not updating the
// expected duration, or the timestamp not rounded to seconds.
TEST_F(Dispatcher, TimeOptions) {
    E.SetOption("t", "00:01:02.5");
    EXPECT_EQ(E.RecordingTime, 62500000);
    EXPECT_EQ(E.TotalDuration, 62500000);
    E.SetOption("ss", "1.25");
    EXPECT_EQ(E.StartTime, 1250000);
    E.SetOption("itsoffset", "-2");
    EXPECT_EQ(E.InputTsOffset, -2000000);
    E.SetOption("timestamp", "2011-03-04 05:06:07.6");
    // Interpreted as local time; only the rounding is checked here.
    EXPECT_GT(E.RecordingTimestamp, 1299000000);
    EXPECT_EQ(Failure("t", "soon"), "Invalid duration specification for t: soon");
    EXPECT_EQ(Failure("timestamp", "someday"), "Invalid date specification for timestamp: someday");
    EXPECT_EQ(E.RecordingTime, 62500000);
}

// Catches: maps, metadata, stream ids and scales not reaching their lists.
TEST_F(Dispatcher, ListOptions) {
    E.SetOption("map", "0:1");
    E.SetOption("map", "1.2:3.4");
    ASSERT_EQ(E.StreamMapCount(), 2);
    EXPECT_EQ(E.StreamMaps[0].SyncFile, 0);
    EXPECT_EQ(E.StreamMaps[0].SyncStream, 1);
    EXPECT_EQ(E.StreamMaps[1].File, 1);
    EXPECT_EQ(E.StreamMaps[1].SyncStream, 4);

    E.SetOption("map_meta_data", "0,s0:0,s1");
    ASSERT_EQ(E.MetadataMapCount(), 1);
    EXPECT_EQ(E.MetadataMaps[0].Out.Kind, 's');
    EXPECT_EQ(E.MetadataMaps[0].In.Index, 1);
    EXPECT_TRUE(E.MetadataGlobalAutocopy);
    EXPECT_FALSE(E.MetadataStreamsAutocopy);
    EXPECT_TRUE(E.MetadataChaptersAutocopy);

    E.SetOption("map_chapters", "0:1");
    ASSERT_EQ(E.ChapterMapCount(), 1);
    EXPECT_EQ(E.ChapterMaps[0].OutFile, 0);
    EXPECT_EQ(E.ChapterMaps[0].InFile, 1);

    E.SetOption("streamid", "2:301");
    EXPECT_EQ(E.StreamIdMap, (std::vector<int>{0, 0, 301}));

    E.SetOption("itsscale", "1:0.5");
    EXPECT_EQ(E.InputTsScales[0], (std::vector<double>{0, 0.5}));

    E.SetOption("metadata", "title=Joined");
    EXPECT_EQ(E.Metadata.Get("title").value_or(""), "Joined");
    EXPECT_EQ(Failure("metadata", "title"), "Missing =");
    EXPECT_EQ(Failure("metadata", "=x"), "wrong parameter of metadata");
}

// Catches: filters put on the wrong chain, arguments taken as part of the
// name, or an unknown filter accepted.
TEST_F(Dispatcher, BitstreamFiltersGoToTheChainOfTheirType) {
    E.SetOption("absf", "null=some args");
    E.SetOption("vbsf", "h264_mp4toannexb");
    E.SetOption("vbsf", "null");
    E.SetOption("sbsf", "=null");
    E.SetOption("sbsf", "");
    EXPECT_EQ(E.AudioBitstreamFilters.Count(), 1);
    EXPECT_EQ(E.VideoBitstreamFilters.Count(), 2);
    EXPECT_EQ(E.SubtitleBitstreamFilters.Count(), 0);
    EXPECT_STREQ(E.VideoBitstreamFilters.Filters[0]->filter->name, "h264_mp4toannexb");
    EXPECT_EQ(Failure("vbsf", "no_such_bsf"), "Unknown bitstream filter no_such_bsf");
    EXPECT_EQ(E.VideoBitstreamFilters.Count(), 2);
}

// Catches: parser-backed entries not wired to their operations.
TEST_F(Dispatcher, ParsedEntries) {
    E.SetOption("r", "30000/1001");
    EXPECT_EQ(E.FrameRate.num, 30000);
    EXPECT_EQ(E.FrameRate.den, 1001);
    E.SetOption("s", "320x240");
    EXPECT_EQ(E.FrameWidth, 320);
    EXPECT_EQ(E.FrameHeight, 240);
    E.SetOption("aspect", "16:9");
    EXPECT_NEAR(E.FrameAspectRatio, 1.7777778, 1e-6);
    EXPECT_EQ(Failure("aspect", "4:0"), "Incorrect aspect ratio specification.");
    E.SetOption("pix_fmt", "yuv422p");
    EXPECT_EQ(E.FramePixFmt, AV_PIX_FMT_YUV422P);
    EXPECT_EQ(Failure("pix_fmt", "nonsense"), "Unknown pixel format requested: nonsense");
    E.SetOption("sample_fmt", "s16");
    EXPECT_EQ(E.AudioSampleFmt, AV_SAMPLE_FMT_S16);
    EXPECT_EQ(Failure("sample_fmt", "s17"), "Invalid sample format \"s17\"");
    EXPECT_EQ(Failure("qscale", "0"), "qscale must be > 0.0 and <= 255");
    EXPECT_EQ(Failure("pass", "3"), "pass number can be only 1 or 2");
    E.SetOption("vtag", "avc1");
    EXPECT_EQ(E.VideoCodecTag, 0x31637661u);
    E.SetOption("atag", "255");
    EXPECT_EQ(E.AudioCodecTag, 255u);
    EXPECT_EQ(Failure("stag", "abcde"), "tag parameter must be 4 chars or int value");

    std::string values;
    for (int i = 0; i < 64; ++i) values += (i ? "," : "") + std::to_string(i + 1);
    E.SetOption("intra_matrix", values);
    ASSERT_TRUE(E.IntraMatrix.has_value());
    EXPECT_EQ((*E.IntraMatrix)[63], 64);
    EXPECT_FALSE(E.InterMatrix.has_value());

    E.SetOption("vstats", "1");
    EXPECT_NE(E.VstatsFileName.find("vstats_"), std::string::npos);
    E.SetOption("vstats", "0");
    EXPECT_EQ(E.VstatsFileName, "");

    // The example module takes its fill value; further arguments are its own.
    const std::string hook = std::string(TW_BUILD_DIR) + "/hooks/twhook_fill.so";
    E.SetOption("vhook", hook + "|7|b");
    ASSERT_EQ(E.FrameHooks.size(), 1u);
    EXPECT_EQ(E.FrameHooks[0], (std::vector<std::string>{hook, "7", "b"}));
    EXPECT_FALSE(E.FrameHookList.Empty());
    EXPECT_EQ(Failure("vhook", "no-such-hook.so"),
              "Failed to add video hook function: no-such-hook.so");
    EXPECT_TRUE(E.UsingFrameHooks);
    EXPECT_EQ(Failure("vhook", " "), "Failed to add video hook function:  ");
}

// Catches: the target option not splitting its norm, or not applying.
TEST_F(Dispatcher, TargetAndPresetOptions) {
    E.SetOption("target", "pal-vcd");
    EXPECT_EQ(E.VideoCodecName, "mpeg1video");
    EXPECT_EQ(E.AudioCodecName, "mp2");
    EXPECT_EQ(E.ForcedFormatName, "vcd");
    EXPECT_EQ(E.FrameWidth, 352);
    EXPECT_EQ(E.FrameHeight, 288);
    EXPECT_EQ(E.FrameRate.num, 25);
    EXPECT_EQ(E.FrameRate.den, 1);
    EXPECT_FLOAT_EQ(E.MuxPreload, 0.44f);
    EXPECT_EQ(VideoB(), 1150000);

    TCustomFFmpeg fresh(1);
    try {
        fresh.SetOption("target", "vcd");
        ADD_FAILURE() << "automatic norm with frame rate 25/0 accepted";
    } catch (const FFmpegException& ex) {
        EXPECT_STREQ(ex.what(), "frame_rate is invalid.");
    }

    EXPECT_EQ(Failure("vpre", "no-such-preset"), "Preset \"no-such-preset\" not found");
    const int before = E.OptionContexts->RecordedCount();
    E.SetOption("vcodec", "libx264");
    E.SetOption("vpre", "default");
    EXPECT_GT(E.OptionContexts->RecordedCount(), before);
}

// Catches: an option name lost, misspelt, moved or doubled in the table (a
// lost name would fall silently to the generic path: "ab" is a library
// option too, and would lose its low-bit-rate warning).
TEST(OptionTable, EveryNameOnceInItsOrder) {
    const std::vector<std::string> expected = {"L",
                                               "h",
                                               "version",
                                               "formats",
                                               "codecs",
                                               "bsfs",
                                               "protocols",
                                               "filters",
                                               "loglevel",
                                               "f",
                                               "i",
                                               "y",
                                               "map",
                                               "map_meta_data",
                                               "map_chapters",
                                               "t",
                                               "fs",
                                               "ss",
                                               "itsoffset",
                                               "itsscale",
                                               "timestamp",
                                               "metadata",
                                               "dframes",
                                               "benchmark",
                                               "timelimit",
                                               "dump",
                                               "hex",
                                               "re",
                                               "loop_input",
                                               "loop_output",
                                               "v",
                                               "target",
                                               "threads",
                                               "vsync",
                                               "async",
                                               "adrift_threshold",
                                               "vglobal",
                                               "copyts",
                                               "copytb",
                                               "shortest",
                                               "dts_delta_threshold",
                                               "programid",
                                               "xerror",
                                               "copyinkf",
                                               "b",
                                               "vb",
                                               "vframes",
                                               "r",
                                               "s",
                                               "aspect",
                                               "pix_fmt",
                                               "croptop",
                                               "cropbottom",
                                               "cropleft",
                                               "cropright",
                                               "padtop",
                                               "padbottom",
                                               "padleft",
                                               "padright",
                                               "padcolor",
                                               "intra",
                                               "vn",
                                               "vdt",
                                               "qscale",
                                               "rc_override",
                                               "vcodec",
                                               "me_threshold",
                                               "sameq",
                                               "pass",
                                               "passlogfile",
                                               "deinterlace",
                                               "psnr",
                                               "vstats",
                                               "vstats_file",
                                               "vhook",
                                               "vfilters",
                                               "vf",
                                               "intra_matrix",
                                               "inter_matrix",
                                               "top",
                                               "dc",
                                               "vtag",
                                               "newvideo",
                                               "vlang",
                                               "qphist",
                                               "force_fps",
                                               "streamid",
                                               "force_key_frames",
                                               "ab",
                                               "aframes",
                                               "aq",
                                               "ar",
                                               "ac",
                                               "an",
                                               "acodec",
                                               "atag",
                                               "vol",
                                               "newaudio",
                                               "alang",
                                               "sample_fmt",
                                               "sn",
                                               "scodec",
                                               "newsubtitle",
                                               "slang",
                                               "stag",
                                               "vc",
                                               "tvstd",
                                               "isync",
                                               "muxdelay",
                                               "muxpreload",
                                               "absf",
                                               "vbsf",
                                               "sbsf",
                                               "apre",
                                               "vpre",
                                               "spre",
                                               "fpre"};
    std::vector<std::string> names;
    for (const TOptionRow& row : OptionTable())
        for (std::string_view n : row.Names) names.emplace_back(n);
    EXPECT_EQ(names, expected);
    for (const std::string& n : expected) EXPECT_NE(FindOptionHandler(n), nullptr) << n;
    EXPECT_EQ(FindOptionHandler("VCODEC"), nullptr);
    EXPECT_EQ(FindOptionHandler("abt"), nullptr);
}

// Catches: a blank name of line breaks raising the failure text of an earlier
// option (the table and the generic path disagreed on what is blank).
TEST_F(Dispatcher, BlankNamesOfAnyKindFailAsEmpty) {
    EXPECT_EQ(Failure("no_such_option", "1"), "Unrecognized option \"no_such_option\"");
    EXPECT_EQ(Failure("\r\n", "1"), "Empty option name");
    EXPECT_EQ(Failure(" \t", "1"), "Empty option name");
    EXPECT_EQ(Failure("", "1"), "Empty option name");
}

// Catches: integer and float options taking a value with a line break or
// another control character around the number, or a non-finite aspect.
TEST_F(Dispatcher, NumbersWithControlCharactersAreNotNumbers) {
    EXPECT_EQ(Failure("threads", "12\r\n"), "'12\r\n' is not a valid integer value");
    EXPECT_EQ(Failure("muxdelay", "1.5\n"), "'1.5\n' is not a valid floating point value");
    E.SetOption("threads", " 3\t");  // spaces and tabs stay allowed
    EXPECT_EQ(E.ThreadCount, 3);
    for (const char* v : {"16:9\r\n", "nan", "inf", "1e999", "0x10"})
        EXPECT_EQ(Failure("aspect", v), "Incorrect aspect ratio specification.") << v;
    EXPECT_FLOAT_EQ(E.FrameAspectRatio, 0);
    EXPECT_EQ(Failure("streamid", "2:301\r\n"),
              "Invalid value \"2:301\r\n\" for option \"streamid\", required syntax is "
              "\"index:value\"");
}

// Catches: "newvideo" pretending to succeed without an output file.
TEST_F(Dispatcher, NewStreamNeedsAnOutputFile) {
    for (const char* n : {"newvideo", "newaudio", "newsubtitle"})
        EXPECT_EQ(Failure(n, ""), "At least one output file must be specified") << n;
}

}  // namespace
}  // namespace tw
