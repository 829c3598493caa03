// app/cli/ProgressReport.h — how tarnwick-join shows the progress of a
// merge: a bar on a terminal, a plain line now and then for a log, or one
// JSON object per report for a program that runs it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "encoder/FFEncode.h"

namespace tw::cli {

/// What --progress asks for.
enum class TProgressMode {
    Bar,    ///< one line redrawn in place (a terminal)
    Lines,  ///< a plain line at a whole percent, at most one per 10 s
    Json,   ///< one JSON object per report, a line each
    None,
};

/// The mode named by --progress ("bar", "lines", "json", "none"); false for
/// any other name.
bool ProgressModeNamed(const std::string& name, TProgressMode& mode);

/// How the merge ended, for the last line.
enum class TProgressEnd { Done, Failed, Stopped };

/// Turns the engine's progress reports into text. Fed on one thread (the
/// main thread, where the encoder delivers its reports); the clock is given
/// by the caller as seconds since the merge began, so the class can be
/// driven without a merge. Only a merge that is done reaches 100 %: until
/// then the percent stays below it, whatever the estimate says.
class TProgressReport {
  public:
    /// write receives every piece of text as it is to be shown (for Bar
    /// with "\r" and the terminal's erase sequence); width is the
    /// terminal's, for the bar.
    TProgressReport(TProgressMode mode, std::function<void(const std::string&)> write,
                    int width = 80);

    TProgressMode Mode() const { return FMode; }

    /// The whole merge's media time in microseconds, the sum of the sources'
    /// readable lengths; <= 0: the engine's total is taken.
    void SetTotal(int64_t us) { FTotal = us; }

    /// One report: media time merged (microseconds; negative when none
    /// yet), the engine's total (microseconds, <= 0 unknown), output bytes
    /// written, and the seconds since the merge began.
    void Update(int64_t doneUs, int64_t engineTotalUs, int64_t bytes, double wall);
    /// One report of the engine (no media time yet counts as 0), and the
    /// seconds since the merge began.
    void Update(const TProgress& report, double wall) {
        Update(report.CurrentOrZero(), report.TotalDuration, report.TotalSize, wall);
    }

    /// Takes the bar off the terminal (before a message); nothing in the
    /// other modes.
    void Clear();

    /// The last word. Done: 100 % (the bar and the line once more, the JSON
    /// object with "state":"done"); Failed and Stopped: no 100 %, the bar
    /// taken away, for JSON an object with the state and message. bytes:
    /// the output's size (-1: the last reported).
    void Finish(TProgressEnd end, const std::string& message, int64_t bytes, double wall);

  private:
    int64_t Total(int64_t engineTotalUs) const;
    std::string Text(bool bar, double percent) const;
    std::string Json(double percent) const;

    const TProgressMode FMode;
    const std::function<void(const std::string&)> FWrite;
    const int FWidth;
    int64_t FTotal = -1;
    // --- the last report
    int64_t FDone = 0, FEngineTotal = -1, FBytes = 0;
    double FWall = 0;
    // --- what was shown
    bool FBarShown = false;
    int FLinePercent = -1;  ///< whole percent of the last plain line
    double FLineWall = 0;   ///< its time
    bool FFinished = false;
};

}  // namespace tw::cli
