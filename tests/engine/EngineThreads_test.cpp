// tests/engine/EngineThreads_test.cpp — the engine's threads carry names that
// show in a debugger.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "binding/FFLoad.h"
#include "diag/FFLog.h"
#include "diag/ThreadName.h"
#include "tests/support/Media.h"
#include "tests/support/TempDir.h"
#include "transcoder/run/ConvertThread.h"
#include "transcoder/CustomFFmpeg.h"

namespace tw {
namespace {

// Catches: a worker or terminate thread started without its name (they all
// showed as the program's name), or a name cut in the middle of a character.
TEST(EngineThreads, WorkerAndTerminateThreadsAreNamed) {
    ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds)) << FFLoader().LastErrMsg();
    FFLogger()->TriggerEventInMainThread = false;
    test::TempDir dir;
    std::mutex lock;
    std::string progressThread, terminateThread;

    auto e = std::make_unique<TCustomFFmpeg>(4);
    e->SetVerbose(-1);
    ASSERT_TRUE(e->OpenInputFile(test::GenerateClip(dir.File("a.flv"), {"--duration", "0.5"})))
        << e->LastError;
    e->SetOption("vcodec", "copy");
    e->SetOption("acodec", "copy");
    ASSERT_EQ(e->OpenOutputFile(dir.File("out.flv"), false), 1) << e->LastError;
    e->ProgressIntervalUs = 0;
    e->ProgressCallback = [&](TCustomFFmpeg*, int, int64_t, int64_t, int64_t, float, float, int,
                              int) {
        std::lock_guard<std::mutex> guard(lock);
        progressThread = ThisThreadName();
    };
    TConvertThread* worker = e->Start(true);
    ASSERT_NE(worker, nullptr);
    worker->Resume();
    for (int i = 0; i < 1000 && !e->Terminated; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    e->Stop(true);
    EXPECT_TRUE(e->Finished) << e->ErrorMessage;
    EXPECT_EQ(progressThread, "tw-convert");

    auto idle = std::make_unique<TCustomFFmpeg>(1);
    idle->TerminateCallback = [&](TCustomFFmpeg*) {
        std::lock_guard<std::mutex> guard(lock);
        terminateThread = ThisThreadName();
    };
    idle->Terminate(true);
    EXPECT_EQ(terminateThread, "tw-terminate");

    // The system keeps 15 bytes: a longer name loses whole characters only.
    std::string seen;
    std::thread([&] {
        NameThisThread("tw-合并合并合并合并");
        seen = ThisThreadName();
    }).join();
    EXPECT_EQ(seen, "tw-合并合并");
}

}  // namespace
}  // namespace tw
