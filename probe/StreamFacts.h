// probe/StreamFacts.h — one stream of an opened source described as values:
// what a report of the source lists for it. Facts only, no texts of our own.
#pragma once

#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace tw {

/// A stream's facts. An empty optional or a count <= 0 is unknown.
struct TStreamFacts {
    int Index = -1;
    AVMediaType Kind = AVMEDIA_TYPE_UNKNOWN;
    /// The libraries' name of the kind ("video", "audio").
    std::optional<std::string> Type;
    /// The codec's short name (CodecName).
    std::string Codec;
    /// The decoder's name of the profile ("High", "LC").
    std::optional<std::string> Profile;
    // Video.
    int Width = 0;
    int Height = 0;
    /// Average rate, else the real base rate; {0, 1} for cover art, whose
    /// rate means nothing.
    AVRational FrameRate{0, 1};
    std::optional<std::string> PixelFormat;
    /// Quarter turns a player applies, in degrees (QuarterTurn).
    int Rotation = 0;
    // Audio.
    int SampleRate = 0;
    int Channels = 0;
    /// The libraries' description of the layout ("stereo", "5.1(side)").
    std::optional<std::string> ChannelLayout;
    // Every kind.
    std::optional<std::string> Language;
    std::optional<std::string> Title;
    bool Default = false;
    /// Cover art (one picture), not a video.
    bool AttachedPicture = false;
};

/// The facts of every stream of an opened context, in stream order; reads
/// no packet. Caller's thread.
std::vector<TStreamFacts> DescribeStreams(const AVFormatContext* context);

/// The demuxer's short name ("flv", "mov,mp4,m4a,3gp,3g2,mj2"), empty when
/// unknown.
std::string ContainerName(const AVFormatContext* context);

}  // namespace tw
