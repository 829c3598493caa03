// binding/LockManager.cpp — the codec lock manager.
#include "binding/LockManager.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "binding/FFLoad.h"
#include "diag/FFLog.h"

namespace tw {
namespace {

// A recursive mutex that knows its owner, so that a release by a thread that
// does not hold it fails instead of corrupting the lock (what the platform
// mutex handle gave us).
class TCodecMutex {
  public:
    explicit TCodecMutex(int handle) : FHandle(handle) {}
    int Handle() const { return FHandle; }

    void Obtain() {
        std::unique_lock<std::mutex> lock(FLock);
        const auto self = std::this_thread::get_id();
        if (FCount > 0 && FOwner == self) {
            ++FCount;
            return;
        }
        FFree.wait(lock, [&] { return FCount == 0; });
        FOwner = self;
        FCount = 1;
    }

    bool Release() {
        std::lock_guard<std::mutex> lock(FLock);
        if (FCount == 0 || FOwner != std::this_thread::get_id()) return false;
        if (--FCount == 0) {
            FOwner = std::thread::id();
            FFree.notify_one();
        }
        return true;
    }

  private:
    const int FHandle;
    std::mutex FLock;
    std::condition_variable FFree;
    std::thread::id FOwner;
    int FCount = 0;
};

// The process's one codec mutex; empty at start.
TCodecMutex* CodecMutex = nullptr;
// Handles are numbered like the platform numbered them: never reused.
std::atomic<int> NextHandle{0x100};
// The slot libavcodec kept for the mutex; the lock manager now owns it.
void* LibrarySlot = nullptr;
std::atomic<bool> ShutdownForTest{false};

TCodecMutex* MutexOf(void** slot) {
    if (!slot || !*slot) return nullptr;
    return *static_cast<TCodecMutex**>(*slot);
}

void LogMsg(TLogLevel level, const char* fmt, int value) {
    FFLogger()->LogFmt(nullptr, level, fmt, value);
}

}  // namespace

int CodecLockCallback(void** slot, int op) {
    if (LoaderShuttingDown() || ShutdownForTest.load()) return 0;
    switch (op) {
        case lockCreate: {
            if (TCodecMutex* live = MutexOf(slot)) {
                LogMsg(llError, "error, codec mutex [%d] already exist.", live->Handle());
                return -1;
            }
            if (CodecMutex) {
                LogMsg(llWarning, "warning, local codec mutex [%d] not destroyed.",
                       CodecMutex->Handle());
                delete CodecMutex;
                CodecMutex = nullptr;
            }
            CodecMutex = new (std::nothrow) TCodecMutex(NextHandle++);
            if (!CodecMutex) {
                FFLogger()->LogFmt(nullptr, llError, "error, failed to create codec mutex: %s.",
                                   std::strerror(ENOMEM));
                return -1;
            }
            LogMsg(llDebug, "create codec mutex [%d].", CodecMutex->Handle());
            if (slot) *slot = &CodecMutex;
            return 0;
        }
        case lockObtain: {
            TCodecMutex* m = MutexOf(slot);
            if (!m) {
                FFLogger()->Log(nullptr, llError, "error, codec mutex not available.");
                return -1;
            }
            m->Obtain();  // an untimed wait cannot fail here
            LogMsg(llDebug, "obtain codec mutex [%d].", m->Handle());
            return 0;
        }
        case lockRelease: {
            TCodecMutex* m = MutexOf(slot);
            if (!m) {
                FFLogger()->Log(nullptr, llError, "error, codec mutex not available.");
                return -1;
            }
            if (!m->Release()) {
                FFLogger()->LogFmt(nullptr, llError,
                                   "error, could not release codec mutex [%d]: %s.", m->Handle(),
                                   "Operation not permitted");
                return -1;
            }
            LogMsg(llDebug, "release codec mutex [%d].", m->Handle());
            return 0;
        }
        case lockDestroy: {
            if (TCodecMutex* m = MutexOf(slot)) {
                LogMsg(llDebug, "destory codec mutex [%d].", m->Handle());
                delete m;
                *slot = nullptr;
                CodecMutex = nullptr;
            }
            return 0;
        }
        default:
            LogMsg(llError, "error, invalid codec mutex operation %d.", op);
            return -1;
    }
}

void RegisterCodecLockManager() {
    CodecLockCallback(&LibrarySlot, lockDestroy);
    CodecLockCallback(&LibrarySlot, lockCreate);
}

void UnregisterCodecLockManager() { CodecLockCallback(&LibrarySlot, lockDestroy); }

int LockCodecs() { return CodecLockCallback(&LibrarySlot, lockObtain); }
int UnlockCodecs() { return CodecLockCallback(&LibrarySlot, lockRelease); }

void SetCodecLockShutdownForTest(bool shuttingDown) { ShutdownForTest = shuttingDown; }

}  // namespace tw
