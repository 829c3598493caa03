// tests/faults/Faults_test.cpp — damaged and odd inputs, odd names, a full
// disk and stop signals, each through tarnwick-join as a user runs it.
//
// Every case holds to one rule: the program ends within its time limit,
// either with exit 0 and an output that the probing component opens and
// that lasts as long as the sources together, or with exit 1 and a message
// (never the success text); the sources are byte for byte what they were.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "binding/FFLoad.h"
#include "probe/FFDecode.h"
#include "tests/support/JoinProgram.h"
#include "tests/support/Media.h"
#include "tests/support/TempDir.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace tw {
namespace {

// What a merge that succeeded says (the program runs under an English locale).
const char* const kSuccess = "Merged.";

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// FNV-1a over the whole file; "" for something that is not a readable file.
std::string Hash(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return "";
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : test::FileContents(path)) h = (h ^ c) * 1099511628211ull;
    return std::to_string(h) + "/" + std::to_string(st.st_size);
}

struct TRun {
    int exit = -3;  // exit status; -1 killed by a signal; -2 hung (then killed)
    int signal = 0;
    std::string text;  // standard output and error together
};

// How a run is disturbed: a file-size limit (a full disk) and a signal sent
// after a delay.
struct TDisturbance {
    rlim_t fileLimit = 0;
    int signal = 0;
    int signalAfterMs = 0;
};

// Runs tarnwick-join without a shell, stdin from /dev/null, killing it when
// it has not ended after limitSeconds.
TRun Join(const std::vector<std::string>& args, const TDisturbance& how = {},
          int limitSeconds = 120) {
    TRun run;
    int fds[2];
    if (::pipe(fds) != 0) return run;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        test::ExecJoin(args, {.output = fds[1], .folder = {}, .fileLimit = how.fileLimit});
    }
    ::close(fds[1]);
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::seconds(limitSeconds);
    bool signalled = how.signal == 0;
    bool open = true;
    int status = 0;
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (!signalled && now - start >= std::chrono::milliseconds(how.signalAfterMs)) {
            ::kill(pid, how.signal);
            signalled = true;
        }
        if (now > end) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            run.exit = -2;
            break;
        }
        if (open) {
            pollfd p{fds[0], POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) {
                char buf[4096];
                const ssize_t n = ::read(fds[0], buf, sizeof buf);
                if (n > 0)
                    run.text.append(buf, size_t(n));
                else
                    open = false;
            }
        } else {
            ::usleep(20000);
        }
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            run.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
            break;
        }
    }
    char buf[4096];
    ssize_t n;
    while (open && (n = ::read(fds[0], buf, sizeof buf)) > 0) run.text.append(buf, size_t(n));
    ::close(fds[0]);
    return run;
}

// Seconds from the first to the last moment of a file's video (or audio
// when it has no video), as far as its packets can be read.
double ReadableSeconds(const test::MediaInfo& info) {
    const test::StreamInfo* s = info.Video() ? info.Video() : info.Audio();
    if (!s || !s->firstPts || !s->endTime) return 0;
    return *s->endTime - *s->firstPts;
}

class Faults : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds)) << FFLoader().LastErrMsg();
    }

    std::string Clip(const std::string& name, std::vector<std::string> args = {}) {
        args.insert(args.begin(), {"--size", "320x240"});
        return test::GenerateClip(Dir.File(name), args);
    }

    // Runs the merge of sources into output and holds it to the rule above.
    // Returns the run for further checks of the case.
    TRun Check(const std::vector<std::string>& options, const std::vector<std::string>& sources,
               const std::string& output, const TDisturbance& how = {}) {
        std::vector<std::string> before;
        for (const auto& s : sources) before.push_back(Hash(s));
        std::vector<std::string> args = options;
        args.insert(args.end(), {"-o", output, "--"});
        args.insert(args.end(), sources.begin(), sources.end());
        TRun run = Join(args, how);
        EXPECT_NE(run.exit, -2) << "hung: " << run.text;
        EXPECT_NE(run.exit, -1) << "killed by signal " << run.signal << ": " << run.text;
        for (size_t i = 0; i < sources.size(); ++i)
            EXPECT_EQ(Hash(sources[i]), before[i]) << "source changed: " << sources[i];
        // 3: merged, but the user must act (sources copied with --force).
        if (run.exit == 0 || run.exit == 3) {
            ExpectSummedOutput(output, sources, options);
        } else if (run.exit == 1) {
            EXPECT_EQ(run.text.find(kSuccess), std::string::npos) << run.text;
            EXPECT_NE(run.text.find_first_not_of(" \r\n"), std::string::npos)
                << "exit 1 without a message";
        } else if (how.signal == 0) {
            ADD_FAILURE() << "exit " << run.exit << ": " << run.text;
        }
        return run;
    }

    // The output opens with the probing component, lasts as long as the
    // readable parts of the sources together, and its pictures are all
    // there and decode.
    void ExpectSummedOutput(const std::string& output, const std::vector<std::string>& sources,
                            const std::vector<std::string>& options) {
        TFFDecoder probe;
        ASSERT_TRUE(probe.LoadFile(output)) << probe.LastError;
        const double duration = probe.FormatContext()->duration / 1e6;
        double sum = 0;
        int64_t sourcePackets = 0, sourceErrors = 0;
        for (const auto& s : sources) {
            const test::MediaInfo in = test::ReadMediaInfo(s, {.decode = true});
            sum += ReadableSeconds(in);
            if (in.Video()) {
                sourcePackets += in.Video()->packets;
                sourceErrors += in.Video()->decodeErrors;
            }
        }
        EXPECT_NEAR(duration, sum, 0.1 * double(sources.size()) + 0.1) << output;
        const test::MediaInfo out = test::ReadMediaInfo(output, {.decode = true});
        ASSERT_TRUE(out.Ok()) << out.error;
        EXPECT_EQ(out.readError, "");
        ASSERT_NE(out.Video(), nullptr);
        const int64_t packets = out.Video()->packets;
        if (std::find(options.begin(), options.end(), "-f") != options.end()) {
            // A copy keeps every packet, damaged ones too: no more pictures
            // fail to decode than in the sources.
            EXPECT_EQ(packets, sourcePackets) << output;
            EXPECT_LE(out.Video()->decodeErrors, sourceErrors) << output;
        } else {
            // Re-encoding loses the pictures that do not decode, and may add
            // or drop one at a join to keep the frame rate; what it writes
            // decodes.
            const int64_t slack = 2 * int64_t(sources.size());
            EXPECT_GE(packets, sourcePackets - sourceErrors - slack) << output;
            EXPECT_LE(packets, sourcePackets + slack) << output;
            EXPECT_EQ(out.Video()->decodeErrors, 0) << output;
        }
    }

    test::TempDir Dir;
};

// Catches: a source cut short at any point crashing the merge, hanging it,
// or being merged as if whole with a length its header promises.
TEST_F(Faults, TruncatedSourcesAtSeveralPoints) {
    const std::string a = Clip("a.flv");
    for (const char* format : {"flv", "ts", "mp4", "mkv"}) {
        const std::string whole = Clip(std::string("whole.") + format, {"--bframes", "2"});
        const auto size = std::filesystem::file_size(whole);
        struct Cut {
            const char* name;
            double fraction;
        };
        // "header" keeps a few hundred bytes: the container's header and at
        // most the start of the first packet.
        for (const Cut cut : {Cut{"header", 400.0 / double(size)}, Cut{"10", 0.10}, Cut{"50", 0.50},
                              Cut{"99", 0.99}}) {
            const std::string name = Dir.File(std::string("cut") + cut.name + "." + format);
            Write(name, test::FileContents(whole).substr(0, size_t(double(size) * cut.fraction)));
            for (const char* mode : {"-f", ""}) {
                SCOPED_TRACE(name + " " + mode);
                std::vector<std::string> options = {"-y"};
                if (*mode) options.push_back(mode);
                // Fast merges of another container than the first's need
                // the same encoding: the FLV first source is one.
                const TRun run = Check(options, {a, name}, Dir.File("out.flv"));
                EXPECT_TRUE(run.exit == 0 || run.exit == 1) << run.text;
                if (run.exit == 1) {
                    EXPECT_NE(run.text.find(name), std::string::npos) << run.text;
                }
            }
        }
    }
}

// Catches: random bytes in the middle of a source read as packets that
// crash a decoder or the muxer, or a merge that claims success with a broken
// output.
TEST_F(Faults, MiddleOverwrittenWithRandomBytes) {
    const std::string a = Clip("a.flv");
    std::mt19937 random(15);
    for (const char* format : {"flv", "ts", "mkv", "mp4"}) {
        const std::string whole = Clip(std::string("whole.") + format, {"--bframes", "2"});
        std::string bytes = test::FileContents(whole);
        const size_t from = bytes.size() * 2 / 5, length = bytes.size() / 5;
        for (size_t i = from; i < from + length; ++i) bytes[i] = char(random());
        const std::string damaged = Dir.File(std::string("damaged.") + format);
        Write(damaged, bytes);
        for (const char* mode : {"-f", ""}) {
            SCOPED_TRACE(damaged + " " + mode);
            std::vector<std::string> options = {"-y"};
            if (*mode) options.push_back(mode);
            const TRun merged = Check(options, {a, damaged}, Dir.File("out.flv"));
            EXPECT_TRUE(merged.exit == 0 || merged.exit == 1) << merged.text;
        }
    }
}

// Catches: things that are no video at all getting past the check before
// the merge (and a crash or an empty output with exit 0 for them).
TEST_F(Faults, InputsThatAreNoVideo) {
    const std::string a = Clip("a.flv");
    const std::string empty = Dir.File("empty.flv");
    Write(empty, "");
    const std::string folder = Dir.File("folder.flv");
    std::filesystem::create_directory(folder);
    const std::string text = Dir.File("notes.flv");
    Write(text, "These are my notes, not a video.\nSecond line.\n");
    for (const std::string& bad : {empty, folder, text}) {
        for (const char* mode : {"-f", ""}) {
            SCOPED_TRACE(bad + " " + mode);
            std::vector<std::string> options = {"-y"};
            if (*mode) options.push_back(mode);
            const std::string out = Dir.File("out.flv");
            const TRun run = Check(options, {a, bad}, out);
            EXPECT_EQ(run.exit, 1) << run.text;
            EXPECT_NE(run.text.find(bad), std::string::npos) << run.text;
            EXPECT_FALSE(test::PathExists(out));
        }
    }
}

// Catches: a second source of another picture size or sound merged
// silently by copy (or, without --force, merged by copy at all), or
// re-encoded at its own size.
TEST_F(Faults, SourceWhoseStreamsDifferFromTheFirst) {
    const std::string a = Clip("a.flv");
    const std::string b =
        test::GenerateClip(Dir.File("b.flv"), {"--size", "480x270", "--sample-rate", "22050"});
    // -f now refuses such sources (it merged them with a warning and exit 0);
    // --force merges them so, with exit status 3.
    const TRun refused = Check({"-f"}, {a, b}, Dir.File("refused.flv"));
    EXPECT_EQ(refused.exit, 1) << refused.text;
    EXPECT_NE(refused.text.find("480x270"), std::string::npos) << refused.text;
    EXPECT_FALSE(test::PathExists(Dir.File("refused.flv")));
    const TRun fast = Check({"-f", "--force"}, {a, b}, Dir.File("fast.flv"));
    ASSERT_EQ(fast.exit, 3) << fast.text;
    EXPECT_NE(fast.text.find("warning: the sources are encoded differently"), std::string::npos)
        << fast.text;

    const TRun again = Check({}, {a, b}, Dir.File("again.flv"));
    ASSERT_EQ(again.exit, 0) << again.text;
    const test::MediaInfo out = test::ReadMediaInfo(Dir.File("again.flv"));
    ASSERT_TRUE(out.Ok()) << out.error;
    ASSERT_NE(out.Video(), nullptr);
    ASSERT_NE(out.Audio(), nullptr);
    EXPECT_EQ(out.Video()->width, 320);
    EXPECT_EQ(out.Video()->height, 240);
    EXPECT_EQ(out.Audio()->sampleRate, 44100);
}

// Catches: a copy join with an audio-less second source writing an output
// with a hole (or failing in the engine after the output was begun), or a
// re-encoding join refusing it.
TEST_F(Faults, SourceWithoutAudioInSecondPlace) {
    const std::string a = Clip("a.flv");
    const std::string mute = Clip("mute.flv", {"--no-audio"});
    const std::string out = Dir.File("out.flv");
    const TRun fast = Check({"-f"}, {a, mute}, out);
    EXPECT_EQ(fast.exit, 1) << fast.text;
    // Refused before anything is written, naming the source and what it
    // lacks.
    EXPECT_NE(fast.text.find(mute + ": lacks the audio of the first file"), std::string::npos)
        << fast.text;
    EXPECT_FALSE(test::PathExists(out));

    const TRun again = Check({}, {a, mute}, out);
    ASSERT_EQ(again.exit, 0) << again.text;
    const test::MediaInfo info = test::ReadMediaInfo(out);
    ASSERT_NE(info.Audio(), nullptr);
    ASSERT_TRUE(info.Audio()->endTime);
    // The silence lasts as long as the second source's pictures.
    EXPECT_NEAR(*info.Audio()->endTime, 4.0, 0.15);
}

// Catches: names that a shell, the libraries' protocol prefixes or a byte
// count for characters would misread.
TEST_F(Faults, OddNames) {
    for (const std::string name : {"with space.flv", "quote's \"here\".flv", "-dash.flv",
                                   "中文 视频.flv", "emoji 🎬.flv", "colon:file.flv"}) {
        SCOPED_TRACE(name);
        const std::string folder = Dir.File("in " + name + ".d");
        std::filesystem::create_directory(folder);
        const std::string a = test::GenerateClip(folder + "/" + name, {"--size", "320x240"});
        const std::string out = folder + "/joined " + name;
        const TRun run = Check({"-f"}, {a, a}, out);
        EXPECT_EQ(run.exit, 0) << run.text;
        const TRun again = Check({"-y"}, {a, a}, out);
        EXPECT_EQ(again.exit, 0) << again.text;
    }
}

// Catches: an output folder that does not exist turning into a library
// error without the name, or an exit 0.
TEST_F(Faults, OutputInAFolderThatDoesNotExist) {
    const std::string a = Clip("a.flv");
    const std::string out = Dir.File("nowhere/out.flv");
    for (const char* mode : {"-f", ""}) {
        SCOPED_TRACE(mode);
        std::vector<std::string> options;
        if (*mode) options.push_back(mode);
        const TRun run = Check(options, {a, a}, out);
        EXPECT_EQ(run.exit, 1) << run.text;
        EXPECT_NE(run.text.find(Dir.File("nowhere")), std::string::npos) << run.text;
        EXPECT_FALSE(test::PathExists(Dir.File("nowhere")));
    }
}

// Catches: a write error of a full disk lost, so that a cut output is
// reported as merged.
TEST_F(Faults, FullDiskEndsWithTheWriteError) {
    const std::string a = Clip("a.flv", {"--duration", "3"});
    for (const char* mode : {"-f", ""}) {
        SCOPED_TRACE(mode);
        std::vector<std::string> options = {"-y"};
        if (*mode) options.push_back(mode);
        const std::string out = Dir.File("out.flv");
        Write(out, "old output");
        const TRun run = Check(options, {a, a, a}, out, {.fileLimit = 60 * 1024});
        EXPECT_EQ(run.exit, 1) << run.text;
        EXPECT_NE(run.text.find(std::strerror(EFBIG)), std::string::npos) << run.text;
        EXPECT_EQ(test::FileContents(out), "old output");
    }
}

// Catches: a stop at an unlucky moment leaving an output without its
// ending (or a half-written file in place of none), or a hang.
TEST_F(Faults, StopSignalsAtRandomMoments) {
    const std::string a = Clip("a.flv", {"--duration", "8", "--bframes", "2"});
    std::mt19937 random(1500);
    int stopped = 0;
    for (int round = 0; round < 6; ++round) {
        const int signal = round % 2 ? SIGTERM : SIGINT;
        const int delay = 150 + int(random() % 1200);
        const bool fast = round % 3 == 0;
        SCOPED_TRACE(std::to_string(round) + ": signal " + std::to_string(signal) + " after " +
                     std::to_string(delay) + " ms" + (fast ? " (fast)" : ""));
        const std::string out = Dir.File("out" + std::to_string(round) + ".flv");
        std::vector<std::string> options;
        if (fast) options.push_back("-f");
        const TRun run = Check(options, {a, a, a}, out, {.signal = signal, .signalAfterMs = delay});
        EXPECT_TRUE(run.exit == 0 || run.exit == 1 || run.exit == 130) << run.text;
        if (run.exit == 130 && test::PathExists(out)) {
            // What was merged has its header and its ending: it reads to a
            // clean end.
            const test::MediaInfo info = test::ReadMediaInfo(out);
            EXPECT_TRUE(info.Ok()) << info.error;
            EXPECT_EQ(info.readError, "");
            EXPECT_NE(info.Video(), nullptr);
        }
        if (run.exit == 130) {
            ++stopped;
            EXPECT_EQ(run.text.find(kSuccess), std::string::npos) << run.text;
        }
    }
    // The moments are early enough for most rounds to stop a merge.
    EXPECT_GE(stopped, 2);
}

// The hidden files in a folder (".NAME.XXXXXX.part").
std::vector<std::string> HiddenFiles(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        if (name.size() > 5 && name[0] == '.' && name.substr(name.size() - 5) == ".part")
            found.push_back(e.path().string());
    }
    return found;
}

// Writes a file into a FIFO or pipe on a thread of its own; the reader may
// stop early (no SIGPIPE then).
class TFeeder {
  public:
    TFeeder(const std::string& fifo, const std::string& file) : FFifo(fifo) {
        std::signal(SIGPIPE, SIG_IGN);
        FThread = std::thread([this, file] {
            const int fd = ::open(FFifo.c_str(), O_WRONLY);
            if (fd < 0) return;
            const std::string bytes = test::FileContents(file);
            for (size_t at = 0; at < bytes.size();) {
                const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
                if (n <= 0) break;
                at += size_t(n);
            }
            ::close(fd);
        });
    }
    ~TFeeder() {
        // A reader that never came: open one so that the writer's open ends.
        const int fd = ::open(FFifo.c_str(), O_RDONLY | O_NONBLOCK);
        FThread.join();
        if (fd >= 0) ::close(fd);
    }

  private:
    std::string FFifo;
    std::thread FThread;
};

// Catches: an output whose name (or folder) holds ':' or a byte that is not
// UTF-8 failing at the MP4 second pass ("av_write_trailer(): Protocol not
// found"), or an FLV one reported merged without its key-frame index.
TEST_F(Faults, OddOutputNamesKeepTheirIndex) {
    const std::string a = Clip("a.flv", {"--duration", "1"});
    const std::string b = Clip("b.flv", {"--duration", "1", "--pattern", "1"});
    const std::string folder = Dir.File("at 10:30");
    std::filesystem::create_directory(folder);
    for (const std::string name :
         {"Meeting 10:30.mp4", "bad\xff name.mp4", "Meeting 10:30.flv", "bad\xff name.flv"}) {
        SCOPED_TRACE(name);
        const std::string out = folder + "/" + name;
        const TRun run = Check({"-f"}, {a, b}, out);
        ASSERT_EQ(run.exit, 0) << run.text;
        AVFormatContext* ic = nullptr;
        ASSERT_EQ(avformat_open_input(&ic, ("file:" + out).c_str(), nullptr, nullptr), 0);
        avformat_find_stream_info(ic, nullptr);
        int entries = 0;
        for (unsigned i = 0; i < ic->nb_streams; ++i)
            if (ic->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
                entries = avformat_index_get_entries_count(ic->streams[i]);
        avformat_close_input(&ic);
        if (name.find(".flv") != std::string::npos) {
            // onMetaData's key-frame index: one per second of each source.
            EXPECT_GE(entries, 2);
            EXPECT_NE(test::FileContents(out).find("filepositions"), std::string::npos)
                << "no key-frame index";
        } else {
            const std::string bytes = test::FileContents(out);
            const size_t moov = bytes.find("moov"), mdat = bytes.find("mdat");
            ASSERT_NE(moov, std::string::npos);
            EXPECT_LT(moov, mdat) << "index behind the media";
        }
        EXPECT_TRUE(HiddenFiles(folder).empty());
    }
}

// Catches: a FIFO or pipe source opened for a survey first (which drains
// it) and then again for the merge, hanging for ever, in either mode.
TEST_F(Faults, FifoAndPipeSourcesInBothModes) {
    const std::string a = Clip("a.flv", {"--duration", "1"});
    const std::string b = Clip("b.flv", {"--duration", "1", "--pattern", "1"});
    const std::string fifo = Dir.File("in.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const char* mode : {"-f", "--auto", ""}) {
        SCOPED_TRACE(mode);
        const std::string out = Dir.File("fifo.flv");
        std::vector<std::string> args = {"-y", "-o", out, fifo, b};
        if (*mode) args.insert(args.begin(), mode);
        TRun run;
        {
            TFeeder feed(fifo, a);
            run = Join(args, {}, 60);
        }
        ASSERT_EQ(run.exit, 0) << run.text;
        const test::MediaInfo info = test::ReadMediaInfo(out);
        ASSERT_TRUE(info.Ok()) << info.error;
        ASSERT_NE(info.Video(), nullptr);
        EXPECT_NEAR(double(info.Video()->packets), 50, 2);
    }
    // A pipe handed down as /dev/fd/N.
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    ::fcntl(fds[0], F_SETFD, 0);
    const std::string out = Dir.File("pipe.flv");
    std::thread writer([&] {
        const std::string bytes = test::FileContents(a);
        (void)!::write(fds[1], bytes.data(), bytes.size());
        ::close(fds[1]);
    });
    const TRun run = Join({"-f", "-y", "-o", out, "/dev/fd/" + std::to_string(fds[0]), b}, {}, 60);
    ::close(fds[0]);
    writer.join();
    ASSERT_EQ(run.exit, 0) << run.text;
    const test::MediaInfo info = test::ReadMediaInfo(out);
    ASSERT_NE(info.Video(), nullptr);
    EXPECT_EQ(info.Video()->packets, 50);
}

// Catches: Ctrl-C or SIGTERM while a source is still being opened doing
// nothing (a FIFO whose writer is silent), or replacing the old output with
// a file that holds no media; the message must say nothing was merged.
TEST_F(Faults, StopBeforeAnyMediaKeepsTheOldOutput) {
    const std::string b = Clip("b.flv", {"--duration", "1"});
    const std::string fifo = Dir.File("silent.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A writer that never writes.
    const int hold = ::open(fifo.c_str(), O_RDWR);
    ASSERT_GE(hold, 0);
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        const std::string out = Dir.File("out.flv");
        Write(out, "old output");
        const TRun run =
            Join({"-f", "-y", "-o", out, fifo, b}, {.signal = signal, .signalAfterMs = 800}, 30);
        EXPECT_EQ(run.exit, 130) << run.text;
        EXPECT_NE(run.text.find("nothing was merged"), std::string::npos) << run.text;
        EXPECT_EQ(test::FileContents(out), "old output");
        EXPECT_TRUE(HiddenFiles(Dir.Path()).empty());
    }
    ::close(hold);
}

// Catches: a signal that comes once the merged file is in place (during
// the check before the sources are deleted) turning the success into 130.
TEST_F(Faults, SignalAfterTheOutputIsInPlaceKeepsTheSuccess) {
    const std::string clip = Clip("a.flv", {"--duration", "3"});
    int late = 0;
    for (int round = 0; round < 3; ++round) {
        std::vector<std::string> sources;
        for (int k = 0; k < 3; ++k) {
            sources.push_back(Dir.File("s" + std::to_string(round) + std::to_string(k) + ".flv"));
            std::filesystem::copy_file(clip, sources.back());
        }
        const std::string out = Dir.File("late" + std::to_string(round) + ".flv");
        std::vector<std::string> args = {"-f", "--delete-sources", "-o", out};
        args.insert(args.end(), sources.begin(), sources.end());
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            test::ExecJoin(args, {.output = fds[1], .folder = {}, .fileLimit = 0});
        }
        ::close(fds[1]);
        int status = 0;
        bool ended = false;
        for (int i = 0; i < 6000 && !ended; ++i) {
            if (test::PathExists(out)) {
                ended = ::waitpid(pid, &status, WNOHANG) == pid;
                if (!ended) {
                    ::kill(pid, SIGINT);
                    ++late;
                }
                break;
            }
            ended = ::waitpid(pid, &status, WNOHANG) == pid;
            ::usleep(2000);
        }
        if (!ended) ::waitpid(pid, &status, 0);
        std::string text;
        char buf[4096];
        ssize_t n;
        while ((n = ::read(fds[0], buf, sizeof buf)) > 0) text.append(buf, size_t(n));
        ::close(fds[0]);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << text;
        EXPECT_NE(text.find(kSuccess), std::string::npos) << text;
        EXPECT_TRUE(test::ReadMediaInfo(out).Ok());
    }
    EXPECT_GE(late, 1) << "no signal came while the output was being checked";
}

// Catches: the hidden file of a killed merge left beside the output for
// ever, or a later merge removing the hidden file of one still running.
TEST_F(Faults, KilledMergesHiddenFileIsRemovedByTheNextMerge) {
    const std::string a = Clip("a.flv", {"--duration", "1"});
    const std::string fifo = Dir.File("silent.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int hold = ::open(fifo.c_str(), O_RDWR);
    ASSERT_GE(hold, 0);
    const std::string out = Dir.File("out.flv");
    const pid_t killed = ::fork();
    if (killed == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        test::ExecJoin({"-f", "-o", out, fifo}, {.output = null, .folder = {}, .fileLimit = 0});
    }
    std::vector<std::string> left;
    for (int i = 0; i < 3000 && left.empty(); ++i) {
        ::usleep(5000);
        left = HiddenFiles(Dir.Path());
    }
    ::kill(killed, SIGKILL);
    ::waitpid(killed, nullptr, 0);
    ::close(hold);
    ASSERT_EQ(left.size(), 1u);
    ASSERT_TRUE(test::PathExists(left[0]));
    // A merge still running holds a lock on its file.
    const std::string live = Dir.File(".out.flv.abc123.part");
    const int liveFd = ::open(live.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(liveFd, 0);
    ASSERT_EQ(::flock(liveFd, LOCK_EX | LOCK_NB), 0);
    const TRun run = Join({"-f", "-y", "-o", out, a, a});
    EXPECT_EQ(run.exit, 0) << run.text;
    EXPECT_FALSE(test::PathExists(left[0])) << "the killed merge's file is still there";
    EXPECT_TRUE(test::PathExists(live)) << "a running merge's file was removed";
    ::close(liveFd);
}

// Catches: a source with a thousand streams analysed (gigabytes of memory,
// many seconds) instead of refused at once with its name and the count.
TEST_F(Faults, SourceWithTooManyStreamsIsRefused) {
    const std::string many = Clip("many.mp4", {"--duration", "1", "--tracks", "999"});
    const std::string out = Dir.File("out.flv");
    const TRun run = Check({"-f"}, {many, many}, out);
    EXPECT_EQ(run.exit, 1) << run.text;
    EXPECT_NE(run.text.find("many.mp4: 1000 streams"), std::string::npos) << run.text;
    EXPECT_FALSE(test::PathExists(out));
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    EXPECT_LT(usage.ru_maxrss, 400 * 1024) << "kB at the peak of a child";
}

}  // namespace
}  // namespace tw
