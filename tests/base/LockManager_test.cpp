// tests/base/LockManager_test.cpp — the codec lock manager and the I/O
// interrupt registry.
#include "binding/LockManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "binding/InterruptCB.h"
#include "diag/FFLog.h"

namespace tw {
namespace {

// Collects what the lock manager logs, with the level it logs at.
class LockLog : public ::testing::Test {
  protected:
    void SetUp() override {
        FLogger = std::make_unique<TFFLogger>();
        FLogger->TriggerEventInMainThread = false;
        FLogger->SetLogLevel(llDebug);
        FLogger->OnLog = [this](TLogSender, uint32_t, TLogLevel level, const std::string& msg) {
            std::lock_guard<std::mutex> lock(FMutex);
            Lines.push_back({level, msg});
        };
        SetCodecLockShutdownForTest(false);
    }
    void TearDown() override {
        SetCodecLockShutdownForTest(false);
        FLogger.reset();
    }
    struct Line {
        TLogLevel Level;
        std::string Text;
    };
    std::vector<Line> Lines;
    std::mutex FMutex;
    std::unique_ptr<TFFLogger> FLogger;
};

int HandleOf(const std::string& text) {
    const auto open = text.find('[');
    return std::stoi(text.substr(open + 1));
}

// Catches: a reload that keeps the old mutex, or a missing debug line.
TEST_F(LockLog, RegisteringTwiceGivesCreateDestroyCreate) {
    void* slot = nullptr;
    ASSERT_EQ(CodecLockCallback(&slot, lockCreate), 0);
    ASSERT_EQ(CodecLockCallback(&slot, lockDestroy), 0);
    EXPECT_EQ(slot, nullptr);
    ASSERT_EQ(CodecLockCallback(&slot, lockCreate), 0);
    ASSERT_NE(slot, nullptr);
    ASSERT_EQ(Lines.size(), 3u);
    EXPECT_EQ(Lines[0].Text.rfind("create codec mutex [", 0), 0u);
    EXPECT_EQ(Lines[1].Text.rfind("destory codec mutex [", 0), 0u);
    EXPECT_EQ(Lines[2].Text.rfind("create codec mutex [", 0), 0u);
    for (const Line& l : Lines) EXPECT_EQ(l.Level, llDebug);
    EXPECT_EQ(HandleOf(Lines[0].Text), HandleOf(Lines[1].Text));
    EXPECT_NE(HandleOf(Lines[0].Text), HandleOf(Lines[2].Text));
    // The one valid mutex works.
    EXPECT_EQ(CodecLockCallback(&slot, lockObtain), 0);
    EXPECT_EQ(CodecLockCallback(&slot, lockRelease), 0);
    CodecLockCallback(&slot, lockDestroy);
}

TEST_F(LockLog, ObtainAndReleaseLogTheSameHandle) {
    void* slot = nullptr;
    ASSERT_EQ(CodecLockCallback(&slot, lockCreate), 0);
    Lines.clear();
    EXPECT_EQ(CodecLockCallback(&slot, lockObtain), 0);
    EXPECT_EQ(CodecLockCallback(&slot, lockObtain), 0);  // recursive
    EXPECT_EQ(CodecLockCallback(&slot, lockRelease), 0);
    EXPECT_EQ(CodecLockCallback(&slot, lockRelease), 0);
    ASSERT_EQ(Lines.size(), 4u);
    EXPECT_EQ(Lines[0].Text.rfind("obtain codec mutex [", 0), 0u);
    EXPECT_EQ(Lines[3].Text.rfind("release codec mutex [", 0), 0u);
    EXPECT_EQ(HandleOf(Lines[0].Text), HandleOf(Lines[3].Text));
    CodecLockCallback(&slot, lockDestroy);
}

// Catches: a second create silently replacing a live mutex; a missing mutex
// reported as success; a release by a thread that does not hold the mutex.
TEST_F(LockLog, FailuresReturnMinusOneWithTheirText) {
    void* slot = nullptr;
    EXPECT_EQ(CodecLockCallback(&slot, lockObtain), -1);
    EXPECT_EQ(CodecLockCallback(&slot, lockRelease), -1);
    EXPECT_EQ(CodecLockCallback(&slot, 7), -1);
    ASSERT_EQ(Lines.size(), 3u);
    EXPECT_EQ(Lines[0].Text, "error, codec mutex not available.");
    EXPECT_EQ(Lines[0].Level, llError);
    EXPECT_EQ(Lines[1].Text, "error, codec mutex not available.");
    EXPECT_EQ(Lines[2].Text, "error, invalid codec mutex operation 7.");
    EXPECT_EQ(Lines[2].Level, llError);

    ASSERT_EQ(CodecLockCallback(&slot, lockCreate), 0);
    Lines.clear();
    EXPECT_EQ(CodecLockCallback(&slot, lockCreate), -1);
    ASSERT_EQ(Lines.size(), 1u);
    EXPECT_EQ(Lines[0].Text.rfind("error, codec mutex [", 0), 0u);
    EXPECT_NE(Lines[0].Text.find("] already exist."), std::string::npos);

    ASSERT_EQ(CodecLockCallback(&slot, lockObtain), 0);
    int otherResult = 0;
    std::thread([&] { otherResult = CodecLockCallback(&slot, lockRelease); }).join();
    EXPECT_EQ(otherResult, -1);
    EXPECT_EQ(CodecLockCallback(&slot, lockRelease), 0);
    CodecLockCallback(&slot, lockDestroy);
}

TEST_F(LockLog, ALeftOverMutexIsReplacedWithAWarning) {
    void* first = nullptr;
    void* second = nullptr;
    ASSERT_EQ(CodecLockCallback(&first, lockCreate), 0);
    Lines.clear();
    ASSERT_EQ(CodecLockCallback(&second, lockCreate), 0);
    ASSERT_EQ(Lines.size(), 2u);
    EXPECT_EQ(Lines[0].Level, llWarning);
    EXPECT_EQ(Lines[0].Text.rfind("warning, local codec mutex [", 0), 0u);
    EXPECT_NE(Lines[0].Text.find("] not destroyed."), std::string::npos);
    CodecLockCallback(&second, lockDestroy);
}

TEST_F(LockLog, DuringShutdownEveryOperationSucceedsSilently) {
    void* slot = nullptr;
    SetCodecLockShutdownForTest(true);
    for (int op : {0, 1, 2, 3, 7}) EXPECT_EQ(CodecLockCallback(&slot, op), 0) << op;
    EXPECT_TRUE(Lines.empty());
    EXPECT_EQ(slot, nullptr);
}

// Catches: two threads inside a codec open at once.
TEST_F(LockLog, TheLockSerialisesThreads) {
    RegisterCodecLockManager();
    FLogger->SetLogLevel(llError);
    std::atomic<int> inside{0};
    std::atomic<bool> overlap{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                CodecLockGuard guard;
                if (inside.fetch_add(1) != 0) overlap = true;
                std::this_thread::yield();
                inside.fetch_sub(1);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_FALSE(overlap.load());
    UnregisterCodecLockManager();
}

// --- the interrupt registry

struct Probe {
    std::atomic<int> Calls{0};
    bool Answer = false;
    static bool Check(void* context) {
        auto* p = static_cast<Probe*>(context);
        ++p->Calls;
        return p->Answer;
    }
    static bool OtherCheck(void* context) { return Check(context); }
};

TEST(InterruptRegistry, CheckAsksOnlyTheFirstRegistrationOfTheThread) {
    TInterruptCB registry;
    Probe a, b;
    a.Answer = true;
    EXPECT_FALSE(registry.Check(42));
    registry.Register(42, &a, Probe::Check);
    registry.Register(42, &b, Probe::Check);
    EXPECT_TRUE(registry.Check(42));
    EXPECT_EQ(a.Calls, 1);
    EXPECT_EQ(b.Calls, 0);
    EXPECT_FALSE(registry.Check(43));
    registry.Unregister(42, &a, Probe::Check);
    EXPECT_FALSE(registry.Check(42));
    EXPECT_EQ(b.Calls, 1);
}

TEST(InterruptRegistry, DuplicatesAreKeptOnceAndAllThreeValuesMustMatch) {
    TInterruptCB registry;
    Probe a;
    a.Answer = true;
    registry.Register(7, &a, Probe::Check);
    registry.Register(7, &a, Probe::Check);
    registry.Unregister(7, &a, Probe::OtherCheck);  // other callback: no match
    registry.Unregister(8, &a, Probe::Check);       // other thread: no match
    EXPECT_TRUE(registry.Check(7));
    registry.Unregister(7, &a, Probe::Check);
    EXPECT_FALSE(registry.Check(7));
    registry.Register(7, &a, Probe::Check);
    registry.Clear();
    EXPECT_FALSE(registry.Check(7));
}

// Catches: one thread's stop request aborting another thread's I/O.
TEST(InterruptRegistry, TheGlobalCallbackAnswersForTheCallingThreadOnly) {
    ASSERT_NE(InterruptCB(), nullptr);
    Probe stop;
    stop.Answer = true;
    uint32_t other = 0;
    std::thread([&] { other = CurrentThreadID(); }).join();
    InterruptCB()->Register(other, &stop, Probe::Check);
    EXPECT_EQ(IOInterruptCallback(nullptr), 0);
    InterruptCB()->Register(CurrentThreadID(), &stop, Probe::Check);
    EXPECT_EQ(IOInterruptCallback(nullptr), 1);
    InterruptCB()->Clear();
    EXPECT_EQ(IOInterruptCallback(nullptr), 0);
}

TEST(InterruptRegistry, LibraryCallbackIsEmptyUntilRegistered) {
    // This process has not loaded libavformat, so nothing registered it.
    if (IOInterruptCallbackRegistrations() == 0) {
        EXPECT_EQ(LibraryInterruptCB().callback, nullptr);
    }
    RegisterIOInterruptCallback();
    EXPECT_EQ(LibraryInterruptCB().callback, &IOInterruptCallback);
}

}  // namespace
}  // namespace tw
