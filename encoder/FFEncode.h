// encoder/FFEncode.h — the encoder component: a list of tasks (one engine
// each) that are configured, started, stopped and reported on as events.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "diag/FFBaseComponent.h"
#include "encoder/MergePlan.h"
#include "encoder/OptionRecords.h"
#include "probe/FFDecode.h"
#include "transcoder/CustomFFmpeg.h"

namespace tw {

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

/// A loaded library's name and version (major << 16 | minor << 8 | micro;
/// 0 when it is not loaded).
struct TLibraryVersion {
    std::string Name;
    unsigned Version = 0;
};

/// What OnProgress carries: the engine's report, whole, and the index of
/// the task that made it.
struct TProgressInfo : TProgress {
    int TaskIndex = -1;
};
using PProgressInfo = TProgressInfo*;

struct TTerminateInfo {
    int TaskIndex = -1;
    bool Finished = false;
    bool ErrorRaised = false;
    std::string ErrorMessage;
};

struct TPreviewInfo {
    int TaskIndex = -1;
    TBitmap* Bitmap = nullptr;
    int FrameNumber = 0;
    int64_t PTS = 0;
};

struct THookInfo {
    int TaskIndex = -1;
    TBitmap* Bitmap = nullptr;
    int FrameNumber = 0;
    int64_t PTS = 0;
    bool Update = true;
    bool StopHook = false;
};
using PHookInfo = THookInfo*;

class TCustomEncoder;
using TProgressEvent = std::function<void(TCustomEncoder* Sender, PProgressInfo AProgressInfo)>;
using TTerminateEvent =
    std::function<void(TCustomEncoder* Sender, const TTerminateInfo& ATerminateInfo)>;
using TPreviewBitmapEvent =
    std::function<void(TCustomEncoder* Sender, const TPreviewInfo& APreviewInfo)>;
using TVideoHookEvent = std::function<void(TCustomEncoder* Sender, PHookInfo AHookInfo)>;
using TAudioHookEvent =
    std::function<void(TCustomEncoder* Sender, int ATaskIndex, int64_t APTS, uint8_t* ASample,
                       int ASize, int ASampleRate, int AChannels, int ASampleFormat)>;
using TBeforeFindStreamInfoEvent =
    std::function<void(TCustomFFmpeg* Sender, AVFormatContext* AFormatContext)>;

/// One task: an engine with the records that described its files.
class TFFmpeg : public TCustomFFmpeg {
  public:
    explicit TFFmpeg(int maxFiles);
    ~TFFmpeg() override;
    /// The probing decoder of input index (created on first use).
    TFFDecoder& TaskDecoder(int index);
    std::vector<std::unique_ptr<TFFDecoder>> TaskDecoders;
    std::vector<std::unique_ptr<TInputOptions>> InputOptionsCopy;
    std::vector<std::unique_ptr<TOutputOptions>> OutputOptionsCopy;
};

/// An owning list of tasks.
class TFFmpegList {
  public:
    int Add(std::unique_ptr<TFFmpeg> task);
    /// Throws std::out_of_range "List index out of bounds (%d)".
    TFFmpeg& Get(int index) const;
    int IndexOf(const TCustomFFmpeg* task) const;
    int Count() const { return static_cast<int>(FTasks.size()); }
    void Clear() { FTasks.clear(); }
    /// Empties the list, handing its tasks to the caller.
    std::vector<std::unique_ptr<TFFmpeg>> TakeAll() { return std::move(FTasks); }
    void Stop(bool wait);
    /// Sets or clears one preview flag bit on every task.
    void SetPreviewFlag(int bit, bool on);

  private:
    std::vector<std::unique_ptr<TFFmpeg>> FTasks;
};

class TCustomEncoder : public TFFBaseComponent {
  public:
    TCustomEncoder();
    ~TCustomEncoder() override;

    /// True when what every job needs is loaded (CopyLibraryKinds): a copy
    /// can run; the libraries only re-encoding needs come with
    /// LoadReencodeLibraries.
    bool LibrariesLoaded() const;
    /// Loads CopyLibraryKinds from folder (searched first). On false
    /// LastError holds the loader's text. Main thread.
    bool LoadLibraries(const std::string& folder);
    /// Loads ReencodeLibraryKinds from the folder LoadLibraries was given
    /// (nothing when they are loaded). SetOutputFile calls it for an output
    /// with a stream to encode. On false LastError holds the loader's text
    /// and the libraries loaded before stay. Main thread.
    bool LoadReencodeLibraries();
    int AddTask(const std::string& fileName, TInputOptions* options = nullptr);
    bool AddInputFile(int taskIndex, const std::string& fileName, TInputOptions* options = nullptr);
    /// Opens fileName as the task's output; failure texts name
    /// options->FileName when options are given (see TOutputOptions).
    bool SetOutputFile(int taskIndex, const std::string& fileName,
                       TOutputOptions* options = nullptr);
    /// Opens fileName as the task's output as plan says: its record
    /// (PlanOutputRecord) and its further options (PlanOptions, set before
    /// the options the user typed in plan.ExtOptions). As SetOutputFile.
    bool SetOutputPlan(int taskIndex, const std::string& fileName, const TMergePlan& plan);
    /// Makes Decoder describe input `input` of task taskIndex where the
    /// engine opened it (no second open and analysis). False, with Decoder
    /// left closed, when that input is not open (closed until the run comes
    /// to it, see TInputOptions::ReopenInputs). The configuring thread;
    /// Decoder is valid until the task is cleared. Throws std::out_of_range
    /// for a task index out of the list.
    bool AttachDecoderToInput(int taskIndex, int input);
    /// The opened input `input` of task taskIndex, for describing only (the
    /// run reads it); nullptr when it is not open. As AttachDecoderToInput.
    const AVFormatContext* InputContext(int taskIndex, int input) const;
    /// The versions of libavcodec, libavformat and libavutil, in that order.
    static std::vector<TLibraryVersion> LibraryVersions();
    /// The folder the libraries were loaded from; "" for the system's search.
    static std::string LibraryFolder();
    /// True when the loaded libraries have an encoder of this name.
    static bool HasEncoder(const std::string& name);
    /// maxRunning <= 0: every task on the calling thread, one after another.
    void Start(int maxRunning);
    void Stop(bool wait);
    void ClearTasks();
    TFFmpeg& Tasks(int index) const { return FTasks.Get(index); }
    /// How task index ended (or stands): its Finished, ErrorRaised and
    /// ErrorMessage as a terminate notification gives them. The thread that
    /// configured and started the job, once Done. Throws std::out_of_range
    /// for an index out of the list.
    TTerminateInfo TaskOutcome(int index) const;
    /// True when task index wrote audio or video packets (a stopped run's
    /// output holds more than its header and ending). Any thread.
    bool TaskWroteMedia(int index) const { return FTasks.Get(index).MediaPacketsWritten > 0; }
    /// What task index warned of in its run. As TaskOutcome.
    const std::vector<std::string>& TaskWarnings(int index) const {
        return FTasks.Get(index).Warnings;
    }
    int TaskCount() const { return FTasks.Count(); }

    int ProgressInterval() const { return FProgressInterval; }
    /// 100 or less is stored as 100.
    void SetProgressInterval(int ms) { FProgressInterval = ms <= 100 ? 100 : ms; }

    std::string LastError;
    int TaskCapacity = 20;
    bool RaiseOnUnknownOption = true;
    bool Preview = false;
    bool PreviewBitmap = false;
    /// Change the preview of every existing task too (also while running).
    void SetPreview(bool on);
    void SetPreviewBitmap(bool on);
    int IOTimeout = 10000;
    TThreadPriority ThreadPriority = tpNormal;
    bool TriggerEventInMainThread = true;
    int TaskVerbose = 1;
    TFFDecoder Decoder;

    // Run bookkeeping; read without lock by polling callers.
    std::atomic<int> FinishedCount{0};
    std::atomic<int> NextTask{-1};
    std::atomic<int> PendingCount{0};
    std::atomic<bool> Done{false};
    std::atomic<bool> Threaded{false};
    std::atomic<bool> Working{false};

    TProgressEvent OnProgress;
    TTerminateEvent OnTerminate;
    TPreviewBitmapEvent OnPreviewBitmap;
    TVideoHookEvent OnVideoInputHook;
    TVideoHookEvent OnVideoOutputHook;
    TAudioHookEvent OnAudioHook;
    TBeforeFindStreamInfoEvent OnBeforeFindStreamInfo;

  protected:
    // Relays from the engines' callback slots.
    virtual void VideoInputHookRelay(TCustomFFmpeg* task, TBitmap* bitmap, bool& stopHook,
                                     bool& update, int64_t pts, int frameNumber);
    virtual void VideoOutputHookRelay(TCustomFFmpeg* task, TBitmap* bitmap, bool& stopHook,
                                      bool& update, int64_t pts, int frameNumber);
    virtual void PreviewRelay(TCustomFFmpeg* task, TBitmap* bitmap, int64_t pts, int frameNumber);
    virtual void ProgressRelay(TCustomFFmpeg* task, const TProgress& progress);
    virtual void TerminateRelay(TCustomFFmpeg* task);
    void AudioHookRelay(TCustomFFmpeg* task, uint8_t* buffer, int sampleFormat, int channels,
                        int sampleRate, int size, int64_t pts);

    /// Stops the running tasks and waits for their workers (serving the
    /// main thread's calls meanwhile), then for the notification threads.
    /// The destructor of the most derived class calls it first, so no
    /// worker calls a relay of a half-destroyed object.
    void StopRunningTasks();

  private:
    bool OpenOutput(int taskIndex, const std::string& fileName, TOutputOptions* options,
                    const TOptionList& planned);
    void BusyCheck(const char* operation) const;
    void StartNext();
    void AllTasksDone();
    void ConnectTask(TFFmpeg& task);
    /// Runs on the main thread and waits, or directly when this is the main thread.
    void SyncCall(const std::function<void()>& fn);
    void DeliverTerminate(const TTerminateInfo& info, bool waitForDelivered);
    void JoinNotifyThreads();

    TFFmpegList FTasks;
    int FProgressInterval = 500;
    // Held while a hook handler runs on the engine's thread. Progress and
    // preview go to the main thread by value, under no lock.
    std::mutex FAudioHookLock, FVideoHookLock;
    std::recursive_mutex FTerminateLock;
    THookInfo FHookInfo;
    TTerminateInfo FTerminateInfo;
    std::atomic<bool> TerminateDelivered{true};
    // Notification threads: joined before the encoder goes away.
    std::mutex FThreadsLock;
    std::vector<std::thread> FNotifyThreads;
};

/// The component as placed on a window: the published properties and events
/// are those of TCustomEncoder.
class TFFEncoder : public TCustomEncoder {
  public:
    ~TFFEncoder() override;
};

}  // namespace tw
