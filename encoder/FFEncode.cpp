// encoder/FFEncode.cpp — tasks, the task list, the encoder's operations and
// the relays that turn engine callbacks into events.
#include "encoder/FFEncode.h"

#include <stdexcept>

#include "binding/FFLoad.h"
#include "diag/MainThread.h"
#include "diag/ThreadName.h"

namespace tw {

// --- tasks

TFFmpeg::TFFmpeg(int maxFiles)
    : TCustomFFmpeg(maxFiles),
      TaskDecoders(maxFiles),
      InputOptionsCopy(maxFiles),
      OutputOptionsCopy(maxFiles) {}

TFFmpeg::~TFFmpeg() {
    // Nothing may call back into an encoder that is letting go of the task.
    ProgressCallback = nullptr;
    AudioHookCallback = nullptr;
    VideoInputHookCallback = nullptr;
    VideoOutputHookCallback = nullptr;
    PreviewCallback = nullptr;
    BeforeFindStreamInfoCallback = nullptr;
    // The terminate notification of a task that never ran is still given
    // (the engine's destructor stops and closes it), so it stays connected
    // until then; decoders go before the inputs they describe.
    for (auto& d : TaskDecoders) d.reset();
}

TFFDecoder& TFFmpeg::TaskDecoder(int index) {
    auto& d = TaskDecoders.at(index);
    if (!d) d = std::make_unique<TFFDecoder>();
    return *d;
}

int TFFmpegList::Add(std::unique_ptr<TFFmpeg> task) {
    FTasks.push_back(std::move(task));
    return static_cast<int>(FTasks.size()) - 1;
}

TFFmpeg& TFFmpegList::Get(int index) const {
    if (index < 0 || index >= Count())
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    return *FTasks[index];
}

int TFFmpegList::IndexOf(const TCustomFFmpeg* task) const {
    for (size_t i = 0; i < FTasks.size(); ++i)
        if (FTasks[i].get() == task) return static_cast<int>(i);
    return -1;
}

void TFFmpegList::Stop(bool wait) {
    for (auto& t : FTasks) t->Terminate(wait);
}

void TFFmpegList::SetPreviewFlag(int bit, bool on) {
    for (auto& t : FTasks) {
        const int flags = t->PreviewFlags();
        t->SetPreviewFlags(on ? flags | bit : flags & ~bit);
    }
}

namespace {

// Handlers draw on the bitmap with its canvas held.
class TCanvasLock {
  public:
    explicit TCanvasLock(TBitmap* bitmap) : FBitmap(bitmap) {
        if (FBitmap) FBitmap->LockCanvas();
    }
    ~TCanvasLock() {
        if (FBitmap) FBitmap->UnlockCanvas();
    }
    TCanvasLock(const TCanvasLock&) = delete;
    TCanvasLock& operator=(const TCanvasLock&) = delete;

  private:
    TBitmap* FBitmap;
};

}  // namespace

// --- encoder

TCustomEncoder::TCustomEncoder() { Version = "3.9"; }

void TCustomEncoder::SetPreview(bool on) {
    FTasks.SetPreviewFlag(TCustomFFmpeg::pfWindow, on);
    Preview = on;
}

void TCustomEncoder::SetPreviewBitmap(bool on) {
    FTasks.SetPreviewFlag(TCustomFFmpeg::pfBitmap, on);
    PreviewBitmap = on;
}

void TCustomEncoder::StopRunningTasks() {
    // Stop every task and wait for its worker while the handlers are still
    // in place: a worker may be waiting for the main thread inside a relay,
    // and Stop serves the main thread's calls while it waits.
    PendingCount = 0;
    for (int i = 0; i < FTasks.Count(); ++i) {
        TFFmpeg& task = FTasks.Get(i);
        try {
            if (task.Running) task.Stop(true);
        } catch (...) {
        }
    }
    JoinNotifyThreads();  // notifications being delivered run to their end
}

TFFEncoder::~TFFEncoder() {
    // Before any part of the object goes: the workers call its relays.
    StopRunningTasks();
}

TCustomEncoder::~TCustomEncoder() {
    StopRunningTasks();
    // Nothing reads the handlers any more; a relay still leaving its lock
    // finishes first.
    {
        std::lock_guard<std::mutex> a(FAudioHookLock), v(FVideoHookLock);
        std::lock_guard<std::recursive_mutex> t(FTerminateLock);
        OnAudioHook = nullptr;
        OnVideoInputHook = nullptr;
        OnVideoOutputHook = nullptr;
        OnPreviewBitmap = nullptr;
        OnProgress = nullptr;
        OnTerminate = nullptr;
    }
    // The list is emptied under the terminate relay's lock (a task that
    // never ran still passes through the relay while it goes, telling
    // nobody), then the engines close.
    std::vector<std::unique_ptr<TFFmpeg>> tasks;
    {
        std::lock_guard<std::recursive_mutex> lock(FTerminateLock);
        tasks = FTasks.TakeAll();
    }
    tasks.clear();
    JoinNotifyThreads();  // no notification thread outlives the encoder
}

void TCustomEncoder::JoinNotifyThreads() {
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> l(FThreadsLock);
        threads.swap(FNotifyThreads);
    }
    for (auto& t : threads)
        if (t.joinable()) t.join();
}

void TCustomEncoder::BusyCheck(const char* operation) const {
    if (Working) throw std::runtime_error(std::string("Cannot ") + operation + " while working.");
}

bool TCustomEncoder::LibrariesLoaded() const { return FFLoader().Loaded(CopyLibraryKinds); }

// A copy needs a fraction of the libraries a re-encode needs (libavfilter
// alone brings some thirty more): the rest is loaded when a task first
// re-encodes, so that a fast merge does not pay for it.
bool TCustomEncoder::LoadLibraries(const std::string& folder) {
    FFLoader().SetLibraryPath(folder);
    const bool ok = FFLoader().Load(CopyLibraryKinds);
    if (!ok) LastError = FFLoader().LastErrMsg();
    return ok;
}

bool TCustomEncoder::LoadReencodeLibraries() {
    if (FFLoader().Loaded(ReencodeLibraryKinds)) return true;
    // Load unloads only the set it was given on failure: the copy set stays.
    const bool ok = FFLoader().Load(ReencodeLibraryKinds);
    if (!ok) LastError = FFLoader().LastErrMsg();
    return ok;
}

void TCustomEncoder::ConnectTask(TFFmpeg& task) {
    task.ProgressCallback = [this](TCustomFFmpeg* t, const TProgress& progress) {
        ProgressRelay(t, progress);
    };
    task.TerminateCallback = [this](TCustomFFmpeg* t) { TerminateRelay(t); };
}

int TCustomEncoder::AddTask(const std::string& fileName, TInputOptions* options) {
    BusyCheck("AddTask");
    auto task = std::make_unique<TFFmpeg>(TaskCapacity);
    task->RaiseOnUnknownOption = RaiseOnUnknownOption;
    try {
        task->SetVerbose(TaskVerbose);
        task->SetPreviewFlags((Preview ? TCustomFFmpeg::pfWindow : 0) |
                              (PreviewBitmap ? TCustomFFmpeg::pfBitmap : 0));
        task->BeforeFindStreamInfoCallback = [this](TCustomFFmpeg* t, AVFormatContext* ic) {
            if (OnBeforeFindStreamInfo) OnBeforeFindStreamInfo(t, ic);
        };
        task->PreviewCallback = [this](TCustomFFmpeg* t, TBitmap* p, int64_t pts, int frame) {
            PreviewRelay(t, p, pts, frame);
        };
        if (options) {
            ApplyInputOptions(*task, *options, fileName);
            task->ReopenInputs = options->ReopenInputs;
            task->InputOptionsCopy[task->InputFileCount] =
                std::make_unique<TInputOptions>(*options);
        }
        task->IOTimeout = IOTimeout;
        if (!task->OpenInputFile(fileName)) {
            LastError = task->LastError;
            return -1;
        }
        const int input = task->InputFileCount - 1;
        task->TaskDecoder(input).AttachContext(task->InputFiles[input].get());
        ConnectTask(*task);
    } catch (const std::exception& e) {
        LastError = e.what();
        return -1;
    }
    return FTasks.Add(std::move(task));
}

bool TCustomEncoder::AddInputFile(int taskIndex, const std::string& fileName,
                                  TInputOptions* options) {
    BusyCheck("AddInputFile");
    TFFmpeg& task = FTasks.Get(taskIndex);
    if (task.InputFileCount >= task.MaxFiles) {
        LastError = "max input files " + std::to_string(task.MaxFiles) + " reached";
        return false;
    }
    const int index = task.InputFileCount;
    try {
        task.RaiseOnUnknownOption = RaiseOnUnknownOption;
        if (options) {
            ApplyInputOptions(task, *options, fileName);
            task.InputOptionsCopy[index] = std::make_unique<TInputOptions>(*options);
        } else {
            task.InputOptionsCopy[index].reset();
        }
        task.IOTimeout = IOTimeout;
        if (!task.OpenInputFile(fileName)) {
            task.InputOptionsCopy[index].reset();
            LastError = task.LastError;
            return false;
        }
        task.TaskDecoder(index).AttachContext(task.InputFiles[index].get());
    } catch (const std::exception& e) {
        LastError = e.what();
        return false;
    }
    return true;
}

bool TCustomEncoder::SetOutputFile(int taskIndex, const std::string& fileName,
                                   TOutputOptions* options) {
    BusyCheck("SetOutputFile");
    return OpenOutput(taskIndex, fileName, options, {});
}

bool TCustomEncoder::SetOutputPlan(int taskIndex, const std::string& fileName,
                                   const TMergePlan& plan) {
    BusyCheck("SetOutputFile");
    TOutputOptions record = PlanOutputRecord(plan);
    return OpenOutput(taskIndex, fileName, &record, PlanOptions(plan));
}

bool TCustomEncoder::AttachDecoderToInput(int taskIndex, int input) {
    const AVFormatContext* context = InputContext(taskIndex, input);
    Decoder.CloseFile();
    if (!context) return false;
    Decoder.AttachContext(FTasks.Get(taskIndex).InputFiles[input].get());
    return true;
}

const AVFormatContext* TCustomEncoder::InputContext(int taskIndex, int input) const {
    const TFFmpeg& task = FTasks.Get(taskIndex);
    if (input < 0 || static_cast<size_t>(input) >= task.InputFiles.size()) return nullptr;
    return task.InputFiles[input].get();
}

std::vector<TLibraryVersion> TCustomEncoder::LibraryVersions() {
    const auto version = [](unsigned (*get)()) { return get ? get() : 0u; };
    return {{"libavcodec", version(lib().avcodec_version)},
            {"libavformat", version(lib().avformat_version)},
            {"libavutil", version(lib().avutil_version)}};
}

std::string TCustomEncoder::LibraryFolder() { return FFLoader().LibraryPath(); }

bool TCustomEncoder::HasEncoder(const std::string& name) {
    return lib().avcodec_find_encoder_by_name &&
           lib().avcodec_find_encoder_by_name(name.c_str()) != nullptr;
}

bool TCustomEncoder::OpenOutput(int taskIndex, const std::string& fileName, TOutputOptions* options,
                                const TOptionList& planned) {
    TFFmpeg& task = FTasks.Get(taskIndex);
    if (task.OutputFileCount >= task.MaxFiles) {
        LastError = "max output files " + std::to_string(task.MaxFiles) + " reached";
        return false;
    }
    const int index = task.OutputFileCount;
    task.RaiseOnUnknownOption = RaiseOnUnknownOption;
    TStreamDefaultList list;
    try {
        bool join = false;
        if (options) {
            if (options->FileName.empty()) options->FileName = fileName;
            task.OutputOptionsCopy[index] = std::make_unique<TOutputOptions>(*options);
            ApplyOutputOptionsBeforeOpen(task, *options, list, planned);
            join = options->Join;
            if (options->AudioHook)
                task.AudioHookCallback = [this](TCustomFFmpeg* t, uint8_t* b, int f, int c, int r,
                                                int s, int64_t pts) {
                    AudioHookRelay(t, b, f, c, r, s, pts);
                };
            if (options->VideoInputHook)
                task.VideoInputHookCallback = [this](TCustomFFmpeg* t, TBitmap* p, bool& stop,
                                                     bool& update, int64_t pts, int frame) {
                    VideoInputHookRelay(t, p, stop, update, pts, frame);
                };
            if (options->VideoOutputHook)
                task.VideoOutputHookCallback = [this](TCustomFFmpeg* t, TBitmap* p, bool& stop,
                                                      bool& update, int64_t pts, int frame) {
                    VideoOutputHookRelay(t, p, stop, update, pts, frame);
                };
        } else {
            task.OutputOptionsCopy[index].reset();
        }
        task.IOTimeout = IOTimeout;
        // The record's name is the one the user knows (the call's file may
        // be written first under another one): the texts name it.
        if (task.OpenOutputFile(fileName, join, options ? options->FileName : fileName) < 0) {
            LastError = task.LastError;
            task.OutputOptionsCopy[index].reset();
            return false;
        }
        if (options) {
            ApplyNewStreamOptions(task, options->ExtOptions, list);
            if (join) task.ExpandJoinedOutput();
        }
        if (task.EncodesAnyStream() && !LoadReencodeLibraries()) return false;
    } catch (const std::exception& e) {
        LastError = e.what();
        return false;
    }
    return true;
}

TTerminateInfo TCustomEncoder::TaskOutcome(int index) const {
    const TFFmpeg& task = FTasks.Get(index);
    return {index, task.Finished, task.ErrorRaised, task.ErrorMessage};
}

void TCustomEncoder::StartNext() {
    if (PendingCount <= 0) return;
    --PendingCount;
    TFFmpeg& task = FTasks.Get(NextTask);
    task.ProgressIntervalUs = int64_t(FProgressInterval) * 1000;
    // NextTask moves on before the task can end and start the next one.
    ++NextTask;
    if (Threaded) {
        if (TConvertThread* worker = task.Start(true, ThreadPriority)) worker->Resume();
    } else {
        task.Start(false);
    }
}

void TCustomEncoder::Start(int maxRunning) {
    BusyCheck("StartTask");
    {
        std::lock_guard<std::recursive_mutex> lock(FTerminateLock);
        FinishedCount = 0;
        NextTask = 0;
        PendingCount = TaskCount();
        Done = false;
        Threaded = maxRunning > 0;
        Working = true;
    }
    // An empty job is done at once rather than keeping the encoder busy.
    if (TaskCount() == 0) {
        std::lock_guard<std::recursive_mutex> lock(FTerminateLock);
        AllTasksDone();
        return;
    }
    while (PendingCount > 0) {
        if (Threaded) {
            std::lock_guard<std::recursive_mutex> lock(FTerminateLock);
            StartNext();
        } else {
            StartNext();
        }
        if (Threaded && --maxRunning == 0) break;
    }
}

void TCustomEncoder::Stop(bool wait) {
    PendingCount = 0;
    if (Working) FTasks.Stop(wait);
}

void TCustomEncoder::ClearTasks() {
    if (Working && !Done) throw std::runtime_error("Cannot ClearTasks while working.");
    // Handlers still being called from notification threads finish first,
    // so none of them sees the list while it is emptied.
    JoinNotifyThreads();
    // The last task may still be leaving its terminate relay: empty the list
    // under the relay's lock, then let the tasks go (their engines wait for
    // their workers).
    std::vector<std::unique_ptr<TFFmpeg>> tasks;
    {
        std::lock_guard<std::recursive_mutex> lock(FTerminateLock);
        tasks = FTasks.TakeAll();
    }
    tasks.clear();
    LastError.clear();
    FinishedCount = 0;
    NextTask = -1;
    PendingCount = 0;
    Done = false;
    Threaded = false;
    Working = false;
}

void TCustomEncoder::SyncCall(const std::function<void()>& fn) {
    if (IsMainThread())
        fn();
    else
        RunOnMainThread(fn);
}

// --- relays

void TCustomEncoder::ProgressRelay(TCustomFFmpeg* task, const TProgress& progress) {
    if (!OnProgress) return;
    // The record travels by value and no lock is held while the main thread
    // runs the handler: a main thread that is meanwhile stopping or
    // destroying the encoder must never wait for this worker's lock.
    TProgressInfo info;
    static_cast<TProgress&>(info) = progress;
    info.TaskIndex = FTasks.IndexOf(task);
    auto deliver = [this, info]() mutable {
        if (OnProgress) OnProgress(this, &info);
    };
    if (TriggerEventInMainThread)
        SyncCall(deliver);
    else
        deliver();
}

void TCustomEncoder::PreviewRelay(TCustomFFmpeg* task, TBitmap* bitmap, int64_t pts,
                                  int frameNumber) {
    if (!OnPreviewBitmap) return;
    // As for progress: by value, no lock across the main thread's call. The
    // bitmap stays valid: the worker waits until the handler has run.
    const TPreviewInfo info{FTasks.IndexOf(task), bitmap, frameNumber, pts};
    auto deliver = [this, bitmap, info] {
        if (!OnPreviewBitmap) return;
        TCanvasLock canvas(bitmap);
        OnPreviewBitmap(this, info);
    };
    if (TriggerEventInMainThread)
        SyncCall(deliver);
    else
        deliver();
}

void TCustomEncoder::VideoInputHookRelay(TCustomFFmpeg* task, TBitmap* bitmap, bool& stopHook,
                                         bool& update, int64_t pts, int frameNumber) {
    if (!OnVideoInputHook) return;
    std::lock_guard<std::mutex> lock(FVideoHookLock);
    FHookInfo = THookInfo{FTasks.IndexOf(task), bitmap, frameNumber, pts, update, stopHook};
    {
        TCanvasLock canvas(bitmap);
        OnVideoInputHook(this, &FHookInfo);
    }
    update = FHookInfo.Update;
    stopHook = FHookInfo.StopHook;
}

void TCustomEncoder::VideoOutputHookRelay(TCustomFFmpeg* task, TBitmap* bitmap, bool& stopHook,
                                          bool& update, int64_t pts, int frameNumber) {
    if (!OnVideoOutputHook) return;
    std::lock_guard<std::mutex> lock(FVideoHookLock);
    FHookInfo = THookInfo{FTasks.IndexOf(task), bitmap, frameNumber, pts, update, stopHook};
    {
        TCanvasLock canvas(bitmap);
        OnVideoOutputHook(this, &FHookInfo);
    }
    update = FHookInfo.Update;
    stopHook = FHookInfo.StopHook;
}

void TCustomEncoder::AudioHookRelay(TCustomFFmpeg* task, uint8_t* buffer, int sampleFormat,
                                    int channels, int sampleRate, int size, int64_t pts) {
    if (!OnAudioHook) return;
    std::lock_guard<std::mutex> lock(FAudioHookLock);
    OnAudioHook(this, FTasks.IndexOf(task), pts, buffer, size, sampleRate, channels, sampleFormat);
}

void TCustomEncoder::DeliverTerminate(const TTerminateInfo& info, bool waitForDelivered) {
    // A notification thread of our own: never the main thread, never the worker.
    TTerminateEvent handler = OnTerminate;
    std::lock_guard<std::mutex> l(FThreadsLock);
    FNotifyThreads.emplace_back([this, handler, info, waitForDelivered] {
        NameThisThread("tw-notify");
        if (waitForDelivered)
            while (!TerminateDelivered) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        try {
            if (handler) handler(this, info);
        } catch (...) {
        }
        TerminateDelivered = true;
    });
}

void TCustomEncoder::TerminateRelay(TCustomFFmpeg* task) {
    std::lock_guard<std::recursive_mutex> lock(FTerminateLock);
    TerminateDelivered = true;
    if (OnTerminate) {
        FTerminateInfo = TTerminateInfo{FTasks.IndexOf(task), task->Finished, task->ErrorRaised,
                                        task->ErrorMessage};
        if (!Threaded && Working) {
            OnTerminate(this, FTerminateInfo);
        } else {
            TerminateDelivered = false;
            DeliverTerminate(FTerminateInfo, false);
        }
    }
    ++FinishedCount;
    if (PendingCount > 0) {
        if (Threaded) StartNext();
    } else if (Working && FinishedCount >= TaskCount()) {
        AllTasksDone();
    }
}

void TCustomEncoder::AllTasksDone() {
    if (OnTerminate) {
        FTerminateInfo = TTerminateInfo{-1, true, false, {}};
        if (!Threaded && Working)
            OnTerminate(this, FTerminateInfo);
        else
            DeliverTerminate(FTerminateInfo, true);
    }
    Done = true;
    // A driver waiting on the main thread sees it now, not at its next tick.
    WakeMainThread();
}

}  // namespace tw
