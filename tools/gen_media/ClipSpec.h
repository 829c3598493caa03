// tools/gen_media/ClipSpec.h — what one synthetic clip looks like, and how
// the generator's command line describes it.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tw::gen {

/// Everything that shapes one generated clip. The defaults are the generator's
/// defaults: 2 s of 320x240 H.264 at 25 fps with a 440 Hz AAC tone, 44100 Hz
/// stereo, no B-frames, a key frame every second.
struct ClipSpec {
    std::string path;    ///< output file
    std::string format;  ///< muxer short name; empty: chosen from the extension
    double duration = 2.0;
    int width = 320;
    int height = 240;
    int fps = 25;
    int sampleRate = 44100;
    int channels = 2;
    bool video = true;
    bool audio = true;
    /// Added to every timestamp of every stream, in seconds (0: none).
    double startTime = 0.0;
    /// Number of equal chapters "Chapter 1".."Chapter N" (0: none).
    int chapters = 0;
    /// Container-level metadata, in the order given.
    std::vector<std::pair<std::string, std::string>> metadata;
    /// When set, the finished file is cut to this fraction (0 < f < 1) of its bytes.
    std::optional<double> truncate;
    int bframes = 0;
    /// Key-frame interval in frames; 0 means one per second (fps).
    int gop = 0;
    /// libx264 in open groups of pictures: key frames after the first are
    /// I-frames, not IDR frames, each with a recovery-point SEI.
    bool openGop = false;
    double toneHz = 440.0;
    std::string videoCodec = "libx264";
    std::string audioCodec = "aac";
    /// Selects colours and motion of the picture and shifts the tone, so that
    /// clips made with different patterns differ visibly and audibly.
    int pattern = 0;
    /// Clockwise turn (0, 90, 180, 270) a player applies to the coded
    /// picture, stored as the video stream's display matrix the way phones
    /// write it (MP4 only: the other muxers cannot store it). The coded picture is then width x
    /// height as given, and the pattern is painted so that it looks upright once turned.
    int rotate = 0;
    /// Pixel format of the coded video (a libavutil name such as yuv422p).
    std::string pixFmt = "yuv420p";
    /// Paints orientation marks over the pattern: a white square in the
    /// displayed top-left corner and a black one in the displayed
    /// bottom-right corner, each a quarter of the shorter displayed side.
    bool marks = false;
    /// Audio tracks: the first, encoded, and tracks - 1 copies of its
    /// packets (a file with very many streams stays small).
    int tracks = 1;
    bool quiet = false;
    /// MP4/MOV only: the edit list shows only media time first..second
    /// (seconds) of the duration's media, as an editor's trim does.
    std::optional<std::pair<double, double>> trim;
    /// FLV and MPEG-TS only: from media time first on, every timestamp moves
    /// by second seconds (negative: back), as a recording whose clock was reset.
    std::optional<std::pair<double, double>> tsJump;

    // --- streams beyond the picture and one tone
    /// Audio tracks (at least 1). Track n (from 0) plays the tone times
    /// (1 + n / 2) and is tagged with language TrackLanguage(n) ("eng",
    /// "fra", ...) and title "Track n+1" when there are several.
    int audioTracks = 1;
    /// Subtitle cues "Cue 1", "Cue 2", ... every half second, 0.4 s each:
    /// SRT in Matroska, timed text (mov_text) in MP4.
    bool subtitles = false;
    /// A 64x64 PNG cover: an attached picture in MP4 and MP3, an image
    /// attachment in Matroska.
    bool cover = false;

    /// Number of video frames: duration * fps, rounded to the nearest frame.
    long long VideoFrames() const;
    /// Number of audio samples per channel: duration * sampleRate, rounded.
    long long AudioSamples() const;
};

/// What the command line asks for: one clip, a standard set, or help.
struct Command {
    enum class Kind { Clip, Set, Help } kind = Kind::Clip;
    ClipSpec clip;       ///< Kind::Clip: the clip; Kind::Set: only `quiet` is used
    std::string setDir;  ///< Kind::Set: the folder to write into
};

/// Parses the arguments after the program name. Throws UsageError with a
/// message naming the offending argument when an option is unknown, lacks its
/// value, has a value out of range, when the output is missing or its
/// container cannot be told from the extension (without --format), or when
/// an odd size is asked of libx264 with a format whose chroma is subsampled.
Command ParseCommandLine(const std::vector<std::string>& args);

/// The muxer for a file name's extension: flv, mp4, mpegts (.ts), matroska
/// (.mkv), webm (.webm), mpeg (.mpg), avi (.avi) or mp3 (.mp3); empty for
/// any other extension.
std::string FormatForExtension(const std::string& path);

/// The usage text printed by --help.
const char* UsageText();

/// A malformed command line (exit status 2).
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace tw::gen
