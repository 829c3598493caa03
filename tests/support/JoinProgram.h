// tests/support/JoinProgram.h — running the built tarnwick-join as a user
// would: the program's path, a forked child becoming it, and the small file
// checks around such runs.
//
// Header only: TW_BUILD_DIR (the build folder) is defined for the suites
// that run the program, not for the support library.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace tw::test {

/// The built tarnwick-join.
inline std::string JoinProgram() { return std::string(TW_BUILD_DIR) + "/app/tarnwick-join"; }

/// How a forked child is set up before it becomes tarnwick-join.
struct JoinChild {
    /// Standard output and error go to this descriptor, and standard input
    /// comes from /dev/null; -1 leaves all three as they are (a terminal).
    int output = -1;
    /// The working folder, when given.
    std::string folder;
    /// Files limited to this many bytes, when given (a full disk: a write
    /// past the limit fails with EFBIG instead of a signal).
    rlim_t fileLimit = 0;
    /// The locale the program sees: LANGUAGE, LC_ALL, LC_MESSAGES and LANG
    /// are cleared and these set. English unless a test asks otherwise ({}:
    /// no locale at all, the program's Chinese).
    std::vector<std::pair<std::string, std::string>> locale = {{"LANG", "en_US.UTF-8"}};
};

/// The environment of this process with the locale variables replaced by
/// locale (see JoinChild::locale), as "NAME=value" texts.
inline std::vector<std::string> LocaleEnvironment(
    const std::vector<std::pair<std::string, std::string>>& locale) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (name != "LANGUAGE" && name != "LC_ALL" && name != "LC_MESSAGES" && name != "LANG")
            env.push_back(entry);
    }
    for (const auto& [name, value] : locale) env.push_back(name + "=" + value);
    return env;
}

/// In a forked child: becomes tarnwick-join with these arguments (passed as
/// they are, no shell). Exit 126 when the folder cannot be entered, 127 when
/// the program cannot be run.
[[noreturn]] inline void ExecJoin(const std::vector<std::string>& args, const JoinChild& how = {}) {
    if (how.output >= 0) {
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, 0);
        ::dup2(how.output, 1);
        ::dup2(how.output, 2);
    }
    if (!how.folder.empty() && ::chdir(how.folder.c_str()) != 0) ::_exit(126);
    if (how.fileLimit > 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{how.fileLimit, how.fileLimit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::vector<std::string> all = {JoinProgram()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = LocaleEnvironment(how.locale);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
}

/// Runs tarnwick-join with these arguments (no shell), standard input from
/// /dev/null, and waits for it; its standard output and error together go
/// to text when given. The exit status, -1 when it did not exit normally.
inline int RunJoin(const std::vector<std::string>& args, std::string* text = nullptr,
                   const JoinChild& how = {}) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        JoinChild child = how;
        child.output = fds[1];
        ExecJoin(args, child);
    }
    ::close(fds[1]);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0) out.append(buf, size_t(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (text) *text = out;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

/// Runs tarnwick-join (stdin from /dev/null) with its standard output and
/// error kept apart; the exit status, -1 when it did not exit normally.
inline int JoinApart(const std::vector<std::string>& args, std::string& out, std::string& err) {
    int o[2], e[2];
    if (::pipe(o) != 0 || ::pipe(e) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, 0);
        ::dup2(o[1], 1);
        ::dup2(e[1], 2);
        ::close(o[0]);
        ::close(e[0]);
        ExecJoin(args);
    }
    ::close(o[1]);
    ::close(e[1]);
    out.clear();
    err.clear();
    // Both at once: a full pipe on one side must not stall the other.
    pollfd p[2] = {{o[0], POLLIN, 0}, {e[0], POLLIN, 0}};
    for (int open = 2; open > 0;) {
        if (::poll(p, 2, -1) < 0 && errno != EINTR) break;
        for (int k = 0; k < 2; ++k) {
            if (p[k].fd < 0 || !(p[k].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            const ssize_t n = ::read(p[k].fd, buf, sizeof buf);
            if (n > 0) {
                (k ? err : out).append(buf, size_t(n));
            } else {
                ::close(p[k].fd);
                p[k].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

/// A file's bytes; "" when it cannot be read.
inline std::string FileContents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

/// True when anything is at path, a dangling link too.
inline bool PathExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace tw::test
