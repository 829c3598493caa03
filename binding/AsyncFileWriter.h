// binding/AsyncFileWriter.h — an output file whose writes are handed to a
// thread of their own, so that the muxing thread never waits for the page
// cache. Served to the libraries as an AVIOContext.
//
// The file system call of a large write costs about as much as the whole
// demuxing and muxing of a stream copy; on a second core it overlaps with
// them. Every point where the libraries expect the data to have reached the
// file (a flush of a partly filled buffer, a seek, the size query, the
// close) waits until everything queued is written, and reports the first
// write failure.
#pragma once

#include <string>

extern "C" {
#include <libavformat/avio.h>
}

namespace tw {

/// Creates or empties the local file at path for writing and makes *pb an
/// AVIOContext over it (write only, seekable). Returns 0, or a negative
/// library code (AVERROR(errno) of the open); *pb is then nullptr.
int OpenAsyncFile(const std::string& path, AVIOContext** pb);
/// True when the context was made by OpenAsyncFile.
bool IsAsyncFileIO(const AVIOContext* pb);
/// Flushes the context and waits until every byte is in the file. Returns 0
/// or the first write failure (a negative library code).
int DrainAsyncFile(AVIOContext* pb);
/// Drains, closes the file and frees the context; *pb becomes nullptr.
/// Returns 0, or the first failure of a write or of the close.
int CloseAsyncFile(AVIOContext** pb);

}  // namespace tw
