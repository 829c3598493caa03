// tests/loader/FFLoadStubs_test.cpp — binding against stub libraries that
// lack entries: required ones make the load fail cleanly, the optional one
// does not.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "binding/Entries.h"
#include "binding/FFLoad.h"
#include "tests/loader/LoaderTestSupport.h"

using namespace tw;
using namespace tw::test;

// Catches: slots bound before the missing entry left filled, the handle
// kept, or a text that names the wrong entry or file.
TEST(FFLoadStubs, AMissingRequiredFunctionFailsTheLibrary) {
    TTempFolder folder;
    const std::string file = SystemFileName(lkSwScale);
    CopyStub("stub_swscale", folder, file);
    TFFLoader loader;
    loader.SetLibraryPath(folder.Path());

    EXPECT_FALSE(loader.LoadLibrary(lkSwScale));
    const std::string expected = "Load function sws_scale@" + file + " error: ";
    EXPECT_EQ(loader.LastErrMsg().substr(0, expected.size()), expected) << loader.LastErrMsg();
    EXPECT_NE(loader.LastErrMsg().find("undefined symbol: sws_scale"), std::string::npos)
        << loader.LastErrMsg();
    EXPECT_FALSE(loader.Status(lkSwScale).Handle);
    EXPECT_FALSE(loader.Status(lkSwScale).Bound);
    EXPECT_EQ(FilledSlots(lkSwScale), 0);
    EXPECT_FALSE(ObjectLoadedAs(folder.File(file)));
}

TEST(FFLoadStubs, AMissingOptionalFunctionStillBinds) {
    TTempFolder folder;
    const std::string file = SystemFileName(lkAVCore);
    CopyStub("stub_swresample", folder, file);
    TFFLoader loader;
    loader.SetLibraryPath(folder.Path());

    ASSERT_TRUE(loader.LoadLibrary(lkAVCore)) << loader.LastErrMsg();
    EXPECT_TRUE(loader.LibraryLoaded(lkAVCore));
    EXPECT_EQ(lib().swr_get_out_samples, nullptr);
    EXPECT_EQ(FilledSlots(lkAVCore), SlotCount(lkAVCore) - 1);
    EXPECT_EQ(ObjectFileOf(reinterpret_cast<void*>(lib().swr_convert)), folder.File(file));
    EXPECT_EQ(loader.LastErrMsg(), "");
}

// A row whose name carries its folder is loaded from there, and a missing
// data entry has its own text.
TEST(FFLoadStubs, AMissingDataEntryFailsTheLibrary) {
    TLibraryItems items = DefaultLibraryItems();
    items[lkMSVCRT].Name = StubPath("stub_libc");
    TFFLoader loader(items);

    EXPECT_FALSE(loader.LoadLibrary(lkMSVCRT));
    const std::string expected = "Load variable stderr@" + StubPath("stub_libc") + " error: ";
    EXPECT_EQ(loader.LastErrMsg().substr(0, expected.size()), expected) << loader.LastErrMsg();
    EXPECT_FALSE(loader.Status(lkMSVCRT).Handle);
    EXPECT_EQ(FilledSlots(lkMSVCRT), 0);
}
