// app/window/OutputName.cpp — the full output name of a typed one.
#include "app/window/OutputName.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace tw {

namespace {

std::string HomeOf(const std::string& user) {
    if (user.empty())
        if (const char* home = std::getenv("HOME"); home && *home) return home;
    const long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{}, *found = nullptr;
    const int rc = user.empty()
                       ? ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found)
                       : ::getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found);
    return rc == 0 && found && found->pw_dir ? found->pw_dir : "";
}

std::string ExpandTilde(const std::string& name) {
    if (name.empty() || name[0] != '~') return name;
    const size_t slash = name.find('/');
    const std::string home = HomeOf(name.substr(1, slash == std::string::npos ? slash : slash - 1));
    if (home.empty()) return name;
    return slash == std::string::npos ? home : home + name.substr(slash);
}

std::string FolderOf(const std::string& file) {
    std::string path = file;
    if (path.empty() || path[0] != '/') {
        char cwd[4096];
        if (::getcwd(cwd, sizeof cwd)) path = std::string(cwd) + "/" + path;
    }
    return path.substr(0, path.rfind('/') + 1);
}

}  // namespace

std::string ResolveOutputName(const std::string& typed, const std::string& firstSource) {
    if (typed.empty()) return typed;
    std::string name = ExpandTilde(typed);
    if (name[0] != '/') {
        while (name.rfind("./", 0) == 0) name.erase(0, 2);
        name = FolderOf(firstSource) + name;
    }
    const std::string file = name.substr(name.rfind('/') + 1);
    // A leading dot starts a hidden name, not an extension.
    struct stat st;
    const bool folder = file.empty() || file == "." || file == ".." ||
                        (::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    if (!folder && (file.rfind('.') == std::string::npos || file.rfind('.') == 0)) name += ".flv";
    return name;
}

}  // namespace tw
