// app/cli/ProgressReport.cpp — the progress bar, lines and JSON objects.
#include "app/cli/ProgressReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "app/JoinDriver.h"
#include "app/cli/JsonText.h"

namespace tw::cli {

namespace {

constexpr double kLineSeconds = 10;  // the least time between two plain lines
constexpr int kBarCells = 20;
// Below 100 % until the merge is done: the estimate may reach the total
// before the last packets are written, or overshoot it.
constexpr double kMostBeforeDone = 99.9;

std::string Hms(int64_t us) {
    return SecondsToHMS(static_cast<int>(std::max<int64_t>(us, 0) / 1000000));
}

}  // namespace

bool ProgressModeNamed(const std::string& name, TProgressMode& mode) {
    static const std::pair<const char*, TProgressMode> kNames[] = {{"bar", TProgressMode::Bar},
                                                                   {"lines", TProgressMode::Lines},
                                                                   {"json", TProgressMode::Json},
                                                                   {"none", TProgressMode::None}};
    for (const auto& [text, value] : kNames)
        if (name == text) {
            mode = value;
            return true;
        }
    return false;
}

TProgressReport::TProgressReport(TProgressMode mode, std::function<void(const std::string&)> write,
                                 int width)
    : FMode(mode), FWrite(std::move(write)), FWidth(std::max(width, 40)) {}

int64_t TProgressReport::Total(int64_t engineTotalUs) const {
    return FTotal > 0 ? FTotal : engineTotalUs > 0 ? engineTotalUs : -1;
}

std::string TProgressReport::Text(bool bar, double percent) const {
    const int64_t total = Total(FEngineTotal);
    char line[256];
    char shown[16] = " --%";
    if (!std::isnan(percent)) std::snprintf(shown, sizeof shown, "%3d%%", int(percent));
    std::snprintf(line, sizeof line, "%s %s / %s %lld kB %.1fx", shown, Hms(FDone).c_str(),
                  total > 0 ? Hms(total).c_str() : "--:--:--",
                  static_cast<long long>(FBytes / 1024), FWall > 0 ? FDone / 1e6 / FWall : 0.0);
    if (!bar) return line;
    std::string cells(kBarCells, ' ');
    const int full = std::isnan(percent) ? 0 : int(percent * kBarCells / 100);
    std::fill(cells.begin(), cells.begin() + std::clamp(full, 0, kBarCells), '#');
    std::string text = "[" + cells + "] " + line;
    // One column short of the width: a full line would wrap on some terminals.
    if (int(text.size()) > FWidth - 1) text.resize(size_t(FWidth - 1));
    return text;
}

std::string TProgressReport::Json(double percent) const {
    const int64_t total = Total(FEngineTotal);
    return "\"percent\":" + JsonNumber(percent, 1) + ",\"time\":" + JsonSeconds(FDone) +
           ",\"total\":" + JsonSeconds(total) + ",\"bytes\":" + std::to_string(FBytes) +
           ",\"speed\":" + JsonNumber(FWall > 0 ? FDone / 1e6 / FWall : 0.0, 2);
}

void TProgressReport::Update(int64_t doneUs, int64_t engineTotalUs, int64_t bytes, double wall) {
    if (FFinished || FMode == TProgressMode::None) return;
    FDone = std::max<int64_t>(doneUs, 0);
    FEngineTotal = engineTotalUs;
    FBytes = std::max<int64_t>(bytes, 0);
    FWall = wall;
    const int64_t total = Total(engineTotalUs);
    const double percent =
        total > 0 ? std::min(kMostBeforeDone, FDone * 100.0 / total) : std::nan("");
    switch (FMode) {
        case TProgressMode::Bar:
            FWrite("\r\033[K" + Text(true, percent));
            FBarShown = true;
            break;
        case TProgressMode::Lines: {
            // Whichever is rarer: a whole percent more and 10 s since the last.
            const int whole = std::isnan(percent) ? FLinePercent + 1 : int(percent);
            if (whole <= FLinePercent || wall - FLineWall < kLineSeconds) break;
            FLinePercent = whole;
            FLineWall = wall;
            FWrite(Text(false, percent) + "\n");
            break;
        }
        case TProgressMode::Json:
            FWrite("{" + Json(percent) + "}\n");
            break;
        case TProgressMode::None:
            break;
    }
}

void TProgressReport::Clear() {
    if (!FBarShown) return;
    FWrite("\r\033[K");
    FBarShown = false;
}

void TProgressReport::Finish(TProgressEnd end, const std::string& message, int64_t bytes,
                             double wall) {
    if (FFinished || FMode == TProgressMode::None) return;
    FFinished = true;
    if (bytes >= 0) FBytes = bytes;
    FWall = wall;
    const bool done = end == TProgressEnd::Done;
    const int64_t total = Total(FEngineTotal);
    if (done && total > 0) FDone = total;
    const double percent = done        ? 100.0
                           : total > 0 ? std::min(kMostBeforeDone, FDone * 100.0 / total)
                                       : std::nan("");
    switch (FMode) {
        case TProgressMode::Bar:
            if (done)
                FWrite("\r\033[K" + Text(true, percent) + "\n");
            else
                Clear();
            FBarShown = false;
            break;
        case TProgressMode::Lines:
            if (done) FWrite(Text(false, percent) + "\n");
            break;
        case TProgressMode::Json: {
            const char* state = done ? "done" : end == TProgressEnd::Failed ? "failed" : "stopped";
            FWrite(std::string("{\"state\":\"") + state + "\"," + Json(percent) +
                   ",\"message\":" + JsonString(message) + "}\n");
            break;
        }
        case TProgressMode::None:
            break;
    }
}

}  // namespace tw::cli
