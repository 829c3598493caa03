// binding/LockManager.h — the codec lock manager: one process-wide recursive
// mutex that serialises opening and closing codecs across worker threads.
//
// libavcodec no longer takes a lock-manager hook; the callback keeps its
// operations and messages, and the engine takes the lock itself around every
// codec open and close (CodecLockGuard).
#pragma once

namespace tw {

/// Lock operations as the library numbered them.
enum TLockOp { lockCreate = 0, lockObtain = 1, lockRelease = 2, lockDestroy = 3 };

/// mutex: the address of a mutex slot (the library's own slot, or a caller's
/// for tests). The slot is empty (nullptr) or refers to the process's codec
/// mutex. Returns 0 or -1 and logs through FFLogger() with no sender:
/// failures at llError, the create-over-a-live-mutex case at llWarning, every
/// success at llDebug. Does nothing and returns 0 once shutdown has begun
/// (LoaderShuttingDown() or the test hook below).
///
/// Create and destroy run on the loading thread while no codec work runs;
/// obtain and release on any thread. The mutex is recursive and owned by the
/// thread that obtained it: a release by any other thread fails (-1,
/// "error, could not release codec mutex [%d]: Operation not permitted.").
int CodecLockCallback(void** mutex, int op);

/// What registering the callback with libavcodec did: destroy, then create,
/// on the library's own slot. Called by the loader after libavcodec is bound.
void RegisterCodecLockManager();
/// Registering "no callback": destroy. Called before libavcodec is unbound.
void UnregisterCodecLockManager();

/// Obtains / releases the library's codec mutex (ops 1 and 2 on its slot);
/// 0 or -1 as CodecLockCallback. Any thread; the releasing thread must be the
/// one that obtained it.
int LockCodecs();
int UnlockCodecs();

/// Holds the codec lock for a scope: around avcodec_open2 and
/// avcodec_free_context of an opened codec. When obtaining fails (the failure
/// is logged) the scope runs unlocked and nothing is released.
class CodecLockGuard {
  public:
    CodecLockGuard() : FLocked(LockCodecs() == 0) {}
    ~CodecLockGuard() {
        if (FLocked) UnlockCodecs();
    }
    CodecLockGuard(const CodecLockGuard&) = delete;
    CodecLockGuard& operator=(const CodecLockGuard&) = delete;

  private:
    bool FLocked;
};

/// Tests only: makes CodecLockCallback behave as during shutdown (ORed with
/// LoaderShuttingDown()).
void SetCodecLockShutdownForTest(bool shuttingDown);

}  // namespace tw
