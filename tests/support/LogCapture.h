// tests/support/LogCapture.h — the logger's lines, kept while a test runs.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "diag/FFLog.h"

namespace tw::test {

/// Takes over the logger's OnLog for its lifetime and keeps every line, from
/// any thread (engines log from their workers), delivered straight rather
/// than through the main thread's call queue. Lines of every sender are kept
/// unless a sender is given.
class LogCapture {
  public:
    struct Line {
        TLogSender Sender;
        TLogLevel Level;
        std::string Text;
    };

    explicit LogCapture(TLogSender only = nullptr) : FOnly(only) {
        FFLogger()->TriggerEventInMainThread = false;
        FFLogger()->OnLog = [this](TLogSender sender, uint32_t, TLogLevel level,
                                   const std::string& text) {
            if (FOnly && sender != FOnly) return;
            std::lock_guard<std::mutex> lock(FLock);
            FLines.push_back({sender, level, text});
        };
    }
    ~LogCapture() { FFLogger()->OnLog = nullptr; }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<Line> Lines() const {
        std::lock_guard<std::mutex> lock(FLock);
        return FLines;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(FLock);
        FLines.clear();
    }
    /// How many lines contain `part`.
    int Count(const std::string& part) const {
        std::lock_guard<std::mutex> lock(FLock);
        int n = 0;
        for (const Line& l : FLines) n += l.Text.find(part) != std::string::npos;
        return n;
    }
    bool Contains(const std::string& part) const { return Count(part) > 0; }
    /// Whether a line reads exactly `text`, at `level` when one is given.
    bool Has(const std::string& text) const { return Find(nullptr, text); }
    bool Has(TLogLevel level, const std::string& text) const { return Find(&level, text); }

  private:
    bool Find(const TLogLevel* level, const std::string& text) const {
        std::lock_guard<std::mutex> lock(FLock);
        for (const Line& l : FLines)
            if ((!level || l.Level == *level) && l.Text == text) return true;
        return false;
    }

    TLogSender FOnly;
    mutable std::mutex FLock;
    std::vector<Line> FLines;
};

}  // namespace tw::test
