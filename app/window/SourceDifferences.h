// app/window/SourceDifferences.h — what the window tells the user before a
// fast merge of sources whose encodings differ.
#pragma once

#include <string>
#include <vector>

#include "media/SourceSurvey.h"

namespace tw {

/// One line per source that differs from the first: its file name and every
/// value that differs, the source's value before the first one's
/// ("/v/b.flv: size 320x240 / 640x360, rate 48000 / 44100"). Empty when all
/// agree.
std::vector<std::string> SourceDifferences(const std::vector<TSourceFacts>& sources);

/// Opens each file for its facts. False (with the reason in error) when a
/// file cannot be opened; the merge reports that itself.
bool SurveyFiles(const std::vector<std::string>& files, std::vector<TSourceFacts>& facts,
                 std::string& error);

}  // namespace tw
