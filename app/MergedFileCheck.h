// app/MergedFileCheck.h — the checks a merged file must pass before its
// sources may be deleted.
#pragma once

#include <string>
#include <vector>

#include "media/SourceSurvey.h"
#include "probe/MergeCheck.h"

namespace tw {

/// Checks the merged file against its sources, in this order:
/// - it opens, and holds video when any source has video and audio when any
///   source has audio (a fast merge: exactly the first source's streams);
/// - each of its streams lasts as long as the sources together, within 1 s
///   (a source without the stream counts with its own duration: the merge
///   fills it);
/// - its picture is turned for display as the sources' (a fast merge) or
///   not at all (a re-encoding, which turned the pictures upright);
/// - a fast merge: the sources share one encoding (rotation included);
/// - the packets around every join (2 s before to 2 s after) decode without
///   errors.
/// Returns true when all pass; otherwise false with why (which check failed,
/// in the user's words). Opens and decodes on the calling thread.
bool VerifyMerge(const std::vector<TSourceFacts>& sources, const std::string& output, bool fast,
                 std::string& why);

}  // namespace tw
