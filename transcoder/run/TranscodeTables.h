// transcoder/run/TranscodeTables.h — the working tables of one transcode:
// views of the engine's file tables for one run, the run's own timestamp
// offsets and the converters of copied packets.
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "transcoder/files/StreamTables.h"
#include "transcoder/paths/CopyForm.h"

namespace tw {

/// The working tables of one transcode, shared by its parts: filled by the
/// setup, emptied by its release step. The records belong to the engine's
/// file tables; these are views of them for one run. The run changes the
/// file tables only to close its decoders (InputDecoders).
struct TTranscodeTables {
    /// TsOffsets starts as a copy of the inputs' offsets.
    explicit TTranscodeTables(TFileTables& engineFiles)
        : EngineFiles(engineFiles), TsOffsets(engineFiles.InputTsOffsets) {}

    TFileTables& EngineFiles;
    /// The run's own offset of every input's timestamps (µs): the input's
    /// offset, moved where the run places a joined input after the previous
    /// one and past the discontinuities it meets.
    std::vector<int64_t> TsOffsets;
    std::vector<TInputFile> Files;
    std::vector<std::unique_ptr<TInputStream>> Inputs;
    /// All records of output entry 0, then entry 1, ...
    std::vector<TOutputStream*> Outputs;
    int StreamsPerOutput = 0;
    /// Converters of copied records into the output's bitstream form (made
    /// with the headers).
    std::map<const TOutputStream*, std::unique_ptr<TCopyForm>> CopyForms;

    AVFormatContext* Output(int entry) const { return EngineFiles.OutputFiles[entry].get(); }
};

}  // namespace tw
