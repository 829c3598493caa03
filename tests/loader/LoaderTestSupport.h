// tests/loader/LoaderTestSupport.h — folders of libraries for the loader
// tests: the system's media libraries linked into a temporary folder, the
// stub libraries built beside the tests, and slot counting.
#pragma once

#include <string>

#include "binding/FFLoad.h"

namespace tw::test {

/// A fresh folder under the system's temporary folder, removed with its
/// content on destruction. Path() has no trailing '/'.
class TTempFolder {
  public:
    TTempFolder();
    ~TTempFolder();
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;
    const std::string& Path() const { return FPath; }
    /// Path() + "/" + name.
    std::string File(const std::string& name) const { return FPath + "/" + name; }

  private:
    std::string FPath;
};

/// The folder that holds the system's media libraries (ends in '/').
std::string SystemLibraryFolder();

/// The file name the system's library of the kind has ("libavcodec.so.59"),
/// composed from the headers independently of the loader.
std::string SystemFileName(TLibraryKind kind);

/// Links the system's seven media libraries into folder under their file
/// names.
void LinkMediaLibraries(const TTempFolder& folder);

/// Copies the stub library built from stubs/<stub>.c into folder as name.
void CopyStub(const std::string& stub, const TTempFolder& folder, const std::string& name);
/// Where the stub library built from stubs/<stub>.c lies.
std::string StubPath(const std::string& stub);

/// Number of entry slots of the kind's library, and how many are filled.
int SlotCount(TLibraryKind kind);
int FilledSlots(TLibraryKind kind);

/// The file a loaded address belongs to, as the dynamic linker names it
/// (the path the object was opened with).
std::string ObjectFileOf(const void* address);
/// True when an object opened with exactly this path is loaded.
bool ObjectLoadedAs(const std::string& path);

/// The process's current directory.
std::string CurrentDirectory();

}  // namespace tw::test
