// Tests of the engine's option state: capacity, defaults, reset and the
// field setters the encoder uses instead of option texts.
#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>

#include "binding/Entries.h"
#include "binding/FFLoad.h"
#include "transcoder/CustomFFmpeg.h"

namespace tw {
namespace {

class EngineOptions : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds)); }
};

void ExpectAssertion(int maxFiles) {
    try {
        TCustomFFmpeg e(maxFiles);
        ADD_FAILURE() << "capacity " << maxFiles << " was accepted";
    } catch (const std::logic_error& ex) {
        EXPECT_STREQ(ex.what(), "Assertion failure");
    }
}

// Catches: an off-by-one in the capacity check, or tables not sized by it.
TEST_F(EngineOptions, CapacityIsCheckedAndSizesEveryTable) {
    ExpectAssertion(0);
    ExpectAssertion(-1);
    ExpectAssertion(513);
    for (int n : {1, 20, 512}) {
        TCustomFFmpeg e(n);
        EXPECT_EQ(e.MaxFiles, n);
        EXPECT_EQ(e.InputFiles.size(), size_t(n));
        EXPECT_EQ(e.InputTsOffsets.size(), size_t(n));
        EXPECT_EQ(e.InputTsScales.size(), size_t(n));
        EXPECT_EQ(e.OutputFiles.size(), size_t(n));
        EXPECT_EQ(e.OutputStreams.size(), size_t(n));
        EXPECT_EQ(e.InputFileCount, 0);
        EXPECT_EQ(e.OutputFileCount, 0);
        EXPECT_EQ(e.InputCodecCount(), 0);
        EXPECT_EQ(e.OutputCodecCount(), 0);
    }
}

// Catches: any wrong default of the option state or of the run fields.
TEST_F(EngineOptions, EveryDefaultAfterConstruction) {
    TCustomFFmpeg e(20);
    // mapping lists and autocopy
    EXPECT_EQ(e.StreamMapCount(), 0);
    EXPECT_EQ(e.MetadataMapCount(), 0);
    EXPECT_EQ(e.ChapterMapCount(), 0);
    EXPECT_EQ(e.StreamIdMapCount(), 0);
    EXPECT_TRUE(e.MetadataGlobalAutocopy);
    EXPECT_TRUE(e.MetadataStreamsAutocopy);
    EXPECT_TRUE(e.MetadataChaptersAutocopy);
    // video
    EXPECT_EQ(e.ForcedFormatName, "");
    EXPECT_EQ(e.FrameWidth, 0);
    EXPECT_EQ(e.FrameHeight, 0);
    EXPECT_EQ(e.FrameAspectRatio, 0.0f);
    EXPECT_EQ(e.FramePixFmt, -1);
    EXPECT_EQ(e.AudioSampleFmt, -1);
    for (int m : e.MaxFrames) EXPECT_EQ(m, 2147483647);
    EXPECT_EQ(e.FrameRate.num, 25);
    EXPECT_EQ(e.FrameRate.den, 0);
    EXPECT_EQ(e.VideoQscale, 0.0f);
    EXPECT_FALSE(e.IntraMatrix.has_value());
    EXPECT_FALSE(e.InterMatrix.has_value());
    EXPECT_EQ(e.VideoRcOverride, "");
    EXPECT_FALSE(e.VideoDisable);
    EXPECT_EQ(e.VideoDiscard, 0);
    EXPECT_EQ(e.VideoCodecName, "");
    EXPECT_FALSE(e.VideoStreamCopy);
    EXPECT_EQ(e.VideoCodecTag, 0u);
    EXPECT_EQ(e.VideoLanguage, "");
    EXPECT_FALSE(e.SameQuality);
    EXPECT_FALSE(e.Deinterlace);
    EXPECT_EQ(e.TopFieldFirst, -1);
    EXPECT_EQ(e.MeThreshold, 0);
    EXPECT_EQ(e.IntraDcPrecision, 8);
    EXPECT_FALSE(e.LoopInput);
    EXPECT_EQ(e.LoopOutput, -1);
    EXPECT_FALSE(e.QpHistogram);
    EXPECT_EQ(e.VideoFilters, "");
    EXPECT_FALSE(e.UseVideoFilters);
    EXPECT_FALSE(e.IntraOnly);
    EXPECT_EQ(e.VideoChannel, 0);
    EXPECT_EQ(e.VideoStandard, "");
    EXPECT_FALSE(e.ForceFps);
    EXPECT_EQ(e.ForcedKeyFrames, "");
    EXPECT_EQ(e.VideoGlobalHeader, 0);
    EXPECT_TRUE(e.VideoBitstreamFilters.Empty());
    EXPECT_FALSE(e.UsingFrameHooks);
    EXPECT_TRUE(e.FrameHooks.empty());
    // audio and subtitle
    EXPECT_EQ(e.AudioSampleRate, 44100);
    EXPECT_EQ(e.ChannelLayout, 0);
    EXPECT_EQ(e.AudioQscale, -99999.0f);
    EXPECT_FALSE(e.AudioDisable);
    EXPECT_EQ(e.AudioChannels, 2);
    EXPECT_EQ(e.AudioCodecName, "");
    EXPECT_FALSE(e.AudioStreamCopy);
    EXPECT_EQ(e.AudioCodecTag, 0u);
    EXPECT_EQ(e.AudioLanguage, "");
    EXPECT_EQ(e.AudioVolume, 256);
    EXPECT_EQ(e.AudioSyncMethod, 0);
    EXPECT_FLOAT_EQ(e.AudioDriftThreshold, 0.1f);
    EXPECT_TRUE(e.AudioBitstreamFilters.Empty());
    EXPECT_FALSE(e.SubtitleDisable);
    EXPECT_EQ(e.SubtitleCodecName, "");
    EXPECT_FALSE(e.SubtitleStreamCopy);
    EXPECT_EQ(e.SubtitleCodecTag, 0u);
    EXPECT_EQ(e.SubtitleLanguage, "");
    EXPECT_TRUE(e.SubtitleBitstreamFilters.Empty());
    // timing, muxing and run
    EXPECT_EQ(e.RecordingTime, INT64_MAX);
    EXPECT_EQ(e.StartTime, 0);
    EXPECT_EQ(e.RecordingTimestamp, 0);
    EXPECT_EQ(e.InputTsOffset, 0);
    EXPECT_EQ(e.FileSizeLimit, 0);
    EXPECT_EQ(e.Metadata.Count(), 0);
    EXPECT_FLOAT_EQ(e.MuxPreload, 0.5f);
    EXPECT_FLOAT_EQ(e.MuxMaxDelay, 0.7f);
    EXPECT_EQ(e.VideoSyncMethod, -1);
    EXPECT_FALSE(e.CopyTs);
    EXPECT_FALSE(e.CopyTb);
    EXPECT_FALSE(e.Shortest);
    EXPECT_FLOAT_EQ(e.DtsDeltaThreshold, 10.0f);
    EXPECT_EQ(e.ProgramId, 0);
    EXPECT_EQ(e.CopyInitialNonKeyframes, 0);
    EXPECT_FALSE(e.RateEmulation);
    EXPECT_FALSE(e.InputSync);
    EXPECT_FALSE(e.ExitOnError);
    EXPECT_FALSE(e.HexDump);
    EXPECT_FALSE(e.PacketDump);
    EXPECT_FALSE(e.DoPsnr);
    EXPECT_EQ(e.PassNumber, 0);
    EXPECT_EQ(e.PassLogFilePrefix, "");
    EXPECT_EQ(e.VstatsFileName, "");
    EXPECT_EQ(e.Verbose, 1);
    EXPECT_EQ(e.ThreadCount, 1);
    EXPECT_EQ(e.SwsFlags, 4);
    // run control
    EXPECT_FALSE(e.Running);
    EXPECT_FALSE(e.StopRequested);
    EXPECT_FALSE(e.Finished);
    EXPECT_FALSE(e.Terminated);
    EXPECT_FALSE(e.JoinMode);
    EXPECT_FALSE(e.ErrorRaised);
    EXPECT_EQ(e.ErrorMessage, "");
    EXPECT_EQ(e.LastError, "");
    EXPECT_EQ(e.IOTimeout, 10000);
    EXPECT_EQ(e.IOStartTime, INT64_MAX);
    EXPECT_EQ(e.ProgressIntervalUs, 500000);
    EXPECT_EQ(e.PreviewIntervalUs, 100000);
    EXPECT_EQ(e.TotalDuration, -1);
    EXPECT_TRUE(e.RaiseOnUnknownOption);
}

// Catches: option contexts of the wrong media type or order, or none at all.
TEST_F(EngineOptions, OptionStoreHasOneContextPerMediaTypeAndNoRecords) {
    TCustomFFmpeg e(1);
    ASSERT_NE(e.OptionContexts, nullptr);
    const TOptionContexts& oc = *e.OptionContexts;
    for (AVMediaType t : {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_DATA,
                          AVMEDIA_TYPE_SUBTITLE, AVMEDIA_TYPE_ATTACHMENT}) {
        ASSERT_NE(oc.Codec(t), nullptr);
        EXPECT_EQ(oc.Codec(t)->codec_type, t);
    }
    EXPECT_NE(oc.Codec(AVMEDIA_TYPE_VIDEO), oc.Codec(AVMEDIA_TYPE_AUDIO));
    EXPECT_THROW(oc.Codec(AVMEDIA_TYPE_NB), std::out_of_range);
    EXPECT_NE(oc.Format(), nullptr);
    EXPECT_NE(oc.Scaler(), nullptr);
    EXPECT_EQ(oc.RecordedCount(), 0);
}

// Catches: a reset that forgets fields, keeps recorded options, or drops files.
TEST_F(EngineOptions, ResetRestoresDefaultsAndKeepsFileTables) {
    TCustomFFmpeg e(3);
    e.SetOption("vcodec", "copy");
    e.SetOption("vbsf", "null");
    e.SetOption("metadata", "title=x");
    e.SetOption("map", "0:1");
    e.SetOption("g", "99");
    e.SetOption("t", "5");
    e.Running = true;
    e.ErrorRaised = true;
    e.InputTsOffsets[1] = 77;
    ASSERT_EQ(e.OptionContexts->Codec(AVMEDIA_TYPE_VIDEO)->gop_size, 99);
    ASSERT_EQ(e.OptionContexts->RecordedCount(), 1);

    e.ResetOptions();
    EXPECT_FALSE(e.VideoStreamCopy);
    EXPECT_TRUE(e.VideoBitstreamFilters.Empty());
    EXPECT_EQ(e.Metadata.Count(), 0);
    EXPECT_EQ(e.StreamMapCount(), 0);
    EXPECT_EQ(e.RecordingTime, INT64_MAX);
    EXPECT_EQ(e.TotalDuration, -1);
    EXPECT_FALSE(e.Running);
    EXPECT_FALSE(e.ErrorRaised);
    EXPECT_EQ(e.OptionContexts->RecordedCount(), 0);
    EXPECT_EQ(e.InputTsOffsets.size(), 3u);
    EXPECT_EQ(e.InputTsOffsets[1], 77);
    EXPECT_NE(e.OptionContexts->Codec(AVMEDIA_TYPE_VIDEO)->gop_size, 99)
        << "fresh contexts expected";
}

// Catches: a reset that touches the libraries before they are loaded.
TEST(EngineOptionsUnloaded, ConstructionWithoutLibrariesLeavesNoStore) {
    ASSERT_FALSE(FFLoader().Loaded(WorkLibraryKinds));
    TCustomFFmpeg e(20);
    EXPECT_EQ(e.OptionContexts, nullptr);
    EXPECT_EQ(e.AudioSampleRate, 44100);
    EXPECT_FALSE(e.SetDefaultOption("g", "1"));
}

// Catches: a field setter that ignores its "ignored when" rule or applies it
// where it does not belong.
TEST_F(EngineOptions, FieldSettersIgnoreTheirNoValueInputs) {
    TCustomFFmpeg e(1);
    e.SetForcedFormatName("flv");
    e.SetForcedFormatName("");
    EXPECT_EQ(e.ForcedFormatName, "flv");

    e.SetStartTime(1500000);
    e.SetStartTime(INT64_MIN);
    EXPECT_EQ(e.StartTime, 1500000);

    e.SetProgramId(7);
    e.SetProgramId(-1);
    EXPECT_EQ(e.ProgramId, 7);
    e.SetProgramId(0);
    EXPECT_EQ(e.ProgramId, 0);

    e.SetAudioVolume(0);
    EXPECT_EQ(e.AudioVolume, 0);
    e.SetAudioVolume(-5);
    EXPECT_EQ(e.AudioVolume, 0);

    e.SetAudioSampleRate(0);
    e.SetAudioChannels(0);
    EXPECT_EQ(e.AudioSampleRate, 44100);
    EXPECT_EQ(e.AudioChannels, 2);
    e.SetAudioSampleRate(22050);
    e.SetAudioChannels(1);
    EXPECT_EQ(e.AudioSampleRate, 22050);
    EXPECT_EQ(e.AudioChannels, 1);

    e.SetMuxMaxDelay(0);
    e.SetMuxPreload(-1);
    EXPECT_FLOAT_EQ(e.MuxMaxDelay, 0.7f);
    EXPECT_FLOAT_EQ(e.MuxPreload, 0.5f);
    e.SetMuxMaxDelay(2.5f);
    e.SetMuxPreload(0.25f);
    EXPECT_FLOAT_EQ(e.MuxMaxDelay, 2.5f);
    EXPECT_FLOAT_EQ(e.MuxPreload, 0.25f);

    // No rule: every value is taken.
    e.SetVerbose(-1);
    e.SetAudioSyncMethod(-3);
    e.SetVideoSyncMethod(0);
    EXPECT_EQ(e.Verbose, -1);
    EXPECT_EQ(e.AudioSyncMethod, -3);
    EXPECT_EQ(e.VideoSyncMethod, 0);
}

}  // namespace
}  // namespace tw
