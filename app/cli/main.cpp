// app/cli/main.cpp — tarnwick-join: merge video files into one file (FLV,
// MP4, Matroska or MPEG-TS) from the command line, through the same driver
// as the window.
#include <malloc.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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
#include "app/Messages.h"
#include "app/OutputContainer.h"
#include "app/PendingOutput.h"
#include "app/SmartMerge.h"
#include "app/cli/CommandLineText.h"
#include "app/cli/Options.h"
#include "app/cli/ProbeReport.h"
#include "app/cli/ProgressReport.h"
#include "diag/FFLog.h"
#include "diag/MainThread.h"
#include "diag/ThreadName.h"
#include "probe/FileNames.h"
#include "probe/SourceLength.h"

using namespace tw;

namespace {

constexpr const char* kUsage = NoTr(
    "用法：tarnwick-join [选项]... -o 输出文件 [--] 输入文件...\n"
    "  或：tarnwick-join --probe [--json] 输入文件...\n"
    "\n"
    "把各个输入文件按顺序合并成一个输出文件。输出文件的扩展名决定容器：.flv .f4v\n"
    "为 FLV，.mp4 .m4v .mov 为 MP4，.mkv 为 Matroska，.ts 为 MPEG-TS，其他为 FLV。\n"
    "\n"
    "长选项必需的参数对于短选项也是必需的。\n"
    "  -o, --output=文件   要写入的文件（输出文件）\n"
    "  -f, --fast          复制压缩的音视频流（快速合并，各源文件的编码必须相同），\n"
    "                      而不是重新编码为 H.264 和 AAC\n"
    "      --smart         复制与第一个文件编码相同的源文件，只把其他源文件重新编码为\n"
    "                      它的编码（H.264 和 AAC 的源文件）\n"
    "      --auto          各源文件的编码相同且容器能存入时复制，否则能智能合并时\n"
    "                      智能合并，再否则重新编码\n"
    "  -y, --overwrite     不经询问覆盖已有的输出文件\n"
    "      --delete-sources  合并后的文件通过检查后删除源文件\n"
    "      --threads=N     重新编码合并时解码和编码的线程数，1 到 256\n"
    "                      （默认：由库自行选择）\n"
    "      --format=名称   容器，不论扩展名是什么：flv、mp4、mov、mkv、ts\n"
    "  -q, --quiet         只显示错误\n"
    "  -v, --verbose       显示库的日志（重复可显示更多）\n"
    "      --check         与 --fast 一起用：不经询问，拒绝编码不同的源文件\n"
    "      --force         与 --fast 一起用：照样复制编码不同的源文件（退出状态\n"
    "                      为 3）；否则拒绝合并，在终端上则会询问\n"
    "      --probe         显示各源文件的编码表和时长后退出：能快速合并时退出状态\n"
    "                      为 0，不能时为 1\n"
    "      --json          与 --probe 一起用：输出一个 JSON 文档而不是表格\n"
    "      --progress=方式 进度的显示方式：bar（终端上的进度条），lines（每到整百分点\n"
    "                      显示一行，至多每 10 秒一行；不是终端时的默认），json（在\n"
    "                      标准输出上每次一个对象，一行一个），none（不显示）\n"
    "      --chapters-per-source  每个源文件一个章节，以其文件名为标题\n"
    "                      （MP4、MOV 和 MKV 输出；源文件自己的章节总会保留，\n"
    "                      并移到各源文件开始的位置）\n"
    "  -h, --help          显示此帮助后退出\n"
    "      --version       显示版本信息后退出\n"
    "  --                  其后的参数都是文件\n"
    "\n"
    "长选项在不致混淆时可以缩写。\n"
    "\n"
    "退出状态：\n"
    "  0    合并成功（--probe：各源文件能快速合并）\n"
    "  1    出错（错误信息在标准错误输出上）；--probe：各源文件不能快速合并，\n"
    "       或有源文件无法读取\n"
    "  2    命令行有误\n"
    "  3    已合并，但需要您处理：删除前的检查未通过（或有源文件未能删除），\n"
    "       源文件已保留；或复制了编码不同的源文件（--force，或对询问回答了 y）\n"
    "  130  被 Ctrl-C 或 SIGTERM 停止\n");

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
    const std::string text =
        TrF(::stat(gOutputName, &st) == 0 ? NoTr("已停止：什么也没有合并；{1} 保持原样")
                                          : NoTr("已停止：什么也没有合并；没有写入 {1}"),
            {gOutputName});
    std::fprintf(stderr, "%s%s\n", isatty(STDERR_FILENO) ? "\n" : "", text.c_str());
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
    bool Fast = false, Auto = false, Smart = false, Overwrite = false, DeleteSources = false,
         Quiet = false;
    bool Check = false, Force = false, Probe = false, ChaptersPerSource = false, Json = false;
    bool ProgressGiven = false;
    cli::TProgressMode Progress = cli::TProgressMode::Bar;
    int Threads = kAutoThreads;
    int Verbose = 0;
    std::string Output, Format;
    std::vector<std::string> Inputs;
};

// A mistake on the command line: one line naming it and where help is, so
// that the reason does not scroll away behind the whole usage.
int Usage(const std::string& problem) {
    std::fprintf(stderr, "%s%s\n%s\n", kProgramPrefix, problem.c_str(),
                 Tr("请用“tarnwick-join --help”获取更多信息。"));
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
                return Tr("-o（--output）需要一个文件名");
            case cli::optThreads:
                return Tr("--threads 需要一个数字");
            case cli::optFormat:
                return Tr("--format 需要一个容器名称");
            default:
                return Tr("选项需要一个参数");
        }
    }
    if (optopt == 0 && wasLong) {
        const std::string name = last.substr(0, last.find('='));
        LongOptionNamed(last, matches);
        if (matches.size() > 1) {
            std::string list;
            for (const std::string& m : matches) list += TrF(" “{1}”", {m});
            return TrF("选项“{1}”有歧义；可能是：{2}", {name, list});
        }
        return TrF("无法识别的选项“{1}”", {name});
    }
    if (wasLong && last.find('=') != std::string::npos && !LongOptionNamed(last, matches).empty())
        return TrF("选项“{1}”不允许有参数", {matches[0]});
    if (optopt > 0 && optopt < 256)
        return TrF("无效的选项 -- “{1}”（文件名以“-”开头的文件：请在它前面加 --）",
                   {std::string(1, char(optopt))});
    return TrF("错误的选项 {1}", {last});
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
        // The driver asks only this: whether to replace the output.
        Messages.push_back(TrF("{1}已经存在；加上 -y（--overwrite）即可覆盖", {FArgs.Output}));
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
        std::fprintf(stderr, "%s%s\n", kProgramPrefix, CommandLineMessage(text).c_str());
    }
    bool StopRequested() override { return gStop; }
    bool Notice(const std::string& text) override {
        Warn(text);
        return true;
    }
    void Warn(const std::string& text) override {
        if (!FArgs.Quiet) std::fprintf(stderr, "%s\n", TrF("警告：{1}", {text}).c_str());
    }
    // The progress itself comes from the encoder's reports; the driver
    // only clears the line.
    void SetStateText(const std::string& text) override {
        if (text.empty() && Progress) Progress->Clear();
    }
    std::vector<std::string> Messages;
    bool MustAct = false;
    cli::TProgressReport* Progress = nullptr;

  private:
    const TArgs& FArgs;
};

// A missing or unreadable input, told before anything is opened.
std::string InputProblem(const std::string& file) {
    struct stat st;
    if (::stat(file.c_str(), &st) != 0) return TrF("{1}：{2}", {file, SystemErrorText(errno)});
    if (S_ISDIR(st.st_mode)) return TrF("{1}：{2}", {file, SystemErrorText(EISDIR)});
    if (::access(file.c_str(), R_OK) != 0) return TrF("{1}：{2}", {file, SystemErrorText(errno)});
    return {};
}

std::string Seconds(int64_t us) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", us / 1e6);
    return TrF("{1} 秒", {text});
}

// The first value in which a source differs from the first one, as
// "profile Main / High (b.flv)"; "" when all agree.
std::string FirstDifference(const std::vector<TSourceFacts>& sources) {
    const std::vector<std::string> all = cli::EncodingDifferences(sources);
    return all.empty() ? std::string() : all[0];
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

// Copy, smart merge or re-encode, from the facts of every source: prints the
// --auto choice, or for a fast merge of sources that differ the table;
// returns the refusal ("" when the merge goes on) and sets fast and smart.
// Sources that differ are copied only with --force or a yes on the terminal
// (mayAsk): such a merge may not play, so forced is set and the exit status
// says so.
std::string ChooseMode(const std::vector<TSourceFacts>& facts, const TArgs& args,
                       const std::string& container, bool mayAsk, bool& fast, bool& smart,
                       bool& forced) {
    std::vector<TEncodingSource> table;
    for (const TSourceFacts& f : facts) table.push_back(TEncodingSource{f, {}});
    bool same = false;
    const std::string tableText = EncodingTableText(table, TerminalWidth(STDERR_FILENO), same);
    fast = args.Fast;
    smart = args.Smart;
    if (args.Smart) {
        // Asked for by name: without it nothing is merged.
        const TSmartPlan plan = PlanSmartMerge(facts, container);
        if (!plan.Problem.empty()) return TrF("拒绝智能合并：{1}", {plan.Problem});
        if (!args.Quiet)
            std::printf("%s\n", TrF("智能合并：重新编码 {1} 个源文件（共 {2} 个）",
                                     {std::to_string(plan.ReencodeCount()),
                                      std::to_string(facts.size())})
                                     .c_str());
        std::fflush(stdout);
    } else if (args.Auto) {
        const std::string problem = FastMergeProblem(facts, container);
        const std::string difference = FirstDifference(facts);
        fast = problem.empty() && difference.empty();
        const std::string why = !difference.empty()
                                    ? TrF("各源文件的编码不同：{1}", {difference})
                                    : FastMergeReason(problem);
        const TSmartPlan plan = fast ? TSmartPlan{} : PlanSmartMerge(facts, container);
        smart = !fast && plan.Problem.empty();
        if (!args.Quiet)
            std::printf("%s\n",
                        fast    ? Tr("--auto：快速合并（各源文件的编码相同）")
                        : smart ? TrF("--auto：智能合并，重新编码 {1} 个源文件（共 {2} 个）：{3}",
                                      {std::to_string(plan.ReencodeCount()),
                                       std::to_string(facts.size()), why})
                                      .c_str()
                                : TrF("--auto：重新编码：{1}；{2}", {why, plan.Problem}).c_str());
        std::fflush(stdout);
    } else if (args.Fast && !same) {
        // The table shows every value that differs; the message the first.
        std::fputs(tableText.c_str(), stderr);
        const std::string difference = FirstDifference(facts);
        if (args.Check) return Tr("各源文件的编码不同（标有 *）：拒绝快速合并");
        // Sources no copy can join are refused by the merge itself, with its
        // own reason: nothing to ask or force.
        if (!FastMergeProblem(facts, container).empty()) return {};
        const std::string why =
            TrF("各源文件的编码不同（{1}）", {difference.empty() ? Tr("标有 *") : difference});
        const bool smartFits = PlanSmartMerge(facts, container).Problem.empty();
        if (!args.Force && !(mayAsk && TerminalSaysYes(TrF("{1}；仍然复制它们吗？", {why}))))
            return TrF(smartFits ? NoTr("拒绝快速合并：{1}；用 --smart 只重新编码不同的源文件，"
                                        "加上 --force 则照样复制")
                                 : NoTr("拒绝快速合并：{1}；不带 -f 合并即可重新编码，加上 "
                                        "--force 则照样复制"),
                       {why});
        forced = true;
        std::fprintf(
            stderr, "%s\n",
            TrF("警告：{1}", {Tr("各源文件的编码不同（标有 *）；快速合并的文件可能无法正常播放")})
                .c_str());
    }
    return {};
}

// The heap the merge allocates from. Page faults are what a short merge
// spends most on after loading the libraries: each source is opened more
// than once (the survey, the merge, a later source again when the merge
// comes to it), and every open allocates the same large contexts (2 MB for
// an FLV demuxer, the probe decoders). So memory the libraries free stays
// in the heap for the next open (never given back: the process is short),
// every thread allocates from that one heap, and the heap is grown once by
// 64 MB of address space (memory only where touched) that asks for huge
// pages: a 2 MB context is then one fault instead of 512. Where huge pages
// are off or other allocators are in place (sanitizers) this changes
// nothing but the reuse.
void PrepareHeap() {
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_TOP_PAD, 64 << 20);
    const uintptr_t before = reinterpret_cast<uintptr_t>(sbrk(0));
    // Grows the heap by the pad; the write keeps the compiler from
    // dropping the allocation.
    void* grow = std::malloc(256 << 10);
    if (grow) *static_cast<volatile char*>(grow) = 0;
    const uintptr_t after = reinterpret_cast<uintptr_t>(sbrk(0));
    std::free(grow);
    mallopt(M_TOP_PAD, 128 << 10);  // the library's default for later growth
    const uintptr_t huge = uintptr_t(2) << 20;
    const uintptr_t from = (before + huge - 1) & ~(huge - 1), to = after & ~(huge - 1);
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
}

}  // namespace

int main(int argc, char** argv) {
    PrepareHeap();
    // Sets LANGUAGE for gettext: before any other thread exists.
    SetUpMessages();
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
                std::printf("%s", Tr(kUsage));
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
            case cli::optSmart:
                args.Smart = true;
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
            case cli::optJson:
                args.Json = true;
                break;
            case cli::optProgress:
                if (!cli::ProgressModeNamed(optarg, args.Progress))
                    return Usage(
                        TrF("未知的进度显示方式“{1}”（bar、lines、json、none）", {optarg}));
                args.ProgressGiven = true;
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
                    return Usage(TrF("错误的线程数“{1}”（1 到 256）", {optarg}));
                args.Threads = static_cast<int>(n);
                break;
            }
            case cli::optFormat:
                args.Format = optarg;
                if (ContainerFor("", args.Format).empty())
                    return Usage(TrF("未知的容器 {1}（flv、mp4、mov、mkv、ts）", {args.Format}));
                break;
            default:
                return Usage(OptionProblem(c, argv));
        }
    }
    for (int i = optind; i < argc; ++i) args.Inputs.push_back(argv[i]);
    if (args.Inputs.empty()) return Usage(Tr("没有输入文件"));
    if (args.Output.empty() && !args.Probe) return Usage(Tr("没有输出文件（-o）"));
    if (args.Fast + args.Auto + args.Smart > 1)
        return Usage(TrF("{1} 和 {2} 不能同时使用", {args.Fast ? "--fast" : "--auto",
                                                      args.Smart ? "--smart" : "--auto"}));
    // --check compares before a copy; --auto compares anyway and re-encodes
    // sources that differ, and a re-encoding merge has nothing to refuse.
    if (args.Check && !args.Fast) return Usage(Tr("--check 需要 -f（--fast）"));
    if (args.Force && !args.Fast) return Usage(Tr("--force 需要 -f（--fast）"));
    if (args.Check && args.Force) return Usage(Tr("--check 和 --force 不能同时使用"));
    if (args.Json && !args.Probe) return Usage(Tr("--json 需要 --probe"));
    // Progress for a program, or for a person: a bar on a terminal, lines
    // for a log. JSON owns standard output: everything else printed there
    // goes to standard error.
    if (!args.ProgressGiven)
        args.Progress = args.Quiet                   ? cli::TProgressMode::None
                        : isatty(STDERR_FILENO) != 0 ? cli::TProgressMode::Bar
                                                     : cli::TProgressMode::Lines;
    int progressFd = STDERR_FILENO;
    if (args.Progress == cli::TProgressMode::Json && !args.Probe) {
        progressFd = ::dup(STDOUT_FILENO);
        ::dup2(STDERR_FILENO, STDOUT_FILENO);
    }
    cli::TProgressReport progress(
        args.Progress,
        [progressFd](const std::string& text) {
            std::fflush(stderr);
            for (size_t at = 0; at < text.size();) {
                const ssize_t n = ::write(progressFd, text.data() + at, text.size() - at);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                at += size_t(n);
            }
        },
        TerminalWidth(STDERR_FILENO));
    // Restarted when the merge begins: the speed is the merge's own.
    auto start = std::chrono::steady_clock::now();
    const auto wall = [&start] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    const auto failed = [&](const std::string& message) {
        progress.Finish(cli::TProgressEnd::Failed, message, -1, wall());
    };
    // A missing input is told before anything else happens, whatever the mode.
    if (!args.Probe)
        for (const auto& f : args.Inputs)
            if (const std::string why = InputProblem(f); !why.empty()) {
                std::fprintf(stderr, "%s%s\n", kProgramPrefix, why.c_str());
                failed(why);
                return 1;
            }

    TFFEncoder encoder;
    if (!encoder.LibrariesLoaded() && !encoder.LoadLibraries(GetLibraryFolder())) {
        std::fprintf(stderr, "%s%s\n", kProgramPrefix, encoder.LastError.c_str());
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
        return Usage(
            TrF("--chapters-per-source：{1} 不能保存章节（请用 .mp4、.mov 或 .mkv）", {container}));
    if (args.Probe)
        return cli::RunProbe(args.Inputs, container, args.Json, TerminalWidth(STDOUT_FILENO));

    // Every source is opened once before the merge: the same message for an
    // unreadable file in both modes, the table, the truncation warning. A
    // source that can be read only once (a FIFO, a pipe) is left to the
    // merge, which tells its facts once it has opened it.
    std::vector<TSourceFacts> facts;
    std::string firstError;
    bool readOnce = false;
    // The whole merge's length for the progress: what each source can
    // really give, not what its header says.
    int64_t total = 0;
    for (const auto& f : args.Inputs) {
        TEncodingSource row;
        row.Facts.File = f;
        TFFDecoder d;
        if (IsReadOnceSource(f)) {
            readOnce = true;
        } else if (!d.LoadFile(f)) {
            // The row names the file; the message the component's reason.
            row.Error = CommandLineMessage(d.LastError);
            if (row.Error.rfind(f + ": ", 0) == 0) row.Error.erase(0, f.size() + 2);
            if (firstError.empty()) firstError = TrF("{1}：{2}", {f, row.Error});
        } else {
            row.Facts = SurveySource(d.FormatContext(), f);
            const TSourceLength length = MeasureSource(d.FormatContext());
            total = length.Best() > 0 && total >= 0 ? total + length.Best() : -1;
            if (const int64_t missing = length.Missing(); missing > 0 && !args.Quiet)
                std::fprintf(
                    stderr, "%s\n",
                    TrF("警告：{1}", {TrF("{1} 在 {2} 处结束，而文件头给出的时长是 {3}：缺少 "
                                          "{4}（文件被截断了？）",
                                          {f, Seconds(length.Readable), Seconds(length.Header),
                                           Seconds(missing)})})
                        .c_str());
        }
        facts.push_back(row.Facts);
    }
    // A source read once is measured by nobody before the merge: the
    // engine's total (from the headers) is all there is.
    progress.SetTotal(readOnce ? -1 : total);
    if (!firstError.empty()) {
        std::fprintf(stderr, "%s%s\n", kProgramPrefix, firstError.c_str());
        failed(firstError);
        return 1;
    }
    bool forced = false, smart = false;
    if (!readOnce) {
        const std::string refusal =
            ChooseMode(facts, args, container, true, args.Fast, smart, forced);
        if (!refusal.empty()) {
            std::fprintf(stderr, "%s%s\n", kProgramPrefix, refusal.c_str());
            failed(refusal);
            return 1;
        }
    }

    TCommandLineUser user(args);
    user.Progress = &progress;
    encoder.OnProgress = [&](TCustomEncoder*, PProgressInfo info) {
        progress.Update(*info, wall());
    };
    TJoinSettings settings;
    settings.FastJoin = args.Fast;
    settings.SmartJoin = smart;
    settings.DeleteSources = args.DeleteSources;
    settings.Threads = args.Threads;
    settings.Container = container;
    // The merge takes the facts read here: nobody surveys the sources again.
    if (!readOnce) settings.Sources = facts;
    if (readOnce) {
        // Decided once the merge has opened every source. A re-encode
        // needs the decoders' threads at the open; a copy does not mind them.
        settings.FastJoin = args.Fast && !args.Auto;
        settings.CheckSources = [&](const std::vector<TSourceFacts>& opened, bool& fast,
                                    std::string& message) {
            // The merge has begun: no question now.
            // A source read once cannot be merged smartly: no part to make.
            bool smartNot = false;
            message = ChooseMode(opened, args, container, false, fast, smartNot, forced);
            return message.empty();
        };
    }
    std::snprintf(gOutputName, sizeof gOutputName, "%s", args.Output.c_str());
    gHaveOutput = true;
    settings.ChaptersPerSource = args.ChaptersPerSource;
    bool stopping = false;
    start = std::chrono::steady_clock::now();
    const auto stopOnSignal = [&] {
        gMerging = true;
        if (gStop && !stopping) {
            stopping = true;
            encoder.Stop(true);
        }
    };
    switch (MergeWithChecks(user, encoder, args.Inputs, args.Output, settings, stopOnSignal)) {
        case jrStopped:
        {
            const std::string text = TrF("已停止：{1} 保留了已经合并的部分", {args.Output});
            std::fprintf(stderr, "%s\n", text.c_str());
            progress.Finish(cli::TProgressEnd::Stopped, text, -1, wall());
        }
            return 130;
        case jrStoppedEmpty:
            TellNothingMerged();
            progress.Finish(cli::TProgressEnd::Stopped, Tr("已停止：什么也没有合并"), -1, wall());
            return 130;
        case jrError: {
            // A failed merge leaves nothing behind and an old output as it was.
            log.PrintKept();
            std::string all;
            for (const auto& m : user.Messages) {
                const std::string text = CommandLineMessage(m);
                std::fprintf(stderr, "%s%s\n", kProgramPrefix, text.c_str());
                all += (all.empty() ? "" : "\n") + text;
            }
            failed(all);
            return 1;
        }
        case jrDone: {
            struct stat st;
            std::string all;
            for (const auto& m : user.Messages) all += (all.empty() ? "" : "\n") + m;
            progress.Finish(cli::TProgressEnd::Done, all,
                            ::stat(args.Output.c_str(), &st) == 0 ? st.st_size : -1, wall());
            break;
        }
    }
    if (!args.Quiet) {
        for (const auto& m : user.Messages) std::printf("%s\n", m.c_str());
        TFFDecoder probe;
        struct stat st;
        if (probe.LoadFile(args.Output) && ::stat(args.Output.c_str(), &st) == 0)
            std::printf("%s\n", TrF("{1}：{2}，{3} 字节",
                                    {args.Output,
                                     SecondsToHMS(int(probe.FormatContext()->duration / 1000000)),
                                     std::to_string(static_cast<long long>(st.st_size))})
                                    .c_str());
    }
    return user.MustAct || forced ? 3 : 0;
}
