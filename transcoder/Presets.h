// transcoder/Presets.h — encoder presets: lists of generic codec options
// applied at once, from the built-in table or from a file.
#pragma once

#include <string>
#include <string_view>

#include "transcoder/PresetTable.h"

namespace tw {

/// The first built-in preset whose name equals `name` without regard to
/// (ASCII) case, or nullptr. The result points into the static table.
const TOptionsPreset* FindBuiltInPreset(std::string_view name);

/// What applying a preset needs of the engine. The engine implements it over
/// its option state; every call behaves as the engine operation of that name.
class TPresetHost {
  public:
    virtual ~TPresetHost() = default;
    /// The generic option path; false when nothing accepted the option.
    virtual bool SetDefaultOption(const std::string& name, const std::string& value) = 0;
    /// The text of the last generic option failure of this engine.
    virtual std::string LastOptionFailure() const = 0;
    virtual bool RaiseOnUnknownOption() const = 0;
    /// Codec by name, or stream copy for "copy".
    virtual void SetVideoCodec(const std::string& name) = 0;
    virtual void SetAudioCodec(const std::string& name) = 0;
    virtual void SetSubtitleCodec(const std::string& name) = 0;
    /// The current codec name of kind 'a', 'v' or 's' (empty when none).
    virtual std::string CodecName(char kind) const = 0;
};

/// Applies a preset for option `kind` ("apre", "vpre", "spre" or "fpre"):
/// nothing when either text is empty. For a, v and s the value is looked up
/// in the built-in table (without regard to case), then as
/// "<codec name of that kind>-<value>"; otherwise, and always for "fpre", it
/// is a file name (read as bytes). Lines are name=value, each trimmed of
/// blanks; blank lines and lines starting with '#' are skipped;
/// "acodec"/"vcodec"/"scodec" (any case) set that codec.
/// Throws FFmpegException: "Preset \"<name>\" not found",
/// "<preset>: Invalid syntax: \"<line>\"", and, when an option is refused and
/// RaiseOnUnknownOption is set, "<failure>\r\n<preset>: Invalid option or
/// argument: \"<line>\", parsed as \"<key>\" = \"<value>\"". Lines before a
/// failing one stay applied.
void ApplyPresetOn(TPresetHost& host, const std::string& kind, const std::string& value);

}  // namespace tw
