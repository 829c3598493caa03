// fuzz/options_fuzz.cpp — extended-options text and single options with
// arbitrary names and values, each input on a fresh engine.
//
// Input: the first byte chooses the path (even: the whole rest as the
// extended options of an input and an output record, odd: every line
// "name=value" through SetOption); the rest is the text.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "encoder/OptionRecords.h"
#include "fuzz/FuzzSupport.h"
#include "transcoder/CustomFFmpeg.h"
#include "transcoder/FFmpegException.h"

namespace {

// Options that reach outside the engine: they open, load or write files by
// name ("i", "vhook", the presets and statistics files) or limit the whole
// process ("timelimit"). Their own parsing is fuzzed elsewhere or needs a
// real file. The listing options only print the libraries' tables.
bool ReachesOutside(const std::string& name) {
    static const std::set<std::string> names = {
        "i",           "vhook",       "fpre",   "apre",      "vpre",      "spre",   "vstats",
        "vstats_file", "passlogfile", "pass",   "timelimit", "benchmark", "h",      "l",
        "version",     "formats",     "codecs", "bsfs",      "protocols", "filters"};
    std::string lower;
    for (char c : name) lower += char(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return names.count(lower) > 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tw::fuzz::LoadLibrariesOnce();
    if (size < 1 || size > 4096) return 0;
    const bool single = data[0] & 1;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    tw::TCustomFFmpeg engine(4);
    engine.SetVerbose(-1);
    if (single) {
        size_t pos = 0;
        while (pos <= text.size()) {
            size_t lf = text.find('\n', pos);
            if (lf == std::string::npos) lf = text.size();
            const std::string line = text.substr(pos, lf - pos);
            pos = lf + 1;
            const size_t eq = line.find('=');
            const std::string name = line.substr(0, eq);
            const std::string value = eq == std::string::npos ? "" : line.substr(eq + 1);
            if (ReachesOutside(name)) continue;
            try {
                engine.SetOption(name, value);
            } catch (const tw::FFmpegException&) {
            }
        }
    } else {
        std::string kept;
        for (const auto& [key, value] : tw::SplitExtOptions(text))
            if (!ReachesOutside(key)) kept += key + "=" + value + "\n";
        for (bool withCodecKeys : {true, false}) {
            try {
                tw::ApplyExtOptions(engine, kept, withCodecKeys);
            } catch (const tw::FFmpegException&) {
            }
        }
    }
    return 0;
}
