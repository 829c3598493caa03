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

class TInterruptCB {
public:
    void Register(uint32_t ThreadID, void* Context, TInterruptCheck Callback);
    void Unregister(uint32_t ThreadID, void* Context, TInterruptCheck Callback);
    /// Result of the first registration for ThreadID (called under the lock).
    bool Check(uint32_t ThreadID);
    void Clear();
    ~TInterruptCB();

private:
    struct Registration {
        uint32_t ThreadID;
        TInterruptCheck Callback;
        void* Context;
    };
    std::mutex FLock;
    std::vector<Registration> FList;  // registration order
};

/// The process-wide registry (exists from start to shutdown; may be null
/// after shutdown).
TInterruptCB* InterruptCB();

/// 1 when the calling thread's registered check says stop, else 0.
int IOInterruptCallback(void* unused);

/// Called by the loader after libavformat is bound (stands for the old global
/// registration: from then on LibraryInterruptCB() is served to contexts).
void RegisterIOInterruptCallback();
/// How many times the callback has been registered (tests).
int IOInterruptCallbackRegistrations();

/// The value to put in AVFormatContext::interrupt_callback and to pass to
/// avio_open2.
AVIOInterruptCB LibraryInterruptCB();

}  // namespace tw
