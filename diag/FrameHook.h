// diag/FrameHook.h — external picture-processing modules ("vhook"): a list of
// loaded hook entries, run over every decoded picture before scaling.
//
// Modules are loaded once per process (a module cache keyed by file name)
// and stay loaded until the process ends; each AddFrameHook makes a new
// entry with its own context. See diag/FrameHookModule.h for what a module
// exports.
#pragma once

#include <cstdint>

#include "diag/FrameHookModule.h"

namespace tw {

struct TFrameHookEntry {
    TFrameHookEntry* Next;
    TwFrameHookConfigure Configure;
    TwFrameHookProcess Process;
    TwFrameHookRelease Release;
    void* Ctx;
};

/// The hooks of one engine, in the order they were added. Releases them
/// when destroyed.
struct TFrameHookList {
    TFrameHookEntry* Head = nullptr;
    TFrameHookList() = default;
    TFrameHookList(const TFrameHookList&) = delete;
    TFrameHookList& operator=(const TFrameHookList&) = delete;
    ~TFrameHookList();
    bool Empty() const { return Head == nullptr; }
};

/// Loads the module argv[0] (cached), configures a new entry with the
/// arguments and appends it. 0, or -2 (no module name, or an entry point
/// missing), -1 (module cannot be loaded), -12 (no memory), -22 (Configure
/// failed), each after a line through the library log. The module cache has
/// no lock: one thread at a time.
int AddFrameHook(TFrameHookList& list, int argc, char* argv[]);
/// Calls every entry's Process in list order.
void ProcessFrameHooks(TFrameHookList& list, TwHookPicture* picture, int pixFmt, int width,
                       int height, int64_t pts);
/// Calls every entry's Release and frees the entries; the list is empty after.
void ReleaseFrameHooks(TFrameHookList& list);

}  // namespace tw
