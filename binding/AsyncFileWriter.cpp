// binding/AsyncFileWriter.cpp — the writer thread behind an output file.
#include "binding/AsyncFileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

class TAsyncFile {
  public:
    explicit TAsyncFile(int fd) : FFd(fd), FThread([this] { Run(); }) {}
    ~TAsyncFile() { Close(); }

    // A full buffer is queued; a partly filled one is a flush: it waits.
    int Write(const uint8_t* data, int size) {
        std::unique_lock<std::mutex> lock(FLock);
        if (FError < 0) return FError;
        FChanged.wait(lock, [this] { return FQueue.size() < kMaxQueued || FError < 0; });
        if (FError < 0) return FError;
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
        return r < 0 ? -1 : static_cast<int64_t>(r);
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

  private:
    int FFd;
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
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return AVERROR(errno);
    std::unique_ptr<TAsyncFile> file(new (std::nothrow) TAsyncFile(fd));
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
