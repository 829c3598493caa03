// tests/base/FFLog_test.cpp — the logger and the libraries' log callback.
#include "diag/FFLog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "binding/Entries.h"
#include "diag/MainThread.h"

namespace tw {
namespace {

using namespace std::chrono_literals;

// What libavutil would do: hand the callback a va_list.
void Lib(void* object, int level, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
void Lib(void* object, int level, const char* fmt, ...) {
    va_list vl;
    va_start(vl, fmt);
    LibraryLogCallback(object, level, fmt, vl);
    va_end(vl);
}

std::atomic<int> gLevelGivenToLibrary{-1000};
void FakeSetLevel(int level) { gLevelGivenToLibrary = level; }

struct TEvent {
    TLogSender Sender;
    uint32_t ThreadID;
    TLogLevel Level;
    std::string Msg;
    std::thread::id RanOn;
};

// A user-created logger recording its events, with av_log_set_level bound to
// a stand-in so that levels can be applied without the libraries.
class FFLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        FSavedSetLevel = lib().av_log_set_level;
        lib().av_log_set_level = &FakeSetLevel;
        Logger = std::make_unique<TFFLogger>();
        Logger->SetLogLevel(llInfo);
        Logger->ApplyLogLevel();
        EndLineAndRepeats();
        Logger->OnLog = [this](TLogSender sender, uint32_t threadID, TLogLevel level,
                               const std::string& msg) {
            std::lock_guard lock(FLock);
            FEvents.push_back({sender, threadID, level, msg, std::this_thread::get_id()});
        };
    }

    void TearDown() override {
        Logger->OnLog = nullptr;
        EndLineAndRepeats();
        Logger->SetLogLevel(llInfo);
        Logger->ApplyLogLevel();
        Logger.reset();
        lib().av_log_set_level = FSavedSetLevel;
    }

    // Finishes this thread's pending text and resets the repeat count with a
    // line no test logs.
    static void EndLineAndRepeats() {
        static int n = 0;
        Lib(nullptr, 32, "end of test line %d\n", ++n);
    }

    std::vector<TEvent> Events() {
        std::lock_guard lock(FLock);
        return FEvents;
    }

    std::vector<std::string> Messages() {
        std::vector<std::string> out;
        for (const TEvent& e : Events()) out.push_back(e.Msg);
        return out;
    }

    std::unique_ptr<TFFLogger> Logger;

  private:
    decltype(lib().av_log_set_level) FSavedSetLevel = nullptr;
    std::mutex FLock;
    std::vector<TEvent> FEvents;
};

using Lines = std::vector<std::string>;

// Runs steps on one long-lived thread, so its thread id stays the same from
// step to step (a fresh thread may get a recycled id).
class TStepThread {
  public:
    TStepThread() : FThread([this] { Loop(); }) {}
    ~TStepThread() {
        {
            std::lock_guard lock(FLock);
            FQuit = true;
        }
        FChanged.notify_all();
        FThread.join();
    }

    void Run(std::function<void()> step) {
        std::unique_lock lock(FLock);
        FStep = std::move(step);
        FChanged.notify_all();
        FChanged.wait(lock, [&] { return !FStep; });
    }

    uint32_t ID() {
        uint32_t id = 0;
        Run([&] { id = CurrentThreadID(); });
        return id;
    }

  private:
    void Loop() {
        std::unique_lock lock(FLock);
        for (;;) {
            FChanged.wait(lock, [&] { return FQuit || FStep; });
            if (!FStep) return;
            lock.unlock();
            FStep();
            lock.lock();
            FStep = nullptr;
            FChanged.notify_all();
        }
    }

    std::mutex FLock;
    std::condition_variable FChanged;
    std::function<void()> FStep;
    bool FQuit = false;
    std::thread FThread;
};

std::string PointerText(const void* p) {
    char text[64];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

// A library object: its class record first, a parent context after it.
struct TFakeContext {
    const AVClass* Class;
    void* Parent;
};

const char* NameOfMuxer(void*) { return "flvmux"; }
const char* NameOfCodec(void*) { return "h264enc"; }

AVClass MakeClass(const char* name, const char* (*itemName)(void*), int version, int parentOffset) {
    AVClass c{};
    c.class_name = name;
    c.item_name = itemName;
    c.version = version;
    c.parent_log_context_offset = parentOffset;
    return c;
}

TEST(FFLogLevels, MappingTruncatesTowardZeroAndClamps) {
    EXPECT_EQ(ToLibraryLevel(llQuiet), -8);
    EXPECT_EQ(ToLibraryLevel(llInfo), 32);
    EXPECT_EQ(ToLibraryLevel(llDebug), 48);
    // Catches floor division: -7 is panic (0), not quiet.
    EXPECT_EQ(FromLibraryLevel(-7), llPanic);
    EXPECT_EQ(FromLibraryLevel(-8), llQuiet);
    EXPECT_EQ(FromLibraryLevel(-100), llQuiet);
    EXPECT_EQ(FromLibraryLevel(7), llPanic);
    EXPECT_EQ(FromLibraryLevel(8), llFatal);
    EXPECT_EQ(FromLibraryLevel(39), llInfo);
    EXPECT_EQ(FromLibraryLevel(56), llDebug);
}

TEST_F(FFLogTest, SetLogLevelTextAcceptsNamesAndLibraryLevels) {
    Logger->SetLogLevelText("Warning");
    EXPECT_EQ(Logger->LogLevel(), llWarning);
    EXPECT_EQ(LibraryLogLevel(), 24);
    EXPECT_EQ(gLevelGivenToLibrary, 24);
    Logger->SetLogLevelText("20");
    EXPECT_EQ(Logger->LogLevel(), llError);
    Logger->SetLogLevelText("-8");
    EXPECT_EQ(Logger->LogLevel(), llQuiet);
    EXPECT_EQ(gLevelGivenToLibrary, -8);
    Logger->SetLogLevelText("56");
    EXPECT_EQ(Logger->LogLevel(), llDebug);
    EXPECT_EQ(LibraryLogLevel(), 48);
    Logger->SetLogLevelText("VERBOSE");
    EXPECT_EQ(Logger->LogLevel(), llVerbose);

    EXPECT_THROW(Logger->SetLogLevelText("loud"), std::invalid_argument);
    EXPECT_THROW(Logger->SetLogLevelText("12x"), std::invalid_argument);
    EXPECT_THROW(Logger->SetLogLevelText(""), std::invalid_argument);
    EXPECT_EQ(Logger->LogLevel(), llVerbose);
}

TEST_F(FFLogTest, ApplyLogLevelWaitsForTheLibrary) {
    lib().av_log_set_level = nullptr;
    gLevelGivenToLibrary = -1000;
    Logger->SetLogLevel(llDebug);
    EXPECT_EQ(LibraryLogLevel(), 32);
    EXPECT_EQ(gLevelGivenToLibrary, -1000);
    lib().av_log_set_level = &FakeSetLevel;
    Logger->ApplyLogLevel();
    EXPECT_EQ(LibraryLogLevel(), 48);
    EXPECT_EQ(gLevelGivenToLibrary, 48);
}

TEST_F(FFLogTest, LogPassRule) {
    int sender = 0;
    Logger->SetLogLevel(llError);
    Logger->Log(&sender, llVerbose, "verbose passes");
    Logger->Log(&sender, llInfo, "info does not");
    Logger->Log(&sender, llWarning, "warning does not");
    Logger->Log(&sender, llError, "error passes");
    Logger->LogFmt(nullptr, llFatal, "fatal %d: %s", -5, "passes");
    Logger->SetLogLevel(llQuiet);
    Logger->Log(&sender, llVerbose, "verbose does not at quiet");
    Logger->Log(&sender, llPanic, "panic does not at quiet");
    Logger->Log(&sender, llQuiet, "quiet always passes");
    EXPECT_EQ(Messages(),
              (Lines{"verbose passes", "error passes", "fatal -5: passes", "quiet always passes"}));
    const std::vector<TEvent> events = Events();
    EXPECT_EQ(events[0].Sender, &sender);
    EXPECT_EQ(events[0].Level, llVerbose);
    EXPECT_EQ(events[0].ThreadID, CurrentThreadID());
    EXPECT_EQ(events[2].Sender, nullptr);
    EXPECT_EQ(events[2].Level, llFatal);
}

// Fragments from one thread make lines; pending text suppresses the prefix.
TEST_F(FFLogTest, FragmentsAssembleIntoLines) {
    const AVClass cls = MakeClass("fake", &NameOfCodec, LIBAVUTIL_VERSION_INT, 0);
    TFakeContext object{&cls, nullptr};
    Lib(nullptr, 32, "abc");
    EXPECT_TRUE(Messages().empty());
    Lib(nullptr, 32, "%s\n", "def");
    Lib(nullptr, 32, "x\ny");
    EXPECT_EQ(Messages(), (Lines{"abcdef", "x"}));
    Lib(&object, 32, "z\n");
    EXPECT_EQ(Messages(), (Lines{"abcdef", "x", "yz"}));

    // The line after a finished one is prefixed again.
    Lib(&object, 32, " next\n");
    EXPECT_EQ(Messages().back(), "[h264enc @ " + PointerText(&object) + "] next");

    const std::vector<TEvent> events = Events();
    EXPECT_EQ(events[0].Sender, Logger.get());
    EXPECT_EQ(events[0].ThreadID, CurrentThreadID());
    EXPECT_EQ(events[0].Level, llInfo);
}

TEST_F(FFLogTest, RepeatedLinesAreFolded) {
    for (int i = 0; i < 4; ++i) Lib(nullptr, 24, "same line\n");
    EXPECT_EQ(Messages(), (Lines{"same line"}));
    Lib(nullptr, 32, "other line\n");
    EXPECT_EQ(Messages(), (Lines{"same line", "    Last message repeated 3 times", "other line"}));
    const std::vector<TEvent> events = Events();
    // The notice takes the level of the call that ends the run.
    EXPECT_EQ(events[1].Level, llInfo);
    EXPECT_EQ(events[1].ThreadID, CurrentThreadID());

    // A fragment without a line feed is never counted as a repeat.
    Lib(nullptr, 32, "frag");
    Lib(nullptr, 32, "frag");
    Lib(nullptr, 32, "\n");
    EXPECT_EQ(Messages().back(), "fragfrag");
}

// Catches: the repeat test keyed per thread instead of across all threads.
TEST_F(FFLogTest, RepeatsCountAcrossThreads) {
    Logger->TriggerEventInMainThread = false;
    Lib(nullptr, 32, "shared line\n");
    TStepThread other;
    other.Run([] { Lib(nullptr, 32, "shared line\n"); });
    Lib(nullptr, 32, "done\n");
    EXPECT_EQ(Messages(), (Lines{"shared line", "    Last message repeated 1 times", "done"}));
}

// Catches off-by-one at the 2048-byte buffer and the growing second buffer
// cutting long text.
TEST_F(FFLogTest, LongChunksAreDeliveredWhole) {
    for (size_t length : {2046u, 2047u, 2048u, 4095u, 4096u, 5000u, 20000u}) {
        const std::string text(length, 'q');
        Lib(nullptr, 32, "%s\n", text.c_str());
        ASSERT_FALSE(Messages().empty());
        EXPECT_EQ(Messages().back(), text) << length;
    }
    const AVClass cls = MakeClass("fake", &NameOfMuxer, LIBAVUTIL_VERSION_INT, 0);
    TFakeContext object{&cls, nullptr};
    const std::string text(5000, 'w');
    Lib(&object, 32, "%s\n", text.c_str());
    EXPECT_EQ(Messages().back(), "[flvmux @ " + PointerText(&object) + "]" + text);
}

TEST_F(FFLogTest, PrefixNamesTheObjectAndItsParent) {
    const AVClass parentClass = MakeClass("parent", &NameOfMuxer, LIBAVUTIL_VERSION_INT, 0);
    TFakeContext parent{&parentClass, nullptr};
    const AVClass childClass =
        MakeClass("child", &NameOfCodec, LIBAVUTIL_VERSION_INT, offsetof(TFakeContext, Parent));
    TFakeContext child{&childClass, &parent};
    Lib(&child, 16, "with parent\n");
    EXPECT_EQ(Messages().back(), "[flvmux @ " + PointerText(&parent) + "] [h264enc @ " +
                                     PointerText(&child) + "]with parent");
    EXPECT_EQ(Events().back().Level, llError);

    // A null parent pointer, or a parent without a class record, is skipped.
    child.Parent = nullptr;
    Lib(&child, 16, "no parent\n");
    EXPECT_EQ(Messages().back(), "[h264enc @ " + PointerText(&child) + "]no parent");
    TFakeContext classless{nullptr, nullptr};
    child.Parent = &classless;
    Lib(&child, 16, "classless parent\n");
    EXPECT_EQ(Messages().back(), "[h264enc @ " + PointerText(&child) + "]classless parent");

    // Class records before 50.15.3 have no parent offset to read.
    const AVClass oldClass =
        MakeClass("old", &NameOfCodec, 0x320F02, offsetof(TFakeContext, Parent));
    TFakeContext old{&oldClass, &parent};
    Lib(&old, 16, "old class\n");
    EXPECT_EQ(Messages().back(), "[h264enc @ " + PointerText(&old) + "]old class");

    // An object without a class record gets no prefix at all.
    Lib(&classless, 16, "bare\n");
    EXPECT_EQ(Messages().back(), "bare");
}

TEST_F(FFLogTest, MessagesAboveTheLibraryLevelAreNotAssembled) {
    ASSERT_EQ(LibraryLogLevel(), 32);
    Lib(nullptr, 40, "verbose fragment ");
    Lib(nullptr, 48, "debug line\n");
    Lib(nullptr, 32, "info line\n");
    EXPECT_EQ(Messages(), (Lines{"info line"}));

    Logger->SetLogLevel(llVerbose);
    Lib(nullptr, 40, "verbose line\n");
    EXPECT_EQ(Messages().back(), "verbose line");
    EXPECT_EQ(Events().back().Level, llVerbose);
}

// Catches: a shared pending buffer, or one thread's line feed finishing the
// other thread's fragment.
TEST_F(FFLogTest, ThreadsKeepSeparatePendingText) {
    Logger->TriggerEventInMainThread = false;
    TStepThread a, b;
    a.Run([] { Lib(nullptr, 32, "a1 "); });
    b.Run([] { Lib(nullptr, 32, "b1 "); });
    a.Run([] { Lib(nullptr, 32, "a2\n"); });
    b.Run([] { Lib(nullptr, 32, "b2 "); });
    Lib(nullptr, 32, "main\n");
    b.Run([] { Lib(nullptr, 32, "b3\n"); });
    ASSERT_EQ(Messages(), (Lines{"a1 a2", "main", "b1 b2 b3"}));
    const std::vector<TEvent> events = Events();
    EXPECT_EQ(events[0].ThreadID, a.ID());
    EXPECT_EQ(events[2].ThreadID, b.ID());
}

TEST_F(FFLogTest, ConcurrentFragmentsStayWithTheirThread) {
    Logger->TriggerEventInMainThread = false;
    constexpr int kLines = 300;
    auto produce = [](char name) {
        for (int i = 0; i < kLines; ++i) {
            Lib(nullptr, 32, "%c-", name);
            Lib(nullptr, 32, "%c%d\n", name, i);
        }
    };
    std::thread a(produce, 'A'), b(produce, 'B');
    a.join();
    b.join();
    int next[2] = {0, 0};
    for (const std::string& line : Messages()) {
        ASSERT_TRUE(line[0] == 'A' || line[0] == 'B') << line;
        int& i = next[line[0] - 'A'];
        const std::string expected = std::string(1, line[0]) + '-' + line[0] + std::to_string(i);
        EXPECT_EQ(line, expected);
        ++i;
    }
    EXPECT_EQ(next[0], kLines);
    EXPECT_EQ(next[1], kLines);
}

// Catches: events raised on the worker although the main thread was asked
// for, or the worker not waiting for the handler.
TEST_F(FFLogTest, WorkerEventsRunOnTheMainThread) {
    std::atomic<bool> finished{false};
    size_t seenByWorker = 0;
    uint32_t workerID = 0;
    std::thread worker([&] {
        workerID = CurrentThreadID();
        Logger->Log(nullptr, llWarning, "from worker");
        Lib(nullptr, 32, "library line from worker\n");
        seenByWorker = Events().size();
        finished = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!finished && std::chrono::steady_clock::now() < deadline)
        WaitAndDrainMainThreadCalls(20ms);
    worker.join();
    ASSERT_EQ(Messages(), (Lines{"from worker", "library line from worker"}));
    EXPECT_EQ(seenByWorker, 2u);
    for (const TEvent& e : Events()) {
        EXPECT_EQ(e.RanOn, std::this_thread::get_id());
        EXPECT_EQ(e.ThreadID, workerID);
    }

    Logger->TriggerEventInMainThread = false;
    std::thread::id workerThread;
    std::thread direct([&] {
        workerThread = std::this_thread::get_id();
        Logger->Log(nullptr, llWarning, "on the worker");
    });
    direct.join();
    EXPECT_EQ(Events().back().RanOn, workerThread);
}

// Catches: an exception of a handler unwinding into the libraries' C code.
TEST_F(FFLogTest, HandlerExceptionStaysOutOfTheLibraries) {
    Logger->OnLog = [](TLogSender, uint32_t, TLogLevel, const std::string&) {
        throw std::runtime_error("handler failed");
    };
    EXPECT_NO_THROW(Lib(nullptr, 32, "line\n"));
    EXPECT_THROW(Logger->Log(nullptr, llError, "own message"), std::runtime_error);
}

TEST(FFLogInstances, AutoCreatedLoggerIsReplacedAndUserLoggerIsUnique) {
    TFFLogger* automatic = FFLogger();
    ASSERT_NE(automatic, nullptr);
    EXPECT_TRUE(automatic->AutoCreated());
    EXPECT_EQ(FFLogger(), automatic);
    {
        TFFLogger user;
        EXPECT_FALSE(user.AutoCreated());
        EXPECT_EQ(FFLogger(), &user);
        EXPECT_EQ(user.LogLevel(), FromLibraryLevel(LibraryLogLevel()));
        try {
            TFFLogger second;
            ADD_FAILURE() << "a second user-created logger was allowed";
        } catch (const std::logic_error& e) {
            EXPECT_STREQ(e.what(), "Allow creating only one instance of TFFLogger.");
        }
        EXPECT_EQ(FFLogger(), &user);
    }
    TFFLogger* again = FFLogger();
    EXPECT_TRUE(again->AutoCreated());
}

TEST(FFLogInstances, InstallCallbackNeedsLibavutil) {
    const auto savedCallback = lib().av_log_set_callback;
    const auto savedLevel = lib().av_log_set_level;
    lib().av_log_set_callback = nullptr;
    lib().av_log_set_level = nullptr;
    EXPECT_THROW(FFLogger()->InstallCallback(), std::logic_error);
    lib().av_log_set_callback = savedCallback;
    lib().av_log_set_level = savedLevel;
}

}  // namespace
}  // namespace tw
