// app/cli/ProbeReport.h — tarnwick-join --probe: what every source holds and
// whether the list can be fast-merged, as a table for people or as one JSON
// document for programs.
#pragma once

#include <string>
#include <vector>

#include "app/FastMergeChecks.h"

namespace tw::cli {

/// Every value in which a source's encoding differs from the first one's,
/// in the table's words: "size 480x270 / 320x240 (b.flv)"; empty when all
/// agree.
std::vector<std::string> EncodingDifferences(const std::vector<TSourceFacts>& sources);

/// One source's JSON object: file name, container, durations (the
/// header's and the readable one, seconds), size in bytes, and its streams
/// (codec, profile by name, picture and sound values, rotation, language,
/// title, default and cover flags). Reads the context's packets to find
/// the readable length: describe only, afterwards. Caller's thread.
std::string SourceJson(AVFormatContext* context, const std::string& file, int64_t fileSize);

/// Probes the inputs and prints to standard output the encoding table
/// with the sources' durations (json false) or one JSON document (json
/// true): "sources" (each source's object, or its file name and "error"),
/// then "fast_merge": {"possible", "reasons"}, for a merge into the muxer
/// named container. The reasons are those the merge would give: a source
/// that cannot be read, what a copy into the container cannot do, every
/// value that differs. Returns the exit status: 0 when the list can be
/// fast-merged, 1 when it cannot or a source cannot be read. width: the
/// table's columns.
int RunProbe(const std::vector<std::string>& inputs, const std::string& container, bool json,
             int width);

}  // namespace tw::cli
