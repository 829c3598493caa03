// tests/app/CommandLine_test.cpp — tarnwick-join as a user meets it: signals
// at the prompt, while probing and during a merge (through a pseudo-
// terminal), its messages and arguments, the container chosen by the output
// name, and --auto.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/Options.h"
#include "tests/support/JoinProgram.h"
#include "tests/support/Media.h"
#include "tests/support/Mp4Boxes.h"
#include "tests/support/TempDir.h"

namespace tw {
namespace {

using test::ExecJoin;

// The hidden files of unfinished merges in a folder.
int PendingFiles(const std::string& folder) {
    int count = 0;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            count += name.size() > 5 && name[0] == '.' && name.rfind(".part") == name.size() - 5;
        }
        ::closedir(d);
    }
    return count;
}

// Runs tarnwick-join without a shell (names are passed as they are), stdin
// from /dev/null, in folder when given, with files limited to fileLimit
// bytes when given (a full disk); standard output and error together in
// text.
int Join(const std::vector<std::string>& args, std::string* text = nullptr,
         const std::string& folder = "", rlim_t fileLimit = 0) {
    return test::RunJoin(args, text, {.folder = folder, .fileLimit = fileLimit});
}

// tarnwick-join on a pseudo-terminal: its standard input, output and error
// are a terminal, and Ctrl-C typed there is a SIGINT from the line
// discipline, as for a user.
class TTerminalRun {
  public:
    explicit TTerminalRun(const std::vector<std::string>& args, const test::JoinChild& how = {}) {
        FPid = ::forkpty(&FMaster, nullptr, nullptr, nullptr);
        if (FPid == 0) ExecJoin(args, how);
    }
    ~TTerminalRun() {
        if (FPid > 0 && !FExited) {
            ::kill(FPid, SIGKILL);
            ::waitpid(FPid, nullptr, 0);
        }
        if (FMaster >= 0) ::close(FMaster);
    }
    bool Started() const { return FPid > 0; }
    pid_t Pid() const { return FPid; }
    // Reads what the program shows until text appears; false after seconds.
    bool WaitFor(const std::string& text, int seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (Seen.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > end || !ReadSome(100)) return false;
        }
        return true;
    }
    void Type(const std::string& keys) { (void)!::write(FMaster, keys.data(), keys.size()); }
    // The exit status, -1 for a signal, -2 when it is still running after
    // seconds (a hang: then it is killed).
    int Exit(int seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        for (;;) {
            int status = 0;
            const pid_t done = ::waitpid(FPid, &status, WNOHANG);
            if (done == FPid) {
                FExited = true;
                while (ReadSome(0)) {
                }
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            if (std::chrono::steady_clock::now() > end) return -2;
            ReadSome(50);
        }
    }
    std::string Seen;

  private:
    bool ReadSome(int timeoutMs) {
        pollfd p{FMaster, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) < 0) return false;
        if (!(p.revents & POLLIN)) return timeoutMs > 0;  // nothing yet, not finished
        char buf[1024];
        const ssize_t n = ::read(FMaster, buf, sizeof buf);
        if (n <= 0) return false;
        Seen.append(buf, size_t(n));
        return true;
    }
    pid_t FPid = -1;
    int FMaster = -1;
    bool FExited = false;
};

using test::JoinApart;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class CommandLine : public ::testing::Test {
  protected:
    std::string Clip(const std::string& name, const std::vector<std::string>& args = {}) {
        return test::GenerateClip(Dir.File(name), args);
    }
    test::TempDir Dir;
};

// Catches: the prompt read in the main thread while the signal thread only
// set a flag, so that Ctrl-C did nothing until Enter, and Ctrl-C then "y"
// still merged over the old output.
TEST_F(CommandLine, CtrlCAtThePromptEndsAtOnce) {
    const std::string a = Clip("a.flv", {"--duration", "1"});
    const std::string out = Dir.File("out.flv");
    std::ofstream(out) << "precious";
    TTerminalRun run({"-f", "-o", out, a, a});
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitFor("[y/N]", 30)) << run.Seen;
    run.Type("\x03");
    // Were the program still waiting for its answer, this would merge.
    run.Type("y\r");
    EXPECT_EQ(run.Exit(10), 130) << run.Seen;
    EXPECT_EQ(test::FileContents(out), "precious");
    EXPECT_EQ(PendingFiles(Dir.Path()), 0);
}

// Catches: a signal while a source is being opened (here a pipe that
// never delivers data) taken only once the merge's wait loop ran.
TEST_F(CommandLine, SignalsWhileProbingEndAtOnce) {
    const std::string fifo = Dir.File("slow.flv");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string out = Dir.File("out.flv");
    for (int viaTerminal = 0; viaTerminal < 2; ++viaTerminal) {
        SCOPED_TRACE(viaTerminal ? "Ctrl-C" : "SIGTERM");
        TTerminalRun run({"-y", "-o", out, fifo});
        ASSERT_TRUE(run.Started());
        // A writer can open the pipe once the program has it open for
        // reading: from then on it waits for data, probing.
        int writer = -1;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while ((writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK)) < 0 &&
               std::chrono::steady_clock::now() < end)
            ::usleep(10000);
        ASSERT_GE(writer, 0) << run.Seen;
        if (viaTerminal)
            run.Type("\x03");
        else
            ::kill(run.Pid(), SIGTERM);
        EXPECT_EQ(run.Exit(10), 130) << run.Seen;
        ::close(writer);
        EXPECT_FALSE(test::PathExists(out));
        EXPECT_EQ(PendingFiles(Dir.Path()), 0);
    }
}

// Catches: only the first signal ever taken, so that a second one could not
// end a merge at once, and an ending at once leaving the hidden merge file.
TEST_F(CommandLine, SecondSignalDuringAMergeEndsAtOnce) {
    const std::string clip = Clip("long.flv", {"--duration", "20", "--size", "640x360"});
    const std::string out = Dir.File("out.flv");
    std::ofstream(out) << "precious";
    std::vector<std::string> args = {"-y", "-o", out};
    for (int i = 0; i < 10; ++i) args.push_back(clip);
    TTerminalRun run(args);
    ASSERT_TRUE(run.Started());
    // The progress line: the merge is writing.
    ASSERT_TRUE(run.WaitFor("% ", 60)) << run.Seen;
    // Two different signals (two of one kind may merge into one), both
    // waiting when the program runs on: the second comes before the stop
    // the first asked for is through.
    ASSERT_EQ(::kill(run.Pid(), SIGSTOP), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(run.Pid(), &status, WUNTRACED), run.Pid());
    ::kill(run.Pid(), SIGINT);
    ::kill(run.Pid(), SIGTERM);
    ::kill(run.Pid(), SIGCONT);
    EXPECT_EQ(run.Exit(30), 130) << run.Seen;
    EXPECT_EQ(PendingFiles(Dir.Path()), 0);
    // Ended before the stop could replace the old output with the partial file.
    EXPECT_TRUE(test::FileContents(out) == "precious") << "the old output was replaced";
}

// Catches: the signal thread and the output's writer of a running merge
// left with the program's name, so that a debugger cannot tell them apart.
TEST_F(CommandLine, ThreadsOfAMergeAreNamed) {
    const std::string clip = Clip("long.flv", {"--duration", "20", "--size", "640x360"});
    std::vector<std::string> args = {"-o", Dir.File("out.flv")};
    for (int i = 0; i < 10; ++i) args.push_back(clip);
    TTerminalRun run(args);
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitFor("% ", 60)) << run.Seen;  // the merge is writing
    std::vector<std::string> names;
    const std::string tasks = "/proc/" + std::to_string(run.Pid()) + "/task";
    if (DIR* d = ::opendir(tasks.c_str())) {
        while (dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.') continue;
            std::string name = test::FileContents(tasks + "/" + e->d_name + "/comm");
            if (!name.empty() && name.back() == '\n') name.pop_back();
            names.push_back(name);
        }
        ::closedir(d);
    }
    ::kill(run.Pid(), SIGINT);
    EXPECT_EQ(run.Exit(30), 130) << run.Seen;
    EXPECT_EQ(std::count(names.begin(), names.end(), "tw-signals"), 1)
        << testing::PrintToString(names);
    EXPECT_EQ(std::count(names.begin(), names.end(), "tw-writer"), 1)
        << testing::PrintToString(names);
}

// Catches: a declined overwrite that did not say how to overwrite; "--"
// refused and a file whose name starts with '-' taken for an option.
TEST_F(CommandLine, OverwriteHintAndDashNames) {
    const std::string a = Clip("a.flv", {"--duration", "1"});
    const std::string dash = Clip("-dash.flv", {"--duration", "1"});
    const std::string out = Dir.File("out.flv");
    std::string text;
    EXPECT_EQ(Join({"-f", "-q", "-o", out, "--", "-dash.flv", a}, &text, Dir.Path()), 0) << text;
    const test::MediaInfo merged = test::ReadMediaInfo(out);
    ASSERT_TRUE(merged.Ok()) << merged.error;
    EXPECT_EQ(merged.Video()->packets, 50);  // both sources
    EXPECT_EQ(Join({"-f", "-q", "-o", Dir.File("x.flv"), "-dash.flv", a}, &text, Dir.Path()), 2);
    EXPECT_NE(text.find("--"), std::string::npos) << text;

    EXPECT_EQ(Join({"-f", "-o", out, a, a}, &text), 1);
    EXPECT_NE(text.find("-y"), std::string::npos) << text;
}

// Catches: "LoadFile Error" for a missing input with -f but "AddTask Error"
// without it, given only after the old output was at stake; an unreadable
// file reported differently again.
TEST_F(CommandLine, MissingInputTheSameInBothModes) {
    const std::string a = Clip("a.flv", {"--duration", "1"});
    const std::string missing = Dir.File("missing.flv");
    const std::string junk = Dir.File("junk.flv");
    std::ofstream(junk) << "not a video";
    for (const std::string& bad : {missing, junk}) {
        std::string fast, slow;
        EXPECT_EQ(Join({"-f", "-o", Dir.File("o1.flv"), a, bad}, &fast), 1);
        EXPECT_EQ(Join({"-o", Dir.File("o2.flv"), a, bad}, &slow), 1);
        EXPECT_EQ(fast, slow);
        EXPECT_NE(fast.find(bad), std::string::npos) << fast;
        EXPECT_FALSE(test::PathExists(Dir.File("o1.flv")));
        EXPECT_FALSE(test::PathExists(Dir.File("o2.flv")));
    }
    std::string text;
    Join({"-o", Dir.File("o3.flv"), a, missing}, &text);
    EXPECT_NE(text.find("No such file or directory"), std::string::npos) << text;
}

// Catches: a full disk under a name with a colon (the wide-name protocol)
// reported as "Operation not permitted"; the old output lost to it.
TEST_F(CommandLine, FullDiskGivesTheSystemsErrorUnderAnyName) {
    const std::string a = Clip("a.flv", {"--duration", "4", "--size", "640x360"});
    for (const char* name : {"plain.flv", "with:colon.flv"}) {
        SCOPED_TRACE(name);
        const std::string out = Dir.File(name);
        std::ofstream(out) << "precious";
        std::string text;
        EXPECT_EQ(Join({"-f", "-y", "-o", out, a, a}, &text, "", 100 * 1024), 1) << text;
        const size_t first = text.find(std::strerror(EFBIG));
        EXPECT_NE(first, std::string::npos) << text;
        // The log of the failed merge comes with the failure's message.
        EXPECT_NE(text.find(std::strerror(EFBIG), first + 1), std::string::npos) << text;
        EXPECT_EQ(text.find(std::strerror(EPERM)), std::string::npos) << text;
        EXPECT_EQ(test::FileContents(out), "precious");
        EXPECT_EQ(PendingFiles(Dir.Path()), 0);
    }
}

// Catches: a truncated source merged as if whole, with no word of it.
TEST_F(CommandLine, TruncatedSourceIsNamed) {
    const std::string a = Clip("a.flv", {"--duration", "2"});
    const std::string cut = Clip("cut.flv", {"--duration", "4", "--truncate", "0.5"});
    std::string text;
    EXPECT_EQ(Join({"-f", "-o", Dir.File("o.flv"), a, cut}, &text), 0) << text;
    const size_t warning = text.find("warning: " + cut);
    ASSERT_NE(warning, std::string::npos) << text;
    EXPECT_NE(text.find("missing", warning), std::string::npos) << text;
    // A whole file is not named.
    EXPECT_EQ(text.find("warning: " + a), std::string::npos) << text;
}

// Catches: the end of a long FLV source looked for from the wrong place
// (read from its last bytes rather than found by reading the whole file):
// a missing end not named, or a whole file named as cut.
TEST_F(CommandLine, TruncatedLongFlvIsNamedFromItsLastBytes) {
    const std::vector<std::string> small = {"--size", "160x120", "--duration", "15"};
    const std::string whole = Clip("whole.flv", small);
    std::vector<std::string> cutArgs = small;
    cutArgs.insert(cutArgs.end(), {"--truncate", "0.7", "--pattern", "1"});
    const std::string cut = Clip("cut.flv", cutArgs);
    std::string text;
    EXPECT_EQ(Join({"-f", "-o", Dir.File("o.flv"), whole, cut}, &text), 0) << text;
    const size_t warning = text.find("warning: " + cut);
    ASSERT_NE(warning, std::string::npos) << text;
    EXPECT_NE(text.find("missing", warning), std::string::npos) << text;
    EXPECT_EQ(text.find("warning: " + whole), std::string::npos) << text;
}

// Catches: the libraries' log forced quiet with no way to see it.
TEST_F(CommandLine, VerboseShowsTheLibrariesLog) {
    const std::string a = Clip("a.flv", {"--duration", "1"});
    std::string quiet, verbose;
    EXPECT_EQ(Join({"-q", "-o", Dir.File("q.flv"), a}, &quiet), 0) << quiet;
    EXPECT_EQ(Join({"-v", "-q", "-o", Dir.File("v.flv"), a}, &verbose), 0) << verbose;
    // libx264 tells its settings at the info level.
    EXPECT_EQ(quiet.find("libx264"), std::string::npos) << quiet;
    EXPECT_NE(verbose.find("libx264"), std::string::npos) << verbose;
}

// The container follows the output's extension or --format.
// Depends on the engine passing muxer private options ("movflags") on to the
// muxer: until then the MP4 index stays behind the media data.
TEST_F(CommandLine, Mp4OutputHasItsIndexInFront) {
    const std::string a = Clip("a.flv", {"--duration", "1"});
    const std::string b = Clip("b.flv", {"--duration", "1", "--pattern", "1"});
    const std::string out = Dir.File("out.mp4");
    std::string text;
    EXPECT_EQ(Join({"-q", "-o", out, a, b}, &text), 0) << text;
    const test::MediaInfo info = test::ReadMediaInfo(out);
    ASSERT_TRUE(info.Ok()) << info.error;
    EXPECT_NE(info.format.find("mp4"), std::string::npos) << info.format;
    ASSERT_NE(info.Video(), nullptr);
    EXPECT_EQ(info.Video()->packets, 50);
    // Top-level boxes: "moov" before "mdat".
    EXPECT_EQ(test::IndexPlace(out), "front");
}

TEST_F(CommandLine, MatroskaAndTsByNameOrFormat) {
    const std::string a = Clip("a.flv", {"--duration", "1"});
    std::string text;
    EXPECT_EQ(Join({"-q", "-o", Dir.File("out.mkv"), a, a}, &text), 0) << text;
    test::MediaInfo info = test::ReadMediaInfo(Dir.File("out.mkv"));
    ASSERT_TRUE(info.Ok()) << info.error;
    EXPECT_NE(info.format.find("matroska"), std::string::npos) << info.format;
    EXPECT_EQ(info.Video()->packets, 50);
    // --format wins over the extension.
    EXPECT_EQ(Join({"-q", "-f", "--format", "ts", "-o", Dir.File("out.bin"), a, a}, &text), 0)
        << text;
    info = test::ReadMediaInfo(Dir.File("out.bin"));
    ASSERT_TRUE(info.Ok()) << info.error;
    EXPECT_EQ(info.format, "mpegts");
    EXPECT_EQ(info.Video()->packets, 50);
    // Any other extension is FLV.
    EXPECT_EQ(Join({"-q", "-f", "-o", Dir.File("out.video"), a, a}, &text), 0) << text;
    EXPECT_EQ(test::ReadMediaInfo(Dir.File("out.video")).format, "flv");
    EXPECT_EQ(Join({"--format", "avi", "-o", Dir.File("x.avi"), a}, &text), 2);
}

// Catches: a fast merge into Matroska refused for codecs only FLV lacks.
TEST_F(CommandLine, FastMergeOfHevcIntoMatroska) {
    const std::string a = Clip("a.mkv", {"--duration", "1", "--video-codec", "libx265"});
    const std::string b =
        Clip("b.mkv", {"--duration", "1", "--video-codec", "libx265", "--pattern", "1"});
    std::string text;
    EXPECT_EQ(Join({"-q", "-f", "-o", Dir.File("out.flv"), a, b}, &text), 1);
    EXPECT_NE(text.find("hevc"), std::string::npos) << text;
    EXPECT_EQ(Join({"-q", "-f", "-o", Dir.File("out.mkv"), a, b}, &text), 0) << text;
    const test::MediaInfo info = test::ReadMediaInfo(Dir.File("out.mkv"));
    ASSERT_TRUE(info.Ok()) << info.error;
    EXPECT_EQ(info.Video()->codec, "hevc");
    EXPECT_EQ(info.Video()->packets, 50);
    EXPECT_EQ(info.Audio()->codec, "aac");
}

// An FLV and a TS of one encoding (length-prefixed and Annex-B parameter
// sets, raw and ADTS AAC) copied into each container: every picture of both.
// Depends on the engine converting the packets of a later input to the
// output's packing (the engine fix of bitstream conversion): until then FLV
// and MP4 lose the TS part's pictures and Matroska and MPEG-TS refuse the
// packets.
TEST_F(CommandLine, FastMergeOfFlvAndTsIntoEveryContainer) {
    const std::string a = Clip("a.flv", {"--duration", "1"});
    const std::string b = Clip("b.ts", {"--duration", "1", "--pattern", "1"});
    for (const char* name : {"out.flv", "out.mp4", "out.mkv", "out.ts"}) {
        SCOPED_TRACE(name);
        std::string text;
        EXPECT_EQ(Join({"-f", "-q", "-o", Dir.File(name), a, b}, &text), 0) << text;
        const test::MediaInfo info = test::ReadMediaInfo(Dir.File(name), {true});
        EXPECT_TRUE(info.Ok()) << info.error;
        // Every container is checked, also after one failed.
        if (!info.Ok() || !info.Video() || !info.Audio()) {
            ADD_FAILURE() << "no video and audio read back";
            continue;
        }
        EXPECT_EQ(info.Video()->decodedFrames, 50);
        EXPECT_EQ(info.Video()->decodeErrors, 0);
        EXPECT_NEAR(info.Audio()->decodedSamples / 44100.0, 2.0, 0.1);
    }
}

// Catches: --auto copying sources that differ, or re-encoding alike ones.
TEST_F(CommandLine, AutoChoosesEachWay) {
    // MP3 sound: a copy keeps it, a re-encoding makes AAC of it.
    const std::string a = Clip("a.flv", {"--duration", "1", "--audio-codec", "libmp3lame"});
    const std::string b =
        Clip("b.flv", {"--duration", "1", "--audio-codec", "libmp3lame", "--pattern", "1"});
    const std::string wide =
        Clip("c.flv", {"--duration", "1", "--audio-codec", "libmp3lame", "--size", "640x360"});
    std::string text;
    EXPECT_EQ(Join({"--auto", "-o", Dir.File("same.flv"), a, b}, &text), 0) << text;
    EXPECT_NE(text.find("--auto: fast merge"), std::string::npos) << text;
    test::MediaInfo info = test::ReadMediaInfo(Dir.File("same.flv"));
    ASSERT_TRUE(info.Ok()) << info.error;
    EXPECT_EQ(info.Audio()->codec, "mp3");

    EXPECT_EQ(Join({"--auto", "-o", Dir.File("mixed.flv"), a, wide}, &text), 0) << text;
    EXPECT_NE(text.find("--auto: re-encoding"), std::string::npos) << text;
    EXPECT_NE(text.find("640x360"), std::string::npos) << text;  // the reason
    info = test::ReadMediaInfo(Dir.File("mixed.flv"));
    ASSERT_TRUE(info.Ok()) << info.error;
    EXPECT_EQ(info.Audio()->codec, "aac");
    EXPECT_EQ(info.Video()->width, 320);

    // One encoding the container cannot hold: HEVC into FLV.
    const std::string h = Clip("h.mkv", {"--duration", "1", "--video-codec", "libx265"});
    EXPECT_EQ(Join({"--auto", "-o", Dir.File("h.flv"), h, h}, &text), 0) << text;
    EXPECT_NE(text.find("--auto: re-encoding"), std::string::npos) << text;
    EXPECT_EQ(test::ReadMediaInfo(Dir.File("h.flv")).Video()->codec, "h264");
}

// Catches: --chapters-per-source not reaching the merge, its chapters not
// titled by the sources' file names, or asked of a container without
// chapters and silently ignored.
TEST_F(CommandLine, ChaptersPerSourceNamedAfterTheFiles) {
    const std::string one = Clip("Part 1.mp4", {"--duration", "1"});
    const std::string two = Clip("Part 2.flv", {"--duration", "1", "--pattern", "1"});
    std::string text;
    for (const char* fast : {"-f", "-y"}) {
        const std::string out = Dir.File("joined.mkv");
        ASSERT_EQ(Join({fast, "-y", "-q", "--chapters-per-source", "-o", out, one, two}, &text), 0)
            << text;
        const test::MediaInfo m = test::ReadMediaInfo(out);
        ASSERT_EQ(m.chapters.size(), 2u) << fast;
        EXPECT_EQ(m.chapters[0].title, "Part 1");
        EXPECT_EQ(m.chapters[1].title, "Part 2");
        EXPECT_NEAR(m.chapters[1].start, 1.0, 0.07);
    }
    EXPECT_EQ(Join({"-f", "--chapters-per-source", "-o", Dir.File("j.flv"), one, two}, &text), 2);
    EXPECT_NE(text.find("holds no chapters"), std::string::npos) << text;
    EXPECT_FALSE(test::PathExists(Dir.File("j.flv")));
}

// Catches: a source whose clock goes back failing the merge, or the merge
// going on without telling the user which source jumped and where.
TEST_F(CommandLine, ClockJumpIsToldAndMerged) {
    const std::string a = Clip("a.flv", {"--duration", "1"});
    const std::string jumping = Clip("live.ts", {"--duration", "3", "--ts-jump", "1.5:-1"});
    std::string text;
    ASSERT_EQ(Join({"-f", "-o", Dir.File("o.mkv"), a, jumping}, &text), 0) << text;
    EXPECT_NE(text.find("warning: " + jumping + ": the timestamps jump back by 1.00 s at 1.5"),
              std::string::npos)
        << text;
    const test::MediaInfo m = test::ReadMediaInfo(Dir.File("o.mkv"));
    ASSERT_TRUE(m.Ok()) << m.error;
    EXPECT_NEAR(*m.duration, 4.0, 0.1);
}

// Catches: the hand-written parser refusing what GNU tools take: bundled
// short options (-fq, -yf), an argument glued to -o, --opt=value, options
// after the inputs and unambiguous abbreviations of long options.
TEST_F(CommandLine, GnuFormsOfTheOptions) {
    const std::string a = Clip("a.flv", {"--duration", "1"});
    const std::string b = Clip("b.flv", {"--duration", "1", "--pattern", "1"});
    std::string out, err;
    // -fq: a copy, and nothing on standard output; -oFILE.
    const std::string one = Dir.File("one.flv");
    ASSERT_EQ(JoinApart({"-fq", "-o" + one, a, b}, out, err), 0) << err;
    EXPECT_EQ(out, "");
    test::MediaInfo info = test::ReadMediaInfo(one);
    ASSERT_TRUE(info.Ok()) << info.error;
    EXPECT_EQ(info.format, "flv");
    EXPECT_EQ(info.Video()->packets, 50);

    // --opt=value, --opt value and abbreviations: --fas, --form=, --thr=, --out.
    const std::string two = Dir.File("two.bin");
    ASSERT_EQ(JoinApart({"--fas", "--form=mkv", "--thr=2", "--out", two, a, b}, out, err), 0)
        << err;
    info = test::ReadMediaInfo(two);
    ASSERT_TRUE(info.Ok()) << info.error;
    EXPECT_NE(info.format.find("matroska"), std::string::npos) << info.format;
    EXPECT_EQ(info.Video()->packets, 50);
    ASSERT_EQ(JoinApart({"--threads", "2", "--format", "ts", "-q", "--output=" + two, "-y", a, b},
                        out, err),
              0)
        << err;
    EXPECT_EQ(test::ReadMediaInfo(two).format, "mpegts");

    // -yf over an existing output, the options after the inputs; -fo takes
    // the next argument as the output.
    std::ofstream(one) << "old";
    ASSERT_EQ(JoinApart({a, b, "-yf", "-qo", one}, out, err), 0) << err;
    info = test::ReadMediaInfo(one);
    ASSERT_TRUE(info.Ok()) << info.error;
    EXPECT_EQ(info.Video()->packets, 50);

    // --prob: the table, nothing merged ("--pro" is --progress too).
    ASSERT_EQ(JoinApart({"--prob", a, b}, out, err), 0) << err;
    EXPECT_NE(out.find("b.flv"), std::string::npos) << out;
}

// Catches: the bar on a terminal replaced by the result at 98-99 %, never
// showing that the merge was complete.
TEST_F(CommandLine, TerminalBarEndsAtAHundred) {
    const std::string a = Clip("a.flv", {"--duration", "1"});
    TTerminalRun run({"-f", "-o", Dir.File("o.flv"), a, a});
    ASSERT_TRUE(run.Started());
    EXPECT_EQ(run.Exit(60), 0) << run.Seen;
    const size_t full = run.Seen.find("[####################] 100% 00:00:02 / 00:00:02");
    ASSERT_NE(full, std::string::npos) << run.Seen;
    // Left standing on its own line, not erased by what follows.
    const size_t end = run.Seen.find('\n', full);
    ASSERT_NE(end, std::string::npos) << run.Seen;
    EXPECT_EQ(run.Seen.substr(full, end - full).find("\033[K"), std::string::npos) << run.Seen;
}

// Catches: a mistake answered with the whole usage (the reason scrolls
// away), on standard output, or with a status other than 2; an ambiguous
// abbreviation taken for one of its options; --check without -f silently
// ignored.
TEST_F(CommandLine, MistakesAreOneLineAndStatusTwo) {
    const std::string a = Clip("a.flv", {"--duration", "1"});
    const std::string o = Dir.File("o.flv");
    const struct {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{"--bogus", "-o", o, a}, "unrecognized option '--bogus'"},
        {{"--f", "-o", o, a}, "option '--f' is ambiguous"},
        {{"--fast=yes", "-o", o, a}, "option '--fast' doesn't allow an argument"},
        {{"-fz", "-o", o, a}, "invalid option -- 'z'"},
        {{"-o", o, "-dash.flv"}, "put -- before it"},
        {{a, "-o"}, "-o (--output) needs a file name"},
        {{"-o", o, a, "--threads"}, "--threads needs a number"},
        {{"--threads=0", "-o", o, a}, "bad thread count '0'"},
        {{"--format=avi", "-o", o, a}, "unknown container avi"},
        {{"--check", "-o", o, a}, "--check needs -f"},
        {{"--auto", "--check", "-o", o, a}, "--check needs -f"},
        {{"--force", "-o", o, a}, "--force needs -f"},
        {{"-f", "--check", "--force", "-o", o, a}, "--check and --force exclude each other"},
        {{"-f", "--auto", "-o", o, a}, "exclude each other"},
        {{"--progress=bogus", "-o", o, a}, "unknown progress mode 'bogus'"},
        {{"--json", "-o", o, a}, "--json needs --probe"},
        {{"-o", o}, "no input files"},
        {{a}, "no output file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        std::string out, err;
        EXPECT_EQ(JoinApart(c.args, out, err), 2);
        EXPECT_EQ(out, "");
        const std::vector<std::string> lines = Lines(err);
        ASSERT_EQ(lines.size(), 2u) << err;
        EXPECT_EQ(lines[0].rfind("tarnwick-join: ", 0), 0u) << err;
        EXPECT_NE(lines[0].find(c.says), std::string::npos) << err;
        EXPECT_EQ(lines[1], "Try 'tarnwick-join --help' for more information.");
        EXPECT_FALSE(test::PathExists(o));
    }
}

// Catches: an option the parser takes missing from --help (--output was) or
// from the man page, the help on standard error or with a status other
// than 0, and exit statuses left undocumented.
TEST_F(CommandLine, HelpAndManPageListEveryOption) {
    std::string out, err;
    ASSERT_EQ(JoinApart({"--help"}, out, err), 0);
    EXPECT_EQ(err, "");
    std::string man = test::FileContents(std::string(TW_BUILD_DIR) + "/data/tarnwick-join.1");
    ASSERT_FALSE(man.empty());
    for (size_t at; (at = man.find("\\-")) != std::string::npos;) man.replace(at, 2, "-");
    int count = 0;
    for (const option* opt = cli::kLongOptions; opt->name; ++opt, ++count) {
        const std::string name = std::string("--") + opt->name;
        SCOPED_TRACE(name);
        // As a whole word: "--check" must not pass for "--check-x".
        const auto listed = [&](const std::string& text, const std::string& word) {
            for (size_t at = 0; (at = text.find(word, at)) != std::string::npos; ++at) {
                const char next = at + word.size() < text.size() ? text[at + word.size()] : ' ';
                if (!std::isalnum(static_cast<unsigned char>(next)) && next != '-') return true;
            }
            return false;
        };
        EXPECT_TRUE(listed(out, name)) << out;
        EXPECT_TRUE(listed(man, name)) << "missing from the man page";
        if (opt->val > 0 && opt->val < 256) {
            const std::string both = std::string("-") + char(opt->val) + ", " + name;
            EXPECT_NE(out.find(both), std::string::npos) << out;
        }
    }
    EXPECT_GE(count, 14);
    for (const std::string status : {"0", "1", "2", "3", "130"}) {
        EXPECT_NE(out.find("\n  " + status + " "), std::string::npos) << status;
        EXPECT_NE(man.find(".B " + status + "\n"), std::string::npos) << status;
    }
}

// Catches: --delete-sources whose check of the merged file fails ending
// with status 0 and its reason only on standard output, so that a script
// takes the merge as done and the kept sources go unnoticed.
TEST_F(CommandLine, SourcesKeptAfterAFailedCheckGiveStatusThree) {
    const std::string a = Clip("a.flv", {"--duration", "1"});
    // Half of what its header says is there: the merge is shorter than the
    // sources' durations together, and the check refuses it.
    const std::string cut = Clip("cut.flv", {"--duration", "4", "--truncate", "0.5"});
    const std::string out = Dir.File("o.flv");
    std::string text, err;
    EXPECT_EQ(JoinApart({"-f", "-q", "--delete-sources", "-o", out, a, cut}, text, err), 3) << err;
    EXPECT_TRUE(test::PathExists(a));
    EXPECT_TRUE(test::PathExists(cut));
    EXPECT_TRUE(test::ReadMediaInfo(out).Ok());
    // Said on standard error, also with -q, naming the merged file.
    EXPECT_NE(err.find(out), std::string::npos) << err;

    // A check that passes: the sources go, status 0.
    const std::string b = Dir.File("b.flv");
    const std::string c = Dir.File("c.flv");
    std::ofstream(b, std::ios::binary) << test::FileContents(a);
    std::ofstream(c, std::ios::binary) << test::FileContents(a);
    EXPECT_EQ(
        JoinApart({"-f", "-q", "--delete-sources", "-o", Dir.File("ok.flv"), b, c}, text, err), 0)
        << err;
    EXPECT_FALSE(test::PathExists(b));
    EXPECT_FALSE(test::PathExists(c));
}

// Catches: -f over sources encoded differently merging them (exit 0, a
// warning that scrolls away) instead of refusing and naming the
// difference; --force not copying them, or ending with status 0; on a
// terminal no question, or a no that still merged.
TEST_F(CommandLine, FastMergeOfDifferentSourcesNeedsForce) {
    const std::string a = Clip("a.flv", {"--duration", "1"});
    const std::string wide = Clip("wide.flv", {"--duration", "1", "--size", "480x270"});
    const std::string out = Dir.File("o.flv");
    std::string text, err;
    EXPECT_EQ(JoinApart({"-f", "-o", out, a, wide}, text, err), 1) << err;
    EXPECT_NE(err.find("480x270 / 320x240 (" + wide + ")"), std::string::npos) << err;
    EXPECT_NE(err.find("--force"), std::string::npos) << err;
    EXPECT_FALSE(test::PathExists(out));

    EXPECT_EQ(JoinApart({"-f", "--force", "-q", "-o", out, a, wide}, text, err), 3) << err;
    test::MediaInfo info = test::ReadMediaInfo(out);
    ASSERT_TRUE(info.Ok()) << info.error;
    EXPECT_EQ(info.Video()->packets, 50);  // copied, both sources

    // Sources alike: no question, no --force needed, status 0.
    EXPECT_EQ(JoinApart({"-f", "-q", "-y", "-o", out, a, a}, text, err), 0) << err;

    for (const char* answer : {"n", "y"}) {
        SCOPED_TRACE(answer);
        const std::string asked = Dir.File(std::string("asked-") + answer + ".flv");
        TTerminalRun run({"-f", "-o", asked, a, wide});
        ASSERT_TRUE(run.Started());
        ASSERT_TRUE(run.WaitFor("copy them anyway? [y/N]", 30)) << run.Seen;
        run.Type(std::string(answer) + "\r");
        EXPECT_EQ(run.Exit(30), *answer == 'y' ? 3 : 1) << run.Seen;
        EXPECT_EQ(test::PathExists(asked), *answer == 'y');
    }
}

// Catches: the questions on a terminal in English whatever the locale (the
// overwrite question in Chinese, its refusal and the --force question in
// English), so that one run spoke two languages.
TEST_F(CommandLine, QuestionsOnATerminalSpeakTheLocalesLanguage) {
    const std::string a = Clip("a.flv", {"--duration", "1"});
    const std::string wide = Clip("wide.flv", {"--duration", "1", "--size", "480x270"});
    const std::string old = Dir.File("old.flv");
    std::ofstream(old) << "old";
    const test::JoinChild chinese{
        .output = -1, .folder = {}, .fileLimit = 0, .locale = {{"LANG", "C"}}};
    {
        TTerminalRun run({"-f", "-o", Dir.File("n.flv"), a, wide}, chinese);
        ASSERT_TRUE(run.Started());
        ASSERT_TRUE(run.WaitFor("仍然复制它们吗？ [y/N]", 30)) << run.Seen;
        run.Type("n\r");
        EXPECT_EQ(run.Exit(30), 1) << run.Seen;
        EXPECT_NE(run.Seen.find("tarnwick-join: 拒绝快速合并："), std::string::npos) << run.Seen;
        EXPECT_EQ(run.Seen.find("copy them"), std::string::npos) << run.Seen;
    }
    {
        TTerminalRun run({"-f", "-o", old, a, a}, chinese);
        ASSERT_TRUE(run.Started());
        ASSERT_TRUE(run.WaitFor(old + "已经存在，是否覆盖？ [y/N]", 30)) << run.Seen;
        run.Type("n\r");
        EXPECT_EQ(run.Exit(30), 1) << run.Seen;
        EXPECT_NE(run.Seen.find(old + "已经存在；加上 -y（--overwrite）即可覆盖"),
                  std::string::npos)
            << run.Seen;
        EXPECT_EQ(run.Seen.find("no: use -y"), std::string::npos) << run.Seen;
    }
    TTerminalRun run({"-f", "-o", old, a, a});  // English
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitFor(old + " already exists. Replace it? [y/N]", 30)) << run.Seen;
    run.Type("n\r");
    EXPECT_EQ(run.Exit(30), 1) << run.Seen;
    EXPECT_EQ(test::FileContents(old), "old");
}

}  // namespace
}  // namespace tw
