// binding/DynLib.h — the platform's dynamic-library calls as the loader needs
// them: load by path with dependency search in the file's folder, load by
// bare name, look up a name, release, and a readable error text.
//
// What each piece stands for on the original platform:
//  - LoadModuleAt: loading a file with the altered search path, so that the
//    libraries it depends on are looked for in its own folder first. The
//    dynamic linker reads LD_LIBRARY_PATH only at process start, so the
//    dependencies that lie in that folder are opened by path beforehand.
//  - LoadModuleByName: loading a bare file name with the default search.
//  - AddLibraryFolder / LibraryFolders: putting a folder on "PATH" for the
//    rest of the process; such folders are searched for dependencies too.
//  - The error texts are dlerror()'s texts (the last error's system text).
#pragma once

#include <string>
#include <vector>

namespace tw {

/// The platform's handle of an opened shared object.
using TModuleHandle = void*;

/// One loaded library: its own handle and the handles of the dependencies
/// that were opened by path on its behalf. Owned by whoever loaded it; give
/// it back with ReleaseModule (not released by destruction).
struct TModule {
    TModuleHandle Handle = nullptr;
    /// Opened before Handle, in opening order; released after it, in reverse.
    std::vector<TModuleHandle> Dependencies;
    explicit operator bool() const { return Handle != nullptr; }
};

/// True when path names an existing file that is not a directory (symbolic
/// links are followed).
bool FileExists(const std::string& path);

/// Loads the file at path (which contains a '/'). Its dependencies
/// (DT_NEEDED) found in the file's own folder, or else in one of
/// LibraryFolders() in the order they were added, are opened by path first,
/// recursively, and kept in module.Dependencies. On failure returns false,
/// leaves module empty and sets error to the platform's text.
bool LoadModuleAt(const std::string& path, TModule& module, std::string& error);

/// Loads a bare file name with the default search of the dynamic linker;
/// when that fails, the folders of LibraryFolders() are tried in order. On
/// failure returns false, leaves module empty and sets error to the text of
/// the default search's failure.
bool LoadModuleByName(const std::string& name, TModule& module, std::string& error);

/// The address of the exported name, or nullptr with error set to the
/// platform's text.
void* ModuleSymbol(TModuleHandle handle, const char* name, std::string& error);

/// Releases the module and its dependencies and empties it. An empty module
/// is left alone.
void ReleaseModule(TModule& module);

/// Adds folder to the process-wide list of library folders unless it is there
/// already. A trailing '/' is added when missing, so "/a/b" and "/a/b/" are
/// the same folder. Any thread.
void AddLibraryFolder(const std::string& folder);
/// The process-wide list, each entry ending in '/', in the order added.
std::vector<std::string> LibraryFolders();

/// The names a shared object needs (its DT_NEEDED entries) in file order,
/// read from the file's dynamic section. Empty when the file cannot be read
/// or is not an ELF object of this machine's class.
std::vector<std::string> NeededLibraries(const std::string& path);

/// The folder part of path: everything up to and including the last '/'
/// (empty when there is none).
std::string FolderPart(const std::string& path);

}  // namespace tw
