// transcoder/run/TimestampJumps.h — the clock of one input whose timestamps may
// jump (a live recording whose clock was reset): where the input has got,
// which packet jumps, and the shift that lets the rest of the input follow
// on without a gap, as the next input of a join would.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace tw {

/// What counts as a jump. Forward: a packet whose time lies more than
/// kForwardJumpUs (5 s) beyond where the input has got (the latest end of
/// any packet of any of its streams), so that no media of any stream lies
/// between; smaller gaps (a pause, an audio-only stretch with a short
/// silence) are kept as they are. Backward: a packet more than
/// kBackwardJumpUs (0.5 s) before the last one of its stream: pictures
/// stored out of order step back a few frames in presentation time, and so
/// do the decode times some demuxers derive from them (Matroska). A
/// stream's first packet never jumps (a stream may start late).
/// Wrap-around of MPEG-TS times is undone by the demuxer before.
constexpr int64_t kForwardJumpUs = 5000000;
constexpr int64_t kBackwardJumpUs = 500000;

/// Engine thread only. Times are microseconds: "raw" ones as the demuxer
/// gives them (before any offset), "placed" ones with the shift added.
class TTimestampJumps {
  public:
    /// One packet's time: its decode time when it has one, else its
    /// presentation time; duration 0 when unknown.
    struct TTime {
        int64_t Raw = 0;
        int64_t Duration = 0;
    };

    explicit TTimestampJumps(int streams) : FLast(streams, kNone), FEnd(streams, kNone) {}

    /// The shift for a packet of stream s: the current one, or the one
    /// before the last jump for a packet stored late that still belongs
    /// before it. None when the packet jumps.
    std::optional<int64_t> ShiftFor(int s, const TTime& t) const;
    /// Records a packet of stream s placed with shift.
    void Place(int s, const TTime& t, int64_t shift);
    /// Whether a packet of stream s read soon after a jump was found belongs
    /// after it: under the shift before the jump it goes back behind its
    /// stream (any amount), leaps ahead, or its stream had no packet yet.
    /// One that goes on from its stream was stored late and belongs before.
    /// Before Continue.
    bool AfterJump(int s, const TTime& t) const;
    /// Takes the jump: firstAfter holds, per stream, the earliest raw time
    /// after the jump (none for streams without such a packet yet; jumpRaw
    /// is the jumping packet's). The new shift places every stream's first
    /// packet after the jump at or after its own end, the stream that got
    /// furthest exactly there. Returns the jump (placed time of jumpRaw
    /// under the old shift minus where the input had got: negative back).
    int64_t Continue(int64_t jumpRaw, const std::vector<int64_t>& firstAfter);
    /// Current shift (µs) added to raw times.
    int64_t Shift() const { return FShift; }
    /// Where the input has got (placed); none before the first packet.
    int64_t End() const { return FInputEnd; }
    /// The first placed time of the input; none before the first packet.
    int64_t Start() const { return FStart; }

    static constexpr int64_t kNone = INT64_MIN;

  private:
    bool Jumps(int s, const TTime& t, int64_t shift) const;

    int64_t FShift = 0;
    std::optional<int64_t> FPreviousShift;
    std::vector<int64_t> FLast;  // per stream: last placed time
    std::vector<int64_t> FEnd;   // per stream: last placed time plus duration
    int64_t FInputEnd = kNone;
    int64_t FStart = kNone;
};

}  // namespace tw
