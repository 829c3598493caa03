// probe/MergeCheck.h — reading a merged file back before its sources may
// be deleted: which streams it holds, how its picture is turned, how long
// each stream lasts and whether the packets around every join decode.
// Facts only; the application judges them and words the verdict.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "binding/LibPtr.h"
#include "probe/FFDecode.h"

namespace tw {

/// What reading one stream of the merged file found. Times in µs.
struct TMergedStream {
    static constexpr int64_t kNoTime = std::numeric_limits<int64_t>::min();
    /// Audio or video; AVMEDIA_TYPE_UNKNOWN for cover art and other kinds,
    /// whose length is not checked.
    AVMediaType Type = AVMEDIA_TYPE_UNKNOWN;
    int64_t First = kNoTime, End = kNoTime;
    int Errors = 0;  ///< packets inside a join's window that failed to decode
    int64_t FirstErrorAt = kNoTime;
    /// From the first packet to the end of the last; 0 without packets.
    int64_t Length() const { return First == kNoTime ? 0 : End - First; }
};

/// Opens a merged file and reads it through, decoding the packets around
/// the joins. Used on the calling thread; the file stays open while the
/// reader lives.
class TMergedFileReader {
  public:
    /// Opens the file and a decoder for each audio and video stream (a
    /// codec without a decoder is only measured). False when the file does
    /// not open (why: the probing component's error) or a decoder cannot be
    /// set up (why: empty).
    bool Open(const std::string& file, std::string& why);

    bool HasVideo() const { return FHasVideo; }
    bool HasAudio() const { return FHasAudio; }
    /// The clockwise turn its picture is shown with (0, 90, 180, 270).
    int Rotation() const;

    enum class TRead { Done, ReadError, OutOfMemory };
    /// Reads every packet. joins: where the sources meet, in µs from the
    /// start of each stream; 2 s on each side are decoded (a video stream's
    /// window opens at the key frame before it, up to 1 s earlier).
    TRead ReadThrough(const std::vector<int64_t>& joins);

    /// Per stream of the file, after ReadThrough.
    const std::vector<TMergedStream>& Streams() const { return FStreams; }

  private:
    struct TDecoding {
        CodecContextPtr Decoder;
        bool Inside = false;  // inside a join's window
    };
    void Decode(TMergedStream& s, TDecoding& d, const AVPacket* pkt, AVFrame* frame, int64_t t);

    TFFDecoder FProbe;
    std::vector<TMergedStream> FStreams;
    std::vector<TDecoding> FDecoding;
    bool FHasVideo = false, FHasAudio = false;
};

}  // namespace tw
