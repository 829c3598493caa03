// transcoder/options/Parsers.h — the value parsers of the engine's options, as free
// functions on texts: the plain conversions of flag, integer and float
// options, text trimming, and the parsers of the options that need more.
//
// The option table, the engine's option operations (SetFrameRate,
// SetCodecTag, the maps, ...), the presets and targets are all built on
// these; each function here only reads its text and either returns the
// parsed value or throws, so a failing option changes nothing.
#pragma once

#include <array>
#include <climits>
#include <cstdint>
#include <ctime>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "transcoder/options/OptionState.h"

namespace tw {

// --- texts

/// `s` without leading and trailing blanks; a blank is any character up to
/// ' ' (spaces, tabs, line breaks and the other control characters).
std::string Trim(std::string_view s);
/// Whether `s` is empty or holds blanks only (blanks as for Trim).
bool IsBlank(std::string_view s);
/// "\r\n" and a lone "\r" become "\n".
std::string ToLineFeeds(std::string_view s);
/// Equal texts without regard to ASCII case.
bool SameTextIgnoringCase(std::string_view a, std::string_view b);

// --- plain conversions of option values
//
// Numbers may carry spaces and tabs around them, nothing else: a line break
// or another control character makes the text "not a number".

/// A flag value: "0" is false, every other text (the empty one too) true.
bool ToFlag(const std::string& text);
/// A whole integer: optional sign, "$" or "0x" for hexadecimal, digits.
/// False (v unchanged) when the text is not one or leaves the 64-bit range.
bool TryParseInt64(std::string_view text, int64_t& v);
/// As TryParseInt64 within the 32-bit range.
bool TryParseInt(std::string_view text, int& v);
/// A finite number in plain decimal notation with '.' as separator (no
/// hexadecimal, "inf" or "nan"). False (v unchanged) otherwise.
bool TryParseFloat(std::string_view text, double& v);
/// The int, int64 and float options: throw FFmpegException
/// "'<text>' is not a valid integer value" or
/// "'<text>' is not a valid floating point value".
int ToInt(const std::string& text);
int64_t ToInt64(const std::string& text);
double ToFloat(const std::string& text);

// --- parsers of single options

/// Grows `a` to `wanted` elements; new elements are value-initialised (zero).
/// Never shrinks: nothing happens when `a` already has `wanted` elements.
/// Throws std::length_error "Array too big." when `wanted` is not below
/// INT_MAX / sizeof(T), std::runtime_error "Could not alloc buffer." when the
/// memory cannot be had (then `a` is unchanged).
template <class T>
void GrowArray(std::vector<T>& a, size_t wanted) {
    if (wanted >= size_t(INT_MAX) / sizeof(T)) throw std::length_error("Array too big.");
    if (a.size() >= wanted) return;
    try {
        a.resize(wanted);
    } catch (const std::bad_alloc&) {
        throw std::runtime_error("Could not alloc buffer.");
    }
}

/// A time value of option `option`: a duration ("[-][HH:]MM:SS[.m...]" or
/// seconds) in microseconds when `isDuration`, else a date in microseconds
/// since 1970 ("now" allowed). Throws FFmpegException
/// "Invalid duration specification for <option>: <value>" (or "date").
/// Needs libavutil bound.
int64_t ParseTimeValue(const std::string& option, const std::string& value, bool isDuration);

/// "W:H" (two integers as TryParseInt reads them, a part that is not one
/// counting as 0) or a decimal number as TryParseFloat reads it. Returns 0
/// when the text gives no ratio (second integer not above 0, not a number,
/// or the number 0). Negative values pass.
double ParseAspectRatioText(const std::string& text);

/// A codec tag: a text that is a whole 64-bit integer (TryParseInt64) gives
/// its low 32 bits; else exactly four characters, the first in the lowest
/// byte. Throws FFmpegException "tag parameter must be 4 chars or int value" otherwise.
uint32_t ParseCodecTagText(const std::string& text);

/// "map" value: input file, input stream and optionally sync file and sync
/// stream (integers in C notation, each followed by any one separator);
/// without the sync part they equal the input file and stream.
TStreamMap ParseStreamMapText(const std::string& text);

/// "map_meta_data" value "out[,k[idx]]:in[,k[idx]]", each side a file number
/// and a kind letter ('g' global, 's' stream, 'c' chapter, 'p' program) with
/// its index. Throws FFmpegException "Invalid metadata type <letter>." for
/// an unknown kind.
TMetadataMap ParseMetadataMapText(const std::string& text);

/// "map_chapters" value "out:in" → (output file, input file).
std::pair<int, int> ParseChapterMapText(const std::string& text);

/// Number of streams one input may carry scale factors for.
inline constexpr int MaxStreams = 20;

/// "itsscale" value "index:scale" → (stream index, scale factor). Throws
/// FFmpegException "stream index over MAX_STREAMS(20)" for an index outside
/// 0..MaxStreams-1.
std::pair<int, double> ParseTsScaleText(const std::string& text);

/// "streamid" value "index:id", both integers as TryParseInt reads them, the
/// index 0 or more.
/// Throws FFmpegException "Invalid value \"<value>\" for option \"<option>\",
/// required syntax is \"index:value\"".
std::pair<int, int> ParseStreamIdText(const std::string& option, const std::string& value);

/// 64 comma-separated coefficients, each the integer at the start of its
/// field; text after the 64th is ignored. Throws FFmpegException
/// "Syntax error in matrix \"<value>\" at coeff <i>" when field i (0..62) is
/// not followed by ','.
std::array<uint16_t, 64> ParseMatrixText(const std::string& text);

/// The filter name of an "absf"/"vbsf"/"sbsf" value: the part before the
/// first '=' (arguments after it are ignored). Empty when the value is empty
/// or begins with '=': nothing is to be added then.
std::string BitstreamFilterNameOf(const std::string& value);

/// Arguments of a "vhook" value: split at '|' when the value holds one, else
/// at blanks; empty pieces are dropped. The first is the module.
std::vector<std::string> SplitHookArguments(const std::string& value);

/// The statistics file name for switching "vstats" on: `folder` (with its
/// trailing separator) + "vstats_" + hhnnss of `now` (local time) + ".log".
std::string VstatsFileNameFor(const std::string& folder, std::time_t now);

/// The folder of the running executable with a trailing '/', or "" when it
/// cannot be found.
std::string ExecutableFolder();

/// One line per pixel format the loaded libavutil knows, after a heading
/// line: name, number of components and bits per pixel. Needs libavutil.
std::vector<std::string> PixelFormatListLines();

/// av_get_sample_fmt_string lines for -1 (heading) .. AV_SAMPLE_FMT_NB-1.
/// Needs libavutil.
std::vector<std::string> SampleFormatListLines();

}  // namespace tw
