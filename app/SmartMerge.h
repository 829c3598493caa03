// app/SmartMerge.h — a merge of sources that do not all share one encoding:
// the sources encoded as the first one are copied, only the others are
// re-encoded to that encoding, then all are joined as a fast merge joins.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/FastMergeChecks.h"
#include "app/JoinDriver.h"

namespace tw {

/// What a smart merge would do with the sources.
struct TSmartPlan {
    /// "" when a smart merge can join the sources; otherwise why not (names
    /// the file and the value).
    std::string Problem;
    /// Per source: true = re-encoded to the first source's encoding, false =
    /// copied. The first source is always copied.
    std::vector<bool> Reencode;
    /// How many sources are re-encoded (0: a plain fast merge).
    size_t ReencodeCount() const;
};

/// The plan for merging sources into a file of the muxer named container.
/// A source is copied when its encoding (every value of the encoding table,
/// parameter sets included) is the first one's and a fast merge could copy
/// it; otherwise it is re-encoded. No smart merge when the first source is
/// not H.264 (with AAC-LC or no sound), has further audio or subtitle tracks,
/// is turned (rotation), has no known frame rate, or cannot be copied into
/// the container; when libx264 or the AAC encoder is missing; when a source
/// to re-encode lacks the picture or the sound the first has, or has sound
/// the first has not, or further tracks; or when a source can be read only
/// once (a FIFO). Reads only the facts.
TSmartPlan PlanSmartMerge(const std::vector<TSourceFacts>& sources, const std::string& container);

/// Sets the output plan of a re-encoding merge of one source to the
/// encoding of first: libx264 with its profile, level, coded size, sample
/// aspect, constant frame rate and pixel format, key frames once a second,
/// B-frames as its profile allows, parameter sets repeated before every key
/// frame; AAC at its sample rate and channel count; the bit rates its
/// container gives.
void MatchEncoding(TMergePlan& plan, const TSourceFacts& first);

/// Runs a smart merge of files into outputFile, as JoinFiles runs a merge
/// (same results, messages and arguments; settings.SmartJoin, FastJoin and
/// CheckSources are not read): plans it, refuses before writing when the
/// folder of outputFile has clearly too little room, re-encodes every source
/// to re-encode into a hidden file beside outputFile (a TPendingOutput: gone
/// when this returns, whatever the result), checks that each came out in
/// the first source's encoding, then copies all of them into outputFile.
/// Progress (encoder.OnProgress, restored on return) runs once from 0 to
/// the total: the media time re-encoded, then the media time copied. A stop
/// while re-encoding (or stopRequested true between two steps) gives
/// jrStoppedEmpty: nothing is merged. survey receives the facts of the
/// sources themselves. Main thread.
TJoinResult SmartJoinFiles(TFFEncoder& encoder, const std::vector<std::string>& files,
                           const std::string& outputFile, std::string& message,
                           const TJoinSettings& settings, const std::function<void()>& onWait,
                           const std::function<bool()>& stopRequested,
                           std::vector<TSourceFacts>* survey = nullptr,
                           std::string* notice = nullptr,
                           std::vector<std::string>* warnings = nullptr);

}  // namespace tw
