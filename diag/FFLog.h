// diag/FFLog.h — the process-wide logger. Every diagnostic of the system and
// of the media libraries reaches the application through it as OnLog events.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <string>

#include "diag/FFBaseComponent.h"

namespace tw {

enum TLogLevel : uint8_t {
    llQuiet,
    llPanic,
    llFatal,
    llError,
    llWarning,
    llInfo,
    llVerbose,
    llDebug
};

/// Library level = 8 x ordinal - 8 (llQuiet -8 ... llDebug 48).
int ToLibraryLevel(TLogLevel level);
/// Ordinal = level / 8 (toward zero) + 1, clamped to llQuiet..llDebug.
TLogLevel FromLibraryLevel(int level);

/// Numeric id of the calling thread (the kernel's thread id), as carried in
/// log events. Any thread.
uint32_t CurrentThreadID();

/// Senders are identified by address only; any object may be a sender
/// (nullptr for none). Library lines carry the logger itself.
using TLogSender = const void*;
using TLogEvent = std::function<void(TLogSender Sender, uint32_t AThreadID, TLogLevel ALogLevel,
                                     const std::string& ALogMsg)>;

/// The one logger of the process. Create, configure and destroy it on the main
/// thread; Log, LogFmt and the library callback may be used from any thread.
class TFFLogger : public TFFBaseComponent {
  public:
    /// Becomes the current logger, with LogLevel taken from LibraryLogLevel().
    /// An automatically created logger is destroyed first. A second logger
    /// while a user-created one is current is a programming error:
    /// std::logic_error "Allow creating only one instance of TFFLogger.".
    TFFLogger();
    /// Stops being the current logger (FFLogger() then creates one on demand).
    ~TFFLogger() override;

    TLogLevel LogLevel() const { return FLogLevel; }
    /// Stores and applies (ApplyLogLevel) a changed level.
    void SetLogLevel(TLogLevel level);
    /// "quiet" ... "debug" (any case) or a decimal library level, mapped with
    /// FromLibraryLevel; throws std::invalid_argument for other text.
    void SetLogLevelText(const std::string& text);
    /// Hands LogLevel to libavutil (and to the callback's filter); does
    /// nothing while av_log_set_level is not bound.
    void ApplyLogLevel();

    /// True: an event raised on another thread runs on the main thread
    /// (RunOnMainThread) and the raising thread waits for it. Set on the main
    /// thread before work starts.
    bool TriggerEventInMainThread = true;
    /// Assigned on the main thread before work starts. Runs on the main thread
    /// or on the logging thread (see TriggerEventInMainThread).
    TLogEvent OnLog;

    /// Installs LibraryLogCallback and applies the level. av_log_set_callback
    /// and av_log_set_level must be bound: std::logic_error otherwise.
    void InstallCallback();

    /// The system's own messages. A message passes when OnLog is assigned and
    /// its level is at most LogLevel, or it is llVerbose and LogLevel is not
    /// llQuiet. Exceptions of the handler reach the caller.
    void Log(TLogSender sender, TLogLevel level, const std::string& msg);
    /// As Log; the text is formatted only when the message passes.
    void LogFmt(TLogSender sender, TLogLevel level, const char* fmt, ...)
        __attribute__((format(printf, 4, 5)));

    /// Used by the library callback only: one finished library line, raised
    /// with the logger as sender and no level filter.
    void DeliverLibraryLine(uint32_t threadID, int libraryLevel, const std::string& text);

    bool AutoCreated() const { return FAutoCreated; }

  private:
    friend TFFLogger* FFLogger();
    struct TAutoCreate {};
    explicit TFFLogger(TAutoCreate);

    bool Passes(TLogLevel level) const;
    void Deliver(TLogSender sender, uint32_t threadID, TLogLevel level, const std::string& msg);

    bool FAutoCreated = false;
    std::atomic<TLogLevel> FLogLevel = llInfo;
};

/// The current logger; creates one on demand (marked AutoCreated, destroyed
/// at process end). Any thread.
TFFLogger* FFLogger();

/// The callback handed to libavutil (av_log_set_callback). Any thread:
/// assembles fragments into lines per thread, prefixes the speaking object,
/// folds repeated lines and hands finished lines to FFLogger(). Never throws.
void LibraryLogCallback(void* avcl, int level, const char* fmt, va_list vl);

/// Library messages above this library level are dropped at once (initially
/// 32; ApplyLogLevel changes it). Any thread.
int LibraryLogLevel();

}  // namespace tw
