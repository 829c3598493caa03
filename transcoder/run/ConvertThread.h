// transcoder/run/ConvertThread.h — the threads of the engine: the worker that runs
// one transcode, and the short-lived thread that gives the terminate
// notification of an engine that never ran.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace tw {

/// Created suspended: nothing runs until Resume. Joined by its destructor
/// (the engine destroys it only after the run has ended).
class TConvertThread {
  public:
    /// body: the whole work of the thread (the engine's run, telling the
    /// engine when it is inside it); it must not throw.
    TConvertThread(std::function<void()> body, int priority)
        : FBody(std::move(body)), FPriority(priority) {}
    ~TConvertThread();
    TConvertThread(const TConvertThread&) = delete;
    TConvertThread& operator=(const TConvertThread&) = delete;

    /// Starts the thread once; later calls do nothing.
    void Resume();
    bool Suspended() const { return !FStarted; }
    int Priority() const { return FPriority; }
    std::thread::id Id() const { return FThread.get_id(); }

  private:
    std::function<void()> FBody;
    const int FPriority;
    std::once_flag FStartOnce;
    std::atomic<bool> FStarted = false;
    std::thread FThread;
};

/// Runs the terminate notification of an engine on a thread of its own.
class TDoTerminateThread {
  public:
    /// body: the notification and the engine's note that it was given; it
    /// must not throw.
    explicit TDoTerminateThread(std::function<void()> body);
    ~TDoTerminateThread();
    TDoTerminateThread(const TDoTerminateThread&) = delete;
    TDoTerminateThread& operator=(const TDoTerminateThread&) = delete;

  private:
    std::thread FThread;
};

}  // namespace tw
