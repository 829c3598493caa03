// binding/InterruptCB.h — the per-thread I/O interrupt registry and the
// interrupt callback served to every format context the system opens.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

extern "C" {
#include <libavformat/avio.h>
}

namespace tw {

/// A check the transcoder registers for a thread: true means "stop the
/// blocking I/O now". Context is passed back unchanged.
using TInterruptCheck = bool (*)(void* Context);

/// Registrations of (thread id, context, check), kept in registration order.
/// Every member holds the registry's lock for its whole duration; Check calls
/// the matching check while holding it, so a check must not wait for a thread
/// that may use the registry meanwhile (nor use the registry itself). Any
/// thread.
class TInterruptCB {
  public:
    /// Adds the registration unless an equal one (all three values) exists.
    void Register(uint32_t ThreadID, void* Context, TInterruptCheck Callback);
    /// Removes the first registration equal in all three values, if any.
    void Unregister(uint32_t ThreadID, void* Context, TInterruptCheck Callback);
    /// The result of the check of the first registration for ThreadID, called
    /// with its context; false when there is none. Later registrations for
    /// the same thread are not asked.
    bool Check(uint32_t ThreadID);
    /// Removes every registration.
    void Clear();
    /// Clears the list under the lock.
    ~TInterruptCB();

  private:
    struct Registration {
        uint32_t ThreadID;
        TInterruptCheck Callback;
        void* Context;
    };
    // --- guarded by FLock
    std::mutex FLock;
    std::vector<Registration> FList;  // registration order
};

/// The process-wide registry: created at process start, destroyed at process
/// shutdown; null before and after.
TInterruptCB* InterruptCB();

/// The callback the libraries poll from the thread blocked in their I/O:
/// 1 when the registry exists and Check(CurrentThreadID()) is true, else 0.
/// The argument is not used.
int IOInterruptCallback(void* unused);

/// Called by the loader after libavformat is bound (stands for the old global
/// registration: from then on LibraryInterruptCB() is served to contexts).
void RegisterIOInterruptCallback();
/// How many times the callback has been registered (tests).
int IOInterruptCallbackRegistrations();

/// The value to put in AVFormatContext::interrupt_callback and to pass to
/// avio_open2: {IOInterruptCallback, nullptr} once RegisterIOInterruptCallback
/// has run, an empty callback before.
AVIOInterruptCB LibraryInterruptCB();

}  // namespace tw
