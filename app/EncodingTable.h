// app/EncodingTable.h — the table of the sources' encodings that a fast
// merge depends on, as text for a terminal or a fixed-width view: one row
// per source, a '*' after every value that differs from the first source's.
#pragma once

#include <string>
#include <vector>

#include "app/FastMergeChecks.h"

namespace tw {

/// One source of the table: its facts, or the reason it could not be read.
struct TEncodingSource {
    TSourceFacts Facts;  ///< Facts.File names the row
    std::string Error;   ///< non-empty: the file could not be read
};

/// The table's values of one source, in column order (see EncodingHeads);
/// "-" for a value that is unknown or a stream that is missing. Profiles by
/// name, the rotation as the clockwise turn in degrees, parameter sets and
/// audio configuration as short digests of their content (equal content,
/// equal digest, whatever the packing).
std::vector<std::string> EncodingValues(const TSourceFacts& facts);

/// The column of the video parameter sets and of the audio configuration
/// (digests: equal or not, nothing a user reads).
inline constexpr size_t kParamsColumn = 7;
inline constexpr size_t kAudioConfigColumn = 12;

/// The column heads, matching EncodingValues, in the messages' language.
std::vector<std::string> EncodingHeads();

/// Columns a UTF-8 text takes on a terminal: East Asian wide and full-width
/// characters count two, combining marks none, bytes of broken UTF-8 one.
int DisplayWidth(const std::string& text);

/// text cut to at most width columns at character boundaries, keeping its
/// head and its tail (the extension) around "...". Unchanged when it fits.
std::string FitToWidth(const std::string& text, int width);

/// The table at most width columns wide (width >= 40). Values that are the
/// same in every readable row are listed once above it (a rotation of 0 in
/// every row is not listed); a file that could
/// not be read is a row with its error. File names are shown by their base
/// name. Ends with a newline. same: every readable row agrees with the
/// first one and no row is unreadable. configsInWords: parameter sets and
/// audio configuration shown as "same" or "differs" (against the first
/// source, which reads "first") instead of their digests.
std::string EncodingTableText(const std::vector<TEncodingSource>& sources, int width, bool& same,
                              bool configsInWords = false);

}  // namespace tw
