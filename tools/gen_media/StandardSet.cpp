// tools/gen_media/StandardSet.cpp — the standard set of test clips.
#include "StandardSet.h"

#include <filesystem>
#include <iostream>
#include <stdexcept>

#include "ClipWriter.h"

namespace tw::gen {

const std::vector<SetEntry>& StandardSet() {
    static const std::vector<SetEntry> set = {
        {"a.flv", "first of three clips with one encoding", {"--pattern", "0"}},
        {"b.flv", "second of three clips with one encoding", {"--pattern", "1"}},
        {"c.flv", "third of three clips with one encoding", {"--pattern", "2"}},
        {"a.mp4", "a.flv's content in MP4", {"--pattern", "0"}},
        {"a.ts", "a.flv's content in MPEG-TS", {"--pattern", "0"}},
        {"a.mkv", "a.flv's content in Matroska", {"--pattern", "0"}},
        {"noaudio.flv", "video only", {"--no-audio"}},
        {"novideo.flv", "audio only", {"--no-video"}},
        {"size640.flv", "a larger picture", {"--size", "640x360"}},
        {"rate48k.flv", "another audio rate", {"--sample-rate", "48000"}},
        {"start10.ts", "timestamps starting at 10 s", {"--start-time", "10"}},
        {"chapters.mkv", "three chapters", {"--chapters", "3"}},
        {"metadata.flv",
         "container metadata",
         {"--metadata", "title=Tarnwick test", "--metadata", "artist=Generator", "--metadata",
          "comment=synthetic clip"}},
        {"truncated.flv", "cut short: the last 40 % of the bytes missing", {"--truncate", "0.6"}},
        {"bframes.mp4", "B-frames: decode order differs from presentation", {"--bframes", "2"}},
    };
    return set;
}

void WriteStandardSet(const std::string& dir, bool quiet) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) throw std::runtime_error("cannot create folder '" + dir + "': " + ec.message());
    for (const SetEntry& entry : StandardSet()) {
        std::vector<std::string> args = entry.args;
        args.push_back((std::filesystem::path(dir) / entry.name).string());
        Command cmd = ParseCommandLine(args);
        const std::string line = WriteClip(cmd.clip);
        if (!quiet) std::cout << line << "  (" << entry.purpose << ")" << std::endl;
    }
}

}  // namespace tw::gen
