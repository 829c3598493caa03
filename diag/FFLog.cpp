// diag/FFLog.cpp — the logger and the libraries' log callback.
#include "diag/FFLog.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "binding/Entries.h"
#include "diag/LibraryErrorCapture.h"
#include "diag/MainThread.h"

namespace tw {
namespace {

// One thread's library text received after its last line feed.
struct TLogItem {
    uint32_t ThreadID = 0;
    std::string Pending;
    std::unique_ptr<TLogItem> Next;
};

// Newest first. Guarded by the log lock, which also covers its destruction.
class TLogList {
  public:
    TLogList() = default;
    TLogList(const TLogList&) = delete;
    TLogList& operator=(const TLogList&) = delete;
    ~TLogList() { Clear(); }

    TLogItem* Find(uint32_t threadID) {
        for (TLogItem* item = FFirst.get(); item; item = item->Next.get())
            if (item->ThreadID == threadID) return item;
        return nullptr;
    }

    TLogItem& FindOrAdd(uint32_t threadID) {
        if (TLogItem* item = Find(threadID)) return *item;
        auto item = std::make_unique<TLogItem>();
        item->ThreadID = threadID;
        item->Next = std::move(FFirst);
        FFirst = std::move(item);
        return *FFirst;
    }

    // An item without pending text holds nothing: dropping it keeps the list
    // as short as the number of threads with an unfinished line, instead of
    // growing with every worker thread the process ever had.
    void Remove(const TLogItem& target) {
        for (std::unique_ptr<TLogItem>* link = &FFirst; *link; link = &(*link)->Next) {
            if (link->get() == &target) {
                *link = std::move((*link)->Next);
                return;
            }
        }
    }

    // Iterative, so a long list cannot exhaust the stack.
    void Clear() {
        while (FFirst) FFirst = std::move(FFirst->Next);
    }

  private:
    std::unique_ptr<TLogItem> FFirst;
};

struct TLogState {
    std::mutex Lock;  // the log lock
    // --- guarded by Lock
    TLogList List;
    std::string PreviousChunk;
    int RepeatCount = 0;
    bool Ended = false;  // process end has cleared the state

    std::mutex LoggerLock;
    // --- guarded by LoggerLock
    TFFLogger* CurrentLogger = nullptr;
};

// Never destroyed: the libraries may still log while other static objects
// (the loader unloading them) are destroyed at process end.
TLogState& State() {
    static TLogState* state = new TLogState;
    return *state;
}

std::atomic<int> gLibraryLogLevel{32};

// End of the process: destroys an automatically created logger and clears
// the line state. Library text arriving later is dropped.
struct TLogStateEnd {
    TLogStateEnd() { State(); }
    ~TLogStateEnd() {
        TLogState& s = State();
        TFFLogger* autoLogger = nullptr;
        {
            std::lock_guard lock(s.LoggerLock);
            if (s.CurrentLogger && s.CurrentLogger->AutoCreated()) autoLogger = s.CurrentLogger;
        }
        delete autoLogger;
        std::lock_guard lock(s.Lock);
        s.List.Clear();
        s.PreviousChunk.clear();
        s.RepeatCount = 0;
        s.Ended = true;
    }
} gLogStateEnd;

// The run-time library's _snprintf/_vsnprintf: the bound C library's
// snprintf/vsnprintf, or the process's own while that row is not bound yet
// (libavutil installs the callback before the C library is bound).
int FormatV(char* buffer, size_t size, const char* fmt, va_list vl) {
    if (auto bound = lib().vsnprintf) return bound(buffer, size, fmt, vl);
    return std::vsnprintf(buffer, size, fmt, vl);
}

// Appends formatted text at buffer[used] without overrunning size; returns
// the new used length (text that does not fit is cut).
size_t AppendF(char* buffer, size_t size, size_t used, const char* fmt, ...)
    __attribute__((format(printf, 4, 5)));
size_t AppendF(char* buffer, size_t size, size_t used, const char* fmt, ...) {
    if (used + 1 >= size) return used;
    va_list vl;
    va_start(vl, fmt);
    const int n = FormatV(buffer + used, size - used, fmt, vl);
    va_end(vl);
    if (n < 0) return used + std::strlen(buffer + used);
    return std::min(used + size_t(n), size - 1);
}

const char* ItemName(const AVClass* cls, void* object) {
    const char* name = cls->item_name ? cls->item_name(object) : cls->class_name;
    return name ? name : "";
}

constexpr int kParentOffsetVersion = 0x320F03;  // 50.15.3

// The "[name @ pointer]" prefix of a chunk that starts a line.
size_t WritePrefix(void* avcl, char* buffer, size_t size) {
    const AVClass* cls = *static_cast<const AVClass* const*>(avcl);
    if (!cls) return 0;
    size_t used = 0;
    if (cls->version >= kParentOffsetVersion && cls->parent_log_context_offset != 0) {
        void* parent = *reinterpret_cast<void* const*>(static_cast<char*>(avcl) +
                                                       cls->parent_log_context_offset);
        const AVClass* parentClass = parent ? *static_cast<const AVClass* const*>(parent) : nullptr;
        if (parentClass)
            used = AppendF(buffer, size, used, "[%s @ %p] ", ItemName(parentClass, parent), parent);
    }
    return AppendF(buffer, size, used, "[%s @ %p]", ItemName(cls, avcl), avcl);
}

constexpr size_t kLineBufferSize = 2048;
constexpr size_t kFirstLongBufferSize = 4096;
constexpr size_t kLongBufferStep = 2048;

// Formats the message after the prefix already in buffer[0, used). Text that
// does not fit the line buffer is formatted again into a separate buffer of
// 4096, 6144, ... bytes.
std::string FormatChunk(char* buffer, size_t used, const char* fmt, va_list vl) {
    va_list args;
    va_copy(args, vl);
    const int n = FormatV(buffer + used, kLineBufferSize - used, fmt, args);
    va_end(args);
    // Negative is a formatting error here (the C library reports text that
    // does not fit by its full length): growing would never help.
    if (n < 0) return std::string(buffer, used + std::strlen(buffer + used));
    if (size_t(n) < kLineBufferSize - used) return std::string(buffer, used + size_t(n));

    // The C library tells the length it needs, so go straight to the first
    // buffer of the sequence that holds it.
    size_t size = kFirstLongBufferSize;
    while (size <= size_t(n)) size += kLongBufferStep;
    for (;;) {
        std::vector<char> text(size, '\0');
        va_copy(args, vl);
        const int m = FormatV(text.data(), size, fmt, args);
        va_end(args);
        if (m < 0) return std::string(buffer, used) + text.data();
        if (size_t(m) < size)
            return std::string(buffer, used) + std::string(text.data(), size_t(m));
        while (size <= size_t(m)) size += kLongBufferStep;
    }
}

struct TLibraryLine {
    uint32_t ThreadID;
    std::string Text;
};

void AssembleLibraryText(void* avcl, int level, const char* fmt, va_list vl) {
    // Colour hints (AV_LOG_C) ride in the bits above the level.
    if (level >= 0) level &= 0xFF;
    if (level > gLibraryLogLevel.load()) return;

    const uint32_t threadID = CurrentThreadID();
    std::vector<TLibraryLine> lines;
    {
        TLogState& s = State();
        std::lock_guard lock(s.Lock);
        if (s.Ended) return;
        char buffer[kLineBufferSize] = {};
        const TLogItem* known = s.List.Find(threadID);
        size_t used = 0;
        if (avcl && (!known || known->Pending.empty()))
            used = WritePrefix(avcl, buffer, kLineBufferSize);
        std::string chunk = FormatChunk(buffer, used, fmt, vl);

        if (!chunk.empty() && chunk.back() == '\n' && chunk == s.PreviousChunk) {
            ++s.RepeatCount;
            return;
        }
        if (s.RepeatCount > 0) {
            lines.push_back({threadID, "    Last message repeated " +
                                           std::to_string(s.RepeatCount) + " times"});
            s.RepeatCount = 0;
        }
        s.PreviousChunk = chunk;

        TLogItem& item = s.List.FindOrAdd(threadID);
        item.Pending += chunk;
        size_t start = 0;
        for (size_t lf; (lf = item.Pending.find('\n', start)) != std::string::npos; start = lf + 1)
            lines.push_back({item.ThreadID, item.Pending.substr(start, lf - start)});
        item.Pending.erase(0, start);
        if (item.Pending.empty()) s.List.Remove(item);
    }
    // Outside the lock: a handler running on the main thread must never wait
    // for a lock held by a worker that waits for the main thread.
    if (lines.empty()) return;
    TFFLogger* logger = FFLogger();
    for (const TLibraryLine& line : lines)
        logger->DeliverLibraryLine(line.ThreadID, level, line.Text);
}

std::string VFormat(const char* fmt, va_list vl) {
    va_list args;
    va_copy(args, vl);
    const int n = std::vsnprintf(nullptr, 0, fmt, args);
    va_end(args);
    if (n <= 0) return {};
    std::string text(size_t(n), '\0');
    va_copy(args, vl);
    std::vsnprintf(text.data(), text.size() + 1, fmt, args);
    va_end(args);
    return text;
}

int ParseLevelText(const std::string& text) {
    static const char* const kNames[] = {"quiet",   "panic", "fatal",   "error",
                                         "warning", "info",  "verbose", "debug"};
    for (int i = 0; i < 8; ++i) {
        if (text.size() == std::strlen(kNames[i]) &&
            std::equal(text.begin(), text.end(), kNames[i], [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) == b;
            }))
            return ToLibraryLevel(TLogLevel(i));
    }
    const char* first = text.data();
    const char* last = first + text.size();
    if (first != last && *first == '+') ++first;
    int value = 0;
    const auto [end, error] = std::from_chars(first, last, value);
    if (first == last || error != std::errc() || end != last)
        throw std::invalid_argument("'" + text + "' is not a valid integer value");
    return value;
}

}  // namespace

int ToLibraryLevel(TLogLevel level) { return 8 * int(level) - 8; }

TLogLevel FromLibraryLevel(int level) {
    const int ordinal = level / 8 + 1;
    if (ordinal < int(llQuiet)) return llQuiet;
    if (ordinal > int(llDebug)) return llDebug;
    return TLogLevel(ordinal);
}

uint32_t CurrentThreadID() {
    static thread_local const uint32_t id = uint32_t(gettid());
    return id;
}

int LibraryLogLevel() { return gLibraryLogLevel.load(); }

TFFLogger* FFLogger() {
    TLogState& s = State();
    std::lock_guard lock(s.LoggerLock);
    if (!s.CurrentLogger) s.CurrentLogger = new TFFLogger(TFFLogger::TAutoCreate{});
    return s.CurrentLogger;
}

// Called with LoggerLock held by FFLogger.
TFFLogger::TFFLogger(TAutoCreate)
    : FAutoCreated(true), FLogLevel(FromLibraryLevel(gLibraryLogLevel.load())) {}

TFFLogger::TFFLogger() {
    TLogState& s = State();
    TFFLogger* replaced = nullptr;
    {
        std::lock_guard lock(s.LoggerLock);
        if (s.CurrentLogger && !s.CurrentLogger->FAutoCreated)
            throw std::logic_error("Allow creating only one instance of TFFLogger.");
        replaced = s.CurrentLogger;
        FLogLevel = FromLibraryLevel(gLibraryLogLevel.load());
        s.CurrentLogger = this;
    }
    delete replaced;
}

TFFLogger::~TFFLogger() {
    TLogState& s = State();
    std::lock_guard lock(s.LoggerLock);
    if (s.CurrentLogger == this) s.CurrentLogger = nullptr;
}

void TFFLogger::SetLogLevel(TLogLevel level) {
    if (FLogLevel.exchange(level) != level) ApplyLogLevel();
}

void TFFLogger::SetLogLevelText(const std::string& text) {
    SetLogLevel(FromLibraryLevel(ParseLevelText(text)));
}

void TFFLogger::ApplyLogLevel() {
    if (!lib().av_log_set_level) return;
    gLibraryLogLevel = ToLibraryLevel(FLogLevel);
    lib().av_log_set_level(gLibraryLogLevel.load());
}

void TFFLogger::InstallCallback() {
    if (!lib().av_log_set_callback || !lib().av_log_set_level)
        throw std::logic_error(
            "InstallCallback needs libavutil bound (av_log_set_callback, "
            "av_log_set_level).");
    lib().av_log_set_callback(&LibraryLogCallback);
    ApplyLogLevel();
}

bool TFFLogger::Passes(TLogLevel level) const {
    const TLogLevel current = FLogLevel;
    return OnLog && (level <= current || (level == llVerbose && current != llQuiet));
}

void TFFLogger::Log(TLogSender sender, TLogLevel level, const std::string& msg) {
    if (Passes(level)) Deliver(sender, CurrentThreadID(), level, msg);
}

void TFFLogger::LogFmt(TLogSender sender, TLogLevel level, const char* fmt, ...) {
    if (!Passes(level)) return;
    va_list vl;
    va_start(vl, fmt);
    std::string msg = VFormat(fmt, vl);
    va_end(vl);
    Deliver(sender, CurrentThreadID(), level, msg);
}

void TFFLogger::DeliverLibraryLine(uint32_t threadID, int libraryLevel, const std::string& text) {
    TLibraryErrorCapture::Offer(libraryLevel, text);
    if (OnLog) Deliver(this, threadID, FromLibraryLevel(libraryLevel), text);
}

void TFFLogger::Deliver(TLogSender sender, uint32_t threadID, TLogLevel level,
                        const std::string& msg) {
    if (!OnLog) return;
    if (TriggerEventInMainThread && !IsMainThread()) {
        // The event's values travel as copies; the caller waits until it ran.
        RunOnMainThread([this, sender, threadID, level, msg] {
            if (OnLog) OnLog(sender, threadID, level, msg);
        });
    } else {
        OnLog(sender, threadID, level, msg);
    }
}

void LibraryLogCallback(void* avcl, int level, const char* fmt, va_list vl) {
    // The libraries call this from C: nothing may unwind through their frames,
    // so a failing handler loses its line instead.
    try {
        AssembleLibraryText(avcl, level, fmt, vl);
    } catch (...) {
    }
}

}  // namespace tw
