// diag/MainThread.cpp — the call queue drained by the main thread.
#include "diag/MainThread.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>

namespace tw {
namespace {

// One waiting RunOnMainThread. It lives on the caller's stack; the caller
// stays blocked until Done, so the draining thread may use it until then.
struct TCall {
    std::function<void()> Fn;
    std::exception_ptr Error;
    bool Done = false;
    bool RunByCaller = false;  // set at shutdown: nobody will drain any more
    std::condition_variable DoneSignal;
};

struct TCallQueue {
    std::atomic<std::thread::id> Main{std::this_thread::get_id()};

    std::mutex Lock;
    // --- guarded by Lock
    std::condition_variable Wake;  // the main thread waits here
    std::deque<TCall*> Calls;
    bool WakeRequested = false;
    bool Closed = false;
};

// Never destroyed: worker threads and the destructors of other static objects
// may still call in while the process ends.
TCallQueue& Queue() {
    static TCallQueue* queue = new TCallQueue;
    return *queue;
}

// Static initialisation runs on the process's first thread, so that thread is
// the main thread until SetMainThread says otherwise.
const bool gMainThreadTaken = (Queue(), true);

// At static shutdown no loop drains the queue any more: let every waiting
// caller, and every later one, run its call itself instead of blocking for
// ever.
struct TCallQueueEnd {
    ~TCallQueueEnd() {
        TCallQueue& q = Queue();
        std::lock_guard lock(q.Lock);
        q.Closed = true;
        for (TCall* call : q.Calls) {
            call->RunByCaller = true;
            call->Done = true;
            call->DoneSignal.notify_one();
        }
        q.Calls.clear();
    }
} gCallQueueEnd;

void RequireMainThread(const char* what) {
    if (!IsMainThread())
        throw std::logic_error(std::string(what) + " may only be called on the main thread.");
}

}  // namespace

void SetMainThread() { Queue().Main = std::this_thread::get_id(); }

std::thread::id MainThreadId() { return Queue().Main; }

bool IsMainThread() { return Queue().Main.load() == std::this_thread::get_id(); }

void RunOnMainThread(std::function<void()> fn) {
    if (IsMainThread()) {
        fn();
        return;
    }
    TCallQueue& q = Queue();
    TCall call;
    call.Fn = std::move(fn);
    {
        std::unique_lock lock(q.Lock);
        if (!q.Closed) {
            q.Calls.push_back(&call);
            q.Wake.notify_all();
            call.DoneSignal.wait(lock, [&] { return call.Done; });
        } else {
            call.RunByCaller = true;
        }
    }
    if (call.RunByCaller) {
        call.Fn();
        return;
    }
    if (call.Error) std::rethrow_exception(call.Error);
}

int DrainMainThreadCalls() {
    RequireMainThread("DrainMainThreadCalls");
    TCallQueue& q = Queue();
    std::unique_lock lock(q.Lock);
    // Only what is queued now: a producer that queues again at once must not
    // keep the main thread here for ever.
    size_t budget = q.Calls.size();
    int ran = 0;
    // One call at a time, so that a nested drain inside a call continues in
    // queue order.
    while (budget-- > 0 && !q.Calls.empty()) {
        TCall* call = q.Calls.front();
        q.Calls.pop_front();
        lock.unlock();
        std::exception_ptr error;
        try {
            call->Fn();
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        call->Error = error;
        call->Done = true;
        // Notified under the lock: once it is released the caller may return
        // and its TCall is gone.
        call->DoneSignal.notify_one();
        ++ran;
    }
    return ran;
}

int WaitAndDrainMainThreadCalls(std::chrono::milliseconds timeout) {
    RequireMainThread("WaitAndDrainMainThreadCalls");
    TCallQueue& q = Queue();
    {
        std::unique_lock lock(q.Lock);
        q.Wake.wait_for(lock, timeout, [&] { return !q.Calls.empty() || q.WakeRequested; });
        q.WakeRequested = false;
    }
    return DrainMainThreadCalls();
}

void WakeMainThread() {
    TCallQueue& q = Queue();
    std::lock_guard lock(q.Lock);
    q.WakeRequested = true;
    q.Wake.notify_all();
}

}  // namespace tw
