// probe/FileSurvey.cpp — one open of a file for its facts.
#include "probe/FileSurvey.h"

#include "probe/FFDecode.h"

namespace tw {

bool SurveyFile(const std::string& file, TSourceFacts& facts, std::string& error) {
    TFFDecoder d;
    if (!d.LoadFile(file)) {
        error = d.LastError;
        facts = TSourceFacts{};
        facts.File = file;
        return false;
    }
    facts = SurveySource(d.FormatContext(), file);
    return true;
}

}  // namespace tw
