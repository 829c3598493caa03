// binding/UnicodeProtocol.cpp — file names as the libraries see them, and the
// "unicode" protocol served through AVIOContexts of our own.
#include "binding/UnicodeProtocol.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <stdexcept>

#include "binding/AsyncFileWriter.h"
#include "binding/Entries.h"
#include "binding/InterruptCB.h"
#include "binding/LibPtr.h"

namespace tw {
namespace {

constexpr char kProtocolList[] = ":unicode:stream:gopher:http:pipe:rtp:tcp:udp:";
constexpr char kWidePrefix[] = "unicode:utf8:";
constexpr size_t kWidePrefixLen = sizeof(kWidePrefix) - 1;  // 13
constexpr int kIOBufferSize = 64 * 1024;

std::atomic<bool> WideRegistered{false};

bool IsValidUtf8(const std::string& s) {
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        const unsigned char c = s[i];
        int extra;
        uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= n) return false;
        for (int k = 1; k <= extra; ++k) {
            const unsigned char cc = s[i + k];
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and values past the last code point do
        // not survive a round trip through the code page.
        static constexpr uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

// One open file behind a context of ours.
struct TWideFile {
    int Fd = -1;
    /// The context over the file (set once it exists); for its size.
    const AVIOContext* Context = nullptr;
    /// A pipe, FIFO or device read without blocking: waits for data in
    /// slices and asks the interrupt callback between them.
    bool Stream = false;
};

// How long a read of a stream waits before it asks whether to stop.
constexpr int kStreamWaitMs = 50;

int StreamRead(TWideFile* f, uint8_t* buf, int size) {
    for (;;) {
        pollfd p{f->Fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, kStreamWaitMs);
        if (ready < 0 && errno != EINTR) return AVERROR(errno);
        if (ready > 0) {
            // Data, or every writer gone (0: the end). A FIFO whose writer
            // has not come yet reports nothing at all, so its end is never
            // taken for the end of the data.
            const ssize_t n = ::read(f->Fd, buf, size);
            if (n > 0) return static_cast<int>(n);
            if (n == 0) return AVERROR_EOF;
            if (errno != EAGAIN && errno != EINTR) return AVERROR(errno);
        }
        if (IOInterruptCallback(nullptr)) return AVERROR_EXIT;
    }
}

int WideRead(void* opaque, uint8_t* buf, int size) {
    auto* f = static_cast<TWideFile*>(opaque);
    if (f->Stream) return StreamRead(f, buf, size);
    ssize_t n;
    do {
        n = ::read(f->Fd, buf, size);
    } while (n < 0 && errno == EINTR);
    // The system's own error: a full disk must not read as anything else.
    if (n < 0) return AVERROR(errno);
    // Today's libraries take 0 for "try again": the end of the file must be
    // reported as such.
    if (n == 0) return AVERROR_EOF;
    return static_cast<int>(n);
}

int WideWrite(void* opaque, uint8_t* buf, int size) {
    auto* f = static_cast<TWideFile*>(opaque);
    int done = 0;
    while (done < size) {
        const ssize_t n = ::write(f->Fd, buf + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return AVERROR(errno);
        }
        done += static_cast<int>(n);
    }
    return done;
}

int64_t WideSeek(void* opaque, int64_t pos, int whence) {
    auto* f = static_cast<TWideFile*>(opaque);
    if (f->Stream) return AVERROR(ESPIPE);
    if (whence & AVSEEK_SIZE) {
        struct stat st;
        if (::fstat(f->Fd, &st) != 0) return AVERROR(errno);
        // A writer's size counts what still sits in the context's buffer.
        const AVIOContext* c = f->Context;
        if (c && c->write_flag && c->buffer && c->buf_ptr >= c->buffer)
            return std::max<int64_t>(st.st_size, c->pos + (c->buf_ptr - c->buffer));
        return st.st_size;
    }
    const int w = whence & ~AVSEEK_FORCE;
    int how;
    switch (w) {
        case SEEK_SET:
            how = SEEK_SET;
            break;
        case SEEK_CUR:
            how = SEEK_CUR;
            break;
        case SEEK_END:
            how = SEEK_END;
            break;
        default:
            return -1;
    }
    const off_t r = ::lseek(f->Fd, pos, how);
    return r < 0 ? AVERROR(errno) : static_cast<int64_t>(r);
}

}  // namespace

bool NeedsWideProtocol(const TPathFileName& name) {
    const size_t colon = name.find(':');
    if (colon != std::string::npos) {
        const std::string scheme = ":" + name.substr(0, colon) + ":";
        if (std::string_view(kProtocolList).find(scheme) != std::string_view::npos) return false;
        return true;
    }
    return !IsValidUtf8(name);
}

std::string ToLibraryFileName(const TPathFileName& name) {
    if (NeedsWideProtocol(name)) return kWidePrefix + name;
    return name;
}

bool IsWideProtocolName(const std::string& name) {
    return name.size() >= kWidePrefixLen + 1 && name.compare(0, kWidePrefixLen, kWidePrefix) == 0;
}

TPathFileName DecodeWideName(const std::string& name) {
    std::string rest = name;
    for (int i = 0; i < 2; ++i) {
        const size_t colon = rest.find(':');
        if (colon != std::string::npos) rest.erase(0, colon + 1);
    }
    return rest;
}

TPathFileName FromLibraryFileName(const std::string& name) {
    return IsWideProtocolName(name) ? DecodeWideName(name) : name;
}

void RegisterWideProtocol() {
    if (!lib().avio_enum_protocols || !lib().avio_alloc_context)
        throw std::logic_error("RegisterWideProtocol: libavformat is not bound");
    // The protocol lives in this module: registering it means the openers
    // serve "unicode:" names from now on. It is registered once per process.
    WideRegistered = true;
}

int WideProtocolCount() { return WideRegistered.load() ? 1 : 0; }

int OpenWideProtocol(const std::string& url, int mode, AVIOContext** pb) {
    if (!pb) return AVERROR(ENOENT);
    *pb = nullptr;
    const std::string path = DecodeWideName(url);
    int flags;
    switch (mode) {
        case wideRead:
            flags = O_RDONLY;
            break;
        case wideWrite:
            flags = O_WRONLY | O_CREAT | O_TRUNC;
            break;
        case wideReadWrite:
            flags = O_RDWR | O_CREAT | O_TRUNC;
            break;
        default:
            return AVERROR(ENOENT);
    }
    if (path.empty()) return AVERROR(ENOENT);
    // Without O_NONBLOCK the open of a FIFO waits for its writer, beyond the
    // reach of any stop.
    const int fd =
        ::open(path.c_str(), flags | O_CLOEXEC | (mode == wideRead ? O_NONBLOCK : 0), 0666);
    if (fd < 0) return AVERROR(errno);
    struct stat st;
    const bool stream = mode == wideRead && ::fstat(fd, &st) == 0 && !S_ISREG(st.st_mode);
    if (mode == wideRead && !stream) (void)::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::unique_ptr<TWideFile> file(new (std::nothrow) TWideFile{fd, nullptr, stream});
    LibBufferPtr<unsigned char> buffer(static_cast<unsigned char*>(lib().av_malloc(kIOBufferSize)));
    AVIOContext* ctx = nullptr;
    if (file && buffer) {
        const bool writing = mode != wideRead;
        ctx = lib().avio_alloc_context(buffer.get(), kIOBufferSize, writing ? 1 : 0, file.get(),
                                       mode == wideWrite ? nullptr : WideRead,
                                       writing ? WideWrite : nullptr, WideSeek);
    }
    if (!ctx) {
        ::close(fd);
        return AVERROR(ENOENT);
    }
    // A stream cannot go back: the demuxers must not try.
    if (stream) ctx->seekable = 0;
    // The context holds both from here; CloseWideProtocol frees them.
    buffer.release();
    file->Context = ctx;
    file.release();
    *pb = ctx;
    return 0;
}

bool IsWideProtocolIO(const AVIOContext* pb) { return pb && pb->seek == WideSeek; }

int CloseWideProtocol(AVIOContext** pb) {
    if (!pb || !*pb) return 0;
    AVIOContext* ctx = *pb;
    if (!IsWideProtocolIO(ctx)) return AVERROR(EINVAL);
    int result = 0;
    if (ctx->write_flag) {
        lib().avio_flush(ctx);
        if (ctx->error < 0) result = ctx->error;
    }
    auto* file = static_cast<TWideFile*>(ctx->opaque);
    if (file) {
        if (::close(file->Fd) != 0 && result == 0) result = AVERROR(errno);
        delete file;
    }
    lib().av_freep(&ctx->buffer);
    lib().avio_context_free(pb);
    *pb = nullptr;
    return result;
}

bool IsReadOnceFile(const TPathFileName& name) {
    struct stat st;
    return ::stat(name.c_str(), &st) == 0 &&
           (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode));
}

bool NeedsOwnReader(const std::string& libraryName) {
    return IsWideProtocolName(libraryName) ||
           (libraryName.find(':') == std::string::npos && IsReadOnceFile(libraryName));
}

int OpenLibraryIO(const std::string& libraryName, int flags, AVIOContext** pb,
                  AVDictionary** options, const AVIOInterruptCB* interrupt) {
    if (flags == AVIO_FLAG_READ && libraryName.find(':') == std::string::npos &&
        IsReadOnceFile(libraryName))
        return OpenWideProtocol(kWidePrefix + libraryName, wideRead, pb);
    if (libraryName.compare(0, 8, "unicode:") == 0) {
        int mode = wideRead;
        if ((flags & AVIO_FLAG_READ_WRITE) == AVIO_FLAG_READ_WRITE)
            mode = wideReadWrite;
        else if (flags & AVIO_FLAG_WRITE)
            mode = wideWrite;
        return OpenWideProtocol(libraryName, mode, pb);
    }
    // A local file written from start to end: its writes go to a thread of
    // their own (the open itself cannot block like a network open).
    if (flags == AVIO_FLAG_WRITE && !libraryName.empty() &&
        libraryName.find(':') == std::string::npos)
        return OpenAsyncFile(libraryName, pb);
    const AVIOInterruptCB cb = interrupt ? *interrupt : LibraryInterruptCB();
    return lib().avio_open2(pb, libraryName.c_str(), flags, &cb, options);
}

int ReopenOutputIO(AVFormatContext* s, AVIOContext** pb, const char* url, int flags,
                   AVDictionary** options) {
    if (!url || !pb) return AVERROR(EINVAL);
    // Our own names through our own I/O, as the output itself was opened.
    if (std::string_view(url).compare(0, 8, "unicode:") == 0) return OpenLibraryIO(url, flags, pb);
    const AVIOInterruptCB cb = s ? s->interrupt_callback : LibraryInterruptCB();
    return lib().avio_open2(pb, url, flags, &cb, options);
}

int CloseReopenedOutputIO(AVFormatContext*, AVIOContext* pb) {
    if (!pb) return 0;
    if (IsWideProtocolIO(pb)) return CloseWideProtocol(&pb);
    return lib().avio_closep(&pb);
}

int FlushLibraryIO(AVIOContext* pb) {
    if (!pb) return 0;
    if (IsAsyncFileIO(pb)) return DrainAsyncFile(pb);
    lib().avio_flush(pb);
    return pb->error;
}

int CloseLibraryIO(AVIOContext** pb) {
    if (!pb || !*pb) return 0;
    if (IsWideProtocolIO(*pb)) return CloseWideProtocol(pb);
    if (IsAsyncFileIO(*pb)) return CloseAsyncFile(pb);
    return lib().avio_closep(pb);
}

}  // namespace tw
