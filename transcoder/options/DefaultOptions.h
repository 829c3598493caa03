// transcoder/options/DefaultOptions.h — the generic option path of the engine.
//
// Options the option table does not know go to the libraries' own option
// tables (TEngineOptions::SetDefaultOption): the five codec option contexts,
// then the format and the scaler option context, then the "a"/"v"/"s" prefix
// rule, then the private option tables of every codec and muxer. Accepted
// options are recorded in the engine's option store and later copied into
// the real codec and format contexts (TEngineOptions::ApplyContextOptions).
//
// Inside, a refused option is an FFmpegException carrying one of the texts
// below; SetDefaultOption is the boundary that turns it into false and the
// engine's LastOptionFailure(). Needs the libraries bound.
#pragma once

#include <string>

namespace tw {

/// "Invalid value \"<value>\" for option \"<name>\"": a library option
/// context knows the option but refuses the value (also thrown by
/// ApplyContextOptions when a real context refuses a recorded value).
std::string InvalidValueText(const std::string& name, const std::string& value);

/// "Unrecognized option \"<name>\"": no option table knows the name.
std::string UnrecognizedOptionText(const std::string& name);

/// Whether the private option table of some codec or some muxer has an
/// option of this name.
bool KnownToPrivateOptions(const std::string& name);

}  // namespace tw
