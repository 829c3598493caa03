// transcoder/run/TimestampJumps.cpp — finding a jump of an input's clock and
// the shift that continues the input after it.
#include "transcoder/run/TimestampJumps.h"

#include <algorithm>

namespace tw {

bool TTimestampJumps::Jumps(int s, const TTime& t, int64_t shift) const {
    const int64_t placed = t.Raw + shift;
    if (FInputEnd != kNone && placed > FInputEnd + kForwardJumpUs) return true;
    if (s < 0 || s >= static_cast<int>(FLast.size()) || FLast[s] == kNone) return false;
    return placed < FLast[s] - kBackwardJumpUs;
}

std::optional<int64_t> TTimestampJumps::ShiftFor(int s, const TTime& t) const {
    if (!Jumps(s, t, FShift)) return FShift;
    if (FPreviousShift && !Jumps(s, t, *FPreviousShift)) return FPreviousShift;
    return std::nullopt;
}

bool TTimestampJumps::AfterJump(int s, const TTime& t) const {
    const int64_t placed = t.Raw + FShift;
    if (FInputEnd != kNone && placed > FInputEnd + kForwardJumpUs) return true;
    if (s < 0 || s >= static_cast<int>(FLast.size()) || FLast[s] == kNone) return true;
    return placed < FLast[s];
}

void TTimestampJumps::Place(int s, const TTime& t, int64_t shift) {
    const int64_t placed = t.Raw + shift;
    const int64_t end = placed + std::max<int64_t>(t.Duration, 0);
    if (FStart == kNone || placed < FStart) FStart = placed;
    FInputEnd = FInputEnd == kNone ? end : std::max(FInputEnd, end);
    if (s < 0 || s >= static_cast<int>(FLast.size())) return;
    FLast[s] = FLast[s] == kNone ? placed : std::max(FLast[s], placed);
    FEnd[s] = FEnd[s] == kNone ? end : std::max(FEnd[s], end);
}

int64_t TTimestampJumps::Continue(int64_t jumpRaw, const std::vector<int64_t>& firstAfter) {
    const int64_t jump = jumpRaw + FShift - FInputEnd;
    int64_t shift = kNone;
    for (size_t s = 0; s < firstAfter.size() && s < FEnd.size(); ++s)
        if (firstAfter[s] != kNone && FEnd[s] != kNone)
            shift = std::max(shift, FEnd[s] - firstAfter[s]);
    // No stream both before and after the jump: the jumping packet goes
    // where the input had got.
    if (shift == kNone) shift = FInputEnd - jumpRaw;
    FPreviousShift = FShift;
    FShift = shift;
    return jump;
}

}  // namespace tw
