// diag/FFLog.h — the process-wide logger. Every diagnostic of the system and
// of the media libraries reaches the application through it as OnLog events.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <string>

#include "diag/FFBaseComponent.h"

namespace tw {

enum TLogLevel : uint8_t { llQuiet, llPanic, llFatal, llError, llWarning, llInfo, llVerbose, llDebug };

/// Library level = 8 x ordinal - 8 (llQuiet -8 ... llDebug 48).
int ToLibraryLevel(TLogLevel level);
/// Ordinal = level / 8 (toward zero) + 1, clamped to llQuiet..llDebug.
TLogLevel FromLibraryLevel(int level);

/// Numeric id of the calling thread, as carried in log events.
uint32_t CurrentThreadID();

/// Senders are identified by address only; any object may be a sender
/// (nullptr for none). Library lines carry the logger itself.
using TLogSender = const void*;
using TLogEvent = std::function<void(TLogSender Sender, uint32_t AThreadID, TLogLevel ALogLevel,
                                     const std::string& ALogMsg)>;

class TFFLogger : public TFFBaseComponent {
public:
    /// A second logger while a user-created one is current is a programming
    /// error ("Allow creating only one instance of TFFLogger."). An
    /// automatically created logger is replaced.
    TFFLogger();
    ~TFFLogger() override;

    TLogLevel LogLevel() const;
    void SetLogLevel(TLogLevel level);
    /// "quiet" ... "debug" (any case) or a decimal library level; throws
    /// std::invalid_argument for other text.
    void SetLogLevelText(const std::string& text);
    void ApplyLogLevel();

    bool TriggerEventInMainThread = true;
    /// Assigned on the main thread before work starts.
    TLogEvent OnLog;

    /// Installs the library log callback and applies the level (libavutil must
    /// be bound: a programming error otherwise).
    void InstallCallback();

    void Log(TLogSender sender, TLogLevel level, const std::string& msg);
    void LogFmt(TLogSender sender, TLogLevel level, const char* fmt, ...)
        __attribute__((format(printf, 4, 5)));

    /// Used by the library callback only.
    void DeliverLibraryLine(uint32_t threadID, int libraryLevel, const std::string& text);

    bool AutoCreated() const { return FAutoCreated; }

private:
    friend TFFLogger* FFLogger();
    void Deliver(TLogSender sender, uint32_t threadID, TLogLevel level, const std::string& msg);

    bool FAutoCreated = false;
    TLogLevel FLogLevel = llInfo;
};

/// The current logger; creates one on demand (marked AutoCreated).
TFFLogger* FFLogger();

/// The callback handed to libavutil (av_log_set_callback).
void LibraryLogCallback(void* avcl, int level, const char* fmt, va_list vl);

/// Library messages above this library level are dropped at once (initially 32).
int LibraryLogLevel();

}  // namespace tw
