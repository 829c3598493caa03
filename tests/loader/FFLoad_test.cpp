// tests/loader/FFLoad_test.cpp — the loader with the system's libraries in a
// library folder: loading the working set, failure texts and clean-up,
// search rules and the actions that follow a load. Every test runs in a
// process of its own.
#include "binding/FFLoad.h"

#include <dlfcn.h>
#include <gnu/lib-names.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "binding/Entries.h"
#include "binding/InterruptCB.h"
#include "binding/UnicodeProtocol.h"
#include "diag/FFLog.h"
#include "tests/loader/LoaderTestSupport.h"

#if defined(__i386__) || defined(__x86_64__)
#include <fpu_control.h>
#endif

using namespace tw;
using namespace tw::test;

namespace {

const std::vector<TLibraryKind> kWorkKinds = {lkAVCodec, lkAVCore,  lkAVFilter, lkAVFormat,
                                              lkAVUtil,  lkSwScale, lkMSVCRT};

}  // namespace

TEST(FFLoad, ComposesFileNamesFromTheHeaders) {
    TFFLoader& loader = FFLoader();
    for (int k = 0; k < LibraryKindCount; ++k)
        EXPECT_EQ(loader.LibraryFileName(TLibraryKind(k)), SystemFileName(TLibraryKind(k)));
}

TEST(FFLoad, LoadsTheWorkingSetFromTheLibraryFolder) {
    TTempFolder folder;
    LinkMediaLibraries(folder);
    const std::string cwd = CurrentDirectory();
    TFFLoader& loader = FFLoader();
    loader.SetLibraryPath(folder.Path());

    ASSERT_TRUE(loader.Load(WorkLibraryKinds)) << loader.LastErrMsg();
    EXPECT_TRUE(loader.Loaded(WorkLibraryKinds));
    EXPECT_FALSE(loader.LibraryLoaded(lkAVDevice));
    EXPECT_FALSE(loader.Loaded(AllLibraryKinds));
    EXPECT_EQ(CurrentDirectory(), cwd);
    EXPECT_EQ(loader.LastErrMsg(), "");

    // Every slot of the set is filled (the optional one exists in this build).
    for (TLibraryKind kind : kWorkKinds) EXPECT_EQ(FilledSlots(kind), SlotCount(kind)) << kind;
    EXPECT_EQ(FilledSlots(lkAVDevice), 0);

    // The entries came from the folder, not from the system's copies.
    EXPECT_EQ(ObjectFileOf(reinterpret_cast<void*>(lib().avcodec_open2)),
              folder.File(SystemFileName(lkAVCodec)));
    EXPECT_EQ(ObjectFileOf(reinterpret_cast<void*>(lib().swr_convert)),
              folder.File(SystemFileName(lkAVCore)));
    EXPECT_EQ(ObjectFileOf(reinterpret_cast<void*>(lib().av_log)),
              folder.File(SystemFileName(lkAVUtil)));
    EXPECT_EQ(ObjectFileOf(reinterpret_cast<void*>(lib().sws_scale)),
              folder.File(SystemFileName(lkSwScale)));
    EXPECT_FALSE(ObjectLoadedAs(SystemLibraryFolder() + SystemFileName(lkAVUtil)));

    // Bound entries work.
    EXPECT_EQ(lib().avutil_version(), unsigned(LIBAVUTIL_VERSION_INT));
    // The slot holds the C library's own object (the program may use a copy
    // of it); both refer to the same stream.
    ASSERT_NE(lib().stderr_ptr, nullptr);
    EXPECT_EQ(*lib().stderr_ptr, stderr);
    char text[16];
    EXPECT_EQ(lib().snprintf(text, sizeof text, "%d-%s", 42, "x"), 4);
    EXPECT_STREQ(text, "42-x");

    loader.Unload(WorkLibraryKinds);
    EXPECT_FALSE(loader.Loaded(WorkLibraryKinds));
    for (TLibraryKind kind : kWorkKinds) {
        EXPECT_EQ(FilledSlots(kind), 0) << kind;
        EXPECT_FALSE(loader.Status(kind).Handle) << kind;
    }
}

// Catches: a failed Load that leaves earlier kinds loaded or slots filled,
// and a text that names the wrong file.
TEST(FFLoad, AMissingLibraryUnloadsTheWholeSet) {
    TTempFolder folder;
    LinkMediaLibraries(folder);
    TLibraryItems items = DefaultLibraryItems();
    items[lkSwScale].Version = 999;
    TFFLoader loader(items);
    loader.SetLibraryPath(folder.Path());
    // Loaded before the call, and still part of the failing set.
    ASSERT_TRUE(loader.LoadLibrary(lkMSVCRT)) << loader.LastErrMsg();

    EXPECT_FALSE(loader.Load(WorkLibraryKinds));
    const std::string expected =
        "Load library " + folder.File("libswscale.so.999") + " error: libswscale.so.999: ";
    EXPECT_EQ(loader.LastErrMsg().substr(0, expected.size()), expected) << loader.LastErrMsg();
    for (TLibraryKind kind : kWorkKinds) {
        EXPECT_FALSE(loader.LibraryLoaded(kind)) << kind;
        EXPECT_FALSE(loader.Status(kind).Handle) << kind;
        EXPECT_FALSE(loader.Status(kind).Bound) << kind;
        EXPECT_EQ(FilledSlots(kind), 0) << kind;
    }
    EXPECT_FALSE(ObjectLoadedAs(folder.File(SystemFileName(lkAVCodec))));

    // The text stays until the next failure.
    ASSERT_TRUE(loader.LoadLibrary(lkAVUtil));
    EXPECT_EQ(loader.LastErrMsg().substr(0, expected.size()), expected);
}

// Catches: "a/b" and "a/b/" treated as two folders, a doubled '/', or the
// dependencies resolved from the system instead of the folder.
TEST(FFLoad, TrailingSlashMakesNoDifference) {
    TTempFolder folder;
    LinkMediaLibraries(folder);
    const std::string cwd = CurrentDirectory();
    TFFLoader loader;
    const std::string scale = folder.File(SystemFileName(lkSwScale));

    for (const std::string& path : {folder.Path(), folder.Path() + "/", folder.Path()}) {
        loader.SetLibraryPath(path);
        ASSERT_TRUE(loader.LoadLibrary(lkSwScale)) << path << ": " << loader.LastErrMsg();
        EXPECT_EQ(ObjectFileOf(reinterpret_cast<void*>(lib().sws_scale)), scale) << path;
        // libswscale needs libavutil: it was opened from the same folder.
        EXPECT_TRUE(ObjectLoadedAs(folder.File(SystemFileName(lkAVUtil)))) << path;
        EXPECT_EQ(CurrentDirectory(), cwd);
        loader.UnloadLibrary(lkSwScale);
        EXPECT_EQ(FilledSlots(lkSwScale), 0);
    }
    const std::vector<std::string> folders = LibraryFolders();
    EXPECT_EQ(std::count(folders.begin(), folders.end(), folder.Path() + "/"), 1);
    EXPECT_EQ(folders.size(), 1u);
}

// Catches: the C library looked for in the library folder.
TEST(FFLoad, TheRunTimeLibraryIsLoadedByBareName) {
    TTempFolder folder;
    // A decoy under the C library's name that lacks every entry.
    CopyStub("stub_swscale", folder, LIBC_SO);
    TFFLoader loader;
    loader.SetLibraryPath(folder.Path());
    ASSERT_TRUE(loader.LoadLibrary(lkMSVCRT)) << loader.LastErrMsg();
    EXPECT_EQ(FilledSlots(lkMSVCRT), SlotCount(lkMSVCRT));
    ASSERT_NE(lib().stderr_ptr, nullptr);
    EXPECT_EQ(*lib().stderr_ptr, stderr);
    // The system C library's own fopen (under the address sanitizer &::fopen
    // is the sanitizer's wrapper, so ask the library itself).
    void* libc = dlopen(LIBC_SO, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(libc, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(lib().fopen), dlsym(libc, "fopen"));
    dlclose(libc);
    EXPECT_FALSE(ObjectLoadedAs(folder.File(LIBC_SO)));
    EXPECT_TRUE(LibraryFolders().empty());
}

// Catches: the protocol registered twice, or the interrupt callback not
// registered again, when libavformat is loaded a second time.
TEST(FFLoad, ReloadingAFormatLibraryRegistersTheCallbackAgain) {
    TTempFolder folder;
    LinkMediaLibraries(folder);
    TFFLoader& loader = FFLoader();
    loader.SetLibraryPath(folder.Path());
    ASSERT_TRUE(loader.Load(WorkLibraryKinds)) << loader.LastErrMsg();
    EXPECT_EQ(WideProtocolCount(), 1);
    const int registrations = IOInterruptCallbackRegistrations();
    EXPECT_GE(registrations, 1);

    ASSERT_TRUE(loader.LoadLibrary(lkAVFormat));
    EXPECT_EQ(WideProtocolCount(), 1);
    EXPECT_EQ(IOInterruptCallbackRegistrations(), registrations + 1);
}

// Catches: the lock manager removed after libavcodec's slots are gone (the
// library could no longer be told).
TEST(FFLoad, UnloadingTheCodecLibraryRemovesTheLockManagerFirst) {
    TTempFolder folder;
    LinkMediaLibraries(folder);
    struct TLine {
        std::string Text;
        bool CodecBound;
    };
    std::vector<TLine> lines;
    FFLogger()->TriggerEventInMainThread = false;
    FFLogger()->SetLogLevel(llDebug);
    FFLogger()->OnLog = [&lines](TLogSender, uint32_t, TLogLevel, const std::string& text) {
        lines.push_back({text, lib().avcodec_open2 != nullptr});
    };
    TFFLoader& loader = FFLoader();
    loader.SetLibraryPath(folder.Path());
    ASSERT_TRUE(loader.Load(WorkLibraryKinds)) << loader.LastErrMsg();
    lines.clear();

    loader.UnloadLibrary(lkAVCodec);
    EXPECT_EQ(FilledSlots(lkAVCodec), 0);
    bool destroyed = false;
    for (const TLine& line : lines) {
        if (line.Text.rfind("destory codec mutex [", 0) != 0) continue;
        destroyed = true;
        EXPECT_TRUE(line.CodecBound);
    }
    EXPECT_TRUE(destroyed);
    FFLogger()->OnLog = nullptr;
}

TEST(FFLoad, AnEmptySetIsAnAssertion) {
    TFFLoader loader;
    EXPECT_THROW(loader.Load(0), std::logic_error);
    EXPECT_THROW(loader.Loaded(0), std::logic_error);
    EXPECT_THROW(loader.Unload(0), std::logic_error);
    EXPECT_EQ(loader.LastErrMsg(), "");
}

TEST(FFLoad, ProcessStartMasksFloatingPointExceptions) {
    EXPECT_FALSE(LoaderShuttingDown());
#if defined(__i386__) || defined(__x86_64__)
    fpu_control_t word;
    _FPU_GETCW(word);
    // Bit 6 is reserved and reads back as set on most processors.
    EXPECT_EQ(word & ~0x0040, 0x133F);
#endif
}

// Catches: a crash while the libraries are unloaded at process end (the
// exit code of a process that ends with everything loaded).
TEST(FFLoad, ProcessEndUnloadsEverythingCleanly) {
    TTempFolder folder;
    LinkMediaLibraries(folder);
    EXPECT_EXIT(
        {
            FFLoader().SetLibraryPath(folder.Path());
            if (!FFLoader().Load(AllLibraryKinds)) std::_Exit(3);
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
}
