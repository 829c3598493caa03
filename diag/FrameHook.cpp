// diag/FrameHook.cpp — loading and running frame-hook modules.
#include "diag/FrameHook.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <map>
#include <string>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include "binding/DynLib.h"
#include "binding/Entries.h"
#include "binding/LibPtr.h"

namespace tw {

namespace {

// Modules stay loaded until the process ends. File names are compared as
// they are: the file system here tells case apart.
std::map<std::string, TModule>& ModuleCache() {
    static auto* cache = new std::map<std::string, TModule>;
    return *cache;
}

// The folder of the module becomes the current directory while it loads (a
// module may open files relative to it) and joins the process's library
// folders (our "PATH": the dynamic linker reads its own search path only at
// start-up), so that its dependencies are found there first.
class TModuleFolderScope {
  public:
    explicit TModuleFolderScope(const std::string& folder) {
        if (folder.empty()) return;
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof cwd)) FSaved = cwd;
        if (chdir(folder.c_str()) != 0) FSaved.clear();
        AddLibraryFolder(folder);
    }
    ~TModuleFolderScope() {
        if (!FSaved.empty() && chdir(FSaved.c_str()) != 0) {
            // Nothing sensible is left to do: the old folder has gone.
        }
    }
    TModuleFolderScope(const TModuleFolderScope&) = delete;
    TModuleFolderScope& operator=(const TModuleFolderScope&) = delete;

  private:
    std::string FSaved;
};

}  // namespace

TFrameHookList::~TFrameHookList() { ReleaseFrameHooks(*this); }

int AddFrameHook(TFrameHookList& list, int argc, char* argv[]) {
    if (argc < 1 || !argv || !argv[0]) return -2;
    const std::string fileName = argv[0];

    // A relative name would be read against the module's folder once that
    // is current: load by the absolute name.
    std::string loadName = fileName;
    if (fileName.find('/') != std::string::npos) {
        char resolved[PATH_MAX];
        if (realpath(fileName.c_str(), resolved)) loadName = resolved;
    }
    TModuleHandle handle = nullptr;
    {
        TModuleFolderScope scope(FolderPart(loadName));
        auto& cache = ModuleCache();
        auto it = cache.find(fileName);
        if (it == cache.end()) {
            TModule module;
            std::string error;
            const bool loaded = fileName.find('/') != std::string::npos
                                    ? LoadModuleAt(loadName, module, error)
                                    : LoadModuleByName(fileName, module, error);
            if (!loaded) {
                lib().av_log(nullptr, AV_LOG_ERROR, "%s\n", error.c_str());
                return -1;
            }
            it = cache.emplace(fileName, module).first;
        }
        handle = it->second.Handle;
    }

    LibBufferPtr<TFrameHookEntry> fhe(
        static_cast<TFrameHookEntry*>(lib().av_mallocz(sizeof(TFrameHookEntry))));
    if (!fhe) return AVERROR(ENOMEM);
    std::string ignored;
    fhe->Configure =
        reinterpret_cast<TwFrameHookConfigure>(ModuleSymbol(handle, "Configure", ignored));
    fhe->Process = reinterpret_cast<TwFrameHookProcess>(ModuleSymbol(handle, "Process", ignored));
    fhe->Release = reinterpret_cast<TwFrameHookRelease>(ModuleSymbol(handle, "Release", ignored));
    if (!fhe->Process) {
        lib().av_log(nullptr, AV_LOG_ERROR, "Failed to find Process entrypoint in %s\n",
                     fileName.c_str());
        return -2;
    }
    if (!fhe->Configure && argc > 1) {
        lib().av_log(nullptr, AV_LOG_ERROR, "Failed to find Configure entrypoint in %s\n",
                     fileName.c_str());
        return -2;
    }
    if (fhe->Configure && fhe->Configure(&fhe->Ctx, argc, argv) != 0) {
        lib().av_log(nullptr, AV_LOG_ERROR, "Failed to Configure %s\n", fileName.c_str());
        return AVERROR(EINVAL);
    }
    TFrameHookEntry** tail = &list.Head;
    while (*tail) tail = &(*tail)->Next;
    *tail = fhe.release();  // the list's from here on
    return 0;
}

void ProcessFrameHooks(TFrameHookList& list, TwHookPicture* picture, int pixFmt, int width,
                       int height, int64_t pts) {
    for (TFrameHookEntry* e = list.Head; e; e = e->Next)
        if (e->Process) e->Process(e->Ctx, picture, pixFmt, width, height, pts);
}

void ReleaseFrameHooks(TFrameHookList& list) {
    while (list.Head) {
        const LibBufferPtr<TFrameHookEntry> e(list.Head);
        list.Head = e->Next;
        if (e->Release) e->Release(e->Ctx);
    }
}

}  // namespace tw
