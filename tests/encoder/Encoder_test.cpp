// tests/encoder/Encoder_test.cpp — the encoder component: tasks, busy rules,
// running several tasks, events and their threads; the option records.
#include <dirent.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "binding/FFLoad.h"
#include "diag/FFLog.h"
#include "diag/MainThread.h"
#include "diag/ThreadName.h"
#include "encoder/FFEncode.h"
#include "encoder/OptionRecords.h"
#include "tests/support/EncoderFixture.h"
#include "tests/support/Media.h"
#include "tests/support/TempDir.h"
#include "transcoder/CustomFFmpeg.h"

namespace tw {
namespace {

class Encoder : public test::EncoderTest {
  protected:
    // A task copying one clip into its own FLV.
    int CopyTask(const std::string& input, const std::string& output) {
        const int t = Enc.AddTask(input);
        EXPECT_GE(t, 0) << Enc.LastError;
        TOutputOptions o;
        o.VideoCodec = "copy";
        o.AudioCodec = "copy";
        EXPECT_TRUE(Enc.SetOutputFile(t, output, &o)) << Enc.LastError;
        return t;
    }
    void WaitDone() {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!Enc.Done && std::chrono::steady_clock::now() < limit)
            WaitAndDrainMainThreadCalls(std::chrono::milliseconds(10));
        ASSERT_TRUE(Enc.Done);
    }
};

TEST_F(Encoder, DefaultsAndProgressInterval) {
    EXPECT_EQ(Enc.Version, "3.9");
    EXPECT_EQ(Enc.ProgressInterval(), 500);
    Enc.SetProgressInterval(50);
    EXPECT_EQ(Enc.ProgressInterval(), 100);
    Enc.SetProgressInterval(101);
    EXPECT_EQ(Enc.ProgressInterval(), 101);
    EXPECT_TRUE(Enc.LibrariesLoaded());
}

// Catches: a failed AddTask leaving a task, a limit off by one, a second
// joined output accepted.
TEST_F(Encoder, AddingFilesAndItsLimits) {
    EXPECT_EQ(Enc.AddTask(Dir.File("missing.flv")), -1);
    EXPECT_EQ(Enc.LastError, Dir.File("missing.flv") + ": No such file or directory");
    EXPECT_EQ(Enc.TaskCount(), 0);

    const std::string a = Clip("a.flv", {"--duration", "1"});
    const int t = Enc.AddTask(a);
    ASSERT_EQ(t, 0);
    for (int i = 1; i < 20; ++i) ASSERT_TRUE(Enc.AddInputFile(t, a)) << i << Enc.LastError;
    EXPECT_FALSE(Enc.AddInputFile(t, a));
    EXPECT_EQ(Enc.LastError, "max input files 20 reached");
    EXPECT_EQ(Enc.Tasks(t).InputFileCount, 20);

    TOutputOptions o;
    o.VideoCodec = "copy";
    o.AudioCodec = "copy";
    o.Join = true;
    ASSERT_TRUE(Enc.SetOutputFile(t, Dir.File("joined.flv"), &o)) << Enc.LastError;
    EXPECT_EQ(Enc.Tasks(t).OutputFileCount, 20);
    TOutputOptions again = o;
    EXPECT_FALSE(Enc.SetOutputFile(t, Dir.File("second.flv"), &again));
    EXPECT_FALSE(Enc.LastError.empty());
    EXPECT_THROW(Enc.Tasks(5), std::out_of_range);
}

TEST_F(Encoder, SynchronousRunNotifiesOnTheCallingThreadAndStaysBusy) {
    const std::string a = Clip("a.flv", {"--duration", "1"});
    CopyTask(a, Dir.File("o1.flv"));
    CopyTask(a, Dir.File("o2.flv"));
    std::vector<int> indexes;
    std::set<std::thread::id> threads;
    Enc.OnTerminate = [&](TCustomEncoder*, const TTerminateInfo& info) {
        indexes.push_back(info.TaskIndex);
        threads.insert(std::this_thread::get_id());
        if (info.TaskIndex >= 0) {
            EXPECT_TRUE(info.Finished) << info.ErrorMessage;
        }
    };
    Enc.Start(0);
    EXPECT_TRUE(Enc.Done);
    EXPECT_EQ(indexes, (std::vector<int>{0, 1, -1}));
    ASSERT_EQ(threads.size(), 1u);
    EXPECT_EQ(*threads.begin(), std::this_thread::get_id());

    try {
        Enc.AddTask(a);
        FAIL() << "no exception";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Cannot AddTask while working.");
    }
    Enc.ClearTasks();
    EXPECT_EQ(Enc.TaskCount(), 0);
    EXPECT_GE(Enc.AddTask(a), 0);
}

// Catches: hook events without the bitmap in the chosen layout, preview
// bitmaps not reaching the event, or an invalid layout accepted.
TEST_F(Encoder, HookAndPreviewEventsCarryBitmaps) {
    const std::string a = Clip("a.flv", {"--duration", "1", "--no-audio"});
    const int t = Enc.AddTask(a);
    ASSERT_GE(t, 0) << Enc.LastError;
    TOutputOptions o;
    o.VideoCodec = "libx264";
    o.VideoInputHook = true;
    o.HookBitsPixel = 32;
    ASSERT_TRUE(Enc.SetOutputFile(t, Dir.File("o.flv"), &o)) << Enc.LastError;
    Enc.Tasks(t).PreviewIntervalUs = -1;
    Enc.SetPreviewBitmap(true);
    int hooks = 0, previews = 0;
    TPixelLayout layout = TPixelLayout::pf8bit;
    Enc.OnVideoInputHook = [&](TCustomEncoder*, PHookInfo info) {
        ++hooks;
        EXPECT_EQ(info->TaskIndex, 0);
        EXPECT_EQ(info->FrameNumber, hooks);
        ASSERT_NE(info->Bitmap, nullptr);
        layout = info->Bitmap->PixelFormat();
        info->Update = false;
    };
    Enc.OnPreviewBitmap = [&](TCustomEncoder*, const TPreviewInfo& info) {
        ++previews;
        EXPECT_EQ(info.Bitmap->Width(), 320);
    };
    Enc.Start(0);
    EXPECT_EQ(hooks, 25);
    EXPECT_EQ(previews, 25);
    EXPECT_EQ(layout, TPixelLayout::pf32bit);

    Enc.ClearTasks();
    const int u = Enc.AddTask(a);
    o.HookBitsPixel = 12;
    EXPECT_FALSE(Enc.SetOutputFile(u, Dir.File("p.flv"), &o));
    EXPECT_NE(Enc.LastError.find("Invalid BitsPixel 12"), std::string::npos) << Enc.LastError;
}

TEST_F(Encoder, AnEmptyJobIsDoneAtOnce) {
    Enc.Start(2);
    EXPECT_TRUE(Enc.Done);
    EXPECT_NO_THROW(Enc.ClearTasks());
}

// Catches: more tasks running than allowed, a job that never gets done, or
// events on the wrong threads.
TEST_F(Encoder, ThreadedRunOfFiveTasksTwoAtATime) {
    // Task i copies a clip of i + 1 seconds: its reports carry that total.
    std::vector<int64_t> totals;
    for (int i = 0; i < 5; ++i) {
        const std::string clip =
            Clip("c" + std::to_string(i) + ".flv", {"--duration", std::to_string(i + 1)});
        CopyTask(clip, Dir.File("o" + std::to_string(i) + ".flv"));
        totals.push_back(Enc.Tasks(i).TotalDuration);
    }
    std::atomic<bool> mixed{false};
    std::atomic<int> maxRunning{0};
    std::atomic<int> notifications{0};
    std::atomic<bool> terminateOnMain{false};
    std::atomic<bool> progressOffMain{false};
    std::mutex m;
    std::set<std::thread::id> terminateThreads;
    auto sample = [&] {
        int running = 0;
        for (int i = 0; i < Enc.TaskCount(); ++i) running += Enc.Tasks(i).Running ? 1 : 0;
        int seen = maxRunning;
        while (running > seen && !maxRunning.compare_exchange_weak(seen, running)) {
        }
    };
    Enc.SetProgressInterval(100);
    Enc.OnProgress = [&](TCustomEncoder*, PProgressInfo info) {
        if (!IsMainThread()) progressOffMain = true;
        if (info->TaskIndex < 0 || info->TotalDuration != totals.at(info->TaskIndex)) mixed = true;
        sample();
    };
    Enc.OnTerminate = [&](TCustomEncoder*, const TTerminateInfo& info) {
        if (IsMainThread()) terminateOnMain = true;
        std::lock_guard<std::mutex> l(m);
        terminateThreads.insert(std::this_thread::get_id());
        if (info.TaskIndex >= 0) ++notifications;
        sample();
    };
    Enc.Start(2);
    sample();
    WaitDone();
    EXPECT_LE(maxRunning, 2);
    // The final notification may still be on its way when Done is set.
    Enc.ClearTasks();
    EXPECT_EQ(notifications, 5);
    EXPECT_FALSE(terminateOnMain);
    EXPECT_FALSE(progressOffMain);
    EXPECT_FALSE(mixed);
}

TEST_F(Encoder, TerminateNeverRunsOnTheWorker) {
    CopyTask(Clip("a.flv", {"--duration", "3"}), Dir.File("o.flv"));
    Enc.TriggerEventInMainThread = false;  // progress on the worker itself
    Enc.SetProgressInterval(100);
    std::mutex m;
    std::set<std::thread::id> workers, terminators;
    Enc.OnProgress = [&](TCustomEncoder*, PProgressInfo) {
        std::lock_guard<std::mutex> l(m);
        workers.insert(std::this_thread::get_id());
    };
    Enc.OnTerminate = [&](TCustomEncoder*, const TTerminateInfo&) {
        std::lock_guard<std::mutex> l(m);
        terminators.insert(std::this_thread::get_id());
    };
    Enc.Start(1);
    WaitDone();
    Enc.ClearTasks();
    ASSERT_FALSE(workers.empty());
    ASSERT_FALSE(terminators.empty());
    for (const auto& id : terminators) {
        EXPECT_EQ(workers.count(id), 0u);
        EXPECT_NE(id, std::this_thread::get_id());
    }
}

// The names of this process's threads as the system shows them.
std::set<std::string> ThreadNames() {
    std::set<std::string> names;
    if (DIR* d = ::opendir("/proc/self/task")) {
        while (dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.') continue;
            std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
            std::string name;
            if (std::getline(comm, name)) names.insert(name);
        }
        ::closedir(d);
    }
    return names;
}

// Catches: a thread the encoder or the binding layer starts for a merge (the
// output's writer, the terminate notification) left with the program's name,
// so that a debugger or `top -H` cannot tell it from the others.
TEST_F(Encoder, ThreadsOfARunningMergeAreNamed) {
    CopyTask(Clip("a.flv", {"--duration", "3"}), Dir.File("o.flv"));
    Enc.TriggerEventInMainThread = false;  // progress on the worker, during the merge
    Enc.SetProgressInterval(100);
    std::mutex m;
    std::set<std::string> during;
    std::string terminator;
    Enc.OnProgress = [&](TCustomEncoder*, PProgressInfo) {
        const std::set<std::string> names = ThreadNames();
        std::lock_guard<std::mutex> l(m);
        during.insert(names.begin(), names.end());
    };
    Enc.OnTerminate = [&](TCustomEncoder*, const TTerminateInfo&) {
        std::lock_guard<std::mutex> l(m);
        terminator = ThisThreadName();
    };
    Enc.Start(1);
    WaitDone();
    Enc.ClearTasks();
    std::lock_guard<std::mutex> l(m);
    EXPECT_EQ(during.count("tw-writer"), 1u) << testing::PrintToString(during);
    EXPECT_EQ(terminator, "tw-notify");
}

TEST_F(Encoder, StopDuringARunOfThreeTasks) {
    const std::string longClip = Clip("long.flv", {"--duration", "30"});
    for (int i = 0; i < 3; ++i) CopyTask(longClip, Dir.File("o" + std::to_string(i) + ".flv"));
    std::mutex m;
    std::vector<TTerminateInfo> infos;
    Enc.OnTerminate = [&](TCustomEncoder*, const TTerminateInfo& info) {
        std::lock_guard<std::mutex> l(m);
        infos.push_back(info);
    };
    Enc.Start(1);
    Enc.Stop(true);
    WaitDone();
    Enc.ClearTasks();  // joins the notification threads
    ASSERT_EQ(infos.size(), 4u);
    int stopped = 0;
    for (const auto& i : infos)
        if (i.TaskIndex >= 0 && !i.Finished) ++stopped;
    EXPECT_GE(stopped, 2);  // the two that never ran at least
}

// Catches: destroying an encoder on the main thread while a worker waits
// for the main thread inside its progress relay (a window closed mid-merge)
// deadlocked on the relay's lock; handlers were cleared while workers still
// read them, and the task list emptied while a terminate relay walked it.
TEST_F(Encoder, DestroyedDuringAThreadedRunWithEventsOnTheMainThread) {
    const std::string longClip = Clip("long.flv", {"--duration", "20"});
    std::atomic<bool> finished{false};
    // A deadlock fails here instead of hanging the suite.
    std::thread watchdog([&] {
        for (int i = 0; i < 600 && !finished; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!finished) {
            std::fprintf(stderr, "the encoder's destructor did not return\n");
            std::abort();
        }
    });
    for (int round = 0; round < 2; ++round) {
        auto enc = std::make_unique<TFFEncoder>();
        enc->TaskVerbose = -1;
        ASSERT_TRUE(enc->TriggerEventInMainThread);
        enc->SetProgressInterval(100);
        const std::string out = Dir.File("o" + std::to_string(round) + ".flv");
        std::vector<std::string> inputs(2, longClip);
        const int t = enc->AddTask(inputs[0]);
        ASSERT_EQ(t, 0) << enc->LastError;
        for (size_t i = 1; i < inputs.size(); ++i) ASSERT_TRUE(enc->AddInputFile(0, inputs[i]));
        TOutputOptions o;
        o.VideoCodec = "libx264";  // slow enough to be caught in the middle
        o.AudioCodec = "copy";
        o.Join = true;
        ASSERT_TRUE(enc->SetOutputFile(0, out, &o)) << enc->LastError;
        std::atomic<int> reports{0}, terminates{0};
        enc->OnProgress = [&](TCustomEncoder*, PProgressInfo info) {
            EXPECT_TRUE(IsMainThread());
            EXPECT_EQ(info->TaskIndex, 0);
            ++reports;
        };
        enc->OnTerminate = [&](TCustomEncoder*, const TTerminateInfo&) { ++terminates; };
        enc->Start(1);
        while (reports == 0) WaitAndDrainMainThreadCalls(std::chrono::milliseconds(10));
        // Leave the worker waiting for this thread inside its next report,
        // then destroy the encoder without serving it first.
        std::this_thread::sleep_for(std::chrono::milliseconds(round == 0 ? 300 : 0));
        enc.reset();
        EXPECT_GE(terminates, 1);
        // Stopped, not cut off: the file has its header and its ending.
        const test::MediaInfo info = test::ReadMediaInfo(out);
        ASSERT_TRUE(info.Ok()) << info.error;
        EXPECT_TRUE(info.readError.empty()) << info.readError;
        ASSERT_NE(info.Video(), nullptr);
        EXPECT_GT(info.Video()->packets, 0);
        EXPECT_LT(info.Video()->packets, 2 * 500);
    }
    finished = true;
    watchdog.join();
}

TEST_F(Encoder, ATaskWithoutOutputStillNotifies) {
    ASSERT_EQ(Enc.AddTask(Clip("a.flv", {"--duration", "1"})), 0);
    std::vector<TTerminateInfo> infos;
    Enc.OnTerminate = [&](TCustomEncoder*, const TTerminateInfo& i) { infos.push_back(i); };
    Enc.Start(0);
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_FALSE(infos[0].Finished);
    EXPECT_TRUE(infos[0].ErrorRaised);
    EXPECT_EQ(infos[0].ErrorMessage, "At least one output file must be specified");
    EXPECT_TRUE(Enc.Done);
}

// --- option records

TEST(ExtOptions, SplittingRules) {
    auto lines = SplitExtOptions("astrict=experimental\r\n");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], (std::pair<std::string, std::string>{"astrict", "experimental"}));
    lines = SplitExtOptions("vcodec=libx264<CRLF>vpre=libx264-default");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].first, "vpre");
    lines = SplitExtOptions("ACODEC=MP3\nVF=scale=320:240\n\nnoequals");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], (std::pair<std::string, std::string>{"acodec", "MP3"}));
    EXPECT_EQ(lines[1], (std::pair<std::string, std::string>{"vf", "scale=320:240"}));
    EXPECT_EQ(lines[2], (std::pair<std::string, std::string>{"", ""}));
    EXPECT_EQ(lines[3], (std::pair<std::string, std::string>{"noequals", ""}));
}

TEST(ExtOptions, StreamDefaultsPreferTheRecordFields) {
    TOutputOptions o;
    o.AudioCodec = "mp3";
    o.ExtOptions = "acodec=aac\nvcodec=libx264\nvfilters=scale=2:2";
    TStreamDefaultList list;
    CollectStreamDefaults(list, o);
    EXPECT_EQ(list.Value("def_acodec"), "mp3");
    EXPECT_EQ(list.Value("DEF_VCODEC"), "libx264");
    EXPECT_EQ(list.Value("def_vf"), "scale=2:2");
}

// Catches: the "<CRLF>" marker and the line breaks normalised in another order
// than in one pass (a break next to a marker losing or gaining a line).
TEST(ExtOptions, MarkersNextToLineBreaks) {
    const auto lines = SplitExtOptions("a=1\r<CRLF>b=2<CRLF>\nc=3<CRLF><CRLF>");
    // Markers are not blanks: the two at the end give two empty lines.
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"a", "1"}, {"", ""}, {"b", "2"}, {"", ""}, {"c", "3"}, {"", ""}, {"", ""}};
    EXPECT_EQ(lines, expected);
}

class OutputRecord : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds)) << FFLoader().LastErrMsg();
        FFLogger()->TriggerEventInMainThread = false;
    }
};

// Catches: a typed setter of the output record writing another field, or
// with another rule, than the option text it replaced.
TEST_F(OutputRecord, FieldsHaveTheEffectOfTheirOptions) {
    TOutputOptions o;
    o.ForceFormat = "flv";
    o.MuxDelay = 2.5f;
    o.MuxPreload = 0.25f;
    o.DisableAudio = o.DisableVideo = o.DisableSubtitle = true;
    o.AudioVolume = 0;
    o.AudioChannels = 1;
    o.AudioSampleRate = 22050;
    o.AudioLanguage = "eng";
    o.AudioSync = 2;
    o.AudioTag = "mp4a";
    o.FrameRate = "30000/1001";
    o.AspectRatio = "16:9";
    o.VideoSync = 1;
    o.VideoTag = "1234";
    o.VideoLanguage = "deu";
    o.SubtitleLanguage = "fra";
    o.InputSync = o.CopyTimestamps = true;
    o.StartTime = 1500000;
    o.RecordingTime = 9000000;
    TCustomFFmpeg byRecord(1), byText(1);
    ApplyOutputOptions(byRecord, o);
    for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
             {"f", "flv"},       {"muxdelay", "2.5"}, {"muxpreload", "0.25"},
             {"an", "1"},        {"vol", "0"},        {"ac", "1"},
             {"ar", "22050"},    {"alang", "eng"},    {"async", "2"},
             {"atag", "mp4a"},   {"vn", "1"},         {"r", "30000/1001"},
             {"aspect", "16:9"}, {"vsync", "1"},      {"vtag", "1234"},
             {"vlang", "deu"},   {"sn", "1"},         {"slang", "fra"},
             {"isync", "1"},     {"copyts", "1"},     {"ss", "1.5"},
             {"t", "9"}})
        byText.SetOption(name, value);
    const auto fields = [](const TCustomFFmpeg& e) {
        return std::tuple{
            e.ForcedFormatName, e.MuxMaxDelay,     e.MuxPreload,       e.AudioDisable,
            e.VideoDisable,     e.SubtitleDisable, e.AudioVolume,      e.AudioChannels,
            e.AudioSampleRate,  e.AudioLanguage,   e.AudioSyncMethod,  e.AudioCodecTag,
            e.FrameRate.num,    e.FrameRate.den,   e.FrameAspectRatio, e.VideoSyncMethod,
            e.VideoCodecTag,    e.VideoLanguage,   e.SubtitleLanguage, e.InputSync,
            e.CopyTs,           e.StartTime,       e.RecordingTime,    e.TotalDuration};
    };
    EXPECT_EQ(fields(byRecord), fields(byText));

    // Values that mean "not set" leave the engine's defaults.
    TCustomFFmpeg untouched(1), defaults(1);
    ApplyOutputOptions(untouched, TOutputOptions{});
    EXPECT_EQ(fields(untouched), fields(defaults));
}

// Catches: mux times passed through a six-digit text ("%g") on their way in,
// which rounded 0.1234567 s to 0.123457 s.
TEST_F(OutputRecord, MuxTimesArriveExactly) {
    TOutputOptions o;
    o.MuxDelay = 0.1234567f;
    o.MuxPreload = 1.2345678f;
    TCustomFFmpeg e(1);
    ApplyOutputOptions(e, o);
    EXPECT_EQ(e.MuxMaxDelay, 0.1234567f);
    EXPECT_EQ(e.MuxPreload, 1.2345678f);
}

TEST(ExtOptions, DateTimeConversion) {
    setenv("TZ", "UTC", 1);
    EXPECT_EQ(DateTimeToUnix(25569.0), 0);
    EXPECT_EQ(DateTimeToUnix(25570.5), 86400 + 43200);
}

}  // namespace
}  // namespace tw
