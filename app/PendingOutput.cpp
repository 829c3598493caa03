// app/PendingOutput.cpp — the merge's hidden file beside the output.
#include "app/PendingOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <set>

namespace tw {

namespace {

// The files of the live pending outputs, for RemoveAllNow.
std::mutex gLiveLock;
bool gEnding = false;  // guarded by gLiveLock: RemoveAllNow ran
std::set<std::string>& LiveFiles() {
    static std::set<std::string> files;
    return files;
}

void Forget(const std::string& path) {
    std::lock_guard<std::mutex> hold(gLiveLock);
    LiveFiles().erase(path);
}

}  // namespace

TPendingOutput::~TPendingOutput() {
    if (!FPath.empty() && !FCommitted) {
        ::unlink(FPath.c_str());
        Forget(FPath);
    }
}

void TPendingOutput::RemoveAllNow() {
    std::lock_guard<std::mutex> hold(gLiveLock);
    gEnding = true;
    for (const std::string& path : LiveFiles()) ::unlink(path.c_str());
    LiveFiles().clear();
}

bool TPendingOutput::AnyLive() {
    std::lock_guard<std::mutex> hold(gLiveLock);
    return !LiveFiles().empty();
}

bool TPendingOutput::Create(const std::string& target, std::string& why) {
    // An output reached through a link is replaced where it really is.
    FTarget = target;
    char real[PATH_MAX];
    if (::realpath(target.c_str(), real)) FTarget = real;
    const size_t slash = FTarget.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : FTarget.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? FTarget : FTarget.substr(slash + 1);
    struct stat old;
    const bool exists = ::stat(FTarget.c_str(), &old) == 0;
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 16; ++attempt) {
        char tag[16];
        std::snprintf(tag, sizeof tag, "%06x", static_cast<unsigned>(random() & 0xffffff));
        const std::string path = folder + "." + base + "." + tag + ".part";
        // Created and registered in one step: a RemoveAllNow meanwhile
        // leaves no file behind.
        std::lock_guard<std::mutex> hold(gLiveLock);
        if (gEnding) {
            why = target + ": " + std::strerror(ECANCELED);
            return false;
        }
        // 0666 less the user's umask, as for any new file.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            why = target + ": " + std::strerror(errno);
            return false;
        }
        if (exists) (void)::fchmod(fd, old.st_mode & 07777);
        ::close(fd);
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
    if (::rename(FPath.c_str(), FTarget.c_str()) != 0) {
        why = FTarget + ": " + std::strerror(errno);
        return false;
    }
    FCommitted = true;
    Forget(FPath);
    return true;
}

}  // namespace tw
