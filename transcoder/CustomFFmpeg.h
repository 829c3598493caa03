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
#include "transcoder/OptionContexts.h"
#include "transcoder/OptionState.h"

namespace tw {

/// Text of the last generic option failure (see TCustomFFmpeg::SetDefaultOption).
/// One text per thread: engines configured on different threads do not see
/// each other's failures.
const std::string& LastOptionFailure();
/// Replaces the text of the last generic option failure of the calling thread.
void SetLastOptionFailure(const std::string& text);

struct TInputStream;
struct TPictureState;

class TFormatConverter;

class TCustomFFmpeg : public TOptionState, public TFileTables {
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
    /// Last failure text of the file openers and of FindCodec.
    std::string LastError;
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

    /// Whether an option that nothing accepts raises (true) or is ignored.
    bool RaiseOnUnknownOption = true;
    /// The generic option store; created by ResetOptions (none while the
    /// libraries are not loaded).
    std::unique_ptr<TOptionContexts> OptionContexts;

    /// Sets every option field to its default, creates a fresh option store
    /// and clears the run flags (TotalDuration -1). Opened files and the
    /// per-file tables are left alone. Does nothing when the libraries are not
    /// loaded.
    void ResetOptions();

    // --- the dispatcher
    /// Applies one option by name (case-sensitive) and value text. Throws
    /// FFmpegException on a bad value, a removed option, or an option nothing
    /// accepts while RaiseOnUnknownOption is set.
    void SetOption(const std::string& name, const std::string& value);

    /// The generic fallback: hands the option to the library option contexts
    /// and records it. False when not accepted, the reason then in
    /// LastOptionFailure() (a blank name returns false and leaves it alone).
    bool SetDefaultOption(const std::string& name, const std::string& value);
    /// SetDefaultOption with the decimal text of value.
    bool SetDefaultOptionInt(const std::string& name, int value);

    /// Copies the recorded generic options whose option in optionContext has
    /// all bits of requiredFlags (AV_OPT_FLAG_*) into target; options known
    /// only to codec's private table go to target->priv_data. Throws when a
    /// private option refuses its recorded value.
    void ApplyContextOptions(AVCodecContext* target, void* optionContext, int requiredFlags,
                             const AVCodec* codec);
    /// As above for a format context; private options go to its muxer's
    /// private data when the muxer has private options.
    void ApplyContextOptions(AVFormatContext* target, void* optionContext, int requiredFlags);

    /// Resolves a codec name of media type `type` among encoders or decoders.
    /// An empty name gives AV_CODEC_ID_NONE. False with the reason in
    /// LastError when unknown, of another type, or experimental while
    /// strict > FF_COMPLIANCE_EXPERIMENTAL.
    bool FindCodec(const std::string& name, AVMediaType type, bool encoder, int strict,
                   AVCodecID& id);

    // --- value conversions of the plain options
    /// "0" is false, every other text (the empty one too) true.
    static bool ToFlag(const std::string& text);
    /// A whole decimal integer ("$" or "0x" prefix: hexadecimal; blanks
    /// around it allowed). Throws "'<text>' is not a valid integer value".
    static int ToInt(const std::string& text);
    /// As ToInt with the 64-bit range.
    static int64_t ToInt64(const std::string& text);
    /// A whole decimal number with '.' as separator. Throws
    /// "'<text>' is not a valid floating point value".
    static double ToFloat(const std::string& text);

    // --- field setters used by the encoder instead of option texts
    /// Ignored when empty.
    void SetForcedFormatName(const std::string& name);
    /// Microseconds; ignored when AV_NOPTS_VALUE.
    void SetStartTime(int64_t us);
    /// Ignored when negative.
    void SetProgramId(int id);
    void SetVerbose(int level);
    /// Ignored when negative.
    void SetAudioVolume(int volume);
    /// Ignored unless > 0.
    void SetAudioSampleRate(int rate);
    /// Ignored unless > 0.
    void SetAudioChannels(int channels);
    void SetAudioSyncMethod(int method);
    void SetVideoSyncMethod(int method);
    /// Seconds; ignored unless > 0.
    void SetMuxMaxDelay(float seconds);
    /// Seconds; ignored unless > 0.
    void SetMuxPreload(float seconds);

    // --- operations of single options (value parsers)
    /// "r": empty changes nothing; throws "Incorrect frame rate".
    void SetFrameRate(const std::string& text);
    /// "s": empty changes nothing; throws "Incorrect frame size".
    void SetFrameSize(const std::string& text);
    /// "aspect": empty changes nothing; throws "Incorrect aspect ratio specification.".
    void SetAspectRatio(const std::string& text);
    /// "pix_fmt": "list" logs the known formats; else throws
    /// "Unknown pixel format requested: <text>" for an unknown name.
    void SetPixelFormat(const std::string& text);
    /// "sample_fmt": "list" logs the known formats; else throws
    /// "Invalid sample format \"<text>\"" for an unknown name.
    void SetSampleFormat(const std::string& text);
    /// "qscale": a float in (0, 255], else "qscale must be > 0.0 and <= 255".
    void SetQscale(const std::string& text);
    /// "b", "vb", "ab": generic option plus a warning for rates below 1000.
    void SetBitRate(const std::string& name, const std::string& value);
    /// "vcodec": empty changes nothing; "copy" selects stream copy.
    void SetVideoCodec(const std::string& name);
    /// "acodec": as SetVideoCodec.
    void SetAudioCodec(const std::string& name);
    /// "scodec": as SetVideoCodec.
    void SetSubtitleCodec(const std::string& name);
    /// "vtag", "atag", "stag": empty changes nothing; another option name
    /// throws "Invalid tag parmeter <name>".
    void SetCodecTag(const std::string& option, const std::string& text);
    /// "metadata" "key=value": throws "Missing =" or "wrong parameter of metadata".
    void SetMetadata(const std::string& text);
    /// Sets one entry of Metadata, replacing the same key.
    void AddMetadata(const std::string& key, const std::string& value);
    /// "map": appends to StreamMaps.
    void AddStreamMap(const std::string& text);
    /// "map_meta_data": appends to MetadataMaps and clears the autocopy flags
    /// of the kinds it names.
    void AddMetadataMap(const std::string& text);
    /// "map_chapters": appends to ChapterMaps.
    void AddChapterMap(const std::string& text);
    /// "itsscale": scale of one stream of the next input file.
    void SetInputTsScale(const std::string& text);
    /// "streamid" "index:id": empty changes nothing.
    void SetStreamId(const std::string& option, const std::string& text);
    /// "pass": 1 or 2, else "pass number can be only 1 or 2".
    void SetPass(const std::string& text);
    /// "vstats": on gives a time-stamped file beside the executable; off clears.
    void SetVstats(bool on);
    /// "vstats_file".
    void SetVstatsFile(const std::string& name);
    /// "intra_matrix", "inter_matrix": 64 comma-separated coefficients.
    void SetMatrix(const std::string& option, const std::string& text);
    /// "absf", "vbsf", "sbsf": appends a filter to the chain of the option's
    /// media type; throws "Unknown bitstream filter <value>".
    void AddBitstreamFilter(const std::string& option, const std::string& text);
    /// "vhook": adds a frame hook; throws "Failed to add video hook function: <text>".
    void AddFrameHook(const std::string& text);
    /// A duration or date in microseconds; throws
    /// "Invalid duration|date specification for <name>: <value>".
    static int64_t ParseTime(const std::string& name, const std::string& value, bool isDuration);
    /// "t": ignores AV_NOPTS_VALUE, else sets RecordingTime and TotalDuration.
    void SetRecordingTime(int64_t us);
    /// "vf", "vfilters": ignored when empty.
    void SetVideoFilters(const std::string& text);
    /// Applies target "vcd", "svcd", "dvd", "dv" or "dv50" for norm "pal",
    /// "ntsc", "film" or automatic (any other text) with the fallback norm.
    void ApplyTarget(const std::string& target, const std::string& norm,
                     const std::string& fallback);
    /// The "target" option: "[pal-|ntsc-|film-]name", fallback norm "ntsc".
    void SetTarget(const std::string& value);
    /// "apre", "vpre", "spre", "fpre": nothing when either text is empty.
    void ApplyPreset(const std::string& kindOption, const std::string& name);

    /// "newvideo", "newaudio", "newsubtitle": add a stream of that type to
    /// the last output file. Throws "At least one output file must be specified"
    /// when no output file is open yet.
    void NewVideoStream();
    void NewAudioStream();
    void NewSubtitleStream();

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
    /// Frame-hook modules added by "vhook", released when the run ends.
    TFrameHookList FrameHookList;

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
    void ApplyRecordedOptions(void* target, void* optionContext, int requiredFlags,
                              void* privateContext);
    void NewStream(AVMediaType type);
};

}  // namespace tw
