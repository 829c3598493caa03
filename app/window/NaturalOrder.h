// app/window/NaturalOrder.h — the order "自动排序" puts the source list in.
#pragma once

#include <string>

namespace tw {

/// Natural order of two file names (UTF-8 paths): their file-name parts
/// compared with ASCII letter case ignored and runs of digits compared as
/// numbers ("part2" before "part10"), the whole paths compared the same way
/// when the file-name parts are equal, and the plain bytes last, so that
/// different paths never compare equal. A strict weak ordering.
bool NaturalLess(const std::string& a, const std::string& b);

/// The comparison behind NaturalLess: negative, 0 or positive.
int NaturalCompare(const std::string& a, const std::string& b);

}  // namespace tw
