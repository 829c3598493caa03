// binding/FFLoad.cpp — loading, binding and unloading by kind, and the
// loader's part of process start and shutdown.
#include "binding/FFLoad.h"

#include <gnu/lib-names.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "binding/InterruptCB.h"
#include "binding/LockManager.h"
#include "binding/UnicodeProtocol.h"
#include "diag/FFLog.h"

extern "C" {
#include <libavcodec/version_major.h>
#include <libavdevice/version_major.h>
#include <libavfilter/version_major.h>
#include <libavformat/version_major.h>
#include <libavutil/version.h>
#include <libswresample/version_major.h>
#include <libswscale/version_major.h>
}

#if defined(__i386__) || defined(__x86_64__)
#include <fpu_control.h>
#define TW_HAVE_X87 1
#endif

namespace tw {

namespace {

std::atomic<bool> gShuttingDown{false};

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    const int size = std::vsnprintf(nullptr, 0, fmt, args);
    va_end(args);
    std::string text(size > 0 ? size_t(size) : 0, '\0');
    if (size > 0) std::vsnprintf(text.data(), text.size() + 1, fmt, again);
    va_end(again);
    return text;
}

std::string WithSlash(const std::string& folder) {
    return folder.empty() || folder.back() == '/' ? folder : folder + '/';
}

void RequireKinds(TLibraryKinds kinds) {
    if (kinds == 0) throw std::logic_error("Assertion failure: empty library set");
}

void* Lookup(const char* textFormat, const std::string& fileName, TModuleHandle handle,
             const char* name, bool optional) {
    std::string error;
    void* address = ModuleSymbol(handle, name, error);
    if (!address && !optional)
        throw ELibraryBindError(Format(textFormat, name, fileName.c_str(), error.c_str()));
    return address;
}

// A file found in the folder is loaded by path, its folder joining the
// library search list; otherwise the bare name goes to the default search.
// The current directory is never changed (the dependencies are found by
// path, not through it).
bool LoadLibraryAt(const std::string& folder, const std::string& file, TModule& module,
                   std::string& error) {
    if (!folder.empty() && FileExists(folder + file)) {
        AddLibraryFolder(folder);
        return LoadModuleAt(folder + file, module, error);
    }
    return LoadModuleByName(file, module, error);
}

// The x87 control word the libraries expect: all six exceptions masked,
// 64-bit precision, rounding to nearest (0x133F). SSE arithmetic has its
// exceptions masked by default.
class TFloatingPointMask {
  public:
    TFloatingPointMask() {
#ifdef TW_HAVE_X87
        _FPU_GETCW(FSaved);
        fpu_control_t masked = 0x133F;
        _FPU_SETCW(masked);
#endif
    }
    void Restore() {
#ifdef TW_HAVE_X87
        _FPU_SETCW(FSaved);
#endif
    }

  private:
#ifdef TW_HAVE_X87
    fpu_control_t FSaved = 0;
#endif
};

// Process start and shutdown as the loader sees them.
class TProcessLifetime {
  public:
    TProcessLifetime() { FFLoader(); }
    ~TProcessLifetime() {
        FMask.Restore();
        // From here on the codec lock callback does nothing, so unregistering
        // the lock manager while libavcodec is unloaded logs nothing.
        gShuttingDown = true;
        try {
            FFLoader().Unload(AllLibraryKinds);
        } catch (...) {
            // Nothing can be reported this late; the process ends anyway.
        }
    }

  private:
    TFloatingPointMask FMask;
};

TProcessLifetime gProcessLifetime;

}  // namespace

const TLibraryItems& DefaultLibraryItems() {
    static const TLibraryItems items = {{
        {lkAVCodec, "avcodec", false, LIBAVCODEC_VERSION_MAJOR, BindAVCodec, UnbindAVCodec},
        {lkAVCore, "swresample", false, LIBSWRESAMPLE_VERSION_MAJOR, BindAVCore, UnbindAVCore},
        {lkAVDevice, "avdevice", false, LIBAVDEVICE_VERSION_MAJOR, BindAVDevice, UnbindAVDevice},
        {lkAVFilter, "avfilter", false, LIBAVFILTER_VERSION_MAJOR, BindAVFilter, UnbindAVFilter},
        {lkAVFormat, "avformat", false, LIBAVFORMAT_VERSION_MAJOR, BindAVFormat, UnbindAVFormat},
        {lkAVUtil, "avutil", false, LIBAVUTIL_VERSION_MAJOR, BindAVUtil, UnbindAVUtil},
        {lkSwScale, "swscale", false, LIBSWSCALE_VERSION_MAJOR, BindSwScale, UnbindSwScale},
        {lkMSVCRT, LIBC_SO, true, -1, BindLibC, UnbindLibC},
    }};
    return items;
}

TFFLoader& FFLoader() {
    // Never destroyed: shutdown unloads it, and late callers still find it.
    static TFFLoader* loader = new TFFLoader;
    return *loader;
}

bool LoaderShuttingDown() { return gShuttingDown; }

void* LookupFunction(const std::string& fileName, TModuleHandle handle, const char* name,
                     bool optional) {
    return Lookup("Load function %s@%s error: %s", fileName, handle, name, optional);
}

void* LookupVariable(const std::string& fileName, TModuleHandle handle, const char* name,
                     bool optional) {
    return Lookup("Load variable %s@%s error: %s", fileName, handle, name, optional);
}

TFFLoader::TFFLoader() : TFFLoader(DefaultLibraryItems()) {}

TFFLoader::TFFLoader(const TLibraryItems& items) : FItems(items) {
    for (int k = 0; k < LibraryKindCount; ++k) FStatus[k].Kind = TLibraryKind(k);
}

TFFLoader::~TFFLoader() {
    try {
        Unload(AllLibraryKinds);
    } catch (...) {
        // A destructor must not throw; the slots have been emptied already.
    }
}

std::string TFFLoader::LibraryFileName(TLibraryKind kind) const {
    const TLibraryItem& item = FItems[kind];
    if (item.Version < 0) return item.Name;
    return "lib" + item.Name + ".so." + std::to_string(item.Version);
}

bool TFFLoader::LoadLibrary(TLibraryKind kind) {
    const TLibraryItem& item = FItems[kind];
    TLibraryStatus& status = FStatus[kind];
    const std::string fileName = LibraryFileName(kind);
    if (!status.Handle) {
        std::string folder = FolderPart(fileName);
        const std::string file = fileName.substr(folder.size());
        if (folder.empty() && !FLibraryPath.empty() && !item.SystemLibrary)
            folder = WithSlash(FLibraryPath);
        std::string error;
        if (!LoadLibraryAt(folder, file, status.Handle, error)) {
            FLastErrMsg =
                Format("Load library %s error: %s", (folder + file).c_str(), error.c_str());
            return false;
        }
    }
    if (!status.Bound) {
        try {
            item.Bind(fileName, status.Handle.Handle);
            status.Bound = true;
        } catch (const std::exception& e) {
            FLastErrMsg = e.what();
            item.Unbind();
        } catch (...) {
            // Not ours to report: leave nothing half bound and pass it on.
            item.Unbind();
            UnloadLibrary(kind);
            throw;
        }
    }
    if (!status.Bound) {
        UnloadLibrary(kind);
        return false;
    }
    AfterLoad(kind);
    return true;
}

void TFFLoader::AfterLoad(TLibraryKind kind) {
    switch (kind) {
        case lkAVCodec:
            RegisterCodecLockManager();
            break;
        case lkAVUtil:
            if (InstallLogCallback) FFLogger()->InstallCallback();
            break;
        case lkAVFormat:
            RegisterWideProtocol();
            RegisterIOInterruptCallback();
            break;
        default:
            break;
    }
}

bool TFFLoader::Load(TLibraryKinds kinds) {
    RequireKinds(kinds);
    for (int k = 0; k < LibraryKindCount; ++k) {
        if (!(kinds & KindBit(TLibraryKind(k)))) continue;
        if (!LoadLibrary(TLibraryKind(k))) {
            Unload(kinds);
            return false;
        }
    }
    return true;
}

bool TFFLoader::LibraryLoaded(TLibraryKind kind) const {
    return FStatus[kind].Handle && FStatus[kind].Bound;
}

bool TFFLoader::Loaded(TLibraryKinds kinds) const {
    RequireKinds(kinds);
    for (int k = 0; k < LibraryKindCount; ++k)
        if ((kinds & KindBit(TLibraryKind(k))) && !LibraryLoaded(TLibraryKind(k))) return false;
    return true;
}

void TFFLoader::UnloadLibrary(TLibraryKind kind) {
    TLibraryStatus& status = FStatus[kind];
    if (status.Bound) {
        // The lock manager goes while libavcodec's entries are still there.
        if (kind == lkAVCodec) UnregisterCodecLockManager();
        FItems[kind].Unbind();
        status.Bound = false;
    }
    if (status.Handle) ReleaseModule(status.Handle);
}

void TFFLoader::Unload(TLibraryKinds kinds) {
    RequireKinds(kinds);
    for (int k = 0; k < LibraryKindCount; ++k)
        if (kinds & KindBit(TLibraryKind(k))) UnloadLibrary(TLibraryKind(k));
}

}  // namespace tw
