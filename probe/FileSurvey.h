// probe/FileSurvey.h — the survey of a media file by its name: opened,
// analysed and described once, then closed.
#pragma once

#include <string>

#include "media/SourceSurvey.h"

namespace tw {

/// Opens file with a probing component of its own and surveys it
/// (SurveySource). On failure returns false with the component's text in
/// error ("LoadFile" texts, naming the file) and facts holding the file
/// name only. Caller's thread.
bool SurveyFile(const std::string& file, TSourceFacts& facts, std::string& error);

}  // namespace tw
