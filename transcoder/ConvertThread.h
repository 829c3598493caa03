// transcoder/ConvertThread.h — the threads of the engine: the worker that runs
// one transcode, and the short-lived thread that gives the terminate
// notification of an engine that never ran.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

namespace tw {

class TCustomFFmpeg;

/// Created suspended: nothing runs until Resume. Joined by its destructor
/// (the engine destroys it only after the run has ended).
class TConvertThread {
  public:
    TConvertThread(TCustomFFmpeg& engine, int priority) : FEngine(engine), FPriority(priority) {}
    ~TConvertThread();
    TConvertThread(const TConvertThread&) = delete;
    TConvertThread& operator=(const TConvertThread&) = delete;

    /// Starts the thread once; later calls do nothing.
    void Resume();
    bool Suspended() const { return !FStarted; }
    int Priority() const { return FPriority; }
    std::thread::id Id() const { return FThread.get_id(); }

  private:
    void Execute();
    TCustomFFmpeg& FEngine;
    const int FPriority;
    std::once_flag FStartOnce;
    std::atomic<bool> FStarted = false;
    std::thread FThread;
};

/// Runs DoTerminate of the engine on a thread of its own.
class TDoTerminateThread {
  public:
    explicit TDoTerminateThread(TCustomFFmpeg& engine);
    ~TDoTerminateThread();
    TDoTerminateThread(const TDoTerminateThread&) = delete;
    TDoTerminateThread& operator=(const TDoTerminateThread&) = delete;

  private:
    std::thread FThread;
};

}  // namespace tw
