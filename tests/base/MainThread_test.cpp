// tests/base/MainThread_test.cpp — the call queue drained by the main thread.
#include "diag/MainThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace tw {
namespace {

using namespace std::chrono_literals;

// Drains until done() holds; false when it did not within the limit (a worker
// left blocked would otherwise hang the test).
template <class Done>
bool DrainUntil(Done done, std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        WaitAndDrainMainThreadCalls(20ms);
    }
    DrainMainThreadCalls();
    return true;
}

// gtest runs the cases on the process's first thread.
TEST(MainThread, StaticInitialisationThreadIsMain) {
    EXPECT_TRUE(IsMainThread());
    EXPECT_EQ(MainThreadId(), std::this_thread::get_id());
    bool onWorker = true;
    std::thread([&] { onWorker = IsMainThread(); }).join();
    EXPECT_FALSE(onWorker);
}

// Catches: a call from a worker run on the worker, or the worker not waiting
// for it.
TEST(MainThread, WorkerCallRunsOnMainAndWaits) {
    std::thread::id ranOn;
    std::atomic<bool> returned{false};
    bool ranBeforeReturn = false;
    std::thread worker([&] {
        RunOnMainThread([&] { ranOn = std::this_thread::get_id(); });
        ranBeforeReturn = ranOn != std::thread::id();
        returned = true;
    });
    ASSERT_TRUE(DrainUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_TRUE(ranBeforeReturn);
}

// Catches: an exception swallowed on the main thread, or its type or text lost.
TEST(MainThread, ExceptionReachesTheCaller) {
    std::string caught;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        try {
            RunOnMainThread([] { throw std::runtime_error("boom on main"); });
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        returned = true;
    });
    ASSERT_TRUE(DrainUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(caught, "boom on main");

    // On the main thread the call runs at once and throws directly.
    EXPECT_THROW(RunOnMainThread([] { throw std::out_of_range("direct"); }), std::out_of_range);
}

TEST(MainThread, WaitReturnsAfterTimeoutWithoutCalls) {
    DrainMainThreadCalls();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitAndDrainMainThreadCalls(60ms), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 55ms);
    EXPECT_EQ(DrainMainThreadCalls(), 0);
}

// Catches: a wake that does not end the wait, or one that queues a call.
TEST(MainThread, WakeEndsTheWaitEarly) {
    std::thread waker([] {
        std::this_thread::sleep_for(50ms);
        WakeMainThread();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitAndDrainMainThreadCalls(20s), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    waker.join();
}

// Catches: a lost or doubled call when several threads queue at once, or a
// call run off the main thread.
TEST(MainThread, NoCallLostUnderSeveralProducers) {
    constexpr int kThreads = 4;
    constexpr int kCalls = 250;
    int count = 0;  // touched on the main thread only
    std::atomic<int> offMain{0};
    std::atomic<int> finished{0};
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t) {
        producers.emplace_back([&] {
            for (int i = 0; i < kCalls; ++i) {
                RunOnMainThread([&] {
                    ++count;
                    if (!IsMainThread()) ++offMain;
                });
            }
            ++finished;
        });
    }
    ASSERT_TRUE(DrainUntil([&] { return finished == kThreads; }, 30s));
    for (std::thread& p : producers) p.join();
    EXPECT_EQ(count, kThreads * kCalls);
    EXPECT_EQ(offMain, 0);
}

// Catches: a drained call that calls RunOnMainThread waiting for itself, and
// a drained call that waits and drains (the engine's Stop inside an event
// handler) not running the calls queued meanwhile.
TEST(MainThread, DrainedCallsMayRunAndDrainAgain) {
    std::vector<std::string> order;
    std::atomic<bool> outerDone{false};
    std::thread second;
    std::thread first([&] {
        RunOnMainThread([&] {
            order.push_back("outer start");
            RunOnMainThread([&] { order.push_back("direct"); });
            second = std::thread(
                [&] { RunOnMainThread([&] { order.push_back("from second worker"); }); });
            const auto deadline = std::chrono::steady_clock::now() + 10s;
            while (order.size() < 3 && std::chrono::steady_clock::now() < deadline)
                WaitAndDrainMainThreadCalls(20ms);
            order.push_back("outer end");
        });
        outerDone = true;
    });
    ASSERT_TRUE(DrainUntil([&] { return outerDone.load(); }));
    first.join();
    second.join();
    EXPECT_EQ(order, (std::vector<std::string>{"outer start", "direct", "from second worker",
                                               "outer end"}));
}

// Catches: draining from a worker, which would run main-thread calls there.
TEST(MainThread, DrainingOffTheMainThreadIsRefused) {
    bool refused = false;
    std::thread([&] {
        try {
            DrainMainThreadCalls();
        } catch (const std::logic_error&) {
            refused = true;
        }
    }).join();
    EXPECT_TRUE(refused);
}

}  // namespace
}  // namespace tw
