// app/FastMergeChecks.h — the checks the join driver makes of a fast
// merge's sources, worded for the user in the messages' language.
#pragma once

#include <string>
#include <vector>

#include "app/OutputContainer.h"
#include "media/SourceSurvey.h"

namespace tw {

/// Why these sources cannot be fast-merged into a file of the muxer named
/// container ("flv", "mp4", "matroska", "mpegts"), or "" when they can: a
/// source whose stream set differs from the first one's (also a missing,
/// extra or differently encoded further audio or subtitle track that the
/// container would keep), a codec the container cannot hold, a rotation that differs from
/// the first source's, or a rotation the container cannot store. The text
/// names the file and tells the user to merge without fast mode.
std::string FastMergeProblem(const std::vector<TSourceFacts>& sources,
                             const std::string& container = kDefaultContainer);

/// The end of every FastMergeProblem text: the window's advice to untick
/// fast merge, in the messages' language (a front end without the box words
/// its own).
std::string FastModeAdvice();

/// The first value in which a source's encoding differs from the first
/// source's ("size 640x360 / 320x240"), or "" when all agree.
std::string EncodingDifference(const std::vector<TSourceFacts>& sources, std::string& file);

}  // namespace tw
