// transcoder/run/Transcoder.h — one transcode of an engine: its parts (tables,
// setup, headers, input queue, packet processing, audio and video paths,
// packet writer, reports) and the packet loop that plays the inputs, one
// after another when they are joined.
#pragma once

#include <cstdint>

#include "diag/FrameHook.h"
#include "transcoder/RunContext.h"
#include "transcoder/files/StreamTables.h"
#include "transcoder/paths/AudioOut.h"
#include "transcoder/paths/FilterGraph.h"
#include "transcoder/paths/PacketWriter.h"
#include "transcoder/paths/PictureState.h"
#include "transcoder/paths/VideoHooks.h"
#include "transcoder/paths/VideoOut.h"
#include "transcoder/run/InputQueue.h"
#include "transcoder/run/JoinChapters.h"
#include "transcoder/run/ProgressReport.h"
#include "transcoder/run/TranscodeMetadata.h"
#include "transcoder/run/TranscodePackets.h"
#include "transcoder/run/TranscodeSetup.h"
#include "transcoder/run/TranscodeTables.h"

namespace tw {

/// Lives on the stack of the engine's Run, on the thread that runs the
/// engine. Works on what it is given: the configuration frozen for the run,
/// the opened files' tables (the run closes their decoders), the run's
/// counters, the picture state and frame hooks of the video path; reports
/// to the run's events. Everything given outlives the transcoder.
class TTranscoder {
  public:
    TTranscoder(const TRunContext& run, TFileTables& files, TPictureState& picture,
                TFrameHookList& frameHooks);
    /// Releases what is still open (never throws).
    ~TTranscoder();
    TTranscoder(const TTranscoder&) = delete;
    TTranscoder& operator=(const TTranscoder&) = delete;

    /// Setup, loop, trailers and final report. True when all went well and
    /// no stop was requested (the run finished). Throws FFmpegException with the texts of the
    /// parts, and "av_interleaved_write_frame(): <reason>" /
    /// "av_write_trailer(): <reason>"; the working tables are released in
    /// every case.
    bool Transcode();

  private:
    void Loop();
    /// Join mode: the input `file` ended. Drains its decoders and places the
    /// next input; false after the last.
    bool SwitchFile(int& file);
    /// Drains what is left, writes the trailers, the final report.
    void AfterLoop();
    void ProgressCheck(int64_t& lastReport, int file);
    void Release();

    const TRunConfig& FConfig;
    TRunCounters& FCounters;
    TRunEvents& FEvents;
    TTranscodeTables FTables;
    TEncoderRecords FEncoderRecord;
    TStreamWriter FWriter;
    TVideoFilter FVideoFilter;
    TVideoHooks FHooks;
    TAudioOut FAudio;
    TVideoOut FVideo;
    TInputQueue FQueue;
    TOutputHeaders FHeaders;
    TTranscodeSetup FSetup;
    TPacketProcessor FPackets;
    TProgressReport FReport;
    TJoinChapters FChapters;
    std::vector<bool> FNoPacket;
    int FNoPacketCount = 0;
    bool FStopCheckRegistered = false;
};

}  // namespace tw
