// transcoder/RunConfig.h — the option values one transcode reads, frozen
// when the run starts.
#pragma once

#include <array>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "transcoder/options/OptionState.h"

namespace tw {

/// A plain copy, made by the engine on the thread that starts the run and
/// read only by the thread that runs it: changing an option while a run
/// goes on does not reach that run. Times in microseconds. Every field has
/// the meaning of the option value or engine field of the same name.
struct TRunConfig {
    // --- mapping of streams, metadata and chapters
    std::vector<TStreamMap> StreamMaps;
    std::vector<TMetadataMap> MetadataMaps;
    std::vector<TChapterMap> ChapterMaps;
    int StreamMapCount() const { return static_cast<int>(StreamMaps.size()); }
    bool MetadataGlobalAutocopy = true;
    bool MetadataStreamsAutocopy = true;
    bool MetadataChaptersAutocopy = true;
    int ProgramId = 0;

    // --- limits and timing
    std::array<int, 4> MaxFrames{INT_MAX, INT_MAX, INT_MAX, INT_MAX};
    int64_t RecordingTime = INT64_MAX;
    int64_t StartTime = 0;
    int64_t FileSizeLimit = 0;
    bool CopyTs = false;
    bool CopyTb = false;
    bool Shortest = false;
    float DtsDeltaThreshold = 10;
    int CopyInitialNonKeyframes = 0;
    bool RateEmulation = false;
    bool InputSync = false;

    // --- video
    bool SameQuality = false;
    bool Deinterlace = false;
    int TopFieldFirst = -1;
    int MeThreshold = 0;
    bool QpHistogram = false;
    std::string VideoFilters;
    bool UseVideoFilters = false;
    int VideoSyncMethod = -1;
    /// Scaler flags as the "sws_flags" option left them.
    int SwsFlags = 4;

    // --- audio
    int AudioVolume = 256;
    int AudioSyncMethod = 0;
    float AudioDriftThreshold = 0.1f;

    // --- errors, logs and statistics
    bool ExitOnError = false;
    bool HexDump = false;
    bool PacketDump = false;
    std::string PassLogFilePrefix;
    std::string VstatsFileName;
    int Verbose = 1;

    // --- the engine's merge policy and run settings
    bool JoinMode = false;
    bool FitPictures = false;
    bool FillMissingAudio = false;
    bool BindInOrder = false;
    std::vector<std::string> SourceChapterTitles;
    /// Expected output duration, -1 when unknown.
    int64_t TotalDuration = -1;
    int64_t ProgressIntervalUs = 500000;
    int64_t PreviewIntervalUs = 100000;

    /// The option values' part of the configuration (the engine fields stay
    /// at their defaults); scaler: the option context holding "sws_flags",
    /// or null.
    static TRunConfig FromOptions(const TOptionState& options, void* scaler);
};

}  // namespace tw
