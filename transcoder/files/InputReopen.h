// transcoder/files/InputReopen.h — inputs closed once probed and opened again when
// the run reads them. An open demuxer holds its buffers (the FLV demuxer
// alone some 2 MB), so a merge of many inputs keeps only the ones it reads
// open; what setup, mapping and chapters need of the others is a
// description: a context of their probed streams, chapters and metadata
// without a demuxer. TFileSet::InputReader, CloseInputReader and
// OpenInputCount (see FileSet.h) are implemented in InputReopen.cpp.
#pragma once

#include "binding/LibPtr.h"

namespace tw {

/// A description of an opened input: its format (for its flags and name),
/// name, times, metadata, chapters, programs and streams (parameters, time
/// bases, times, frame counts and rates, dispositions, discard levels,
/// metadata, side data, attached pictures), marked with
/// InputDescriptionMark. The caller owns it; ic is only read. Throws
/// FFmpegException "av_mallocz fail" when memory runs out.
InputFormatPtr DescribeInput(const AVFormatContext& ic);

}  // namespace tw
