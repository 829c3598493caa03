// transcoder/Presets.h — the built-in encoder presets.
#pragma once

#include <array>
#include <string_view>

namespace tw {

/// One built-in preset: its name and its option text, lines of name=value
/// separated by line feeds, in the order they are applied.
struct TOptionsPreset {
    std::string_view Name;
    std::string_view Text;
};

/// Number of built-in presets.
inline constexpr size_t BuiltInPresetCount = 36;

/// The built-in presets in lookup order.
const std::array<TOptionsPreset, BuiltInPresetCount>& BuiltInPresets();

/// The first built-in preset whose name equals `name` without regard to
/// (ASCII) case, or nullptr.
const TOptionsPreset* FindBuiltInPreset(std::string_view name);

}  // namespace tw
