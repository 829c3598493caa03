// probe/SourceLength.h — how long a source really is: the time its header
// gives and the time that can be read, which a file cut off while it was
// copied or recorded falls short of.
#pragma once

#include <cstdint>

extern "C" {
#include <libavformat/avformat.h>
}

namespace tw {

/// A source's lengths in microseconds; -1 when unknown.
struct TSourceLength {
    /// The container's duration (the header's, or the libraries' estimate).
    int64_t Header = -1;
    /// From the start time to the end of the last packet that can be read.
    int64_t Readable = -1;
    /// The header states the duration (it was not estimated from the
    /// packets): only then can the file fall short of it.
    bool HeaderStated = false;

    /// How far the readable media falls short of the stated duration; 0
    /// when it does not, or by less than half a second (the rounding of
    /// headers and last frames).
    int64_t Missing() const;
    /// Readable when known, else the header's duration, else -1.
    int64_t Best() const { return Readable > 0 ? Readable : Header; }
};

/// Measures an opened input (after avformat_find_stream_info): seeks to a
/// few seconds before the announced end and reads the packets from there
/// to the end of the file, decoding nothing; when that seek fails, or finds
/// nothing (the header promises more than is there), it reads from the
/// start. Moves the read position: the context is for describing only
/// afterwards (reopen the file to read it). Caller's thread.
TSourceLength MeasureSource(AVFormatContext* context);

}  // namespace tw
