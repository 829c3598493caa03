// binding/AsyncFileWriter.cpp — the writer thread behind an output file.
#include "binding/AsyncFileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "binding/Entries.h"
#include "binding/LibPtr.h"
#include "diag/ThreadName.h"

namespace tw {
namespace {

constexpr int kBufferSize = 256 * 1024;  // one write per full buffer
constexpr size_t kMaxQueued = 8;         // at most 2 MB in flight
constexpr int64_t kMoveChunk = 1 << 20;

class TAsyncFile {
  public:
    TAsyncFile(int fd, bool readable) : FFd(fd), FReadable(readable), FThread([this] { Run(); }) {}
    ~TAsyncFile() { Close(); }

    // A full buffer is queued; a partly filled one is a flush: it waits.
    int Write(const uint8_t* data, int size) {
        if (Observer) Observer->Written(FPos, data, static_cast<size_t>(size));
        std::unique_lock<std::mutex> lock(FLock);
        if (FError < 0) return FError;
        FChanged.wait(lock, [this] { return FQueue.size() < kMaxQueued || FError < 0; });
        if (FError < 0) return FError;
        FPos += size;
        std::vector<uint8_t> chunk;
        if (!FFree.empty()) {
            chunk = std::move(FFree.back());
            FFree.pop_back();
        }
        chunk.assign(data, data + size);
        FQueue.push_back(std::move(chunk));
        FChanged.notify_all();
        if (size < kBufferSize) {
            FChanged.wait(lock, [this] { return (FQueue.empty() && !FBusy) || FError < 0; });
            if (FError < 0) return FError;
        }
        return size;
    }

    int Drain() {
        std::unique_lock<std::mutex> lock(FLock);
        FChanged.wait(lock, [this] { return (FQueue.empty() && !FBusy) || FError < 0; });
        return FError;
    }

    int64_t Seek(int64_t pos, int whence) {
        if (const int error = Drain(); error < 0) return error;
        if (whence & AVSEEK_SIZE) {
            struct stat st;
            if (::fstat(FFd, &st) != 0) return AVERROR(errno);
            // What the writer has handed over counts, also while it still
            // sits in the context's buffer (the first 256 KB would show as
            // nothing written).
            int64_t size = st.st_size;
            if (Context && Context->buffer && Context->buf_ptr >= Context->buffer)
                size = std::max<int64_t>(size, Context->pos + (Context->buf_ptr - Context->buffer));
            return size;
        }
        const int w = whence & ~AVSEEK_FORCE;
        if (w != SEEK_SET && w != SEEK_CUR && w != SEEK_END) return -1;
        const off_t r = ::lseek(FFd, pos, w);
        if (r < 0) return -1;
        FPos = r;
        return r;
    }

    int MoveTail(int64_t from, int64_t by) {
        if (const int error = Drain(); error < 0) return error;
        if (!FReadable) return AVERROR(EBADF);
        struct stat st;
        if (::fstat(FFd, &st) != 0) return AVERROR(errno);
        // From the end backwards, so that no byte is overwritten before it
        // has been moved.
        std::vector<uint8_t> chunk(
            std::min<int64_t>(kMoveChunk, std::max<int64_t>(st.st_size - from, 1)));
        for (int64_t end = st.st_size; end > from;) {
            const size_t n = static_cast<size_t>(std::min<int64_t>(end - from, chunk.size()));
            const int64_t at = end - static_cast<int64_t>(n);
            if (const int error = Transfer(::pread, chunk.data(), n, at); error < 0) return error;
            if (const int error = Transfer(::pwrite, chunk.data(), n, at + by); error < 0)
                return error;
            end = at;
        }
        return 0;
    }

    int Read(int64_t pos, uint8_t* data, size_t size) {
        if (const int error = Drain(); error < 0) return error;
        if (!FReadable) return AVERROR(EBADF);
        size_t done = 0;
        while (done < size) {
            const ssize_t r =
                ::pread(FFd, data + done, size - done, static_cast<off_t>(pos + done));
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) return AVERROR(errno);
            if (r == 0) break;
            done += static_cast<size_t>(r);
        }
        return static_cast<int>(done);
    }

    int Close() {
        if (FFd < 0) return FError;
        {
            std::lock_guard<std::mutex> lock(FLock);
            FStop = true;
            FChanged.notify_all();
        }
        FThread.join();
        if (::close(FFd) != 0 && FError == 0) FError = AVERROR(errno);
        FFd = -1;
        return FError;
    }

  private:
    // The whole of n bytes at pos, or the first failure.
    template <typename Call, typename Buffer>
    int Transfer(Call call, Buffer* data, size_t n, int64_t pos) {
        for (size_t done = 0; done < n;) {
            const ssize_t r = call(FFd, data + done, n - done, static_cast<off_t>(pos + done));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) return r < 0 ? AVERROR(errno) : AVERROR(EIO);
            done += static_cast<size_t>(r);
        }
        return 0;
    }

    void Run() {
        NameThisThread("tw-writer");
        std::unique_lock<std::mutex> lock(FLock);
        while (true) {
            FChanged.wait(lock, [this] { return !FQueue.empty() || FStop; });
            if (FQueue.empty()) return;  // stopping, and everything is written
            std::vector<uint8_t> chunk = std::move(FQueue.front());
            FQueue.pop_front();
            FBusy = true;
            const bool failed = FError < 0;
            lock.unlock();
            int error = 0;
            for (size_t done = 0; !failed && done < chunk.size();) {
                const ssize_t n = ::write(FFd, chunk.data() + done, chunk.size() - done);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) {
                    error = n < 0 ? AVERROR(errno) : AVERROR(EIO);
                    break;
                }
                done += static_cast<size_t>(n);
            }
            lock.lock();
            FBusy = false;
            if (error < 0 && FError == 0) FError = error;
            chunk.clear();
            FFree.push_back(std::move(chunk));
            FChanged.notify_all();
        }
    }

  public:
    /// The context writing to this file; read on the writing thread only.
    const AVIOContext* Context = nullptr;
    /// Sees every write; writing thread only.
    std::unique_ptr<TAsyncFileObserver> Observer;

    bool IsRegularFile() const {
        struct stat st;
        return ::fstat(FFd, &st) == 0 && S_ISREG(st.st_mode);
    }

  private:
    int FFd;
    const bool FReadable;
    int64_t FPos = 0;  // where the next write lands; writing thread only
    std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<std::vector<uint8_t>> FQueue;
    std::vector<std::vector<uint8_t>> FFree;
    bool FBusy = false;
    bool FStop = false;
    int FError = 0;
    std::thread FThread;  // last: starts once the state above exists
};

int AsyncWrite(void* opaque, uint8_t* buf, int size) {
    return static_cast<TAsyncFile*>(opaque)->Write(buf, size);
}

int64_t AsyncSeek(void* opaque, int64_t pos, int whence) {
    return static_cast<TAsyncFile*>(opaque)->Seek(pos, whence);
}

}  // namespace

int OpenAsyncFile(const std::string& path, AVIOContext** pb) {
    if (!pb) return AVERROR(EINVAL);
    *pb = nullptr;
    // Readable too, so that bytes can be moved inside it afterwards without
    // opening it again; a file we may only write is still written.
    bool readable = true;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EACCES) {
        readable = false;
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    }
    if (fd < 0) return AVERROR(errno);
    std::unique_ptr<TAsyncFile> file(new (std::nothrow) TAsyncFile(fd, readable));
    if (!file) {
        ::close(fd);
        return AVERROR(ENOMEM);
    }
    LibBufferPtr<unsigned char> buffer(static_cast<unsigned char*>(lib().av_malloc(kBufferSize)));
    AVIOContext* ctx = buffer ? lib().avio_alloc_context(buffer.get(), kBufferSize, 1, file.get(),
                                                         nullptr, AsyncWrite, AsyncSeek)
                              : nullptr;
    if (!ctx) return AVERROR(ENOMEM);  // the file's destructor closes fd
    // The context holds both from here; CloseAsyncFile frees them.
    buffer.release();
    // Flush points of the muxer (one per packet) write only whole buffers.
    ctx->min_packet_size = kBufferSize;
    file->Context = ctx;
    file.release();
    *pb = ctx;
    return 0;
}

bool IsAsyncFileIO(const AVIOContext* pb) { return pb && pb->seek == AsyncSeek; }

int DrainAsyncFile(AVIOContext* pb) {
    if (!IsAsyncFileIO(pb)) return AVERROR(EINVAL);
    lib().avio_flush(pb);
    const int error = static_cast<TAsyncFile*>(pb->opaque)->Drain();
    return error < 0 ? error : pb->error;
}

int WatchAsyncFile(AVIOContext* pb, std::unique_ptr<TAsyncFileObserver> observer) {
    if (!IsAsyncFileIO(pb) || !observer) return AVERROR(EINVAL);
    auto* file = static_cast<TAsyncFile*>(pb->opaque);
    if (file->Observer) return AVERROR(EINVAL);
    if (!file->IsRegularFile()) return AVERROR(ESPIPE);
    file->Observer = std::move(observer);
    return 0;
}

TAsyncFileObserver* AsyncFileObserver(const AVIOContext* pb) {
    return IsAsyncFileIO(pb) ? static_cast<TAsyncFile*>(pb->opaque)->Observer.get() : nullptr;
}

int MoveAsyncFileTail(AVIOContext* pb, int64_t from, int64_t by) {
    if (!IsAsyncFileIO(pb) || from < 0 || by <= 0) return AVERROR(EINVAL);
    lib().avio_flush(pb);
    if (pb->error < 0) return pb->error;
    return static_cast<TAsyncFile*>(pb->opaque)->MoveTail(from, by);
}

int ReadAsyncFile(AVIOContext* pb, int64_t pos, uint8_t* data, size_t size) {
    if (!IsAsyncFileIO(pb) || pos < 0 || size > INT32_MAX) return AVERROR(EINVAL);
    lib().avio_flush(pb);
    if (pb->error < 0) return pb->error;
    return static_cast<TAsyncFile*>(pb->opaque)->Read(pos, data, size);
}

int CloseAsyncFile(AVIOContext** pb) {
    if (!pb || !*pb) return 0;
    if (!IsAsyncFileIO(*pb)) return AVERROR(EINVAL);
    AVIOContext* ctx = *pb;
    lib().avio_flush(ctx);
    auto* file = static_cast<TAsyncFile*>(ctx->opaque);
    int result = file->Close();
    if (result == 0 && ctx->error < 0) result = ctx->error;
    delete file;
    lib().av_freep(&ctx->buffer);
    lib().avio_context_free(pb);
    *pb = nullptr;
    return result;
}

}  // namespace tw
