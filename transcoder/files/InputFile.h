// transcoder/files/InputFile.h — opening one input file. InputFile.cpp implements
// TFileSet::OpenInputFile (see FileSet.h): the open under the I/O timeout,
// program selection, stream analysis, the start position, one decoder
// context per stream, and the stream parameters copied back into the option
// values for the outputs created later.
#pragma once

#include "binding/LibPtr.h"
#include "transcoder/options/OptionState.h"

namespace tw {

/// The demuxer options an input is opened with, from the option values: the
/// old open-parameter record. Demuxers that want these values (raw audio and
/// video, capture devices) take them as options; values that mean "not
/// given" are left out, as the demuxers ignored them then. Null when none.
DictionaryPtr InputOpenParameters(const TOptionState& options);

}  // namespace tw
