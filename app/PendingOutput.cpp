// app/PendingOutput.cpp — the merge's hidden file beside the output.
#include "app/PendingOutput.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <set>

#include "probe/FileNames.h"

namespace tw {

namespace {

// The files of the live pending outputs, for RemoveAllNow.
std::mutex gLiveLock;
bool gEnding = false;     // guarded by gLiveLock: RemoveAllNow ran
bool gCommitted = false;  // guarded by gLiveLock: a pending output was committed
std::set<std::string>& LiveFiles() {
    static std::set<std::string> files;
    return files;
}

void Forget(const std::string& path) {
    std::lock_guard<std::mutex> hold(gLiveLock);
    LiveFiles().erase(path);
}

// The output's name as the hidden file carries it: characters the libraries
// would take for a protocol, or that are no UTF-8, become '_'.
std::string PlainName(std::string name) {
    for (char& c : name)
        if (c == ':') c = '_';
    if (NeedsWideName(name))
        for (char& c : name)
            if (static_cast<unsigned char>(c) >= 0x80) c = '_';
    return name;
}

// ".NAME." + six hex digits + suffix.
bool IsHiddenFileOf(const std::string& entry, const std::string& prefix, const char* suffix) {
    const size_t tail = std::strlen(suffix);
    if (entry.size() != prefix.size() + 6 + tail || entry.compare(0, prefix.size(), prefix) != 0 ||
        entry.compare(prefix.size() + 6, tail, suffix) != 0)
        return false;
    for (size_t i = prefix.size(); i < prefix.size() + 6; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(entry[i]))) return false;
    return true;
}

// Removes the hidden files of one output whose merge no longer runs: a live
// merge holds a lock on its file, a killed one's lock went with it.
void RemoveAbandoned(const std::string& folder, const std::string& prefix) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (!IsHiddenFileOf(name, prefix, ".part") && !IsHiddenFileOf(name, prefix, ".new"))
            continue;
        const std::string path = folder + name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlink(path.c_str());
        ::close(fd);
    }
    ::closedir(dir);
}

}  // namespace

TPendingOutput::~TPendingOutput() {
    if (!FPath.empty() && !FCommitted) {
        ::unlink(FPath.c_str());
        Forget(FPath);
    }
    if (FLockFd >= 0) ::close(FLockFd);
}

bool TPendingOutput::RemoveAllNow() {
    std::lock_guard<std::mutex> hold(gLiveLock);
    if (gCommitted) return false;
    gEnding = true;
    for (const std::string& path : LiveFiles()) ::unlink(path.c_str());
    LiveFiles().clear();
    return true;
}

bool TPendingOutput::AnyLive() {
    std::lock_guard<std::mutex> hold(gLiveLock);
    return !LiveFiles().empty();
}

bool TPendingOutput::AnyCommitted() {
    std::lock_guard<std::mutex> hold(gLiveLock);
    return gCommitted;
}

bool TPendingOutput::Create(const std::string& target, std::string& why) {
    // An output reached through a link is replaced where it really is.
    FTarget = target;
    char real[PATH_MAX];
    if (::realpath(target.c_str(), real)) FTarget = real;
    const size_t slash = FTarget.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : FTarget.substr(0, slash + 1);
    const std::string prefix =
        "." + PlainName(slash == std::string::npos ? FTarget : FTarget.substr(slash + 1)) + ".";
    RemoveAbandoned(folder, prefix);
    struct stat old;
    const bool exists = ::stat(FTarget.c_str(), &old) == 0;
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 16; ++attempt) {
        char tag[16];
        std::snprintf(tag, sizeof tag, "%06x", static_cast<unsigned>(random() & 0xffffff));
        const std::string path = folder + prefix + tag + ".part";
        const std::string fresh = folder + prefix + tag + ".new";
        // Created and registered in one step: a RemoveAllNow meanwhile
        // leaves no file behind.
        std::lock_guard<std::mutex> hold(gLiveLock);
        if (gEnding) {
            why = target + ": " + std::strerror(ECANCELED);
            return false;
        }
        // 0666 less the user's umask, as for any new file. Locked before it
        // takes its name: another merge never sees it unlocked.
        const int fd = ::open(fresh.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            why = target + ": " + std::strerror(errno);
            return false;
        }
        const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        const bool named = locked && ::link(fresh.c_str(), path.c_str()) == 0;
        const int err = errno;
        ::unlink(fresh.c_str());
        if (!named) {
            ::close(fd);
            // Taken meanwhile by another merge's clean-up, or the name is in
            // use: another name.
            if (!locked || err == EEXIST || err == ENOENT) continue;
            why = target + ": " + std::strerror(err);
            return false;
        }
        if (exists) (void)::fchmod(fd, old.st_mode & 07777);
        FLockFd = fd;
        FPath = path;
        LiveFiles().insert(path);
        return true;
    }
    why = target + ": " + std::strerror(EEXIST);
    return false;
}

bool TPendingOutput::Commit(std::string& why) {
    if (FPath.empty()) {
        why = FTarget + ": " + std::strerror(ENOENT);
        return false;
    }
    std::lock_guard<std::mutex> hold(gLiveLock);
    // A program ending at once removed the file: nothing to put in place.
    if (gEnding) {
        why = FTarget + ": " + std::strerror(ECANCELED);
        return false;
    }
    if (::rename(FPath.c_str(), FTarget.c_str()) != 0) {
        why = FTarget + ": " + std::strerror(errno);
        return false;
    }
    FCommitted = true;
    gCommitted = true;
    LiveFiles().erase(FPath);
    return true;
}

}  // namespace tw
