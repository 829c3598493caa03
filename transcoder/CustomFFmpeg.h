// transcoder/CustomFFmpeg.h — the transcoder engine: one object holds the
// complete state of one transcode job and is configured option by option.
//
// Configuration (everything declared here) runs on the thread that calls the
// encoder, while the engine is idle. Every failure is an FFmpegException
// carrying the user-facing text, unless a method says otherwise.
#pragma once

#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "diag/Bitmap.h"
#include "diag/FrameHook.h"
#include "transcoder/ConvertThread.h"
#include "transcoder/FFmpegException.h"
#include "transcoder/EngineOptions.h"

namespace tw {

struct TInputStream;
struct TPictureState;

class TFormatConverter;

class TCustomFFmpeg : public TEngineOptions, public TFileTables {
  public:
    /// Largest capacity the engine accepts.
    static constexpr int MaxFilesLimit = 512;

    /// Allocates every per-file table with maxFiles entries and resets the
    /// options. Throws std::logic_error "Assertion failure" (a programming
    /// error, not a user error) unless 1 <= maxFiles <= 512.
    explicit TCustomFFmpeg(int maxFiles);
    virtual ~TCustomFFmpeg();
    TCustomFFmpeg(const TCustomFFmpeg&) = delete;
    TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;

    // --- run control (fields only; the run itself is built on them)
    /// Capacity: maximum number of input files and, separately, of output files.
    const int MaxFiles;
    // Read by other threads (the encoder, a stopping caller) while a run goes on.
    std::atomic<bool> Running = false;
    /// Written by the stopping thread, polled by the running one.
    std::atomic<bool> StopRequested = false;
    std::atomic<bool> Finished = false;
    std::atomic<bool> Terminated = false;
    bool JoinMode = false;
    std::atomic<bool> ErrorRaised = false;
    std::string ErrorMessage;
    /// Milliseconds for one blocking open; 0 or less disables the timeout.
    int IOTimeout = 10000;
    /// Microseconds; INT64_MAX = no open in progress, 0 = cancelled.
    std::atomic<int64_t> IOStartTime = INT64_MAX;
    int64_t ProgressIntervalUs = 500000;
    int64_t PreviewIntervalUs = 100000;
    /// Expected output duration in microseconds, -1 = unknown.
    int64_t TotalDuration = -1;

    // --- merge policy of the join driver. No option names reach these and
    // ResetOptions leaves them alone: every other caller gets the engine's
    // ordinary rules.
    /// Re-encoding join: each input's pictures are turned upright by their
    /// display matrix, scaled to fit the output size with their aspect kept
    /// and padded black, never stretched.
    bool FitPictures = false;
    /// Re-encoding join: the output has audio when any input has; an input
    /// without audio contributes silence as long as its video.
    bool FillMissingAudio = false;

    /// Sets every option field to its default, creates a fresh option store
    /// and clears the run flags (TotalDuration -1). Opened files and the
    /// per-file tables are left alone. Does nothing when the libraries are not
    /// loaded.
    void ResetOptions();

    // --- options that reach beyond the option values
    /// "itsscale" "index:scale" for the input opened next. Throws
    /// "stream index over MAX_STREAMS(20)", or "Too many input files" when
    /// every input slot is taken.
    void SetInputTsScale(const std::string& text) override;
    /// Microseconds; AV_NOPTS_VALUE is ignored, else RecordingTime and
    /// TotalDuration both take the value.
    void SetRecordingTime(int64_t us) override;
    /// A stream of the type on the last output file; throws "At least one
    /// output file must be specified" before the first output is open.
    void NewVideoStream() override;
    void NewAudioStream() override;
    void NewSubtitleStream() override;
    /// The video streams of the opened inputs, files and streams in order:
    /// average frame rate, else real frame rate, else {0, 0}.
    std::vector<AVRational> InputVideoFrameRates() const override;

    // --- opening input files (InputFile.cpp) and the I/O checks (IOChecks.cpp)
    /// Opens one input with the current option state and records it; its
    /// stream parameters become the option state's. False with the reason in
    /// LastError; FFmpegException for an unknown forced format, a failed
    /// allocation or an impossible stream type.
    bool OpenInputFile(const std::string& fileName);
    /// Called after a successful open, before the streams are analysed, so
    /// the owner can adjust the context (its probe settings, say).
    std::function<void(TCustomFFmpeg* engine, AVFormatContext* context)>
        BeforeFindStreamInfoCallback;
    /// Interrupt checks registered for the calling thread during blocking
    /// I/O (context: the engine). CheckIOTimeout: the open took longer than
    /// IOTimeout, or was cancelled (IOStartTime 0). CheckStopRequest: a stop
    /// was requested.
    static bool CheckIOTimeout(void* engine);
    static bool CheckStopRequest(void* engine);

    // --- the output file and its streams (OutputFile.cpp)
    /// Creates the output with its streams from the option state and opens
    /// it for writing. Returns the new OutputFileCount, or -1 with the reason
    /// in LastError. With join set and several inputs open, the output
    /// becomes a joined one (JoinMode).
    int OpenOutputFile(const std::string& fileName, bool join);
    /// Which media types the inputs hold: the first input only when joining
    /// (but audio of any input with FillMissingAudio), else all. Throws
    /// "invalid codec_type of input file".
    void CheckInputStreamTypes(bool join, bool& hasVideo, bool& hasAudio, bool& hasSubtitle);
    /// Adds a stream of the type to the context and its record to the slot.
    void NewVideoStream(AVFormatContext* oc, int slot);
    void NewAudioStream(AVFormatContext* oc, int slot);
    void NewSubtitleStream(AVFormatContext* oc, int slot);
    /// Joined output: one slot per input, all naming the one context, and
    /// TotalDuration the sum of the inputs' durations. Nothing otherwise.
    void ExpandJoinedOutput();

    // --- run, stop and events (Engine.cpp, Transcoder.cpp)
    /// Starts the one run of this engine. With inThread the run gets a
    /// worker thread, returned not yet started (Resume starts it; the engine
    /// owns it); without, Run happens on the calling thread and the result is
    /// null. Null as well when the engine already ran or the file checks fail
    /// (the terminate notification is then given).
    TConvertThread* Start(bool inThread, int priority = 0);
    /// The body of one run: transcode, release the codecs, close the files,
    /// notify. Never throws; failures end in ErrorRaised/ErrorMessage.
    void Run();
    /// Requests a stop; with wait, blocks until the worker has left Run,
    /// serving the main-thread call queue meanwhile when called on the main
    /// thread. Without a worker, cancels a blocking open in progress.
    void Stop(bool wait);
    /// Stops a running engine, or gives the terminate notification of an
    /// engine that never ran.
    void Terminate(bool wait);
    /// Clears Running, sets Terminated, calls TerminateCallback.
    void DoTerminate();
    /// Closes every output (deleting one left empty) and input.
    void CloseFiles();

    /// Callback slots, called on the thread that runs the engine.
    std::function<void(TCustomFFmpeg* engine, int fileIndex, int64_t totalDuration,
                       int64_t currentTime, int64_t totalSize, float bitRate, float quality,
                       int fps, int frameNumber)>
        ProgressCallback;
    std::function<void(TCustomFFmpeg* engine)> TerminateCallback;
    /// Decoded audio: buffer, sample format, channels, sample rate, size in
    /// bytes, time in microseconds. The handler may change the samples.
    std::function<void(TCustomFFmpeg* engine, uint8_t* buffer, int sampleFormat, int channels,
                       int sampleRate, int size, int64_t pts)>
        AudioHookCallback;
    /// Video hooks: the picture as a bitmap, its time (µs) and frame number;
    /// the handler may draw on the bitmap and set update to have it written
    /// back, and set stopHook to stop being called for the rest of the run.
    std::function<void(TCustomFFmpeg* engine, TBitmap* bitmap, bool& stopHook, bool& update,
                       int64_t pts, int frameNumber)>
        VideoInputHookCallback;
    std::function<void(TCustomFFmpeg* engine, TBitmap* bitmap, bool& stopHook, bool& update,
                       int64_t pts, int frameNumber)>
        VideoOutputHookCallback;
    /// A preview picture as a bitmap (preview flag pfBitmap).
    std::function<void(TCustomFFmpeg* engine, TBitmap* bitmap, int64_t pts, int frameNumber)>
        PreviewCallback;

    // --- preview and hooks (VideoHooks.cpp)
    /// Preview flags: the preview window, preview bitmaps to PreviewCallback.
    static constexpr int pfWindow = 1;
    static constexpr int pfBitmap = 2;
    int PreviewFlags() const;
    /// Any thread, also while a run goes on. Switching the window off closes
    /// it. byEncoder: the next preview converts the picture afresh.
    void SetPreviewFlags(int flags, bool byEncoder = true);
    /// Bits per pixel of the hook and preview bitmaps (8, 15, 16, 24, 32);
    /// throws "Invalid BitsPixel <n>".
    void SetHookBitsPixel(int bits);
    // --- run counters (read by the progress report)
    int64_t VideoSize = 0;
    int64_t AudioSize = 0;
    int64_t ExtraSize = 0;
    int DupFrames = 0;
    int DropFrames = 0;
    /// Frames were dropped or duplicated since the last report line was
    /// logged: the next report with a progress handler logs its line too.
    bool ReportLogRequested = false;
    /// Bytes of the output bit buffer (grows with the largest picture).
    int BitBufferSize = 262144;

    /// Writes an output packet through the running transcode's writer
    /// (bitstream filters, interleaving muxer, stream clock).
    void WritePacket(AVFormatContext* s, AVPacket* pkt, AVCodecContext* avctx,
                     TBitstreamFilterChain& bsfs);
    /// The record holding the encoder a record feeds: itself, or in join
    /// mode the first set's record of the same output stream.
    TOutputStream* EncoderRecord(TOutputStream* ost);
    /// The transcode in progress (set by it for its duration).
    class TTranscoder* CurrentTranscode = nullptr;

    /// Rate emulation ("re"): sleeps about `us` microseconds on the engine's
    /// thread, returning early once StopRequested is set (RateEmulation.cpp).
    void WaitForRateEmulation(int64_t us);

    // --- audio and video output (AudioOut.cpp, VideoOut.cpp)
    /// Encodes a buffer of decoded samples (interleaved, the decoder's
    /// format) for ost; without a buffer, drains what its FIFO still holds.
    void DoAudioOut(AVFormatContext* s, TOutputStream* ost, TInputStream* ist, uint8_t* buf,
                    int size);
    /// FillMissingAudio: feeds the audio encoder of ost (a FillsSilence
    /// record) silence up to the end of the set's video so far.
    void FillSilence(AVFormatContext* s, TOutputStream* ost);
    void PreProcessVideoFrame(TInputStream* ist, AVFrame* picture);
    int DoVideoOut(AVFormatContext* s, TOutputStream* ost, TInputStream* ist, AVFrame* picture);
    /// The stream's filter graph feeding ost's encoder: with FitPictures
    /// the fit of the source into the output size, else the "vf" chain.
    /// The source takes the decoder's size and format, or those of
    /// `picture` when given. 0 or a negative library code.
    int BuildFilterGraph(TInputStream* ist, TOutputStream* ost, const AVFrame* picture = nullptr);
    /// FitPictures: a decoded picture of another size or format than the
    /// stream's graph was built for gets a new graph. Throws "Error opening
    /// filters!".
    void RefitPictures(TInputStream* ist, const AVFrame* picture);
    int CurrentSwsFlags();
    /// One line of the video statistics file after a video output that
    /// produced bytes (VstatsFileName set).
    void WriteVideoStats(TOutputStream* ost, int frameSize);
    /// Frees the picture state of a run: hook buffers, the preview window,
    /// the statistics file and the frame hooks.
    void ReleasePictureState();

  private:
    friend class TConvertThread;
    friend class TDoTerminateThread;
    std::unique_ptr<TConvertThread> FWorker;
    std::unique_ptr<TDoTerminateThread> FTerminator;
    std::unique_ptr<TPictureState> FPicture;
    bool CallVideoHook(bool input, TFormatConverter& converter, AVFrame* picture, int64_t pts,
                       int frameNumber);
    bool OutputHook(AVFrame* frame, int64_t pts, int frameNumber);
    void Preview(AVFrame* picture, bool converted, int64_t pts, int frameNumber);
    // Signalled while no worker is inside Run / no terminate thread runs.
    std::mutex FEventLock;
    std::condition_variable FEventChanged;
    bool FWorkerDone = true;
    bool FTerminateDone = true;
    void SetWorkerDone(bool done);
    void SetTerminateDone(bool done);
    void RecordFailure(const std::exception& e);
    void RecordFailure(const std::string& message);

    static int CheckedCapacity(int maxFiles);
    TOutputStream& NewOutputStreamRecord(AVFormatContext* oc, int slot);
    void NewStream(AVMediaType type);
};

}  // namespace tw
