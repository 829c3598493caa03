// transcoder/run/ConvertThread.cpp — the engine's worker and terminate threads.
#include "transcoder/run/ConvertThread.h"

#include "diag/ThreadName.h"

namespace tw {

TConvertThread::~TConvertThread() {
    if (FThread.joinable()) FThread.join();
}

void TConvertThread::Resume() {
    // The encoder resumes and a stopping caller may resume at the same time.
    std::call_once(FStartOnce, [this] {
        FStarted = true;
        FThread = std::thread([this] {
            NameThisThread("tw-convert");
            FBody();
        });
    });
}

TDoTerminateThread::TDoTerminateThread(std::function<void()> body) {
    FThread = std::thread([body = std::move(body)] {
        NameThisThread("tw-terminate");
        body();
    });
}

TDoTerminateThread::~TDoTerminateThread() {
    if (FThread.joinable()) FThread.join();
}

}  // namespace tw
