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

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

extern "C" {
#include <libavformat/avio.h>
}

namespace tw {

/// Sees the bytes handed to an output file, in the order they are written.
class TAsyncFileObserver {
  public:
    virtual ~TAsyncFileObserver() = default;
    /// Called on the thread that writes through the context, from inside the
    /// library's write (a flush of its buffer), before the bytes are queued:
    /// size bytes at file position pos. A seek shows as a write whose pos is
    /// not where the previous one ended.
    virtual void Written(int64_t pos, const uint8_t* data, size_t size) = 0;
};

/// Creates or empties the local file at path for writing and makes *pb an
/// AVIOContext over it (written through the context, seekable; the file is
/// also open for reading where its permissions allow, for
/// MoveAsyncFileTail). Returns 0, or a negative library code (AVERROR(errno)
/// of the open); *pb is then nullptr.
int OpenAsyncFile(const std::string& path, AVIOContext** pb);
/// True when the context was made by OpenAsyncFile.
bool IsAsyncFileIO(const AVIOContext* pb);
/// Flushes the context and waits until every byte is in the file. Returns 0
/// or the first write failure (a negative library code).
int DrainAsyncFile(AVIOContext* pb);
/// Drains, closes the file and frees the context; *pb becomes nullptr.
/// Returns 0, or the first failure of a write or of the close.
int CloseAsyncFile(AVIOContext** pb);

/// Hands every later write through pb to observer, which the file owns from
/// here until it is closed. Returns 0; AVERROR(EINVAL) for a context not made
/// by OpenAsyncFile or one that already has an observer, AVERROR(ESPIPE) when
/// the file is no regular file (nothing can be written back into it); the
/// observer is then dropped. Writing thread only.
int WatchAsyncFile(AVIOContext* pb, std::unique_ptr<TAsyncFileObserver> observer);
/// The observer WatchAsyncFile gave pb, or nullptr. Owned by the file.
TAsyncFileObserver* AsyncFileObserver(const AVIOContext* pb);
/// Drains pb and moves the file's bytes from position from to its end by
/// `by` (> 0) bytes towards the end; the by bytes at from keep their old
/// content until overwritten. Returns 0 or a negative library code
/// (AVERROR(EBADF) when the file could not be opened for reading). Writing
/// thread only; the context's position is left alone.
int MoveAsyncFileTail(AVIOContext* pb, int64_t from, int64_t by);
/// Drains pb and reads up to size bytes of the file at pos into data.
/// Returns the number read (less at the end of the file) or a negative
/// library code (AVERROR(EBADF) as for MoveAsyncFileTail). Writing thread
/// only.
int ReadAsyncFile(AVIOContext* pb, int64_t pos, uint8_t* data, size_t size);

}  // namespace tw
