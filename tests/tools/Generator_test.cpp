// Tests of the generator's command line: refusals, failures that leave
// nothing behind, and the standard set.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/Media.h"

namespace tw::test {
namespace {

namespace fs = std::filesystem;

using Refusals = std::vector<std::pair<std::vector<std::string>, std::string>>;

/// Runs the generator once per case; each must exit with exitCode and print
/// the case's message.
void ExpectRefused(const Refusals& cases, int exitCode) {
    for (const auto& [args, message] : cases) {
        const GeneratorRun run = RunGenerator(args);
        EXPECT_EQ(run.exitCode, exitCode) << message;
        EXPECT_NE(run.output.find(message), std::string::npos)
            << "expected '" << message << "' in: " << run.output;
    }
}

// Catches: a malformed command line accepted, or refused without saying why.
TEST(Generator, BadArgumentsExitWithUsageError) {
    TempDir dir;
    const std::string out = dir.File("x.flv");
    const Refusals cases = {
        {{}, "no output file"},
        {{"--bogus", out}, "unknown option '--bogus'"},
        {{out, "--fps"}, "--fps: missing value"},
        {{"--fps", "0", out}, "out of range"},
        {{"--duration", "two", out}, "not a number"},
        {{"--size", "321x240", out}, "even"},
        {{"--size", "320", out}, "expected WxH"},
        {{"--truncate", "1", out}, "between 0 and 1"},
        {{"--metadata", "novalue", out}, "KEY=VALUE"},
        {{"--no-audio", "--no-video", out}, "nothing to write"},
        {{dir.File("x.wmv")}, "cannot tell the container"},
        {{out, dir.File("y.flv")}, "more than one output"},
    };
    ExpectRefused(cases, 2);
    EXPECT_TRUE(fs::is_empty(dir.Path()));
}

// Catches: a failed run reported as success, or leaving a partial file.
TEST(Generator, FailuresExitNonZeroAndLeaveNoFile) {
    TempDir dir;
    const Refusals cases = {
        {{"--video-codec", "no-such-encoder", dir.File("a.mkv")}, "'no-such-encoder' is not"},
        {{"--video-codec", "aac", dir.File("b.mkv")}, "not a video encoder"},
        {{"--sample-rate", "12345", dir.File("c.mp4")}, "12345 Hz"},
        {{"--format", "no-such-muxer", dir.File("d.flv")}, "unknown container format"},
        {{dir.File("missing/e.flv")}, "cannot write"},
    };
    ExpectRefused(cases, 1);
    EXPECT_TRUE(fs::is_empty(dir.Path()));
}

// Catches: a failed run destroying the file it was asked to replace.
TEST(Generator, FailureKeepsAnExistingFile) {
    TempDir dir;
    const std::string out = dir.File("keep.flv");
    std::ofstream(out) << "precious";
    const GeneratorRun run = RunGenerator({"--audio-codec", "mp2", out});
    EXPECT_EQ(run.exitCode, 1);
    std::stringstream text;
    text << std::ifstream(out).rdbuf();
    EXPECT_EQ(text.str(), "precious");
}

// Catches: --format not overriding the extension.
TEST(Generator, FormatOptionOverridesExtension) {
    TempDir dir;
    const MediaInfo info = ReadMediaInfo(
        GenerateClip(dir.File("clip.bin"), {"--format", "matroska", "--duration", "0.5"}));
    ASSERT_TRUE(info.Ok()) << info.error;
    EXPECT_EQ(info.format, "matroska,webm");
}

// Catches: a set file missing or not what its name promises, or the listing
// not telling what was written.
TEST(Generator, StandardSet) {
    TempDir dir;
    const GeneratorRun run = RunGenerator({"--set", dir.Path()});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::vector<std::string> names = {
        "a.flv",      "b.flv",        "c.flv",        "a.mp4",         "a.ts",
        "a.mkv",      "noaudio.flv",  "novideo.flv",  "size640.flv",   "rate48k.flv",
        "start10.ts", "chapters.mkv", "metadata.flv", "truncated.flv", "bframes.mp4"};
    int lines = 0;
    for (char c : run.output) lines += c == '\n';
    EXPECT_EQ(lines, static_cast<int>(names.size())) << run.output;
    for (const std::string& name : names) {
        EXPECT_NE(run.output.find(dir.File(name) + ":"), std::string::npos) << name;
        EXPECT_TRUE(fs::exists(dir.File(name))) << name;
    }

    EXPECT_EQ(ReadMediaInfo(dir.File("noaudio.flv")).Audio(), nullptr);
    EXPECT_EQ(ReadMediaInfo(dir.File("novideo.flv")).Video(), nullptr);
    EXPECT_EQ(ReadMediaInfo(dir.File("size640.flv")).Video()->width, 640);
    EXPECT_EQ(ReadMediaInfo(dir.File("rate48k.flv")).Audio()->sampleRate, 48000);
    EXPECT_NEAR(ReadMediaInfo(dir.File("start10.ts")).startTime.value_or(0), 10.0, 1e-3);
    EXPECT_EQ(ReadMediaInfo(dir.File("chapters.mkv")).chapters.size(), 3u);
    EXPECT_TRUE(ReadMediaInfo(dir.File("metadata.flv")).Tag("title").has_value());
    EXPECT_LT(fs::file_size(dir.File("truncated.flv")), fs::file_size(dir.File("a.flv")));
    EXPECT_LT(ReadMediaInfo(dir.File("bframes.mp4")).Video()->firstDts.value_or(0), 0.0);
    // a, b and c share one encoding but show different pictures.
    const MediaInfo a = ReadMediaInfo(dir.File("a.flv"));
    const MediaInfo b = ReadMediaInfo(dir.File("b.flv"));
    EXPECT_EQ(a.Video()->codec, b.Video()->codec);
    EXPECT_EQ(a.Video()->width, b.Video()->width);
    EXPECT_EQ(a.Audio()->sampleRate, b.Audio()->sampleRate);
    EXPECT_NE(fs::file_size(dir.File("a.flv")), fs::file_size(dir.File("b.flv")));
}

}  // namespace
}  // namespace tw::test
