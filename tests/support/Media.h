// tests/support/Media.h — test clips: making them with tarnwick-gen-media and
// reading them back with the libraries.
//
// Every time here is in seconds, already converted from the stream's or
// container's own time base.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace tw::test {

/// The generator's path (as built), for tests that run it themselves.
const char* GeneratorPath();

/// What one run of the generator did.
struct GeneratorRun {
    int exitCode = -1;   ///< the exit status; -1 when it did not exit normally
    std::string output;  ///< what it printed, standard output and error together
};

/// Runs the generator with exactly these arguments (no shell involved, so
/// nothing needs quoting) and waits for it. Does not judge the outcome.
GeneratorRun RunGenerator(const std::vector<std::string>& args);

/// Makes a clip at path: runs the generator with args, then "-q" and path.
/// When the generator fails, records a gtest failure carrying its exit status
/// and message, and then throws std::runtime_error so the test stops there
/// (gtest reports the exception as a second failure of the same test).
/// Returns path.
std::string GenerateClip(const std::string& path, const std::vector<std::string>& args = {});

/// One stream of a file as read back.
struct StreamInfo {
    int index = -1;
    std::string type;           ///< "video", "audio", "subtitle", "data" or "unknown"
    std::string codec;          ///< codec name, e.g. "h264", "aac", "mpeg4", "mp2"
    int width = 0, height = 0;  ///< video only
    double fps = 0;             ///< video only: average frame rate, else the real base rate
    int sampleRate = 0;         ///< audio only
    int channels = 0;           ///< audio only

    /// Packets read from the file for this stream (all of them, to the end
    /// of the file or the first read error).
    int64_t packets = 0;
    int64_t keyPackets = 0;          ///< of these, packets flagged as key frames
    std::optional<double> firstPts;  ///< smallest presentation time of its packets
    std::optional<double> lastPts;   ///< largest presentation time of its packets
    /// Decode time of the first packet; empty when the container does not
    /// give one (Matroska gives presentation times only).
    std::optional<double> firstDts;
    /// Largest presentation time plus that packet's duration: where the
    /// stream ends.
    std::optional<double> endTime;
    double packetDuration = 0;  ///< sum of the packets' durations
    /// True when every packet's decode time is at least the previous one's.
    bool dtsMonotonic = true;
    /// True when every packet's presentation time is at least the previous
    /// one's: false means the pictures are stored out of order (B-frames).
    bool ptsInFileOrder = true;

    /// Filled only when reading with decode = true (else -1): frames the
    /// decoder gave, and for audio the samples per channel they held.
    int64_t decodedFrames = -1;
    int64_t decodedSamples = -1;
    int decodeErrors = 0;  ///< packets the decoder rejected (decode = true)

    std::map<std::string, std::string> metadata;  ///< stream-level tags
};

/// One chapter as read back.
struct ChapterInfo {
    double start = 0, end = 0;
    std::string title;  ///< the "title" tag, empty when absent
};

/// A file as read back.
struct MediaInfo {
    /// Empty when the file was opened and its streams found; otherwise why
    /// not (then nothing else is filled in).
    std::string error;
    /// Empty when the packets were read to a clean end of file; otherwise the
    /// library's error that stopped the reading (the counts hold what was
    /// read before it).
    std::string readError;

    std::string format;               ///< demuxer short name, e.g. "flv", "mpegts", "matroska,webm"
    std::optional<double> duration;   ///< container duration, when it reports one
    std::optional<double> startTime;  ///< container start time, when it reports one
    int64_t bitRate = 0;
    std::vector<StreamInfo> streams;
    std::vector<ChapterInfo> chapters;
    std::map<std::string, std::string> metadata;  ///< container-level tags

    bool Ok() const { return error.empty(); }
    /// The first stream of that type, or nullptr.
    const StreamInfo* Find(const std::string& type) const;
    const StreamInfo* Video() const { return Find("video"); }
    const StreamInfo* Audio() const { return Find("audio"); }
    /// A container-level tag, looked up ignoring case (Matroska upper-cases
    /// most keys, the other containers keep them as written).
    std::optional<std::string> Tag(const std::string& key) const;
};

struct ReadOptions {
    /// Also decode every audio and video packet to count frames and samples.
    /// Slower; only needed for exact sample counts.
    bool decode = false;
};

/// Opens path with the libraries, reads its stream information and then all
/// of its packets. Never throws for a bad file: see MediaInfo::error and
/// MediaInfo::readError. Leaves the library's log settings alone (product
/// code under test may own them).
MediaInfo ReadMediaInfo(const std::string& path, const ReadOptions& options = {});

}  // namespace tw::test
