// tests/support/Tracks.h — every stream of a file with the times of its
// packets, and the tone an audio stream plays: for telling apart the tracks
// of a merged file and the sources they came from.
#pragma once

#include <string>
#include <vector>

namespace tw::test {

/// One stream of a file as read back.
struct TrackRead {
    std::string type;      ///< "video", "audio", "subtitle", "attachment", ...
    std::string codec;     ///< codec name
    std::string language;  ///< metadata "language", "" when none
    bool attachedPic = false;
    /// Presentation times (seconds) of its packets, in file order; packets
    /// the file marks as not to be shown (MP4's AAC priming) are left out.
    std::vector<double> times;
};

/// The streams of path in file order; empty when it cannot be opened.
std::vector<TrackRead> ReadTracks(const std::string& path);

/// The tones of an audio stream's first channel between from and to
/// seconds, counted by rising zero crossings; 0 when nothing was decoded.
double ToneHz(const std::string& path, int streamIndex, double from, double to);

}  // namespace tw::test
