// transcoder/options/Presets.h — encoder presets: lists of generic codec options
// applied at once, from the built-in table or from a file.
#pragma once

#include <string>
#include <string_view>

#include "transcoder/options/EngineOptions.h"
#include "transcoder/options/PresetTable.h"

namespace tw {

/// The first built-in preset whose name equals `name` without regard to
/// (ASCII) case, or nullptr. The result points into the static table.
const TOptionsPreset* FindBuiltInPreset(std::string_view name);

/// Applies a preset for option `kind` ("apre", "vpre", "spre" or "fpre"):
/// nothing when either text is empty. For a, v and s the value is looked up
/// in the built-in table (without regard to case), then as
/// "<codec name of that kind>-<value>"; otherwise, and always for "fpre", it
/// is a file name (read as bytes). Lines are name=value, each trimmed of
/// blanks; blank lines and lines starting with '#' are skipped;
/// "acodec"/"vcodec"/"scodec" (any case) set that codec (SetAudioCodec...),
/// every other line goes to the generic option path (SetDefaultOption).
/// Throws FFmpegException: "Preset \"<name>\" not found",
/// "<preset>: Invalid syntax: \"<line>\"", and, when an option is refused and
/// RaiseOnUnknownOption is set, "<failure>\r\n<preset>: Invalid option or
/// argument: \"<line>\", parsed as \"<key>\" = \"<value>\"". Lines before a
/// failing one stay applied.
void ApplyPresetOn(TEngineOptions& options, const std::string& kind, const std::string& value);

}  // namespace tw
