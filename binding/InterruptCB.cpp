// binding/InterruptCB.cpp — the per-thread I/O interrupt registry.
#include "binding/InterruptCB.h"

#include <algorithm>
#include <atomic>

#include "diag/FFLog.h"

namespace tw {

void TInterruptCB::Register(uint32_t ThreadID, void* Context, TInterruptCheck Callback) {
    std::lock_guard<std::mutex> lock(FLock);
    for (const Registration& r : FList)
        if (r.ThreadID == ThreadID && r.Context == Context && r.Callback == Callback) return;
    FList.push_back({ThreadID, Callback, Context});
}

void TInterruptCB::Unregister(uint32_t ThreadID, void* Context, TInterruptCheck Callback) {
    std::lock_guard<std::mutex> lock(FLock);
    auto it = std::find_if(FList.begin(), FList.end(), [&](const Registration& r) {
        return r.ThreadID == ThreadID && r.Context == Context && r.Callback == Callback;
    });
    if (it != FList.end()) FList.erase(it);
}

bool TInterruptCB::Check(uint32_t ThreadID) {
    std::lock_guard<std::mutex> lock(FLock);
    for (const Registration& r : FList)
        if (r.ThreadID == ThreadID) return r.Callback(r.Context);
    return false;
}

void TInterruptCB::Clear() {
    std::lock_guard<std::mutex> lock(FLock);
    FList.clear();
}

TInterruptCB::~TInterruptCB() { Clear(); }

namespace {

// Lives from static initialisation to static destruction; the pointer is
// cleared first so that a late library poll sees no registry.
struct TRegistryHolder {
    TInterruptCB Registry;
    std::atomic<TInterruptCB*> Current{&Registry};
    ~TRegistryHolder() { Current = nullptr; }
};
TRegistryHolder Holder;
std::atomic<int> Registrations{0};

}  // namespace

TInterruptCB* InterruptCB() { return Holder.Current.load(); }

int IOInterruptCallback(void*) {
    TInterruptCB* registry = InterruptCB();
    return registry && registry->Check(CurrentThreadID()) ? 1 : 0;
}

void RegisterIOInterruptCallback() { ++Registrations; }

int IOInterruptCallbackRegistrations() { return Registrations.load(); }

AVIOInterruptCB LibraryInterruptCB() {
    if (Registrations.load() == 0) return AVIOInterruptCB{nullptr, nullptr};
    return AVIOInterruptCB{IOInterruptCallback, nullptr};
}

}  // namespace tw
