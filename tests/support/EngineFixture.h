// tests/support/EngineFixture.h — the engine tests' common ground: a fixture
// with the libraries loaded and a folder for generated clips, and the steps
// of one engine run (inputs, options, a joined output, the run itself).
//
// Header only: the suites that use it link the engine; the support library
// does not.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "binding/FFLoad.h"
#include "diag/FFLog.h"
#include "tests/support/Media.h"
#include "tests/support/TempDir.h"
#include "transcoder/CustomFFmpeg.h"

namespace tw::test {

/// Option name and value pairs, set in order.
using EngineOptions = std::vector<std::pair<std::string, std::string>>;

/// Libraries loaded, the logger's events on the calling thread, and a
/// temporary folder for the clips of one test.
class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds)) << FFLoader().LastErrMsg();
        FFLogger()->TriggerEventInMainThread = false;
    }
    /// A generated clip in the test's folder; ClipDefaults come before args
    /// (the generator takes the last value of an argument).
    std::string Clip(const std::string& name, const std::vector<std::string>& args = {}) {
        std::vector<std::string> all = ClipDefaults;
        all.insert(all.end(), args.begin(), args.end());
        return GenerateClip(Dir.File(name), all);
    }
    std::vector<std::string> ClipDefaults;
    TempDir Dir;
};

/// Sets input (before the inputs), opens the inputs, sets output, opens out
/// (a joined output when join is set and there are several inputs) and
/// expands it. "" when all went well, else the opener's LastError.
inline std::string PrepareEngine(TCustomFFmpeg& e, const std::vector<std::string>& inputs,
                                 const std::string& out, const EngineOptions& output,
                                 const EngineOptions& input = {}, bool join = true) {
    for (const auto& [name, value] : input) e.SetOption(name, value);
    for (const auto& in : inputs)
        if (!e.OpenInputFile(in)) return e.LastError;
    for (const auto& [name, value] : output) e.SetOption(name, value);
    if (e.OpenOutputFile(out, join) < 0) return e.LastError;
    e.ExpandJoinedOutput();
    return {};
}

/// PrepareEngine, then the run to its end on this thread. "" when the
/// engine finished without an error, else the opener's LastError, the run's
/// ErrorMessage, or "not finished".
inline std::string RunEngine(TCustomFFmpeg& e, const std::vector<std::string>& inputs,
                             const std::string& out, const EngineOptions& output,
                             const EngineOptions& input = {}, bool join = true) {
    if (std::string error = PrepareEngine(e, inputs, out, output, input, join); !error.empty())
        return error;
    e.Start(false);
    if (e.ErrorRaised) return e.ErrorMessage.empty() ? "error" : e.ErrorMessage;
    if (!e.Finished) return "not finished";
    return {};
}

}  // namespace tw::test
