// tests/app/JoinDriver_test.cpp — the join driver with a scripted user, and
// the tarnwick-join command line end to end.
#include "app/JoinDriver.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "binding/FFLoad.h"
#include "diag/FFLog.h"
#include "tests/support/EncoderFixture.h"
#include "tests/support/JoinProgram.h"
#include "tests/support/Media.h"
#include "tests/support/ScriptedUser.h"
#include "tests/support/TempDir.h"

namespace tw {
namespace {

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

TEST(DriverTexts, TimesAndProgress) {
    EXPECT_EQ(SecondsToHMS(3725), "01:02:05");
    EXPECT_EQ(SecondsToHMS(360000), "100:00:00");
    EXPECT_EQ(SecondsToHMS(0), "00:00:00");
    TProgressInfo info;
    info.CurrentTime = 83500000;
    info.TotalDuration = 167000000;
    info.TotalSize = 5000000;
    EXPECT_EQ(ProgressText(info), "50% 00:01:23 4882kb");
    info.CurrentTime.reset();  // no media time yet
    EXPECT_EQ(ProgressText(info), "0% 00:00:00 4882kb");
    info.TotalDuration = 0;
    EXPECT_EQ(ProgressText(info), "");
    info.TotalDuration = 100000000;
    info.CurrentTime = 150000000;
    EXPECT_EQ(ProgressText(info).substr(0, 5), "150% ");
}

using test::ScriptedUser;

class Driver : public test::EncoderTest {
  protected:
    ScriptedUser User;
    TJoinSettings Fast{true, false, 0};
};

// Catches: a mode's codecs, audio values, key-frame index or merge rules
// wrong in the output record of a merge.
TEST_F(Driver, OutputOptionsOfBothModes) {
    TFFDecoder d;
    ASSERT_TRUE(d.LoadFile(Clip("a.flv", {"--sample-rate", "48000"})));
    TMergePlan fast = MergeOutputPlan(d, true, 0);
    EXPECT_EQ(fast.Container, "flv");
    EXPECT_EQ(fast.Video.Codec, "copy");
    EXPECT_EQ(fast.Audio.Codec, "copy");
    EXPECT_EQ(fast.Video.Preset, "libx264-default");
    EXPECT_EQ(fast.Audio.Channels, 2);
    EXPECT_EQ(fast.Audio.SampleRate, 48000);
    EXPECT_GE(fast.Video.Bitrate, 0);  // the container may not know it (0)
    EXPECT_TRUE(fast.Join);
    EXPECT_TRUE(fast.KeyFrameIndex);
    EXPECT_FALSE(fast.FastStart);
    TMergePlan slow = MergeOutputPlan(d, false, 3);
    EXPECT_EQ(slow.Video.Codec, "libx264");
    EXPECT_EQ(slow.Audio.Codec, "aac");  // this libavcodec has no libfaac
    EXPECT_TRUE(slow.Audio.Experimental);
    EXPECT_EQ(slow.Threads, 3);
    EXPECT_TRUE(slow.Video.ClosedGop);
    EXPECT_FALSE(fast.Video.ClosedGop);
    // The rules of a re-encoding merge travel in the plan, not a copy's.
    EXPECT_TRUE(slow.FitPictures && slow.FillMissingAudio);
    EXPECT_FALSE(fast.FitPictures || fast.FillMissingAudio);
    EXPECT_TRUE(MergeOutputPlan(d, true, 0, "mp4").FastStart);

    ASSERT_TRUE(d.LoadFile(Clip("v.flv", {"--no-audio"})));
    TMergePlan silent = MergeOutputPlan(d, true, 0);
    EXPECT_EQ(silent.Audio.Channels, -1);
    EXPECT_EQ(silent.Audio.SampleRate, -1);
    EXPECT_EQ(silent.Audio.Bitrate, -1);
}

// Catches: an old output deleted although no merge follows, a source taken
// as the output, checks in the wrong order.
TEST_F(Driver, ChecksBeforeAnythingIsDeleted) {
    std::vector<std::string> none;
    EXPECT_EQ(MergeWithChecks(User, Enc, none, "", Fast), jrError);
    EXPECT_EQ(User.Told.back(), "请设定“合并到文件”");

    const std::string old = Dir.File("old.flv");
    std::ofstream(old) << "precious";
    EXPECT_EQ(MergeWithChecks(User, Enc, none, old, Fast), jrError);
    EXPECT_EQ(User.Told.back(), "请增加视频文件");
    EXPECT_TRUE(User.Asked.empty());
    EXPECT_TRUE(Exists(old));

    std::vector<std::string> files{Clip("a.flv")};
    User.Answer = true;
    const std::string sameFile = Dir.Path() + "/./a.flv";
    EXPECT_EQ(MergeWithChecks(User, Enc, files, sameFile, Fast), jrError);
    EXPECT_EQ(User.Told.back(), sameFile + "是源文件组中的文件，不能作为合并到文件");
    EXPECT_TRUE(Exists(files[0]));

    User.Answer = false;
    EXPECT_EQ(MergeWithChecks(User, Enc, files, old, Fast), jrError);
    ASSERT_EQ(User.Asked.size(), 1u);
    EXPECT_EQ(User.Asked[0], old + "已经存在，是否覆盖？");
    EXPECT_TRUE(Exists(old));
}

TEST_F(Driver, FastMergeThenVerifiedDeletionOfTheSources) {
    std::vector<std::string> files{Clip("a.flv"), Clip("b.flv", {"--pattern", "1"})};
    const std::string out = Dir.File("out.flv");
    TJoinSettings settings = Fast;
    settings.DeleteSources = true;
    ASSERT_EQ(MergeWithChecks(User, Enc, files, out, settings), jrDone)
        << (User.Told.empty() ? "" : User.Told.back());
    EXPECT_EQ(User.Told, (std::vector<std::string>{"合并成功", "合并后删除源文件组，成功"}));
    EXPECT_TRUE(files.empty());
    EXPECT_FALSE(Exists(Dir.File("a.flv")));
    const test::MediaInfo info = test::ReadMediaInfo(out);
    ASSERT_TRUE(info.Ok());
    ASSERT_TRUE(info.duration);
    EXPECT_NEAR(*info.duration, 4.0, 0.15);
}

// Catches: a failure text without its step's prefix, or one naming the
// hidden file a merge writes first instead of the user's output.
TEST_F(Driver, FailuresAndTheirPrefixes) {
    std::string message;
    EXPECT_EQ(JoinFiles(Enc, {Dir.File("missing.flv")}, Dir.File("o.flv"), message, Fast), jrError);
    EXPECT_EQ(message,
              "LoadFile Error: " + Dir.File("missing.flv") + ": No such file or directory");
    EXPECT_FALSE(Exists(Dir.File("o.flv")));

    const std::string a = Clip("a.flv", {"--duration", "1"});
    std::vector<std::string> many(21, a);
    EXPECT_EQ(JoinFiles(Enc, many, Dir.File("o.flv"), message, Fast), jrError);
    EXPECT_EQ(message, "AddTask Error: max input files 20 reached");

    EXPECT_EQ(JoinFiles(Enc, {a}, Dir.File("no/such/dir/o.flv"), message, Fast), jrError);
    EXPECT_EQ(message.rfind("SetOutputFile Error: ", 0), 0u) << message;
    // Written first under another name (a hidden file beside the output):
    // the text names the output the user knows, and only it.
    TJoinSettings hidden = Fast;
    hidden.OutputName = "/home/user/Film.flv";
    EXPECT_EQ(JoinFiles(Enc, {a}, Dir.File("no/such/dir/.Film.flv.1a2b3c.part"), message, hidden),
              jrError);
    EXPECT_EQ(message, "SetOutputFile Error: /home/user/Film.flv: No such file or directory");

    // One file: a task with one input, copied alone.
    EXPECT_EQ(JoinFiles(Enc, {a}, Dir.File("one.flv"), message, Fast), jrDone) << message;
    EXPECT_EQ(Enc.TaskCount(), 1);
    const test::MediaInfo one = test::ReadMediaInfo(Dir.File("one.flv"));
    ASSERT_TRUE(one.Ok());
    EXPECT_EQ(one.Video()->packets, test::ReadMediaInfo(a).Video()->packets);
}

// Catches: a stopped merge treated like a failure (its partial file thrown
// away, the old output kept) or like a success (the success text, or the
// sources deleted).
TEST_F(Driver, StoppedMergeReplacesTheOldOutputWithItsPartialFile) {
    const std::string a = Clip("long.flv", {"--duration", "30", "--size", "640x360"});
    std::vector<std::string> files(20, a);
    const std::string out = Dir.File("out.flv");
    std::ofstream(out) << "precious";
    User.Answer = true;
    TJoinSettings settings = Fast;
    settings.DeleteSources = true;
    bool stopped = false;
    const TJoinResult result = MergeWithChecks(User, Enc, files, out, settings, [&] {
        // Once media is written: a stop before keeps the old output.
        if (!stopped && Enc.TaskCount() > 0 && Enc.Tasks(0).MediaPacketsWritten > 0) {
            stopped = true;
            Enc.Stop(true);
        }
    });
    EXPECT_EQ(result, jrStopped) << User.Last();
    EXPECT_TRUE(KeepsOutput(result));
    EXPECT_TRUE(User.Told.empty()) << User.Last();
    EXPECT_EQ(files.size(), 20u);
    EXPECT_TRUE(Exists(a));
    const test::MediaInfo info = test::ReadMediaInfo(out);
    ASSERT_TRUE(info.Ok()) << info.error;
    EXPECT_TRUE(info.readError.empty()) << info.readError;
    ASSERT_NE(info.Video(), nullptr);
    EXPECT_LT(info.Video()->packets, 20 * 750);  // not the whole merge
}

// Catches: a merge stopped before any picture or sound was written putting
// a file of a header and an ending in place of the old output (or telling
// the user something): the old output must stay byte for byte, no hidden
// file left. A stop that came later keeps a partial file with media.
TEST_F(Driver, StopBeforeAnyMediaKeepsTheOldOutput) {
    const std::string a = Clip("a.flv", {"--duration", "3", "--size", "640x360"});
    const std::string out = Dir.File("out.flv");
    int empty = 0;
    for (int round = 0; round < 3; ++round) {
        std::ofstream(out, std::ios::trunc) << "precious";
        User.Answer = true;
        User.Told.clear();
        std::vector<std::string> files = {a, a};
        TJoinSettings settings;  // re-encoding: nothing comes out of the encoder at once
        bool stopped = false;
        const TJoinResult result = MergeWithChecks(User, Enc, files, out, settings, [&] {
            if (!stopped) {
                stopped = true;
                Enc.Stop(true);
            }
        });
        ASSERT_TRUE(result == jrStoppedEmpty || result == jrStopped) << User.Last();
        EXPECT_TRUE(User.Told.empty()) << User.Last();
        std::vector<std::string> hidden;
        if (DIR* d = ::opendir(Dir.Path().c_str())) {
            while (dirent* e = ::readdir(d))
                if (std::string(e->d_name).rfind(".out.flv.", 0) == 0) hidden.push_back(e->d_name);
            ::closedir(d);
        }
        EXPECT_TRUE(hidden.empty());
        if (result == jrStoppedEmpty) {
            ++empty;
            EXPECT_FALSE(KeepsOutput(result));
            EXPECT_EQ(test::FileContents(out), "precious");
        } else {
            const test::MediaInfo info = test::ReadMediaInfo(out);
            ASSERT_TRUE(info.Ok()) << info.error;
            EXPECT_TRUE(info.Video() || info.Audio()) << "a kept file without media";
            EXPECT_GT(info.Video() ? info.Video()->packets : info.Audio()->packets, 0);
        }
    }
    RecordProperty("stopped before any media", empty);
}

// --- the command line

// Under locale (English unless given).
int RunJoin(const std::vector<std::string>& args, std::string* output = nullptr,
            const std::string& locale = "en_US.UTF-8") {
    std::string cmd = "env -u LANGUAGE -u LC_ALL -u LC_MESSAGES LANG=" + locale + " " +
                      std::string(TW_BUILD_DIR) + "/app/tarnwick-join";
    for (const auto& a : args) cmd += " '" + a + "'";
    cmd += " </dev/null 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    const int status = pclose(p);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(Driver, CommandLine) {
    const std::string a = Clip("a.flv"), b = Clip("b.flv", {"--pattern", "1"});
    const std::string out = Dir.File("out.flv");
    std::string text;
    EXPECT_EQ(RunJoin({"-f", "-q", "-o", out, a, b}, &text), 0) << text;
    EXPECT_TRUE(test::ReadMediaInfo(out).Ok());
    // Exists, no terminal to ask.
    EXPECT_EQ(RunJoin({"-f", "-q", "-o", out, a, b}, &text, "C"), 1);
    EXPECT_NE(text.find(out + "已经存在"), std::string::npos) << text;
    EXPECT_EQ(RunJoin({"-f", "-y", "-q", "-o", out, a, b}, &text), 0) << text;

    const std::string none = Dir.File("none.flv");
    EXPECT_EQ(RunJoin({"-f", "-o", none, Dir.File("missing.flv")}, &text), 1);
    // Told before anything is opened, the same with and without -f.
    EXPECT_NE(text.find("missing.flv: No such file or directory"), std::string::npos) << text;
    EXPECT_FALSE(Exists(none));

    EXPECT_EQ(RunJoin({"--bogus"}), 2);
    EXPECT_EQ(RunJoin({"-o", out}), 2);
    EXPECT_EQ(RunJoin({"--threads", "x", "-o", out, a}), 2);

    const std::string reencoded = Dir.File("re.flv");
    EXPECT_EQ(RunJoin({"-q", "--threads", "2", "-o", reencoded, a, b}, &text), 0) << text;
    const test::MediaInfo re = test::ReadMediaInfo(reencoded);
    ASSERT_TRUE(re.Ok()) << re.error;
    EXPECT_EQ(re.Video()->codec, "h264");
    EXPECT_EQ(re.Audio()->codec, "aac");
    ASSERT_TRUE(re.duration);
    EXPECT_NEAR(*re.duration, 4.0, 0.2);

    const std::string c = Clip("c.flv", {"--size", "640x360"});
    // Sources that differ cannot be fast-merged: --probe says so with 1.
    EXPECT_EQ(RunJoin({"--probe", a, c}, &text), 1);
    EXPECT_NE(text.find("640x360*"), std::string::npos) << text;
    EXPECT_EQ(RunJoin({"-f", "--check", "-q", "-o", Dir.File("x.flv"), a, c}, &text), 1);
    EXPECT_FALSE(Exists(Dir.File("x.flv")));
}

// Catches: -y deleting the old output before any input was opened, so that a
// mistyped second input left the user with neither; a failed run's output
// removed by name (which took the old file with it).
TEST_F(Driver, CommandLineKeepsTheOldOutputOfAFailedMerge) {
    const std::string a = Clip("a.flv", {"--duration", "1"});
    const std::string out = Dir.File("out.flv");
    std::ofstream(out) << "precious";
    std::string text;
    EXPECT_EQ(RunJoin({"-y", "-q", "-o", out, a, Dir.File("mistyped.flv")}, &text), 1);
    EXPECT_NE(text.find("mistyped.flv: No such file or directory"), std::string::npos) << text;
    std::ifstream in(out);
    std::string kept;
    std::getline(in, kept);
    EXPECT_EQ(kept, "precious");
    EXPECT_EQ(RunJoin({"-f", "-y", "-q", "-o", out, a, a}, &text), 0) << text;
    EXPECT_EQ(test::ReadMediaInfo(out).Video()->packets, 50);
}

// Catches: Ctrl-C killing the merge half-way (no trailer) or reported as an
// ordinary error.
TEST_F(Driver, CtrlCStopsWithAPlayablePartialFile) {
    const std::string clip = Clip("long.flv", {"--duration", "30", "--size", "640x360"});
    const std::string out = Dir.File("partial.flv");
    std::vector<std::string> args = {"-f", "-q", "-o", out};
    for (int i = 0; i < 20; ++i) args.push_back(clip);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) test::ExecJoin(args);
    // The merge writes to a hidden file beside the output from the moment
    // the output is set up; once it holds media (more than a header), a
    // stop keeps it. A stop before keeps nothing (the old output).
    auto pending = [&] {
        bool found = false;
        if (DIR* d = ::opendir(Dir.Path().c_str())) {
            while (dirent* e = ::readdir(d)) {
                struct stat st;
                const std::string name = e->d_name;
                found |= name.rfind(".partial.flv.", 0) == 0 &&
                         ::stat(Dir.File(name).c_str(), &st) == 0 && st.st_size > 256 * 1024;
            }
            ::closedir(d);
        }
        return found;
    };
    while (!pending()) usleep(500);
    kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    const test::MediaInfo info = test::ReadMediaInfo(out);
    ASSERT_TRUE(info.Ok()) << info.error;
    EXPECT_TRUE(info.readError.empty()) << info.readError;
    ASSERT_NE(info.Video(), nullptr);
    EXPECT_LT(info.Video()->packets, 20 * 750);  // not the whole merge
}

}  // namespace
}  // namespace tw
