// binding/DynLib.cpp — dlopen-based library loading with dependency search in
// the library's own folder.
#include "binding/DynLib.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>

#include "binding/FFLoad.h"

namespace tw {

namespace {

// The process-wide folder list stands for the "PATH" variable that the
// loader extends with every library folder it loads from.
std::mutex gFoldersLock;
std::vector<std::string> gFolders;

std::string WithSlash(const std::string& folder) {
    if (folder.empty() || folder.back() == '/') return folder;
    return folder + '/';
}

std::string LastDlError() {
    const char* text = dlerror();
    return text ? text : "unknown error";
}

// Reads exactly size bytes at offset; false on a short read or an error.
bool ReadAt(int fd, uint64_t offset, void* buffer, size_t size) {
    auto* out = static_cast<char*>(buffer);
    while (size > 0) {
        ssize_t got = pread(fd, out, size, off_t(offset));
        if (got <= 0) return false;
        out += got;
        offset += uint64_t(got);
        size -= size_t(got);
    }
    return true;
}

class TFileDescriptor {
  public:
    explicit TFileDescriptor(const std::string& path)
        : FFd(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~TFileDescriptor() {
        if (FFd >= 0) close(FFd);
    }
    TFileDescriptor(const TFileDescriptor&) = delete;
    TFileDescriptor& operator=(const TFileDescriptor&) = delete;
    int Get() const { return FFd; }

  private:
    int FFd;
};

// The first folder holding name: the requesting file's own folder, then the
// library folders in the order they were added. Empty when none holds it.
std::string FindDependency(const std::string& ownFolder, const std::string& name) {
    if (!ownFolder.empty() && FileExists(ownFolder + name)) return ownFolder + name;
    for (const std::string& folder : LibraryFolders())
        if (FileExists(folder + name)) return folder + name;
    return {};
}

// Opens the dependencies of path that lie in library folders, deepest first,
// so that the dynamic linker finds them already loaded (it matches a needed
// name against the sonames of loaded objects before it searches). A
// dependency that fails to open is left to the loading of path to report.
void PreloadDependencies(const std::string& path, std::set<std::string>& visited,
                         std::vector<TModuleHandle>& handles) {
    const std::string ownFolder = FolderPart(path);
    for (const std::string& name : NeededLibraries(path)) {
        if (!visited.insert(name).second) continue;
        const std::string found = FindDependency(ownFolder, name);
        if (found.empty()) continue;
        PreloadDependencies(found, visited, handles);
        if (void* handle = dlopen(found.c_str(), RTLD_NOW | RTLD_GLOBAL)) handles.push_back(handle);
    }
}

// At process end the libraries stay mapped: the process is gone a moment
// later anyway, and unmapping the hundred-odd objects a media library pulls
// in costs more than a short merge (each unmapping is a TLB flush on every
// processor). The leak report at exit needs it too: it comes after the
// loader's unloading, and a library closed by then leaves its allocations
// without names.
void Close(TModuleHandle handle) {
    if (!LoaderShuttingDown()) dlclose(handle);
}

void ReleaseHandles(std::vector<TModuleHandle>& handles) {
    for (auto it = handles.rbegin(); it != handles.rend(); ++it) Close(*it);
    handles.clear();
}

}  // namespace

bool FileExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

std::string FolderPart(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void AddLibraryFolder(const std::string& folder) {
    const std::string entry = WithSlash(folder);
    if (entry.empty()) return;
    std::lock_guard<std::mutex> guard(gFoldersLock);
    if (std::find(gFolders.begin(), gFolders.end(), entry) == gFolders.end())
        gFolders.push_back(entry);
}

std::vector<std::string> LibraryFolders() {
    std::lock_guard<std::mutex> guard(gFoldersLock);
    return gFolders;
}

std::vector<std::string> NeededLibraries(const std::string& path) {
    std::vector<std::string> names;
    TFileDescriptor file(path);
    if (file.Get() < 0) return names;
    struct stat info {};
    if (fstat(file.Get(), &info) != 0) return names;
    const uint64_t fileSize = uint64_t(info.st_size);

    ElfW(Ehdr) header;
    if (!ReadAt(file.Get(), 0, &header, sizeof header)) return names;
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) return names;
    // Only objects this process could load: same class, same byte order.
    const unsigned char ownClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
    const unsigned char ownData =
        __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;
    if (header.e_ident[EI_CLASS] != ownClass || header.e_ident[EI_DATA] != ownData) return names;
    if (header.e_phentsize != sizeof(ElfW(Phdr)) || header.e_phnum == 0) return names;

    std::vector<ElfW(Phdr)> segments(header.e_phnum);
    if (!ReadAt(file.Get(), header.e_phoff, segments.data(), segments.size() * sizeof(ElfW(Phdr))))
        return names;

    const ElfW(Phdr)* dynamic = nullptr;
    for (const auto& segment : segments)
        if (segment.p_type == PT_DYNAMIC) dynamic = &segment;
    if (!dynamic || dynamic->p_offset > fileSize ||
        dynamic->p_filesz > fileSize - dynamic->p_offset)
        return names;

    std::vector<ElfW(Dyn)> entries(dynamic->p_filesz / sizeof(ElfW(Dyn)));
    if (!ReadAt(file.Get(), dynamic->p_offset, entries.data(), entries.size() * sizeof(ElfW(Dyn))))
        return names;

    uint64_t stringsAddress = 0, stringsSize = 0;
    bool haveStrings = false;
    std::vector<uint64_t> neededOffsets;
    for (const auto& entry : entries) {
        if (entry.d_tag == DT_NULL) break;
        if (entry.d_tag == DT_NEEDED) neededOffsets.push_back(entry.d_un.d_val);
        if (entry.d_tag == DT_STRTAB) {
            stringsAddress = entry.d_un.d_ptr;
            haveStrings = true;
        }
        if (entry.d_tag == DT_STRSZ) stringsSize = entry.d_un.d_val;
    }
    if (!haveStrings || stringsSize == 0 || neededOffsets.empty()) return names;

    // DT_STRTAB holds a memory address: find the loaded segment that covers it
    // to learn where the table lies in the file.
    uint64_t stringsOffset = 0;
    bool mapped = false;
    for (const auto& segment : segments) {
        if (segment.p_type != PT_LOAD) continue;
        if (stringsAddress >= segment.p_vaddr &&
            stringsAddress - segment.p_vaddr < segment.p_filesz) {
            stringsOffset = stringsAddress - segment.p_vaddr + segment.p_offset;
            mapped = true;
            break;
        }
    }
    if (!mapped || stringsOffset > fileSize || stringsSize > fileSize - stringsOffset) return names;

    std::string strings(stringsSize, '\0');
    if (!ReadAt(file.Get(), stringsOffset, strings.data(), strings.size())) return names;
    for (uint64_t offset : neededOffsets) {
        if (offset >= strings.size()) continue;
        const size_t end = strings.find('\0', offset);
        if (end == std::string::npos || end == offset) continue;
        names.push_back(strings.substr(offset, end - offset));
    }
    return names;
}

bool LoadModuleAt(const std::string& path, TModule& module, std::string& error) {
    TModule loaded;
    std::set<std::string> visited;
    PreloadDependencies(path, visited, loaded.Dependencies);
    // The library itself stays local: its names are reached through the
    // entry slots only.
    loaded.Handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!loaded.Handle) {
        error = LastDlError();
        ReleaseHandles(loaded.Dependencies);
        return false;
    }
    module = std::move(loaded);
    return true;
}

bool LoadModuleByName(const std::string& name, TModule& module, std::string& error) {
    if (void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        module = TModule{handle, {}};
        return true;
    }
    error = LastDlError();
    // The default search has failed: the folders put on the library search
    // list come after it, as "PATH" does.
    if (name.find('/') == std::string::npos) {
        for (const std::string& folder : LibraryFolders()) {
            std::string ignored;
            if (FileExists(folder + name) && LoadModuleAt(folder + name, module, ignored))
                return true;
        }
    }
    return false;
}

void* ModuleSymbol(TModuleHandle handle, const char* name, std::string& error) {
    dlerror();  // forget an earlier failure so that the text below is this one's
    void* address = dlsym(handle, name);
    if (!address) error = LastDlError();
    return address;
}

void ReleaseModule(TModule& module) {
    if (module.Handle) Close(module.Handle);
    module.Handle = nullptr;
    ReleaseHandles(module.Dependencies);
}

}  // namespace tw
