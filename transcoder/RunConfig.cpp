// transcoder/RunConfig.cpp — freezing the option values for one run.
#include "transcoder/RunConfig.h"

extern "C" {
#include <libavutil/opt.h>
}

#include "binding/Entries.h"

namespace tw {

TRunConfig TRunConfig::FromOptions(const TOptionState& o, void* scaler) {
    TRunConfig c;
    c.StreamMaps = o.StreamMaps;
    c.MetadataMaps = o.MetadataMaps;
    c.ChapterMaps = o.ChapterMaps;
    c.MetadataGlobalAutocopy = o.MetadataGlobalAutocopy;
    c.MetadataStreamsAutocopy = o.MetadataStreamsAutocopy;
    c.MetadataChaptersAutocopy = o.MetadataChaptersAutocopy;
    c.ProgramId = o.ProgramId;
    c.MaxFrames = o.MaxFrames;
    c.RecordingTime = o.RecordingTime;
    c.StartTime = o.StartTime;
    c.FileSizeLimit = o.FileSizeLimit;
    c.CopyTs = o.CopyTs;
    c.CopyTb = o.CopyTb;
    c.Shortest = o.Shortest;
    c.DtsDeltaThreshold = o.DtsDeltaThreshold;
    c.CopyInitialNonKeyframes = o.CopyInitialNonKeyframes;
    c.RateEmulation = o.RateEmulation;
    c.InputSync = o.InputSync;
    c.SameQuality = o.SameQuality;
    c.Deinterlace = o.Deinterlace;
    c.TopFieldFirst = o.TopFieldFirst;
    c.MeThreshold = o.MeThreshold;
    c.QpHistogram = o.QpHistogram;
    c.VideoFilters = o.VideoFilters;
    c.UseVideoFilters = o.UseVideoFilters;
    c.VideoSyncMethod = o.VideoSyncMethod;
    c.SwsFlags = o.SwsFlags;
    int64_t flags = 0;
    // The generic option store may hold a later "sws_flags" than the field.
    if (scaler && lib().av_opt_get_int(scaler, "sws_flags", 0, &flags) >= 0)
        c.SwsFlags = static_cast<int>(flags);
    c.AudioVolume = o.AudioVolume;
    c.AudioSyncMethod = o.AudioSyncMethod;
    c.AudioDriftThreshold = o.AudioDriftThreshold;
    c.ExitOnError = o.ExitOnError;
    c.HexDump = o.HexDump;
    c.PacketDump = o.PacketDump;
    c.PassLogFilePrefix = o.PassLogFilePrefix;
    c.VstatsFileName = o.VstatsFileName;
    c.Verbose = o.Verbose;
    return c;
}

}  // namespace tw
