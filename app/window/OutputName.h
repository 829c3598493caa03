// app/window/OutputName.h — the output file a name typed into the window
// stands for.
#pragma once

#include <string>

namespace tw {

/// The full output name for typed, as the window writes it:
/// - "~" and "~/..." start at the home folder ($HOME), "~user/..." at that
///   user's (an unknown user is left as typed);
/// - a relative name is taken in the folder of firstSource (the merge's first
///   file; itself taken from the working folder when relative), not in the
///   process's working folder, which for a desktop launcher is $HOME or /;
/// - a file name without an extension gets ".flv", the container such a name
///   is written in; a folder (an existing one, or a name ending in '/', "."
///   or "..") is left as it is, for the merge to refuse.
/// Empty for an empty name.
std::string ResolveOutputName(const std::string& typed, const std::string& firstSource);

}  // namespace tw
