// app/cli/JsonText.h — the pieces of JSON that tarnwick-join writes for
// programs: strings and numbers as a strict reader takes them.
#pragma once

#include <cstdint>
#include <string>

namespace tw::cli {

/// text as a JSON string, quotes included: '"', '\\' and control bytes
/// escaped; bytes that are not UTF-8 (a file name from another system)
/// become U+FFFD, so the document stays valid UTF-8.
std::string JsonString(const std::string& text);

/// A number with decimals digits after the point; "null" when it is not
/// finite.
std::string JsonNumber(double value, int decimals);

/// Microseconds as seconds with three decimals; "null" when us is negative
/// (unknown).
std::string JsonSeconds(int64_t us);

}  // namespace tw::cli
