// binding/UnicodeProtocol.h — file names as the libraries see them, and the
// "unicode" protocol that serves names the libraries cannot open themselves.
//
// UTF-8 is the system code page here, so a "wide" name is a UTF-8 std::string.
// libavformat cannot register protocols any more: a name of the form
// "unicode:utf8:<name>" is served by an AVIOContext of our own
// (OpenWideProtocol), which the openers set as the context's pb.
#pragma once

#include <memory>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/dict.h>
}

#include "binding/LibPtr.h"

namespace tw {

/// A file name as the system keeps it (UTF-8 text here).
using TPathFileName = std::string;

/// False for a URL of a protocol of ":unicode:stream:gopher:http:pipe:rtp:tcp:udp:"
/// (the text before the first colon, compared exactly, case included).
/// Otherwise true when the name is not valid UTF-8 (it would not survive the
/// code-page round trip) or contains a colon anywhere (libavformat would take
/// the text before it for a protocol name).
bool NeedsWideProtocol(const TPathFileName& name);
/// The name to hand to the libraries: "unicode:utf8:" + name when
/// NeedsWideProtocol, else the name unchanged. The caller owns the result.
std::string ToLibraryFileName(const TPathFileName& name);
/// True when the name is at least 14 bytes long and starts with
/// "unicode:utf8:".
bool IsWideProtocolName(const std::string& name);
/// The name with everything through its first colon removed, then everything
/// through the next colon ("unicode:utf8:a:b" gives "a:b"). Where a colon is
/// missing nothing is removed for it.
TPathFileName DecodeWideName(const std::string& name);
/// DecodeWideName when IsWideProtocolName, else the name unchanged.
TPathFileName FromLibraryFileName(const std::string& name);

/// Stands for registering the protocol with libavformat: registers it once,
/// however often it is called. Requires libavformat to be bound:
/// std::logic_error otherwise. Called by the loader after binding
/// libavformat.
void RegisterWideProtocol();
/// Number of protocols named "unicode" (0 or 1; tests).
int WideProtocolCount();

/// Open modes of the protocol, as the library numbered them.
enum TWideOpenMode { wideRead = 0, wideWrite = 1, wideReadWrite = 2 };

/// Opens the file named by url (DecodeWideName of it; the "unicode:" prefix
/// forms are meant) and makes *pb an AVIOContext over it, owned by the caller
/// and to be closed with CloseWideProtocol (or CloseLibraryIO).
///   wideRead:      an existing file, read only (a reading context);
///   wideWrite:     created or emptied, write only (a writing context);
///   wideReadWrite: created or emptied, read and write (a writing context).
/// New files get mode 0666 less the umask. Linux has no share modes: other
/// processes may open the file in any way while it is open.
/// Returns 0, or -2 (AVERROR(ENOENT)) for any failure, whatever its cause;
/// *pb is then nullptr. Needs libavformat and libavutil bound. Any thread;
/// each context is used by one thread at a time.
int OpenWideProtocol(const std::string& url, int mode, AVIOContext** pb);
/// Flushes a writing context, closes the file and frees the buffer and the
/// context; *pb becomes nullptr. Does nothing for a null pb or *pb. Returns 0,
/// or a negative library code when written data may be lost (a failed write
/// or flush, or a failed close); the context is freed in every case. A context
/// not made by OpenWideProtocol is left alone: AVERROR(EINVAL).
int CloseWideProtocol(AVIOContext** pb);
/// True when the context was made by OpenWideProtocol.
bool IsWideProtocolIO(const AVIOContext* pb);

/// True when the name is a FIFO, a pipe (/dev/fd/N), a device or a socket:
/// a source that can be read only once, from start to end, and whose open
/// may wait for a writer.
bool IsReadOnceFile(const TPathFileName& name);
/// True when an input of this library name must be opened through
/// OpenLibraryIO and set as the context's pb (AVFMT_FLAG_CUSTOM_IO): a
/// "unicode:" name, or a local IsReadOnceFile.
bool NeedsOwnReader(const std::string& libraryName);

/// Opens a library file name (a ToLibraryFileName result) for the openers.
/// flags: AVIO_FLAG_READ, AVIO_FLAG_WRITE or AVIO_FLAG_READ_WRITE, as for
/// avio_open2. Names of the "unicode" protocol (starting "unicode:") are
/// served by OpenWideProtocol (READ -> wideRead, WRITE -> wideWrite,
/// READ_WRITE -> wideReadWrite; options are not used); a local file name
/// (no colon) opened write-only by OpenAsyncFile (its writes on a thread of
/// their own; options are not used); every other name by avio_open2 with
/// LibraryInterruptCB() and the options. Returns 0 or a
/// negative library code. *pb belongs to the caller: close it with
/// CloseLibraryIO. For an input, set it as the format context's pb with
/// AVFMT_FLAG_CUSTOM_IO before avformat_open_input, and close it after
/// avformat_close_input; for an output, set it as pb and close it after the
/// trailer (avformat_free_context does not close it).
/// interrupt: the callback handed to avio_open2 instead of
/// LibraryInterruptCB() (an output passes one that can only stop its open).
int OpenLibraryIO(const std::string& libraryName, int flags, AVIOContext** pb,
                  AVDictionary** options = nullptr, const AVIOInterruptCB* interrupt = nullptr);
/// For AVFormatContext::io_open of an output: the muxers' second passes (MP4
/// "faststart", the FLV key-frame index) reopen the output by its URL
/// through it. "unicode:" names are served as by OpenLibraryIO (options not
/// used), every other URL by avio_open2 with the context's interrupt
/// callback and the options. Close with CloseReopenedOutputIO.
int ReopenOutputIO(AVFormatContext* s, AVIOContext** pb, const char* url, int flags,
                   AVDictionary** options);
/// For AVFormatContext::io_close2: closes what ReopenOutputIO opened.
int CloseReopenedOutputIO(AVFormatContext* s, AVIOContext* pb);

/// Closes what OpenLibraryIO opened (CloseWideProtocol, CloseAsyncFile or
/// avio_closep); *pb becomes nullptr; safe on null. Returns 0 or a negative
/// library code.
int CloseLibraryIO(AVIOContext** pb);
/// Flushes what OpenLibraryIO opened for writing and waits until it is in
/// the file. Returns 0 or the first write failure.
int FlushLibraryIO(AVIOContext* pb);

// TLibraryIOPtr (binding/LibPtr.h) owns what OpenLibraryIO opened.

}  // namespace tw
