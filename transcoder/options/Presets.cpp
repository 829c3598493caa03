// transcoder/options/Presets.cpp — applying an encoder preset, from the built-in
// table (transcoder/options/PresetTable.cpp) or from a file.
#include "transcoder/options/Presets.h"

#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "transcoder/FFmpegException.h"
#include "transcoder/options/Parsers.h"

namespace tw {

namespace {

bool IsRegularFile(const std::string& name) {
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

/// The whole content of a preset file; throws "Preset \"<name>\" not found"
/// when there is no such file or it cannot be read.
std::string ReadPresetFile(const std::string& name) {
    if (!IsRegularFile(name)) throw FFmpegException("Preset \"" + name + "\" not found");
    std::ifstream in(name, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    if (in.bad()) throw FFmpegException("Preset \"" + name + "\" not found");
    return all.str();
}

}  // namespace

void ApplyPresetOn(TEngineOptions& options, const std::string& kind, const std::string& value) {
    if (kind.empty() || value.empty()) return;
    const char k = kind[0];
    std::string presetName = value;
    const TOptionsPreset* found = nullptr;
    if (k == 'a' || k == 'v' || k == 's') {
        found = FindBuiltInPreset(value);
        const std::string& codec = k == 'a'   ? options.AudioCodecName
                                   : k == 'v' ? options.VideoCodecName
                                              : options.SubtitleCodecName;
        if (!found && !codec.empty()) {
            found = FindBuiltInPreset(codec + "-" + value);
            if (found) presetName = codec + "-" + value;
        }
    }
    const std::string text = found ? std::string(found->Text) : ReadPresetFile(value);

    std::istringstream lines(ToLineFeeds(Trim(text)));
    for (std::string raw; std::getline(lines, raw);) {
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == '#') continue;
        const size_t eq = line.find('=');
        const std::string key = eq == std::string::npos ? line : line.substr(0, eq);
        const std::string val = eq == std::string::npos ? std::string() : line.substr(eq + 1);
        if (eq == std::string::npos || key.empty() || val.empty())
            throw FFmpegException(presetName + ": Invalid syntax: \"" + line + "\"");
        if (SameTextIgnoringCase(key, "acodec")) {
            options.SetAudioCodec(val);
        } else if (SameTextIgnoringCase(key, "vcodec")) {
            options.SetVideoCodec(val);
        } else if (SameTextIgnoringCase(key, "scodec")) {
            options.SetSubtitleCodec(val);
        } else if (!options.SetDefaultOption(key, val) && options.RaiseOnUnknownOption) {
            throw FFmpegException(options.LastOptionFailure() + "\r\n" + presetName +
                                  ": Invalid option or argument: \"" + line + "\", parsed as \"" +
                                  key + "\" = \"" + val + "\"");
        }
    }
}

const TOptionsPreset* FindBuiltInPreset(std::string_view name) {
    for (const TOptionsPreset& p : BuiltInPresets())
        if (SameTextIgnoringCase(p.Name, name)) return &p;
    return nullptr;
}

}  // namespace tw
