// tests/loader/DynLib_test.cpp — the platform layer: reading the libraries a
// file needs, and the process-wide list of library folders.
#include "binding/DynLib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <vector>

#include "tests/loader/LoaderTestSupport.h"

using namespace tw;
using namespace tw::test;

namespace {

bool Contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

}  // namespace

// Catches: a wrong mapping of the string table's address to its file offset
// (the names come out as garbage or not at all).
TEST(DynLib, ReadsTheNeededLibrariesOfARealLibrary) {
    const std::string codec = SystemLibraryFolder() + SystemFileName(lkAVCodec);
    const std::vector<std::string> needed = NeededLibraries(codec);
    EXPECT_TRUE(Contains(needed, SystemFileName(lkAVUtil)));
    EXPECT_TRUE(Contains(needed, SystemFileName(lkAVCore)));
    EXPECT_TRUE(Contains(needed, "libc.so.6"));
}

// Catches: reading past the end of a damaged file, or trusting a file that is
// no shared object.
TEST(DynLib, DamagedOrForeignFilesNeedNothing) {
    TTempFolder folder;
    WriteFile(folder.File("text"), "not an ELF file at all");
    EXPECT_TRUE(NeededLibraries(folder.File("text")).empty());

    std::ifstream real(SystemLibraryFolder() + SystemFileName(lkAVCodec), std::ios::binary);
    for (size_t size : {16u, 64u, 4096u}) {
        std::string head(size, '\0');
        real.seekg(0);
        real.read(head.data(), std::streamsize(size));
        WriteFile(folder.File("head"), head);
        EXPECT_TRUE(NeededLibraries(folder.File("head")).empty()) << size << " bytes";
    }
    EXPECT_TRUE(NeededLibraries(folder.File("missing")).empty());
    EXPECT_TRUE(NeededLibraries(folder.Path()).empty());
}

TEST(DynLib, FolderListGainsAFolderOnceWithOrWithoutSlash) {
    AddLibraryFolder("/tw/first");
    AddLibraryFolder("/tw/second/");
    AddLibraryFolder("/tw/first/");
    AddLibraryFolder("/tw/second");
    EXPECT_EQ(LibraryFolders(), (std::vector<std::string>{"/tw/first/", "/tw/second/"}));
}

TEST(DynLib, FolderPartEndsAtTheLastSlash) {
    EXPECT_EQ(FolderPart("/a/b/libx.so.1"), "/a/b/");
    EXPECT_EQ(FolderPart("libx.so.1"), "");
    EXPECT_EQ(FolderPart("/a/b/"), "/a/b/");
}

TEST(DynLib, FailuresCarryTheLinkersText) {
    TModule module;
    std::string error;
    EXPECT_FALSE(LoadModuleByName("libtw-none.so.999", module, error));
    EXPECT_FALSE(module);
    EXPECT_NE(error.find("libtw-none.so.999"), std::string::npos) << error;

    ASSERT_TRUE(LoadModuleByName("libc.so.6", module, error));
    error.clear();
    EXPECT_EQ(ModuleSymbol(module.Handle, "tw_no_such_entry", error), nullptr);
    EXPECT_NE(error.find("tw_no_such_entry"), std::string::npos) << error;
    ReleaseModule(module);
    EXPECT_FALSE(module);
}
