// transcoder/options/Dispatcher.h — the option table: which option name does what.
//
// TEngineOptions::SetOption (declared in EngineOptions.h, implemented in
// Dispatcher.cpp) looks the name up here, case-sensitively and exactly, and
// runs the row's handler with the name and the value text. A name the table
// does not know goes to the generic fallback SetDefaultOption; when that
// refuses it and RaiseOnUnknownOption is set, SetOption throws
// FFmpegException with the engine's LastOptionFailure(), or "Empty option
// name" for a blank name. Every handler throws FFmpegException with the text
// of its option ("'<v>' is not a valid integer value",
// "Removed, use the crop filter instead", ...); what an option had changed
// before it failed stays changed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tw {

class TEngineOptions;

/// Applies one option: the engine, the option's name as given (rows shared
/// by several names tell them apart by it) and its value text.
using TOptionHandler = void (*)(TEngineOptions& engine, const std::string& name,
                                const std::string& value);

/// One row of the option table: the names it serves and their handler.
struct TOptionRow {
    std::vector<std::string_view> Names;
    TOptionHandler Handler;
};

/// The option table; every name occurs once. The lookup does not depend on
/// the row order, which keeps related options together.
const std::vector<TOptionRow>& OptionTable();

/// The handler of `name` (case-sensitive, exact), or nullptr when the table
/// does not know it. Throws std::logic_error "Duplicate option name <name>"
/// on first use when the table names an option twice (a programming error).
TOptionHandler FindOptionHandler(std::string_view name);

}  // namespace tw
