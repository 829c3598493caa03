// app/cli/main.cpp — tarnwick-join: merge video files into one FLV from the
// command line, through the same driver as the window.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "app/JoinDriver.h"
#include "binding/Entries.h"
#include "binding/FFLoad.h"
#include "diag/FFLog.h"
#include "diag/MainThread.h"

using namespace tw;

namespace {

constexpr const char* kUsage =
    "usage: tarnwick-join [-f|--fast] [-y|--overwrite] [--delete-sources] [--threads N]\n"
    "                     [-q|--quiet] [--check] [--probe] -o OUTPUT INPUT...\n"
    "\n"
    "Joins the INPUT files, in order, into one FLV file OUTPUT.\n"
    "  -f, --fast          copy the compressed streams (the sources must share one encoding)\n"
    "                      instead of re-encoding to H.264 and AAC\n"
    "  -y, --overwrite     replace an existing OUTPUT without asking\n"
    "      --delete-sources  delete the sources once the merged file has been checked\n"
    "      --threads N     decoder and encoder threads of a re-encoding merge\n"
    "                      (default: all processors)\n"
    "  -q, --quiet         print nothing but errors\n"
    "      --check         with --fast: refuse sources whose encodings differ\n"
    "      --probe         print the encoding table of the sources and exit\n"
    "  -h, --help          this text\n"
    "      --version       the version\n"
    "\n"
    "Exit status: 0 merged, 1 error, 2 bad command line, 130 stopped.\n";

std::atomic<bool> gStop{false};

// Ctrl-C and SIGTERM are taken by a thread of their own (sigwait), which can
// wake the main thread's wait at once; a signal handler could not.
void WatchStopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set] {
        int sig = 0;
        if (sigwait(&set, &sig) == 0) {
            gStop = true;
            WakeMainThread();
        }
    }).detach();
}

struct TArgs {
    bool Fast = false, Overwrite = false, DeleteSources = false, Quiet = false;
    bool Check = false, Probe = false;
    int Threads = 0;
    std::string Output;
    std::vector<std::string> Inputs;
};

int Usage(const std::string& problem) {
    std::fprintf(stderr, "tarnwick-join: %s\n%s", problem.c_str(), kUsage);
    return 2;
}

// One row of the encoding table: the values that must agree for a lossless join.
std::vector<std::string> EncodingRow(const std::string& file, std::string& error) {
    TFFDecoder d;
    if (!d.LoadFile(file)) {
        error = d.LastError;
        return {};
    }
    std::vector<std::string> row;
    auto par = [&](int index) -> const AVCodecParameters* {
        return index >= 0 ? d.FormatContext()->streams[index]->codecpar : nullptr;
    };
    const AVCodecParameters* v = par(d.FirstVideoStream());
    const AVCodecParameters* a = par(d.FirstAudioStream());
    auto extra = [](const AVCodecParameters* p) {
        if (!p || p->extradata_size == 0) return std::string("-");
        uint32_t h = 2166136261u;
        for (int i = 0; i < p->extradata_size; ++i) h = (h ^ p->extradata[i]) * 16777619u;
        char b[16];
        std::snprintf(b, sizeof b, "%08x", h);
        return std::string(b);
    };
    if (v) {
        const AVStream* st = d.FormatContext()->streams[d.FirstVideoStream()];
        const AVRational r = st->avg_frame_rate.num ? st->avg_frame_rate : st->r_frame_rate;
        char fps[32];
        std::snprintf(fps, sizeof fps, "%.3f", r.den ? double(r.num) / r.den : 0.0);
        const char* pix = lib().av_get_pix_fmt_name(static_cast<AVPixelFormat>(v->format));
        row = {lib().avcodec_get_name(v->codec_id), std::to_string(v->profile),
               std::to_string(v->width) + "x" + std::to_string(v->height),
               std::to_string(v->sample_aspect_ratio.num) + ":" +
                   std::to_string(v->sample_aspect_ratio.den),
               pix ? pix : "-", fps, extra(v)};
    } else {
        row = {"-", "-", "-", "-", "-", "-", "-"};
    }
    if (a) {
        row.insert(row.end(), {lib().avcodec_get_name(a->codec_id), std::to_string(a->profile),
                               std::to_string(a->sample_rate),
                               std::to_string(a->ch_layout.nb_channels), extra(a)});
    } else {
        row.insert(row.end(), {"-", "-", "-", "-", "-"});
    }
    return row;
}

// Prints the table, a '*' after each value that differs from the first
// file's; returns true when everything agrees.
bool EncodingTable(const std::vector<std::string>& files, FILE* out, std::string& error) {
    static const char* kHeads[] = {"video",     "profile", "size",        "sar",      "pix_fmt",
                                   "fps",       "vextra",  "audio",       "aprofile", "rate",
                                   "channels", "aextra"};
    std::vector<std::vector<std::string>> rows;
    for (const auto& f : files) {
        rows.push_back(EncodingRow(f, error));
        if (rows.back().empty()) {
            error = "LoadFile Error: " + error;
            return false;
        }
    }
    bool same = true;
    std::fprintf(out, "%-28s", "file");
    for (const char* h : kHeads) std::fprintf(out, " %-12s", h);
    std::fprintf(out, "\n");
    for (size_t r = 0; r < rows.size(); ++r) {
        std::string name = files[r];
        if (name.size() > 27) name = "..." + name.substr(name.size() - 24);
        std::fprintf(out, "%-28s", name.c_str());
        for (size_t c = 0; c < rows[r].size(); ++c) {
            const bool differs = rows[r][c] != rows[0][c];
            same = same && !differs;
            std::fprintf(out, " %-12s", (rows[r][c] + (differs ? "*" : "")).c_str());
        }
        std::fprintf(out, "\n");
    }
    return same;
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
            if (answer == "y" || answer == "Y" || answer == "yes") return true;
        }
        Messages.push_back(text + " no");
        return false;
    }
    void Tell(const std::string& text) override { Messages.push_back(text); }
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

  private:
    const TArgs& FArgs;
    bool FShown = false;
    std::chrono::steady_clock::time_point FLast{};
};

std::string ProgressLine(const TProgressInfo& info, std::chrono::steady_clock::time_point start) {
    const int64_t current = info.CurrentTime >= 10000000000000000LL ? 0 : info.CurrentTime;
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

}  // namespace

int main(int argc, char** argv) {
    // Before any other thread exists, so that every thread inherits the mask.
    WatchStopSignals();
    TArgs args;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::printf("%s", kUsage);
            return 0;
        } else if (a == "--version") {
            std::printf("tarnwick-join %s\n", TARNWICK_VERSION);
            return 0;
        } else if (a == "-f" || a == "--fast") {
            args.Fast = true;
        } else if (a == "-y" || a == "--overwrite") {
            args.Overwrite = true;
        } else if (a == "--delete-sources") {
            args.DeleteSources = true;
        } else if (a == "-q" || a == "--quiet") {
            args.Quiet = true;
        } else if (a == "--check") {
            args.Check = true;
        } else if (a == "--probe") {
            args.Probe = true;
        } else if (a == "--threads") {
            if (++i >= argc) return Usage("--threads needs a number");
            char* end = nullptr;
            const long n = std::strtol(argv[i], &end, 10);
            if (!*argv[i] || *end || n < 1 || n > 256) return Usage("bad thread count");
            args.Threads = static_cast<int>(n);
        } else if (a == "-o" || a == "--output") {
            if (++i >= argc) return Usage("-o needs a file name");
            args.Output = argv[i];
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            return Usage("unknown option " + a);
        } else {
            args.Inputs.push_back(a);
        }
    }
    if (args.Inputs.empty()) return Usage("no input files");
    if (args.Output.empty() && !args.Probe) return Usage("no output file (-o)");
    if (args.Threads == 0) args.Threads = static_cast<int>(std::thread::hardware_concurrency());

    TFFEncoder encoder;
    if (!encoder.LibrariesLoaded() && !encoder.LoadLibraries(GetLibraryFolder())) {
        std::fprintf(stderr, "%s\n", encoder.LastError.c_str());
        return 1;
    }
    FFLogger()->SetLogLevel(llQuiet);

    if (args.Probe || args.Fast) {
        std::string error;
        // The table is shown when asked for, or as the warning of a fast
        // merge whose sources differ.
        char* text = nullptr;
        size_t size = 0;
        FILE* table = open_memstream(&text, &size);
        const bool same = table && EncodingTable(args.Inputs, table, error);
        if (table) std::fclose(table);
        const std::string tableText = text ? text : "";
        std::free(text);
        if (error.empty() && (args.Probe || !same))
            std::fputs(tableText.c_str(), args.Probe ? stdout : stderr);
        if (!error.empty()) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        if (args.Probe) return 0;
        if (!same) {
            if (args.Check) {
                std::fprintf(stderr, "the sources are encoded differently (marked *): refusing "
                                     "a fast merge\n");
                return 1;
            }
            std::fprintf(stderr, "warning: the sources are encoded differently (marked *); the "
                                 "fast merge may not play correctly\n");
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
    bool stopping = false;
    const int result = MergeWithChecks(user, encoder, args.Inputs, args.Output, settings, [&] {
        if (gStop && !stopping) {
            stopping = true;
            encoder.Stop(true);
        }
    });
    if (result == jrStopped) {
        std::fprintf(stderr, "stopped: %s keeps what was merged so far\n", args.Output.c_str());
        return 130;
    }
    if (result != jrDone) {
        // A failed merge leaves nothing behind and an old output as it was.
        for (const auto& m : user.Messages) std::fprintf(stderr, "%s\n", m.c_str());
        return 1;
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
    return 0;
}
