// transcoder/options/LegacyOptions.h — translation of older codec option spellings to today's.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tw {

/// The present-day form of one older option.
struct TLegacyTranslation {
    /// Today's name=value pairs, in the order they are to be set. Each pair is
    /// an ordinary generic option: codec context options, or private options
    /// of a codec (libx264, the MPEG-family encoders) or of a muxer.
    std::vector<std::pair<std::string, std::string>> Options;
    /// Non-empty when the option, or part of its value, has no present-day
    /// effect; it names what is dropped (for example "flags=+gmc").
    std::string NoEffect;
};

/// Translates an option as the older libraries spelled it (the built-in
/// presets and the targets use these spellings) into today's options.
///
/// Returns true when (name, value) is such an older option; `out` is then
/// replaced by its translation (Options may be empty when nothing of it has
/// an effect today, NoEffect then says so). Returns false, leaving `out`
/// untouched, when the option is spelled the way today's libraries accept it
/// or is not known here at all; the caller then sets it unchanged.
///
/// Pure text work: no library call, safe before the libraries are loaded.
bool TranslateLegacyOption(const std::string& name, const std::string& value,
                           TLegacyTranslation& out);

}  // namespace tw
