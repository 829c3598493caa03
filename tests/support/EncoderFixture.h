// tests/support/EncoderFixture.h — the common ground of the tests that drive
// the encoder component (directly or through the join driver): the
// libraries loaded, the logger's events on the calling thread, a quiet
// encoder and a folder for the clips of one test.
//
// Header only: the suites that use it link the encoder; the support library
// does not.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/FFLoad.h"
#include "diag/FFLog.h"
#include "encoder/FFEncode.h"
#include "tests/support/Media.h"
#include "tests/support/TempDir.h"

namespace tw::test {

class EncoderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds)) << FFLoader().LastErrMsg();
        FFLogger()->TriggerEventInMainThread = false;
        Enc.TaskVerbose = -1;
    }
    /// A generated clip in the test's folder.
    std::string Clip(const std::string& name, const std::vector<std::string>& args = {}) {
        return GenerateClip(Dir.File(name), args);
    }
    // The folder outlives the encoder: its tasks may still hold the files.
    TempDir Dir;
    TFFEncoder Enc;
};

}  // namespace tw::test
