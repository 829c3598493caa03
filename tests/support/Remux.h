// tests/support/Remux.h — copies of test clips with their packets moved in
// time, for inputs that the generator does not make.
#pragma once

#include <string>

namespace tw::test {

/// What a copy changes.
struct RemuxChanges {
    /// Seconds added to every audio timestamp (the video stays).
    double audioLate = 0;
    /// When above 1, every n-th video packet is left out, so the frame
    /// rate varies (the container's average then differs from its base).
    int dropVideoEvery = 0;
    /// The muxer of the copy.
    std::string format = "matroska";
};

/// Writes a copy of src with the changes. False when src cannot be
/// read or dst cannot be written.
bool Remux(const std::string& src, const std::string& dst, const RemuxChanges& changes);

/// A copy of src whose audio starts `late` seconds after where it was.
inline bool ShiftAudio(const std::string& src, const std::string& dst, double late) {
    return Remux(src, dst, {.audioLate = late});
}

}  // namespace tw::test
