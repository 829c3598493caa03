// Frame-hook modules: the module cache, configuration per entry, the
// failure codes with their log lines, running and releasing the list; and
// the previewer's closed state.
#include "diag/FrameHook.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/Entries.h"
#include "binding/FFLoad.h"
#include "diag/Previewer.h"
#include "tests/support/LogCapture.h"

using namespace tw;

namespace {

std::string HookPath(const char* name) {
    const char* dir = std::getenv("TW_BUILD_DIR");
    return std::string(dir ? dir : TW_BUILD_DIR) + "/hooks/" + name + ".so";
}

int Add(TFrameHookList& list, std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    return AddFrameHook(list, static_cast<int>(argv.size()), argv.data());
}

int Counter(const char* name) {
    void* h = dlopen(HookPath("twhook_fill").c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!h) return -1;
    int value = *static_cast<int*>(dlsym(h, name));
    dlclose(h);
    return value;
}

class FrameHooks : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds)) << FFLoader().LastErrMsg();
    }
    test::LogCapture Log;
};

}  // namespace

TEST_F(FrameHooks, SameModuleTwiceLoadsOnceAndKeepsOwnArguments) {
    TFrameHookList list;
    ASSERT_EQ(Add(list, {HookPath("twhook_fill"), "10"}), 0);
    EXPECT_EQ(Counter("tw_hook_configure_calls"), 1);
    ASSERT_EQ(Add(list, {HookPath("twhook_fill"), "200"}), 0);
    EXPECT_EQ(Counter("tw_hook_configure_calls"), 2);
    ASSERT_TRUE(list.Head && list.Head->Next);
    EXPECT_EQ(list.Head->Process, list.Head->Next->Process);  // one module
    EXPECT_NE(list.Head->Ctx, list.Head->Next->Ctx);

    // Run in list order: the second entry paints last.
    uint8_t plane[4 * 2] = {};
    TwHookPicture pic{{plane, nullptr, nullptr, nullptr}, {4, 0, 0, 0}};
    ProcessFrameHooks(list, &pic, 0, 4, 2, 0);
    EXPECT_EQ(Counter("tw_hook_process_calls"), 2);
    EXPECT_EQ(plane[0], 200);
    EXPECT_EQ(plane[7], 200);

    ReleaseFrameHooks(list);
    EXPECT_TRUE(list.Empty());
    EXPECT_EQ(Counter("tw_hook_release_calls"), 2);
}

TEST_F(FrameHooks, FailuresGiveTheirCodeAndLogLine) {
    TFrameHookList list;
    EXPECT_EQ(AddFrameHook(list, 0, nullptr), -2);

    const std::string broken = HookPath("twhook_noprocess");
    EXPECT_EQ(Add(list, {broken}), -2);
    EXPECT_TRUE(Log.Contains("Failed to find Process entrypoint in " + broken));

    EXPECT_EQ(Add(list, {HookPath("twhook_missing")}), -1);
    EXPECT_TRUE(Log.Contains("twhook_missing"));

    EXPECT_EQ(Add(list, {HookPath("twhook_fill"), "999"}), -22);
    EXPECT_TRUE(Log.Contains("Failed to Configure " + HookPath("twhook_fill")));
    EXPECT_TRUE(list.Empty());
}

TEST_F(FrameHooks, CurrentDirectoryIsRestored) {
    char before[4096];
    ASSERT_TRUE(getcwd(before, sizeof before));
    TFrameHookList list;
    EXPECT_EQ(Add(list, {HookPath("twhook_missing")}), -1);
    ASSERT_EQ(Add(list, {HookPath("twhook_fill")}), 0);
    char after[4096];
    ASSERT_TRUE(getcwd(after, sizeof after));
    EXPECT_STREQ(before, after);
}

namespace {

class CountingPreviewer : public TPreviewer {
  public:
    int Paints = 0;
    int64_t LastTime = -1;
    void UserCloses() { SetClosed(); }

  protected:
    void Paint() override {
        ++Paints;
        LastTime = Time();
    }
};

}  // namespace

TEST(Previewer, ClosingTheWindowEndsThePreview) {
    CountingPreviewer p;
    TBitmap bmp;
    EXPECT_TRUE(p.Show(&bmp, 0, 1500000));
    EXPECT_EQ(p.Paints, 1);
    EXPECT_EQ(p.LastTime, 1500000);
    p.UserCloses();
    EXPECT_FALSE(p.Show(&bmp, 0, 1600000));
    EXPECT_EQ(p.Paints, 1);

    // Without a window (no factory installed) the preview is closed at once.
    EXPECT_FALSE(NewPreviewer()->Show(&bmp, 0, 0));
}
