// transcoder/options/PresetTable.h — the built-in encoder presets, a table of named
// option texts.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace tw {

/// One built-in preset: its name and its option text, lines of name=value
/// separated by line feeds, in the order they are applied. Both texts are
/// static: the views stay valid for the whole program.
struct TOptionsPreset {
    std::string_view Name;
    std::string_view Text;
};

/// Number of built-in presets.
inline constexpr size_t BuiltInPresetCount = 36;

/// The built-in presets in lookup order ("libx264-default" is the second).
/// Pure data: safe before the libraries are loaded.
const std::array<TOptionsPreset, BuiltInPresetCount>& BuiltInPresets();

}  // namespace tw
