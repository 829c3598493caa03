// media/SourceSurvey.h — what a source is: which streams it has, how they
// are encoded, how its picture is shown, read from an opened input; and
// what a container can hold of them. No texts for the user: the checks
// that word a refusal live with the application.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "media/Bitstream.h"

namespace tw {

/// One audio or subtitle stream of a source.
struct TTrackFacts {
    AVMediaType Type = AVMEDIA_TYPE_AUDIO;
    AVCodecID Codec = AV_CODEC_ID_NONE;
    std::string Language;  ///< metadata "language", "" when none
    std::string Title;     ///< metadata "title", "" when none
};

/// The facts of one source, read from an opened input (stream parameters and
/// side data only; nothing is decoded). Values are plain copies: they outlive
/// the context they came from.
struct TSourceFacts {
    std::string File;
    bool HasVideo = false;
    bool HasAudio = false;
    /// Container duration in microseconds; -1 when unknown.
    int64_t Duration = -1;

    // --- first video stream (when HasVideo)
    AVCodecID VideoCodec = AV_CODEC_ID_NONE;
    int VideoProfile = -99;
    int VideoLevel = -99;
    int VideoBitrate = -1;      ///< bits per second; -1 when the container does not say
    int Width = 0, Height = 0;  ///< coded size
    int PixFmt = -1;            ///< AVPixelFormat
    AVRational SampleAspect{0, 1};
    /// Average frame rate, else the stream's base rate; {0, 1} when unknown.
    AVRational FrameRate{0, 1};
    /// The parameter sets (SPS, PPS, VPS) by content: the same text for the
    /// length-prefixed and the Annex-B form of the same sets; other codecs'
    /// extra data as it stands (hex). Empty when there is none.
    std::string VideoConfig;
    /// Clockwise turn, in degrees (0, 90, 180 or 270), that shows the picture
    /// upright, from the stream's display matrix.
    int Rotation = 0;

    // --- first audio stream (when HasAudio)
    AVCodecID AudioCodec = AV_CODEC_ID_NONE;
    int AudioProfile = -99;
    int SampleRate = 0;
    int Channels = 0;
    int AudioBitrate = -1;  ///< bits per second; -1 when the container does not say
    /// AAC: object type, rate and channel configuration ("2/44100/2"), from
    /// the extra data or, for ADTS streams without it, the stream values;
    /// other codecs' extra data (hex). Empty when there is none.
    std::string AudioConfig;

    // --- every audio and subtitle stream, in file order (the first audio
    // stream too), and the cover art
    std::vector<TTrackFacts> Tracks;
    /// An attached picture (cover art), and its codec.
    bool HasCover = false;
    AVCodecID CoverCodec = AV_CODEC_ID_NONE;
    /// The tracks of a kind, in file order.
    std::vector<TTrackFacts> TracksOf(AVMediaType type) const;

    /// The size the picture is shown at: the coded size widened by a
    /// non-square pixel aspect, turned by the rotation.
    void DisplaySize(int& width, int& height) const;
};

/// The clockwise turn (0, 90, 180, 270) that shows a stream's pictures
/// upright, from its display matrix; 0 without one.
int QuarterTurn(const AVStream* stream);

/// Reads the facts of an opened input; file is only recorded.
TSourceFacts SurveySource(const AVFormatContext* context, const std::string& file);

/// Whether a file of the muxer named container ("flv", "mp4", "matroska",
/// "mpegts") can hold a stream of the codec: the muxer's own answer, and
/// where it cannot tell (MPEG-TS), or refuses only when it writes its header
/// (FLV: MPEG-4 Part 2 and H.263), what we know of it. An unknown muxer or
/// codec it cannot judge counts as yes: its own refusal names it then.
bool ContainerTakes(const std::string& container, AVCodecID codec, AVMediaType type);

/// The name users know a container by: "FLV", "MP4", "MKV", "TS".
std::string ContainerShownName(const std::string& container);

/// True when the muxer named container writes a video stream's display
/// matrix (the MP4/MOV family); Matroska, FLV and MPEG-TS do not.
bool ContainerKeepsRotation(const std::string& container);

/// A codec's short name ("vp8"), "none" for AV_CODEC_ID_NONE.
std::string CodecName(AVCodecID id);

}  // namespace tw
