// tests/app/ProgressReport_test.cpp — the command line's progress: the
// plain lines' whole-percent and 10 s rule, the final 100 % only on
// success, the JSON objects and their strings; then tarnwick-join itself
// with --progress=json, a truncated source and a log.
#include "app/cli/ProgressReport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/JsonText.h"
#include "tests/support/JoinProgram.h"
#include "tests/support/Media.h"
#include "tests/support/TempDir.h"

namespace tw {
namespace {

using cli::TProgressEnd;
using cli::TProgressMode;
using cli::TProgressReport;
using nlohmann::json;

constexpr int64_t kSecond = 1000000;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Every line of text as a JSON object; a line that is not one fails.
std::vector<json> JsonLines(const std::string& text) {
    std::vector<json> objects;
    for (const std::string& line : Lines(text)) {
        try {
            objects.push_back(json::parse(line));
        } catch (const std::exception& e) {
            ADD_FAILURE() << "not JSON: " << line << " (" << e.what() << ")";
        }
    }
    return objects;
}

struct Shown {
    std::string text;
    TProgressReport Report(TProgressMode mode) {
        return TProgressReport(mode, [this](const std::string& t) { text += t; });
    }
};

// Catches: a plain line every 2 s whatever the percent (a log of a long
// merge flooded, a short one told nothing), or a line at every whole
// percent however soon after the last.
TEST(ProgressReport, LinesAtAWholePercentAndTenSecondsApart) {
    Shown shown;
    TProgressReport p = shown.Report(TProgressMode::Lines);
    p.SetTotal(1000 * kSecond);
    p.Update(5 * kSecond, -1, 1000, 2);     // 0 %, 2 s: too soon
    p.Update(20 * kSecond, -1, 2000, 9.9);  // 2 %, 9.9 s: too soon
    EXPECT_EQ(shown.text, "");
    p.Update(25 * kSecond, -1, 3000, 10);  // 2 %, 10 s: a line
    ASSERT_EQ(Lines(shown.text).size(), 1u);
    EXPECT_EQ(Lines(shown.text)[0].rfind("  2% 00:00:25 / 00:16:40 2 kB 2.5x", 0), 0u)
        << shown.text;
    p.Update(29 * kSecond, -1, 3000, 25);  // still 2 %, 15 s later: no line
    p.Update(31 * kSecond, -1, 3000, 19);  // 3 %, only 9 s later: no line
    EXPECT_EQ(Lines(shown.text).size(), 1u) << shown.text;
    p.Update(31 * kSecond, -1, 3000, 20);  // 3 %, 10 s later
    EXPECT_EQ(Lines(shown.text).size(), 2u) << shown.text;
    p.Finish(TProgressEnd::Done, "", 4096, 30);
    const std::vector<std::string> lines = Lines(shown.text);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2].rfind("100% 00:16:40 / 00:16:40 4 kB", 0), 0u) << lines[2];
}

// Catches: an engine report without a media time yet (the first reports of
// a merge) shown as a huge time or percent instead of 0 % 00:00:00; the
// report's size or total not reaching the line.
TEST(ProgressReport, EngineReportWithoutAMediaTimeShowsZero) {
    Shown shown;
    TProgressReport p = shown.Report(TProgressMode::Bar);
    TProgress report;
    report.TotalDuration = 100 * kSecond;
    report.TotalSize = 2048;
    p.Update(report, 1);
    EXPECT_NE(shown.text.find("  0% 00:00:00 / 00:01:40 2 kB"), std::string::npos) << shown.text;
    report.CurrentTime = 50 * kSecond;
    p.Update(report, 2);
    EXPECT_NE(shown.text.find(" 50% 00:00:50 / 00:01:40 2 kB"), std::string::npos) << shown.text;
}

// Catches: a progress handler written with the values one by one no longer
// told "no time yet" by the old 10^16 value, or given the values in another
// order.
TEST(ProgressReport, CallbackWithSeparateValues) {
    std::vector<int64_t> seen;
    TProgressCallback slot = [&](TCustomFFmpeg*, int file, int64_t total, int64_t current,
                                 int64_t size, float, float, int fps,
                                 int frame) { seen = {file, total, current, size, fps, frame}; };
    TProgress report;
    report.FileIndex = 2;
    report.TotalDuration = 7;
    report.TotalSize = 9;
    report.FPS = 25;
    report.FrameNumber = 11;
    slot(nullptr, report);
    EXPECT_EQ(seen, (std::vector<int64_t>{2, 7, kNoCurrentTime, 9, 25, 11}));
    report.CurrentTime = 5;
    slot(nullptr, report);
    EXPECT_EQ(seen[2], 5);
}

// Catches: the percent reaching 100 while the last packets are still
// written (or an estimate that overshoots), so that 100 % no longer means
// done; a failed or stopped merge ending at 100 %.
TEST(ProgressReport, OnlyADoneMergeReachesAHundred) {
    for (const TProgressEnd end : {TProgressEnd::Failed, TProgressEnd::Stopped}) {
        for (const TProgressMode mode : {TProgressMode::Bar, TProgressMode::Lines}) {
            Shown shown;
            TProgressReport p = shown.Report(mode);
            p.SetTotal(10 * kSecond);
            p.Update(12 * kSecond, -1, 1, 20);  // past the total
            p.Finish(end, "disk full", -1, 21);
            EXPECT_EQ(shown.text.find("100%"), std::string::npos) << shown.text;
        }
        Shown shown;
        TProgressReport p = shown.Report(TProgressMode::Json);
        p.SetTotal(10 * kSecond);
        p.Update(12 * kSecond, -1, 1, 20);
        p.Finish(end, "disk full", -1, 21);
        const std::vector<json> objects = JsonLines(shown.text);
        ASSERT_EQ(objects.size(), 2u);
        EXPECT_DOUBLE_EQ(objects[0]["percent"].get<double>(), 99.9);
        EXPECT_EQ(objects[1]["state"], end == TProgressEnd::Failed ? "failed" : "stopped");
        EXPECT_EQ(objects[1]["message"], "disk full");
        EXPECT_LT(objects[1]["percent"].get<double>(), 100);
    }
    // The bar of a done merge: full, on a line of its own.
    Shown shown;
    TProgressReport p = shown.Report(TProgressMode::Bar);
    p.Update(2 * kSecond, 3 * kSecond, 1, 1);  // the engine's total, none of our own
    p.Finish(TProgressEnd::Done, "", 2048, 2);
    EXPECT_EQ(shown.text.substr(shown.text.rfind('\r')),
              "\r\033[K[####################] 100% 00:00:03 / 00:00:03 2 kB 1.5x\n");
}

// Catches: JSON objects with missing keys, numbers in another unit (bytes
// as kB, microseconds), the percent not rounded to one decimal; the total
// taken from the engine while the sources' own is known.
TEST(ProgressReport, JsonObjectsCarryEveryValue) {
    Shown shown;
    TProgressReport p = shown.Report(TProgressMode::Json);
    p.SetTotal(8 * kSecond);
    p.Update(2 * kSecond + 500000, 12 * kSecond, 123456, 1.25);
    p.Update(4 * kSecond, 12 * kSecond, 234567, 2);
    p.Finish(TProgressEnd::Done, "合并成功", 345678, 2.5);
    const std::vector<json> objects = JsonLines(shown.text);
    ASSERT_EQ(objects.size(), 3u) << shown.text;
    EXPECT_EQ(shown.text.substr(0, shown.text.find('\n')),
              R"({"percent":31.2,"time":2.500,"total":8.000,"bytes":123456,"speed":2.00})");
    EXPECT_DOUBLE_EQ(objects[1]["percent"].get<double>(), 50.0);
    EXPECT_EQ(objects[1]["bytes"], 234567);
    EXPECT_EQ(objects[2]["state"], "done");
    EXPECT_DOUBLE_EQ(objects[2]["percent"].get<double>(), 100.0);
    EXPECT_DOUBLE_EQ(objects[2]["time"].get<double>(), 8.0);
    EXPECT_EQ(objects[2]["bytes"], 345678);
    EXPECT_EQ(objects[2]["message"], "合并成功");
    // Nothing after the last word.
    p.Update(5 * kSecond, -1, 1, 3);
    EXPECT_EQ(JsonLines(shown.text).size(), 3u);

    // Without any total: no percent, no total.
    Shown unknown;
    TProgressReport q = unknown.Report(TProgressMode::Json);
    q.Update(kSecond, -1, 10, 1);
    const json o = JsonLines(unknown.text).at(0);
    EXPECT_TRUE(o["percent"].is_null());
    EXPECT_TRUE(o["total"].is_null());
}

// Catches: quotes, backslashes and control bytes of a file name or message
// written as they are (the line no longer parses, or a newline splits it),
// bytes that are not UTF-8 passed through (a strict reader refuses the
// whole document).
TEST(ProgressReport, JsonStringsAreEscaped) {
    const std::string odd = "a \"quoted\" C:\\dir\\x\n\t\x01\x7f 视频.flv";
    EXPECT_EQ(json::parse(cli::JsonString(odd)).get<std::string>(), odd);
    // A Latin-1 name, a cut UTF-8 character, an overlong form, a surrogate.
    for (const std::string bad : {"caf\xe9.flv", "x\xe8\xa7", "\xc0\xaf", "\xed\xa0\x80"}) {
        const std::string text = cli::JsonString(bad);
        std::string value;
        ASSERT_NO_THROW(value = json::parse(text).get<std::string>()) << text;
        EXPECT_NE(value.find("\xef\xbf\xbd"), std::string::npos) << text;
    }
    Shown shown;
    TProgressReport p = shown.Report(TProgressMode::Json);
    p.Finish(TProgressEnd::Failed, odd + "\xff", -1, 1);
    const std::vector<json> objects = JsonLines(shown.text);
    ASSERT_EQ(objects.size(), 1u) << shown.text;
    EXPECT_EQ(objects[0]["message"], odd + "\xef\xbf\xbd");
}

TEST(ProgressReport, ModesByName) {
    TProgressMode mode = TProgressMode::None;
    EXPECT_TRUE(cli::ProgressModeNamed("json", mode));
    EXPECT_EQ(mode, TProgressMode::Json);
    EXPECT_TRUE(cli::ProgressModeNamed("lines", mode));
    EXPECT_EQ(mode, TProgressMode::Lines);
    EXPECT_FALSE(cli::ProgressModeNamed("JSON", mode));
    EXPECT_FALSE(cli::ProgressModeNamed("", mode));
}

class ProgressCommandLine : public ::testing::Test {
  protected:
    std::string Clip(const std::string& name, const std::vector<std::string>& args) {
        return test::GenerateClip(Dir.File(name), args);
    }
    test::TempDir Dir;
};

// Where a file's media ends, read back packet by packet: its readable length.
double ReadableSeconds(const std::string& file) {
    const test::MediaInfo m = test::ReadMediaInfo(file);
    double end = 0;
    for (const test::StreamInfo& s : m.streams)
        if (s.endTime) end = std::max(end, *s.endTime);
    return end - m.startTime.value_or(0);
}

// Catches: the total taken from the headers (a truncated source stops the
// progress at its share of the header's length), the last object short of
// 100, anything but JSON on standard output, lines that do not parse.
TEST_F(ProgressCommandLine, JsonProgressOfATruncatedMergeEndsDone) {
    const std::string a = Clip("a.flv", {"--duration", "2"});
    const std::string cut = Clip("cut.flv", {"--duration", "4", "--truncate", "0.5"});
    const std::string o = Dir.File("o.flv");
    std::string out, err;
    ASSERT_EQ(test::JoinApart({"-f", "--progress=json", "-o", o, a, cut}, out, err), 0) << err;
    const std::vector<json> objects = JsonLines(out);
    ASSERT_GE(objects.size(), 2u) << out;
    const double total = ReadableSeconds(a) + ReadableSeconds(cut);
    double last = 0;
    for (size_t i = 0; i + 1 < objects.size(); ++i) {
        const json& j = objects[i];
        for (const char* key : {"percent", "time", "total", "bytes", "speed"})
            EXPECT_TRUE(j.contains(key)) << key << " " << j;
        EXPECT_NEAR(j["total"].get<double>(), total, 0.04) << j;
        EXPECT_LT(j["percent"].get<double>(), 100) << j;
        EXPECT_GE(j["percent"].get<double>(), last) << j;
        last = j["percent"].get<double>();
    }
    // The engine's last report already has nearly all: not stuck at the
    // header's share (2 of 6 s).
    EXPECT_GT(last, 90);
    const json& end = objects.back();
    EXPECT_EQ(end["state"], "done");
    EXPECT_DOUBLE_EQ(end["percent"].get<double>(), 100.0);
    EXPECT_NEAR(end["total"].get<double>(), total, 0.04);
    struct stat st;
    ASSERT_EQ(::stat(o.c_str(), &st), 0);
    EXPECT_EQ(end["bytes"].get<int64_t>(), st.st_size);
    // The people's words went to standard error.
    EXPECT_NE(err.find("warning: " + cut), std::string::npos) << err;
    EXPECT_NE(err.find(o + ": 00:00:04"), std::string::npos) << err;

    // A refusal is a failure object, the reason with it.
    const std::string wide = Clip("wide.flv", {"--duration", "1", "--size", "480x270"});
    EXPECT_EQ(
        test::JoinApart({"-f", "--progress=json", "-o", Dir.File("x.flv"), a, wide}, out, err), 1);
    const std::vector<json> refused = JsonLines(out);
    ASSERT_EQ(refused.size(), 1u) << out;
    EXPECT_EQ(refused[0]["state"], "failed");
    EXPECT_NE(refused[0]["message"].get<std::string>().find("480x270"), std::string::npos);
}

// Catches: a log (standard error not a terminal) whose last progress line
// is short of 100 % though the merge is done; a failed merge whose log
// ends at 100 %.
TEST_F(ProgressCommandLine, LogLinesEndAtAHundredOnlyWhenDone) {
    const std::string a = Clip("a.mp4", {"--duration", "1", "--bframes", "2"});
    std::string out, err;
    ASSERT_EQ(test::JoinApart({"-o", Dir.File("o.mkv"), a, a}, out, err), 0) << err;
    std::string last;
    for (const std::string& line : Lines(err))
        if (line.find("% ") != std::string::npos) last = line;
    EXPECT_EQ(last.rfind("100% 00:00:02 / 00:00:02", 0), 0u) << err;

    // A disk that fills: no 100 %.
    std::string text;
    test::JoinChild fullDisk;
    fullDisk.fileLimit = 20 * 1024;
    EXPECT_EQ(test::RunJoin({"-f", "-o", Dir.File("full.mkv"), a, a}, &text, fullDisk), 1) << text;
    EXPECT_EQ(text.find("100%"), std::string::npos) << text;
}

}  // namespace
}  // namespace tw
