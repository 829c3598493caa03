// tests/support/JoinCheck.h — checking a joined file against its sources:
// which packets of the output belong to which source, whether each source's
// pictures and audio frames are all there, the gap at each join and the
// audio/video offset of each part, decode errors and decode-time order.
//
// Times are seconds. The sources are expected to start each with a key
// frame and to have key frames at least one frame apart from their end
// (true of the generator's clips).
#pragma once

#include <string>
#include <vector>

namespace tw::test {

/// One source as found in the output.
struct JoinPart {
    int64_t videoPackets = 0;        ///< output video packets in this part's time range
    int64_t audioPackets = 0;        ///< output audio packets in this part's range
    int64_t sourceVideoPackets = 0;  ///< the source's (packets it marks discarded not counted)
    int64_t sourceAudioPackets = 0;
    double videoStart = 0;  ///< output time of the part's first picture
    /// Part's first audio time minus its first picture time: in the output
    /// and in the source.
    double avOffset = 0, sourceAvOffset = 0;
    /// Time between the previous part's end and this part's start, per
    /// stream (each against the same stream; 0 for the first part).
    double videoGap = 0, audioGap = 0;
    /// Time between where the previous part ends (its longer stream) and
    /// where this part starts (its earlier stream); 0 for the first part.
    double gap = 0;
};

struct JoinCheck {
    std::string error;  ///< empty when output and sources could be read
    std::vector<JoinPart> parts;
    /// Decode times of every packet greater than the previous one's, in the
    /// stream's own units (milliseconds in FLV).
    bool videoDtsIncreasing = true, audioDtsIncreasing = true;
    int videoDecodeErrors = 0, audioDecodeErrors = 0;
    int64_t videoFrames = 0;  ///< pictures the decoder gave
    /// Sample rates and picture widths of the decoded frames, in order of
    /// first appearance.
    std::vector<int> audioRates, videoWidths;
    int64_t videoPackets = 0, audioPackets = 0;
    double videoFrameDuration = 0;  ///< of the first source
    double audioFrameDuration = 0;
};

/// Reads output and sources (decoding the output) and splits the output
/// into one part per source, in order.
JoinCheck CheckJoin(const std::string& output, const std::vector<std::string>& sources);

}  // namespace tw::test
