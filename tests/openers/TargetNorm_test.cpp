// tests/openers/TargetNorm_test.cpp — a target without a norm takes it from
// the frame rate of the inputs opened before it.
#include <gtest/gtest.h>

#include "binding/FFLoad.h"
#include "diag/FFLog.h"
#include "tests/support/Media.h"
#include "tests/support/TempDir.h"
#include "transcoder/CustomFFmpeg.h"

namespace tw {
namespace {

TEST(TargetNorm, FromTheOpenedInputs) {
    ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds)) << FFLoader().LastErrMsg();
    FFLogger()->TriggerEventInMainThread = false;
    test::TempDir dir;
    struct Case {
        const char* Fps;
        int Height;
        int RateNum, RateDen;
    } cases[] = {{"25", 288, 25, 1}, {"30", 240, 30000, 1001}};
    for (const Case& c : cases) {
        TCustomFFmpeg e(4);
        e.SetVerbose(-1);
        const std::string clip =
            test::GenerateClip(dir.File(std::string("in") + c.Fps + ".flv"), {"--fps", c.Fps});
        ASSERT_TRUE(e.OpenInputFile(clip)) << e.LastError;
        e.SetOption("target", "vcd");
        EXPECT_EQ(e.FrameWidth, 352) << c.Fps;
        EXPECT_EQ(e.FrameHeight, c.Height) << c.Fps;
        EXPECT_EQ(e.FrameRate.num, c.RateNum) << c.Fps;
        EXPECT_EQ(e.FrameRate.den, c.RateDen) << c.Fps;
    }
}

}  // namespace
}  // namespace tw
