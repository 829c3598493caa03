// binding/FFLoad.h — the loader: opens the media libraries and the C library
// at run time and binds their entry slots (binding/Entries.h).
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "binding/DynLib.h"

namespace tw {

/// The eight kinds, in load and unload order. lkAVCore stands for the library
/// that now holds audio resampling and sample-format conversion
/// (libswresample); lkMSVCRT stands for the platform run-time library, the C
/// library.
enum TLibraryKind : uint8_t {
    lkAVCodec,
    lkAVCore,
    lkAVDevice,
    lkAVFilter,
    lkAVFormat,
    lkAVUtil,
    lkSwScale,
    lkMSVCRT
};
constexpr int LibraryKindCount = 8;

/// A set of kinds (one bit per kind).
using TLibraryKinds = uint8_t;
constexpr TLibraryKinds KindBit(TLibraryKind k) { return TLibraryKinds(1u << k); }
constexpr TLibraryKinds AllLibraryKinds = 0xFF;
/// What every job needs, a copy included (probing, the engine's option
/// contexts, demuxing and muxing): libavcodec, libavformat, libavutil,
/// libswscale and the C library. Loaded by the encoder before any work.
constexpr TLibraryKinds CopyLibraryKinds = KindBit(lkAVCodec) | KindBit(lkAVFormat) |
                                           KindBit(lkAVUtil) | KindBit(lkSwScale) |
                                           KindBit(lkMSVCRT);
/// What only decoding and encoding need on top: audio resampling
/// (libswresample) and the filter graphs (libavfilter, which pulls in some
/// thirty further libraries). Loaded when a task first re-encodes.
constexpr TLibraryKinds ReencodeLibraryKinds = KindBit(lkAVCore) | KindBit(lkAVFilter);
/// Everything a re-encoding job needs: all but libavdevice.
constexpr TLibraryKinds WorkLibraryKinds = CopyLibraryKinds | ReencodeLibraryKinds;
static_assert(WorkLibraryKinds == (AllLibraryKinds & ~KindBit(lkAVDevice)));

/// A failed binding: the text is the loader's failure text ("Load function
/// %s@%s error: %s" or "Load variable %s@%s error: %s").
class ELibraryBindError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// Fills every entry slot of one library from the module, in list order.
/// FileName is the library's file name (for the failure texts). Throws
/// ELibraryBindError on a missing required entry.
using TBindProc = void (*)(const std::string& FileName, TModuleHandle Handle);
/// Empties every entry slot of one library. Never throws.
using TUnbindProc = void (*)();

/// One constant row per kind.
struct TLibraryItem {
    TLibraryKind Kind;
    /// Base name ("avcodec"); for a row with Version -1, the whole file name.
    std::string Name;
    /// True only for the C library row: never looked for in the library
    /// folder, always loaded by bare name.
    bool SystemLibrary;
    /// Major version (the soname's number); -1 when Name is the file name.
    int32_t Version;
    TBindProc Bind;
    TUnbindProc Unbind;
};
using TLibraryItems = std::array<TLibraryItem, LibraryKindCount>;

/// The fixed table: versions are the majors of the headers the system was
/// built with (libavcodec.so.59, ...); the C library row is LIBC_SO.
const TLibraryItems& DefaultLibraryItems();

/// One mutable row per kind.
struct TLibraryStatus {
    TLibraryKind Kind;
    /// The loaded file (and the dependencies opened for it); empty when not
    /// loaded.
    TModule Handle;
    /// True when Bind completed for the current handle.
    bool Bound = false;
};

/// Loads libraries by kind and binds their entries into the process-wide
/// slots. Main thread only (the thread that loads is the thread that
/// unloads); no lock. Every loader fills the same slots: FFLoader() is the
/// process's one loader, other instances exist for tests.
///
/// Passing an empty set to Load, Loaded or Unload is a programming error: it
/// throws std::logic_error("Assertion failure: empty library set") and
/// changes nothing (LastErrMsg included).
class TFFLoader {
  public:
    /// With the fixed table.
    TFFLoader();
    /// With a table of one's own (rows in kind order).
    explicit TFFLoader(const TLibraryItems& items);
    /// Unloads every kind this loader still holds.
    ~TFFLoader();
    TFFLoader(const TFFLoader&) = delete;
    TFFLoader& operator=(const TFFLoader&) = delete;

    /// The folder searched first (UTF-8); a missing trailing '/' is implied.
    void SetLibraryPath(const std::string& path) { FLibraryPath = path; }
    const std::string& LibraryPath() const { return FLibraryPath; }
    /// Text of the last load or bind failure; kept until the next failure.
    const std::string& LastErrMsg() const { return FLastErrMsg; }
    /// When true (the default), loading libavutil installs the logger's
    /// library log callback and applies its level.
    bool InstallLogCallback = true;

    /// "lib" + Name + ".so." + Version ("libavcodec.so.59"); Name alone when
    /// Version is -1 ("libc.so.6").
    std::string LibraryFileName(TLibraryKind kind) const;

    /// Loads and binds one kind, then runs its after-load actions (also when
    /// it was bound already): libavcodec registers the codec lock manager,
    /// libavutil installs the log callback (see InstallLogCallback),
    /// libavformat registers the wide-name protocol and the I/O interrupt
    /// callback. True when the kind is bound; false with LastErrMsg set
    /// ("Load library %s error: %s", or the bind failure's text) and the
    /// kind unloaded.
    bool LoadLibrary(TLibraryKind kind);
    /// Loads every kind of the set in kind order; at the first failure
    /// unloads the whole set (also kinds loaded before the call) and returns
    /// false.
    bool Load(TLibraryKinds kinds);
    /// True when the kind has a handle and is bound.
    bool LibraryLoaded(TLibraryKind kind) const;
    /// True when every kind of the set is loaded and bound.
    bool Loaded(TLibraryKinds kinds) const;
    /// From any state back to unloaded: unregisters the codec lock manager
    /// (libavcodec, before its slots are emptied), empties the slots and
    /// releases the file.
    void UnloadLibrary(TLibraryKind kind);
    /// UnloadLibrary for each kind of the set in kind order.
    void Unload(TLibraryKinds kinds);

    const TLibraryItem& Item(TLibraryKind kind) const { return FItems[kind]; }
    const TLibraryStatus& Status(TLibraryKind kind) const { return FStatus[kind]; }

  private:
    void AfterLoad(TLibraryKind kind);

    TLibraryItems FItems;
    std::array<TLibraryStatus, LibraryKindCount> FStatus;
    std::string FLibraryPath;
    std::string FLastErrMsg;
};

/// The one loader of the process: created at process start, unloaded at
/// process shutdown and never destroyed (so it may still be asked afterwards).
TFFLoader& FFLoader();

/// True once process shutdown has begun (read by the codec lock callback).
bool LoaderShuttingDown();

/// The address of a function of a library; nullptr when an optional one is
/// missing. A missing required function throws ELibraryBindError
/// "Load function <name>@<file> error: <platform text>".
void* LookupFunction(const std::string& fileName, TModuleHandle handle, const char* name,
                     bool optional);
/// As LookupFunction for a data entry: "Load variable %s@%s error: %s".
void* LookupVariable(const std::string& fileName, TModuleHandle handle, const char* name,
                     bool optional);

/// Stores the function's address in the slot, also when it is empty (optional
/// entries); throws as LookupFunction.
template <typename TSlot>
void BindFunction(const std::string& fileName, TModuleHandle handle, const char* name,
                  bool optional, TSlot& slot) {
    slot = reinterpret_cast<TSlot>(LookupFunction(fileName, handle, name, optional));
}

/// Stores the data entry's address in the slot; throws as LookupVariable.
template <typename TSlot>
void BindVariable(const std::string& fileName, TModuleHandle handle, const char* name,
                  bool optional, TSlot& slot) {
    slot = static_cast<TSlot>(LookupVariable(fileName, handle, name, optional));
}

/// The Bind and Unbind procedures of the eight libraries, generated from the
/// entry lists (binding/Entries.cpp). libavdevice's Bind also registers its
/// devices.
void BindAVCodec(const std::string& FileName, TModuleHandle Handle);
void UnbindAVCodec();
void BindAVCore(const std::string& FileName, TModuleHandle Handle);
void UnbindAVCore();
void BindAVDevice(const std::string& FileName, TModuleHandle Handle);
void UnbindAVDevice();
void BindAVFilter(const std::string& FileName, TModuleHandle Handle);
void UnbindAVFilter();
void BindAVFormat(const std::string& FileName, TModuleHandle Handle);
void UnbindAVFormat();
void BindAVUtil(const std::string& FileName, TModuleHandle Handle);
void UnbindAVUtil();
void BindSwScale(const std::string& FileName, TModuleHandle Handle);
void UnbindSwScale();
void BindLibC(const std::string& FileName, TModuleHandle Handle);
void UnbindLibC();

}  // namespace tw
