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

/// mutex: the address of the caller's mutex slot. Returns 0 or -1.
int CodecLockCallback(void** mutex, int op);

/// What registering the callback with libavcodec did: destroy, then create,
/// on the library's own slot. Called by the loader after libavcodec is bound.
void RegisterCodecLockManager();
/// Registering "no callback": destroy. Called before libavcodec is unbound.
void UnregisterCodecLockManager();

/// Obtains / releases the library's codec mutex (ops 1 and 2 on its slot).
int LockCodecs();
int UnlockCodecs();

/// Holds the codec lock for a scope: around avcodec_open2 and
/// avcodec_free_context of an opened codec.
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

}  // namespace tw
