// transcoder/ConvertThread.cpp — the engine's worker and terminate threads.
#include "transcoder/ConvertThread.h"

#include "diag/ThreadName.h"
#include "transcoder/CustomFFmpeg.h"

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
            Execute();
        });
    });
}

void TConvertThread::Execute() {
    FEngine.SetWorkerDone(false);
    try {
        FEngine.Run();
    } catch (...) {
        // Run records its own failures; nothing may escape a thread.
    }
    FEngine.SetWorkerDone(true);
}

TDoTerminateThread::TDoTerminateThread(TCustomFFmpeg& engine) {
    engine.SetTerminateDone(false);
    FThread = std::thread([&engine] {
        NameThisThread("tw-terminate");
        try {
            engine.DoTerminate();
        } catch (...) {
        }
        engine.SetTerminateDone(true);
    });
}

TDoTerminateThread::~TDoTerminateThread() {
    if (FThread.joinable()) FThread.join();
}

}  // namespace tw
