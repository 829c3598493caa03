// app/cli/main.cpp — tarnwick-join: merge video files into one file (FLV,
// MP4, Matroska or MPEG-TS) from the command line, through the same driver
// as the window.
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/EncodingTable.h"
#include "app/JoinDriver.h"
#include "app/OutputContainer.h"
#include "app/PendingOutput.h"
#include "app/cli/Options.h"
#include "binding/Entries.h"
#include "binding/FFLoad.h"
#include "binding/LibPtr.h"
#include "binding/UnicodeProtocol.h"
#include "diag/FFLog.h"
#include "diag/MainThread.h"
#include "diag/ThreadName.h"

using namespace tw;

namespace {

constexpr const char* kUsage =
    "Usage: tarnwick-join [OPTION]... -o OUTPUT [--] INPUT...\n"
    "  or:  tarnwick-join --probe INPUT...\n"
    "\n"
    "Joins the INPUT files, in order, into one file OUTPUT. Its extension picks the\n"
    "container: .flv .f4v FLV, .mp4 .m4v .mov MP4, .mkv Matroska, .ts MPEG-TS; any\n"
    "other FLV.\n"
    "\n"
    "Mandatory arguments to long options are mandatory for short options too.\n"
    "  -o, --output=FILE   the file to write (OUTPUT)\n"
    "  -f, --fast          copy the compressed streams (the sources must share one encoding)\n"
    "                      instead of re-encoding to H.264 and AAC\n"
    "      --auto          copy when the sources share one encoding that the container\n"
    "                      can hold, re-encode otherwise\n"
    "  -y, --overwrite     replace an existing OUTPUT without asking\n"
    "      --delete-sources  delete the sources once the merged file has been checked\n"
    "      --threads=N     decoder and encoder threads of a re-encoding merge, 1 to 256\n"
    "                      (default: the libraries' own choice)\n"
    "      --format=NAME   the container, whatever the extension: flv, mp4, mov, mkv, ts\n"
    "  -q, --quiet         print nothing but errors\n"
    "  -v, --verbose       show the libraries' log (repeat for more)\n"
    "      --check         with --fast: refuse sources whose encodings differ, without\n"
    "                      asking\n"
    "      --force         with --fast: copy sources whose encodings differ (exit\n"
    "                      status 3); otherwise they are refused, or on a terminal\n"
    "                      you are asked\n"
    "      --probe         print the encoding table of the sources and exit\n"
    "      --chapters-per-source  one chapter per source, titled with its file name\n"
    "                      (MP4, MOV and MKV outputs; the sources' own chapters are\n"
    "                      always kept, shifted to where each source starts)\n"
    "  -h, --help          display this help and exit\n"
    "      --version       output version information and exit\n"
    "  --                  the arguments that follow are files\n"
    "\n"
    "Long options may be abbreviated while they stay unambiguous.\n"
    "\n"
    "Exit status:\n"
    "  0    merged\n"
    "  1    an error (the message on standard error)\n"
    "  2    a bad command line\n"
    "  3    merged, but you must act: the sources were kept because the check\n"
    "       before deleting them failed (or one could not be deleted), or sources\n"
    "       whose encodings differ were copied (--force, or yes at the question)\n"
    "  130  stopped by Ctrl-C or SIGTERM\n";

std::atomic<bool> gStop{false};
std::atomic<int> gSignals{0};
// Set once the merge runs (the driver waits for it): a stop from then on
// ends it with a proper ending. Before, nothing has been written yet (the
// main thread may be blocked in an open), and a signal ends the program.
std::atomic<bool> gMerging{false};
// The output's name for the signal thread; set before gHaveOutput.
char gOutputName[PATH_MAX];
std::atomic<bool> gHaveOutput{false};

// What a stop before anything was merged tells: the old output is as it was.
void TellNothingMerged() {
    struct stat st;
    if (!gHaveOutput) return (void)(isatty(STDERR_FILENO) && ::write(STDERR_FILENO, "\n", 1));
    std::fprintf(stderr, "%sstopped: nothing was merged; %s %s\n",
                 isatty(STDERR_FILENO) ? "\n" : "", gOutputName,
                 ::stat(gOutputName, &st) == 0 ? "is unchanged" : "was not written");
    std::fflush(stderr);
}

// True once Ctrl-C or SIGTERM came, also while the signal thread has not
// taken it yet.
bool StopSignalled() {
    if (gSignals > 0) return true;
    sigset_t pending;
    return sigpending(&pending) == 0 &&
           (sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1);
}

// Ctrl-C and SIGTERM are taken by a thread of their own (sigwait), which can
// wake the main thread's wait at once; a signal handler could not. Until a
// merge runs (at the prompt, while probing, while the sources are opened,
// the main thread perhaps blocked in a read) and at a second signal the
// program ends from here, leaving no hidden file and an old output as it
// was; otherwise the merge is stopped with a proper ending. Once the merged
// file is in place a signal only keeps the sources (the merge succeeded).
void WatchStopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set] {
        NameThisThread("tw-signals");
        for (;;) {
            int sig = 0;
            if (sigwait(&set, &sig) != 0) continue;
            if ((++gSignals > 1 || !gMerging) && TPendingOutput::RemoveAllNow()) {
                TellNothingMerged();
                ::_exit(130);
            }
            gStop = true;
            WakeMainThread();
        }
    }).detach();
}

struct TArgs {
    bool Fast = false, Auto = false, Overwrite = false, DeleteSources = false, Quiet = false;
    bool Check = false, Force = false, Probe = false, ChaptersPerSource = false;
    int Threads = kAutoThreads;
    int Verbose = 0;
    std::string Output, Format;
    std::vector<std::string> Inputs;
};

// A mistake on the command line: one line naming it and where help is, so
// that the reason does not scroll away behind the whole usage.
int Usage(const std::string& problem) {
    std::fprintf(stderr, "tarnwick-join: %s\nTry 'tarnwick-join --help' for more information.\n",
                 problem.c_str());
    return 2;
}

// The long option an argument names ("--fas=1" -> "--fast"), as getopt_long
// matches it: exact, else the one option it abbreviates. "" when none or
// several; the candidates then in matches.
std::string LongOptionNamed(const std::string& arg, std::vector<std::string>& matches) {
    const std::string name = arg.substr(2, arg.find('=') - 2);
    matches.clear();
    for (const option* o = cli::kLongOptions; o->name; ++o) {
        if (name == o->name) {
            matches = {"--" + name};
            return matches[0];
        }
        if (std::strncmp(o->name, name.c_str(), name.size()) == 0)
            matches.push_back(std::string("--") + o->name);
    }
    return matches.size() == 1 ? matches[0] : std::string();
}

// The words of getopt_long's refusals; opterr is off so that they come in
// the program's own form, one line each.
std::string OptionProblem(int code, char** argv) {
    // A long option that failed was the last argument taken.
    const std::string last = optind > 0 ? argv[optind - 1] : "";
    const bool wasLong = last.rfind("--", 0) == 0 && last.size() > 2;
    std::vector<std::string> matches;
    if (code == ':') {
        switch (optopt) {
            case 'o':
                return "-o (--output) needs a file name";
            case cli::optThreads:
                return "--threads needs a number";
            case cli::optFormat:
                return "--format needs a container name";
            default:
                return "an option needs an argument";
        }
    }
    if (optopt == 0 && wasLong) {
        const std::string name = last.substr(0, last.find('='));
        LongOptionNamed(last, matches);
        if (matches.size() > 1) {
            std::string list;
            for (const std::string& m : matches) list += " '" + m + "'";
            return "option '" + name + "' is ambiguous; possibilities:" + list;
        }
        return "unrecognized option '" + name + "'";
    }
    if (wasLong && last.find('=') != std::string::npos && !LongOptionNamed(last, matches).empty())
        return "option '" + matches[0] + "' doesn't allow an argument";
    if (optopt > 0 && optopt < 256)
        return std::string("invalid option -- '") + char(optopt) +
               "' (a file whose name starts with '-': put -- before it)";
    return "bad option " + last;
}

class TCommandLineUser : public TJoinUser {
  public:
    explicit TCommandLineUser(const TArgs& args) : FArgs(args) {}
    bool AskYesNo(const std::string& text) override {
        if (FArgs.Overwrite) return true;
        if (isatty(STDIN_FILENO) && isatty(STDERR_FILENO)) {
            std::fprintf(stderr, "%s [y/N] ", text.c_str());
            std::string answer;
            std::getline(std::cin, answer);
            // Ctrl-C then "y": the signal thread is ending the program.
            while (StopSignalled()) ::pause();
            if (answer == "y" || answer == "Y" || answer == "yes") return true;
        }
        Messages.push_back(text + " no: use -y (--overwrite) to replace it");
        return false;
    }
    void Tell(const std::string& text) override { Messages.push_back(text); }
    // After a merge a warning means the sources were kept: the check of the
    // merged file failed, or a source could not be deleted. Unless the user
    // stopped (keeping them is then what was asked), someone has to look,
    // so it goes to standard error and the exit status says so.
    void Notify(TNoticeKind kind, const std::string& text) override {
        if (kind != nkWarning) return Tell(text);
        if (!StopRequested()) MustAct = true;
        std::fprintf(stderr, "tarnwick-join: %s\n", text.c_str());
    }
    bool StopRequested() override { return gStop; }
    bool Notice(const std::string& text) override {
        Warn(text);
        return true;
    }
    void Warn(const std::string& text) override {
        if (!FArgs.Quiet) std::fprintf(stderr, "warning: %s\n", text.c_str());
    }
    void SetStateText(const std::string& text) override {
        if (FArgs.Quiet) return;
        if (text.empty()) {
            if (FShown && isatty(STDERR_FILENO)) std::fprintf(stderr, "\r\033[K");
            FShown = false;
            return;
        }
        if (isatty(STDERR_FILENO)) {
            std::fprintf(stderr, "\r\033[K%s", text.c_str());
            FShown = true;
        } else {
            const auto now = std::chrono::steady_clock::now();
            if (now - FLast < std::chrono::seconds(2)) return;
            FLast = now;
            std::fprintf(stderr, "%s\n", text.c_str());
        }
    }
    std::vector<std::string> Messages;
    bool MustAct = false;

  private:
    const TArgs& FArgs;
    bool FShown = false;
    std::chrono::steady_clock::time_point FLast{};
};

std::string ProgressLine(const TProgressInfo& info, std::chrono::steady_clock::time_point start) {
    const int64_t current = info.CurrentTime >= kNoCurrentTime ? 0 : info.CurrentTime;
    const int64_t total = info.TotalDuration;
    const double fraction = total > 0 ? std::min(1.0, double(current) / total) : 0.0;
    std::string bar(20, ' ');
    for (int i = 0; i < int(fraction * 20); ++i) bar[i] = '#';
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char line[256];
    std::snprintf(line, sizeof line, "[%s] %3d%% %s / %s %lld kB %.1fx", bar.c_str(),
                  int(fraction * 100), SecondsToHMS(int(current / 1000000)).c_str(),
                  total > 0 ? SecondsToHMS(int(total / 1000000)).c_str() : "--:--:--",
                  static_cast<long long>(info.TotalSize / 1024),
                  wall > 0 ? current / 1e6 / wall : 0.0);
    return line;
}

// A missing or unreadable input, told before anything is opened.
std::string InputProblem(const std::string& file) {
    struct stat st;
    if (::stat(file.c_str(), &st) != 0) return file + ": " + std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return file + ": " + std::strerror(EISDIR);
    if (::access(file.c_str(), R_OK) != 0) return file + ": " + std::strerror(errno);
    return {};
}

// The byte offset of the first whole FLV tag at or after from (a tag whose
// size the back pointer after it repeats, followed by another tag or the
// end), -1 when none is found in the next 256 kB. Reads through the
// source's own I/O context; its position is left anywhere.
int64_t FlvTagAfter(AVFormatContext* ic, int64_t from) {
    std::vector<uint8_t> b(256 * 1024);
    if (lib().avio_seek(ic->pb, from, SEEK_SET) < 0) return -1;
    const int got = lib().avio_read(ic->pb, b.data(), static_cast<int>(b.size()));
    if (got <= 0) return -1;
    const size_t n = static_cast<size_t>(got);
    auto be = [&](size_t at, int bytes) {
        uint32_t v = 0;
        for (int i = 0; i < bytes; ++i) v = (v << 8) | b[at + i];
        return v;
    };
    auto tagAt = [&](size_t p) {
        if (p + 11 > n) return false;
        const int type = b[p] & 0x1f;
        if ((type != 8 && type != 9 && type != 18) || be(p + 8, 3) != 0) return false;
        const size_t end = p + 11 + be(p + 1, 3);
        return end + 4 <= n && be(end, 4) == end - p;
    };
    for (size_t p = 0; p + 11 <= n; ++p) {
        if (!tagAt(p)) continue;
        const size_t next = p + 11 + be(p + 1, 3) + 4;
        if (next + 11 > n || tagAt(next)) return from + static_cast<int64_t>(p);
    }
    return -1;
}

// How far an opened source falls short of the duration its header gives, in
// microseconds (0 when it does not, or the header gives none): a file cut
// off while it was copied or recorded.
int64_t MissingTime(TFFDecoder& d) {
    AVFormatContext* ic = d.FormatContext();
    if (!ic || ic->duration <= 0 || ic->duration == AV_NOPTS_VALUE ||
        ic->duration_estimation_method != AVFMT_DURATION_FROM_STREAM)
        return 0;
    const int64_t start = ic->start_time == AV_NOPTS_VALUE ? 0 : ic->start_time;
    // The end is read from a few seconds before the announced one, or from
    // where probing stopped when the file cannot seek there. An FLV file
    // without a key-frame index has nothing to seek by time with: the
    // library would read the whole file up to there. Its last bytes are
    // read instead (those of about ten seconds at the file's average rate,
    // at least 64 kB), from the first whole tag among them: its demuxer
    // does not find the next tag by itself.
    const int64_t target = start + ic->duration - 5 * int64_t(AV_TIME_BASE);
    const std::string format = ic->iformat ? ic->iformat->name : "";
    const int64_t size = ic->pb ? lib().avio_size(ic->pb) : -1;
    if (format == "flv" && size > 0 && target > start) {
        const int64_t tail = std::max<int64_t>(
            int64_t(64) << 10, lib().av_rescale(size, 10 * int64_t(AV_TIME_BASE), ic->duration));
        const int64_t tag = size > tail ? FlvTagAfter(ic, size - tail) : -1;
        if (tag < 0 || lib().av_seek_frame(ic, -1, tag, AVSEEK_FLAG_BYTE) < 0)
            lib().av_seek_frame(ic, -1, target, AVSEEK_FLAG_BACKWARD);
    } else if (target > start) {
        lib().av_seek_frame(ic, -1, target, AVSEEK_FLAG_BACKWARD);
    }
    PacketPtr pkt(lib().av_packet_alloc());
    if (!pkt) return 0;
    int64_t end = AV_NOPTS_VALUE;
    while (lib().av_read_frame(ic, pkt.get()) >= 0) {
        const AVStream* st = ic->streams[pkt->stream_index];
        const int64_t t = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        if (t != AV_NOPTS_VALUE) {
            const int64_t e = lib().av_rescale_q(t + std::max<int64_t>(pkt->duration, 0),
                                                 st->time_base, AVRational{1, AV_TIME_BASE});
            end = end == AV_NOPTS_VALUE ? e : std::max(end, e);
        }
        lib().av_packet_unref(pkt.get());
    }
    if (end == AV_NOPTS_VALUE) return 0;
    const int64_t missing = start + ic->duration - end;
    // Less than half a second is the rounding of headers and last frames.
    return missing > AV_TIME_BASE / 2 ? missing : 0;
}

std::string Seconds(int64_t us) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", us / 1e6);
    return text;
}

// The first value in which a source differs from the first one, as
// "profile Main / High (b.flv)"; "" when all agree.
std::string FirstDifference(const std::vector<TSourceFacts>& sources) {
    if (sources.empty()) return {};
    const std::vector<std::string> first = EncodingValues(sources[0]);
    for (size_t i = 1; i < sources.size(); ++i) {
        const std::vector<std::string> v = EncodingValues(sources[i]);
        for (size_t c = 0; c < v.size(); ++c)
            if (v[c] != first[c])
                return EncodingHeads()[c] + " " + v[c] + " / " + first[c] + " (" + sources[i].File +
                       ")";
    }
    return {};
}

int TerminalWidth(int fd) {
    struct winsize ws;
    if (isatty(fd) && ::ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col >= 40) return ws.ws_col;
    return 80;
}

// The libraries' log: shown as it comes with -v, else kept (the last lines)
// and shown only when the merge fails. Any thread.
class TLogCapture {
  public:
    explicit TLogCapture(int verbose) : FVerbose(verbose) {}
    void Add(TLogLevel level, const std::string& text) {
        std::string line = text;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        if (line.empty()) return;
        std::lock_guard<std::mutex> hold(FLock);
        if (FVerbose > 0) {
            std::fprintf(stderr, "%s\n", line.c_str());
            return;
        }
        if (level > llWarning) return;
        FLines.push_back(line);
        if (FLines.size() > 40) FLines.pop_front();
    }
    void PrintKept() {
        std::lock_guard<std::mutex> hold(FLock);
        for (const std::string& line : FLines) std::fprintf(stderr, "%s\n", line.c_str());
        FLines.clear();
    }

  private:
    const int FVerbose;
    std::mutex FLock;
    std::deque<std::string> FLines;
};

// A yes on the terminal to a question; no without one.
bool TerminalSaysYes(const std::string& question) {
    if (!isatty(STDIN_FILENO) || !isatty(STDERR_FILENO)) return false;
    std::fprintf(stderr, "%s [y/N] ", question.c_str());
    std::string answer;
    std::getline(std::cin, answer);
    // Ctrl-C then "y": the signal thread is ending the program.
    while (StopSignalled()) ::pause();
    return answer == "y" || answer == "Y" || answer == "yes";
}

// Copy or re-encode, from the facts of every source: prints the --auto
// choice, or for a fast merge of sources that differ the table; returns the
// refusal ("" when the merge goes on) and sets fast. Sources that differ
// are copied only with --force or a yes on the terminal (mayAsk): such a
// merge may not play, so forced is set and the exit status says so.
std::string ChooseMode(const std::vector<TSourceFacts>& facts, const TArgs& args,
                       const std::string& container, bool mayAsk, bool& fast, bool& forced) {
    std::vector<TEncodingSource> table;
    for (const TSourceFacts& f : facts) table.push_back(TEncodingSource{f, {}});
    bool same = false;
    const std::string tableText = EncodingTableText(table, TerminalWidth(STDERR_FILENO), same);
    fast = args.Fast;
    if (args.Auto) {
        const std::string problem = FastMergeProblem(facts, container);
        const std::string difference = FirstDifference(facts);
        fast = problem.empty() && difference.empty();
        if (!args.Quiet)
            std::printf(
                "--auto: %s\n",
                fast ? "fast merge (the sources share one encoding)"
                : !difference.empty()
                    ? ("re-encoding: the sources are encoded differently: " + difference).c_str()
                    : ("re-encoding: " + problem).c_str());
        std::fflush(stdout);
    } else if (args.Fast && !same) {
        // The table shows every value that differs; the message the first.
        std::fputs(tableText.c_str(), stderr);
        const std::string difference = FirstDifference(facts);
        if (args.Check)
            return "the sources are encoded differently (marked *): refusing a fast merge";
        // Sources no copy can join are refused by the merge itself, with its
        // own reason: nothing to ask or force.
        if (!FastMergeProblem(facts, container).empty()) return {};
        const std::string why = "the sources are encoded differently (" +
                                (difference.empty() ? std::string("marked *") : difference) + ")";
        if (!args.Force && !(mayAsk && TerminalSaysYes(why + "; copy them anyway?")))
            return "tarnwick-join: refusing a fast merge: " + why +
                   "; merge without -f to re-encode them, or add --force to copy them";
        forced = true;
        std::fprintf(stderr,
                     "warning: the sources are encoded differently (marked *); the "
                     "fast merge may not play correctly\n");
    }
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    // Before any other thread exists, so that every thread inherits the mask.
    WatchStopSignals();
    TArgs args;
    // Errors are worded here (OptionProblem); permutation is kept, so options
    // may follow the inputs, and "--" ends the options.
    opterr = 0;
    for (;;) {
        const int c = getopt_long(argc, argv, cli::kShortOptions, cli::kLongOptions, nullptr);
        if (c == -1) break;
        switch (c) {
            case 'h':
                std::printf("%s", kUsage);
                return 0;
            case cli::optVersion:
                std::printf("tarnwick-join %s\n", TARNWICK_VERSION);
                return 0;
            case 'f':
                args.Fast = true;
                break;
            case cli::optAuto:
                args.Auto = true;
                break;
            case 'y':
                args.Overwrite = true;
                break;
            case cli::optDeleteSources:
                args.DeleteSources = true;
                break;
            case 'q':
                args.Quiet = true;
                break;
            case 'v':
                ++args.Verbose;
                break;
            case cli::optCheck:
                args.Check = true;
                break;
            case cli::optForce:
                args.Force = true;
                break;
            case cli::optProbe:
                args.Probe = true;
                break;
            case cli::optChaptersPerSource:
                args.ChaptersPerSource = true;
                break;
            case 'o':
                args.Output = optarg;
                break;
            case cli::optThreads: {
                char* end = nullptr;
                errno = 0;
                const long n = std::strtol(optarg, &end, 10);
                if (!*optarg || *end || errno || n < 1 || n > 256)
                    return Usage(std::string("bad thread count '") + optarg + "' (1 to 256)");
                args.Threads = static_cast<int>(n);
                break;
            }
            case cli::optFormat:
                args.Format = optarg;
                if (ContainerFor("", args.Format).empty())
                    return Usage("unknown container " + args.Format + " (flv, mp4, mov, mkv, ts)");
                break;
            default:
                return Usage(OptionProblem(c, argv));
        }
    }
    for (int i = optind; i < argc; ++i) args.Inputs.push_back(argv[i]);
    if (args.Inputs.empty()) return Usage("no input files");
    if (args.Output.empty() && !args.Probe) return Usage("no output file (-o)");
    if (args.Fast && args.Auto) return Usage("--fast and --auto exclude each other");
    // --check compares before a copy; --auto compares anyway and re-encodes
    // sources that differ, and a re-encoding merge has nothing to refuse.
    if (args.Check && !args.Fast) return Usage("--check needs -f (--fast)");
    if (args.Force && !args.Fast) return Usage("--force needs -f (--fast)");
    if (args.Check && args.Force) return Usage("--check and --force exclude each other");
    // A missing input is told before anything else happens, whatever the mode.
    if (!args.Probe)
        for (const auto& f : args.Inputs)
            if (const std::string why = InputProblem(f); !why.empty()) {
                std::fprintf(stderr, "tarnwick-join: %s\n", why.c_str());
                return 1;
            }

    TFFEncoder encoder;
    if (!encoder.LibrariesLoaded() && !encoder.LoadLibraries(GetLibraryFolder())) {
        std::fprintf(stderr, "%s\n", encoder.LastError.c_str());
        return 1;
    }
    TLogCapture log(args.Verbose);
    FFLogger()->TriggerEventInMainThread = false;
    FFLogger()->OnLog = [&log](TLogSender, uint32_t, TLogLevel level, const std::string& text) {
        log.Add(level, text);
    };
    FFLogger()->SetLogLevel(args.Verbose >= 3   ? llDebug
                            : args.Verbose == 2 ? llVerbose
                            : args.Verbose == 1 ? llInfo
                                                : llWarning);
    if (args.Verbose == 0) encoder.TaskVerbose = -1;
    const std::string container = ContainerFor(args.Output, args.Format);
    if (args.ChaptersPerSource && !args.Probe && container != "mp4" && container != "mov" &&
        container != "matroska")
        return Usage("--chapters-per-source: " + container +
                     " holds no chapters (use .mp4, .mov or .mkv)");

    // Every source is opened once before the merge: the same message for an
    // unreadable file in both modes, the table, the truncation warning. A
    // source that can be read only once (a FIFO, a pipe) is left to the
    // merge, which tells its facts once it has opened it.
    std::vector<TEncodingSource> table;
    std::vector<TSourceFacts> facts;
    std::string firstError;
    bool readOnce = false;
    for (const auto& f : args.Inputs) {
        TEncodingSource row;
        row.Facts.File = f;
        TFFDecoder d;
        if (!args.Probe && IsReadOnceFile(f)) {
            readOnce = true;
        } else if (!d.LoadFile(f)) {
            row.Error = "LoadFile Error: " + d.LastError;
            if (firstError.empty()) firstError = f + ": " + row.Error;
        } else {
            row.Facts = SurveySource(d.FormatContext(), f);
            if (!args.Probe)
                if (const int64_t missing = MissingTime(d); missing > 0 && !args.Quiet)
                    std::fprintf(stderr,
                                 "warning: %s ends at %s of the %s its header gives: %s "
                                 "missing (a truncated file?)\n",
                                 f.c_str(), Seconds(row.Facts.Duration - missing).c_str(),
                                 Seconds(row.Facts.Duration).c_str(), Seconds(missing).c_str());
        }
        facts.push_back(row.Facts);
        table.push_back(std::move(row));
    }
    bool same = false;
    if (args.Probe) {
        std::fputs(EncodingTableText(table, TerminalWidth(STDOUT_FILENO), same).c_str(), stdout);
        return firstError.empty() ? 0 : 1;
    }
    if (!firstError.empty()) {
        std::fprintf(stderr, "tarnwick-join: %s\n", firstError.c_str());
        return 1;
    }
    bool forced = false;
    if (!readOnce) {
        const std::string refusal = ChooseMode(facts, args, container, true, args.Fast, forced);
        if (!refusal.empty()) {
            std::fprintf(stderr, "%s\n", refusal.c_str());
            return 1;
        }
    }

    TCommandLineUser user(args);
    const auto start = std::chrono::steady_clock::now();
    encoder.OnProgress = [&](TCustomEncoder*, PProgressInfo info) {
        user.SetStateText(ProgressLine(*info, start));
    };
    TJoinSettings settings;
    settings.FastJoin = args.Fast;
    settings.DeleteSources = args.DeleteSources;
    settings.Threads = args.Threads;
    settings.Container = container;
    if (readOnce) {
        // Decided once the merge has opened every source. A re-encode
        // needs the decoders' threads at the open; a copy does not mind them.
        settings.FastJoin = args.Fast && !args.Auto;
        settings.CheckSources = [&](const std::vector<TSourceFacts>& opened, bool& fast,
                                    std::string& message) {
            // The merge has begun: no question now.
            message = ChooseMode(opened, args, container, false, fast, forced);
            return message.empty();
        };
    }
    std::snprintf(gOutputName, sizeof gOutputName, "%s", args.Output.c_str());
    gHaveOutput = true;
    settings.ChaptersPerSource = args.ChaptersPerSource;
    bool stopping = false;
    const auto stopOnSignal = [&] {
        gMerging = true;
        if (gStop && !stopping) {
            stopping = true;
            encoder.Stop(true);
        }
    };
    switch (MergeWithChecks(user, encoder, args.Inputs, args.Output, settings, stopOnSignal)) {
        case jrStopped:
            std::fprintf(stderr, "stopped: %s keeps what was merged so far\n", args.Output.c_str());
            return 130;
        case jrStoppedEmpty:
            TellNothingMerged();
            return 130;
        case jrError:
            // A failed merge leaves nothing behind and an old output as it was.
            log.PrintKept();
            for (const auto& m : user.Messages) std::fprintf(stderr, "%s\n", m.c_str());
            return 1;
        case jrDone:
            break;
    }
    if (!args.Quiet) {
        for (const auto& m : user.Messages) std::printf("%s\n", m.c_str());
        TFFDecoder probe;
        struct stat st;
        if (probe.LoadFile(args.Output) && ::stat(args.Output.c_str(), &st) == 0)
            std::printf("%s: %s, %lld bytes\n", args.Output.c_str(),
                        SecondsToHMS(int(probe.FormatContext()->duration / 1000000)).c_str(),
                        static_cast<long long>(st.st_size));
    }
    return user.MustAct || forced ? 3 : 0;
}
