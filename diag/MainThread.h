// diag/MainThread.h — "run on the main thread and wait": a small call queue
// that the main thread drains.
//
// The original ran such calls through the window system's message loop. Here
// the main thread drains the queue from its own loop: the window's event
// loop, the command-line wait loop, or the engine's Stop while it waits.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace tw {

/// Marks the calling thread as the main thread. Until it is called, the main
/// thread is the thread that ran the program's static initialisation (the
/// process's first thread). Call once at program start, before other threads
/// exist.
void SetMainThread();

/// The id of the main thread. Any thread.
std::thread::id MainThreadId();

/// True on the main thread. Any thread.
bool IsMainThread();

/// Runs fn on the main thread and returns when it has run. Any thread.
/// On the main thread fn runs at once, so a drained call that calls this again
/// does not wait for itself. From another thread the call is queued and the
/// caller blocks until the main thread drains it; an exception thrown by fn is
/// caught on the main thread and rethrown in the caller. fn and what it refers
/// to stay owned by the caller, which is blocked while fn runs.
/// Once the process has begun its static shutdown nobody drains the queue any
/// more: fn then runs on the calling thread (also for calls still waiting).
void RunOnMainThread(std::function<void()> fn);

/// Runs the calls queued so far, oldest first, and returns the number run.
/// Main thread only (std::logic_error otherwise). A drained call may itself
/// drain (re-entrantly) or wait; calls are always taken in queue order. Calls
/// queued while this runs wait for the next drain.
int DrainMainThreadCalls();

/// Waits until a call is queued, WakeMainThread is called or the timeout
/// passes, then drains the queue. Main thread only (std::logic_error
/// otherwise). Returns the number of calls run. This is what a wait loop uses
/// instead of polling a tick counter.
int WaitAndDrainMainThreadCalls(std::chrono::milliseconds timeout);

/// Wakes a main thread blocked in WaitAndDrainMainThreadCalls without queueing
/// a call (used when a waited-for condition changes). Any thread. A wake given
/// while the main thread is not waiting ends its next wait at once.
void WakeMainThread();

}  // namespace tw
