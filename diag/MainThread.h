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

/// Marks the calling thread as the main thread. The first call of IsMainThread
/// or RunOnMainThread without an earlier SetMainThread takes the thread that
/// made it as the main thread. Call once at program start.
void SetMainThread();

/// The id of the main thread.
std::thread::id MainThreadId();

/// True on the main thread.
bool IsMainThread();

/// Runs fn on the main thread and returns when it has run. On the main thread
/// fn runs at once. An exception thrown by fn is caught on the main thread and
/// rethrown in the caller.
void RunOnMainThread(std::function<void()> fn);

/// Runs every call queued so far (main thread only). Returns the number run.
int DrainMainThreadCalls();

/// Waits until a call is queued or the timeout passes, then drains the queue
/// (main thread only). Returns the number of calls run. This is what a wait
/// loop uses instead of polling a tick counter.
int WaitAndDrainMainThreadCalls(std::chrono::milliseconds timeout);

/// Wakes a main thread blocked in WaitAndDrainMainThreadCalls without queueing
/// a call (used when a waited-for condition changes).
void WakeMainThread();

}  // namespace tw
