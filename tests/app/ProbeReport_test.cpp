// tests/app/ProbeReport_test.cpp — tarnwick-join --probe: the JSON document
// read back against what the generator made, the fast-merge verdict and
// its exit status, and the table's durations and parameter sets in words.
#include "app/cli/ProbeReport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/JoinProgram.h"
#include "tests/support/Media.h"
#include "tests/support/TempDir.h"

namespace tw {
namespace {

using nlohmann::json;

class ProbeCommandLine : public ::testing::Test {
  protected:
    std::string Clip(const std::string& name, const std::vector<std::string>& args) {
        return test::GenerateClip(Dir.File(name), args);
    }
    // --probe --json of the arguments: the document (null when standard
    // output is not one), the exit status in status.
    json Probe(const std::vector<std::string>& args, int& status) {
        std::vector<std::string> all = {"--probe", "--json"};
        all.insert(all.end(), args.begin(), args.end());
        std::string out, err;
        status = test::JoinApart(all, out, err);
        try {
            return json::parse(out);
        } catch (const std::exception& e) {
            ADD_FAILURE() << "not JSON: " << out << "\n" << err;
            return nullptr;
        }
    }
    test::TempDir Dir;
};

int64_t FileSize(const std::string& file) {
    struct stat st;
    return ::stat(file.c_str(), &st) == 0 ? st.st_size : -1;
}

// Catches: no machine-readable probe; a rotation, a second audio track or
// its language lost; profiles as numbers; an exit status that does not
// tell whether the list can be fast-merged.
TEST_F(ProbeCommandLine, JsonOfAFastMergeableList) {
    const std::vector<std::string> phone = {"--duration", "1", "--rotate",       "90",
                                            "--bframes",  "2", "--audio-tracks", "2"};
    const std::string x = Clip("x.mp4", phone);
    std::vector<std::string> other = phone;
    other.insert(other.end(), {"--pattern", "1"});
    const std::string y = Clip("y.mp4", other);
    int status = -1;
    const json doc = Probe({"--format", "mp4", x, y}, status);
    ASSERT_EQ(status, 0) << doc;
    EXPECT_EQ(doc["fast_merge"]["possible"], true) << doc;
    EXPECT_TRUE(doc["fast_merge"]["reasons"].empty()) << doc;
    ASSERT_EQ(doc["sources"].size(), 2u);
    const json& s = doc["sources"][0];
    EXPECT_EQ(s["file"], x);
    EXPECT_NE(s["container"].get<std::string>().find("mp4"), std::string::npos) << s;
    EXPECT_NEAR(s["duration"].get<double>(), 1.0, 0.05);
    EXPECT_EQ(s["size"].get<int64_t>(), FileSize(x));
    ASSERT_EQ(s["streams"].size(), 3u) << s;
    const json& v = s["streams"][0];
    EXPECT_EQ(v["type"], "video");
    EXPECT_EQ(v["codec"], "h264");
    EXPECT_EQ(v["profile"], "High");  // B-frames: not Baseline
    EXPECT_EQ(v["width"], 320);
    EXPECT_EQ(v["height"], 240);
    EXPECT_DOUBLE_EQ(v["frame_rate"].get<double>(), 25.0);
    EXPECT_EQ(v["pixel_format"], "yuv420p");
    EXPECT_EQ(v["rotation"], 90);
    EXPECT_EQ(v["attached_pic"], false);
    const char* languages[] = {"eng", "fra"};
    for (int k = 0; k < 2; ++k) {
        const json& a = s["streams"][1 + k];
        EXPECT_EQ(a["index"], 1 + k);
        EXPECT_EQ(a["type"], "audio");
        EXPECT_EQ(a["codec"], "aac");
        EXPECT_EQ(a["profile"], "LC");
        EXPECT_EQ(a["sample_rate"], 44100);
        EXPECT_EQ(a["channels"], 2);
        EXPECT_EQ(a["channel_layout"], "stereo");
        EXPECT_EQ(a["language"], languages[k]);
        EXPECT_EQ(a["default"], k == 0);
    }
    // The same list for FLV, which cannot store the rotation: refused.
    const json flv = Probe({x, y}, status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(flv["fast_merge"]["possible"], false);
    EXPECT_NE(flv["fast_merge"]["reasons"].dump().find("90"), std::string::npos) << flv;
}

// Catches: a list that differs given status 0; its reasons missing or
// only the first of them; an audio-less source given an audio stream; an
// unreadable source (here with quotes and a backslash in its name)
// breaking the document or passing unnamed.
TEST_F(ProbeCommandLine, JsonOfADifferingListNamesEveryReason) {
    const std::string a = Clip("a.flv", {"--duration", "1"});
    const std::string wide = Clip("wide.flv", {"--duration", "1", "--size", "480x270"});
    const std::string mute = Clip("mute.flv", {"--duration", "1", "--no-audio"});
    int status = -1;
    json doc = Probe({a, wide, mute}, status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(doc["fast_merge"]["possible"], false);
    const std::string reasons = doc["fast_merge"]["reasons"].dump();
    EXPECT_NE(reasons.find("480x270 / 320x240 (" + wide + ")"), std::string::npos) << reasons;
    EXPECT_NE(reasons.find(mute), std::string::npos) << reasons;
    ASSERT_EQ(doc["sources"].size(), 3u);
    const json& streams = doc["sources"][2]["streams"];
    ASSERT_EQ(streams.size(), 1u) << streams;
    EXPECT_EQ(streams[0]["type"], "video");
    EXPECT_EQ(doc["sources"][1]["streams"][0]["width"], 480);

    const std::string junk = Dir.File("junk \"1\" \\ x.flv");
    std::ofstream(junk) << "not a video";
    doc = Probe({a, junk}, status);
    EXPECT_EQ(status, 1);
    ASSERT_EQ(doc["sources"].size(), 2u);
    EXPECT_EQ(doc["sources"][1]["file"], junk);
    EXPECT_TRUE(doc["sources"][1].contains("error"));
    // The reason names the file, in the command line's words.
    const std::string why = doc["fast_merge"]["reasons"].dump();
    EXPECT_NE(why.find("junk"), std::string::npos) << why;
    EXPECT_EQ(why.find("LoadFile Error"), std::string::npos) << why;
}

// Catches: the table without durations (a truncated source's shortfall
// unseen), parameter sets shown as digests nobody can read, and an exit
// status of 0 for sources that differ.
TEST_F(ProbeCommandLine, TableShowsDurationsAndParameterSetsInWords) {
    const std::string a = Clip("a.flv", {"--duration", "2"});
    const std::string cut = Clip("cut.flv", {"--duration", "4", "--truncate", "0.5"});
    const std::string wide = Clip("wide.flv", {"--duration", "1", "--size", "480x270"});
    std::string out, err;
    EXPECT_EQ(test::JoinApart({"--probe", a, cut}, out, err), 0) << out << err;
    EXPECT_NE(out.find("duration: a.flv 2.0"), std::string::npos) << out;
    EXPECT_NE(out.find("cut.flv 1.9"), std::string::npos) << out;
    EXPECT_NE(out.find("of the 4.0"), std::string::npos) << out;
    EXPECT_NE(out.find("params same"), std::string::npos) << out;
    EXPECT_EQ(test::JoinApart({"--probe", a, wide}, out, err), 1) << out << err;
    EXPECT_NE(out.find("differs*"), std::string::npos) << out;
    EXPECT_NE(out.find("first"), std::string::npos) << out;
    // No digest (eight hexadecimal digits) left in the table.
    EXPECT_FALSE(std::regex_search(out, std::regex(R"(\b[0-9a-f]{8}\b)"))) << out;
}

}  // namespace
}  // namespace tw
