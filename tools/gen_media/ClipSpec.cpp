// tools/gen_media/ClipSpec.cpp — command-line parsing of the media generator.
#include "ClipSpec.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace tw::gen {

long long ClipSpec::VideoFrames() const { return std::llround(duration * fps); }

long long ClipSpec::AudioSamples() const { return std::llround(duration * sampleRate); }

const char* UsageText() {
    return R"(usage: tarnwick-gen-media [options] OUTPUT
       tarnwick-gen-media [-q] --set DIR

Writes a short synthetic clip: a moving test picture (H.264) and a sine tone
(AAC). The container follows OUTPUT's extension (.flv .mp4 .ts .mkv .webm
.mpg .avi .mp3) unless --format names a muxer.

  --duration SECONDS    length (default 2)
  --size WxH            coded picture size (default 320x240); odd sizes only
                        for encoders that take them (libvpx, libvpx-vp9,
                        mpeg2video, or libx264 with --pix-fmt yuv444p)
  --pix-fmt NAME        pixel format of the video (default yuv420p; e.g.
                        yuv422p, yuv444p)
  --rotate DEG          display rotation 90, 180 or 270 (clockwise), stored
                        as a display matrix (mp4 only); the picture is
                        painted to look upright when turned
  --marks               white square in the displayed top-left corner and
                        black square in the bottom-right one
  --fps N               frame rate (default 25)
  --sample-rate HZ      audio rate (default 44100)
  --channels N          audio channels (default 2)
  --no-audio            video only
  --tracks N            N audio tracks (default 1), the later ones copies of
                        the first: a small file with many streams (1..2000)
  --no-video            audio only
  --start-time SECONDS  shift every timestamp (honoured by flv, mkv, ts;
                        mp4 stores it as an edit list)
  --chapters N          N equal chapters "Chapter 1".. (mkv, mp4)
  --metadata KEY=VALUE  container metadata; repeatable
  --truncate FRACTION   cut the finished file to this fraction of its bytes
  --bframes N           B-frames between references (default 0)
  --gop N               key-frame interval in frames (default: one per second)
  --open-gop            libx264 in open groups of pictures: the key frames
                        after the first are I-frames, not IDR frames, that
                        the B-frames before them refer across, each marked
                        with a recovery-point SEI
  --tone HZ             tone frequency (default 440)
  --video-codec NAME    video encoder (default libx264)
  --audio-codec NAME    audio encoder (default aac)
  --pattern N, --seed N picture and tone variant (default 0)
  --format NAME         muxer name, overriding the extension
  --audio-tracks N      N audio tracks (default 1), track n with the tone
                        times (1 + n/2) and languages eng, fra, deu, ...
  --subtitles           subtitle cues every half second (SRT in mkv,
                        mov_text in mp4)
  --cover               a PNG cover picture (mp4, mkv, mp3)
  --trim START:END      (mp4) an edit list that shows only START..END seconds
                        of the media, which keeps its full duration
  --ts-jump AT:DELTA    (flv, ts) from media time AT on, every timestamp moves
                        by DELTA seconds (negative: back), a clock reset
  -q, --quiet           print nothing on success
  --set DIR             write the standard set of clips into DIR
  -h, --help            this text

Exit status: 0 on success, 1 when the clip cannot be written, 2 on a bad
command line.
)";
}

std::string FormatForExtension(const std::string& path) {
    const std::string ext = std::filesystem::path(path).extension().string();
    if (ext == ".flv") return "flv";
    if (ext == ".mp4") return "mp4";
    if (ext == ".ts") return "mpegts";
    if (ext == ".mkv") return "matroska";
    if (ext == ".webm") return "webm";
    if (ext == ".mpg") return "mpeg";
    if (ext == ".avi") return "avi";
    if (ext == ".mp3") return "mp3";
    return {};
}

namespace {

double ParseNumber(const std::string& option, const std::string& text) {
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(value))
        throw UsageError(option + ": not a number: '" + text + "'");
    return value;
}

int ParseInt(const std::string& option, const std::string& text, int min, int max) {
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0)
        throw UsageError(option + ": not a whole number: '" + text + "'");
    if (value < min || value > max)
        throw UsageError(option + ": " + text + " is out of range " + std::to_string(min) + ".." +
                         std::to_string(max));
    return static_cast<int>(value);
}

std::pair<double, double> ParsePair(const std::string& option, const std::string& text) {
    const auto colon = text.find(':');
    if (colon == std::string::npos) throw UsageError(option + ": expected A:B, got '" + text + "'");
    return {ParseNumber(option, text.substr(0, colon)),
            ParseNumber(option, text.substr(colon + 1))};
}

// The timing edits: which containers can carry them, and values that fit
// the clip.
void CheckTimeEdits(const ClipSpec& clip) {
    if (clip.trim) {
        const auto [start, end] = *clip.trim;
        if (clip.format != "mp4" && clip.format != "mov")
            throw UsageError("--trim: only mp4 and mov carry an edit list");
        if (start < 0 || end <= start || end > clip.duration)
            throw UsageError("--trim: needs 0 <= START < END <= the duration");
    }
    if (clip.tsJump) {
        const auto [at, delta] = *clip.tsJump;
        if (clip.format != "flv" && clip.format != "mpegts")
            throw UsageError("--ts-jump: made in flv and ts files only");
        if (at <= 0 || at >= clip.duration || delta == 0)
            throw UsageError("--ts-jump: needs 0 < AT < the duration and DELTA other than 0");
    }
}

void ParseSize(const std::string& option, const std::string& text, ClipSpec& clip) {
    const auto x = text.find('x');
    if (x == std::string::npos) throw UsageError(option + ": expected WxH, got '" + text + "'");
    clip.width = ParseInt(option, text.substr(0, x), 16, 4096);
    clip.height = ParseInt(option, text.substr(x + 1), 16, 4096);
}

}  // namespace

Command ParseCommandLine(const std::vector<std::string>& args) {
    Command cmd;
    ClipSpec& clip = cmd.clip;
    std::vector<std::string> positional;
    bool set = false;

    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) throw UsageError(arg + ": missing value");
            return args[++i];
        };
        if (arg == "-h" || arg == "--help") {
            cmd.kind = Command::Kind::Help;
            return cmd;
        } else if (arg == "-q" || arg == "--quiet") {
            clip.quiet = true;
        } else if (arg == "--set") {
            set = true;
            cmd.setDir = value();
        } else if (arg == "--duration") {
            clip.duration = ParseNumber(arg, value());
            if (clip.duration <= 0 || clip.duration > 3600)
                throw UsageError(arg + ": must be above 0 and at most 3600 seconds");
        } else if (arg == "--size") {
            ParseSize(arg, value(), clip);
        } else if (arg == "--fps") {
            clip.fps = ParseInt(arg, value(), 1, 240);
        } else if (arg == "--sample-rate") {
            clip.sampleRate = ParseInt(arg, value(), 1000, 192000);
        } else if (arg == "--channels") {
            clip.channels = ParseInt(arg, value(), 1, 8);
        } else if (arg == "--no-audio") {
            clip.audio = false;
        } else if (arg == "--tracks") {
            clip.tracks = ParseInt(arg, value(), 1, 2000);
        } else if (arg == "--no-video") {
            clip.video = false;
        } else if (arg == "--start-time") {
            clip.startTime = ParseNumber(arg, value());
            if (clip.startTime < 0 || clip.startTime > 86400)
                throw UsageError(arg + ": must be between 0 and 86400 seconds");
        } else if (arg == "--chapters") {
            clip.chapters = ParseInt(arg, value(), 0, 1000);
        } else if (arg == "--metadata") {
            const std::string& kv = value();
            const auto eq = kv.find('=');
            if (eq == std::string::npos || eq == 0)
                throw UsageError(arg + ": expected KEY=VALUE, got '" + kv + "'");
            clip.metadata.emplace_back(kv.substr(0, eq), kv.substr(eq + 1));
        } else if (arg == "--truncate") {
            const double f = ParseNumber(arg, value());
            if (f <= 0 || f >= 1) throw UsageError(arg + ": fraction must be between 0 and 1");
            clip.truncate = f;
        } else if (arg == "--bframes") {
            clip.bframes = ParseInt(arg, value(), 0, 16);
        } else if (arg == "--gop") {
            clip.gop = ParseInt(arg, value(), 1, 10000);
        } else if (arg == "--tone") {
            clip.toneHz = ParseNumber(arg, value());
            if (clip.toneHz <= 0) throw UsageError(arg + ": must be above 0 Hz");
        } else if (arg == "--video-codec") {
            clip.videoCodec = value();
        } else if (arg == "--audio-codec") {
            clip.audioCodec = value();
        } else if (arg == "--pattern" || arg == "--seed") {
            clip.pattern = ParseInt(arg, value(), 0, 1000000);
        } else if (arg == "--pix-fmt") {
            clip.pixFmt = value();
            if (av_get_pix_fmt(clip.pixFmt.c_str()) == AV_PIX_FMT_NONE)
                throw UsageError(arg + ": unknown pixel format '" + clip.pixFmt + "'");
        } else if (arg == "--rotate") {
            clip.rotate = ParseInt(arg, value(), 0, 270);
            if (clip.rotate % 90 != 0)
                throw UsageError(arg + ": must be 0, 90, 180 or 270, got " +
                                 std::to_string(clip.rotate));
        } else if (arg == "--marks") {
            clip.marks = true;
        } else if (arg == "--trim") {
            clip.trim = ParsePair(arg, value());
        } else if (arg == "--ts-jump") {
            clip.tsJump = ParsePair(arg, value());
        } else if (arg == "--open-gop") {
            clip.openGop = true;
        } else if (arg == "--format") {
            clip.format = value();
        } else if (arg == "--audio-tracks") {
            clip.audioTracks = ParseInt(arg, value(), 1, 8);
        } else if (arg == "--subtitles") {
            clip.subtitles = true;
        } else if (arg == "--cover") {
            clip.cover = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option '" + arg + "'");
        } else {
            positional.push_back(arg);
        }
    }

    if (set) {
        if (!positional.empty())
            throw UsageError("--set takes no output file, got '" + positional.front() + "'");
        cmd.kind = Command::Kind::Set;
        return cmd;
    }
    if (positional.empty()) throw UsageError("no output file given");
    if (positional.size() > 1)
        throw UsageError("more than one output file given: '" + positional[1] + "'");
    clip.path = positional.front();
    // libx264 refuses odd sizes when the chroma planes are halved; other
    // encoders round the chroma planes up and take them.
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(av_get_pix_fmt(clip.pixFmt.c_str()));
    const bool subsampled = desc && (desc->log2_chroma_w > 0 || desc->log2_chroma_h > 0);
    if (clip.video && clip.videoCodec == "libx264" && subsampled &&
        (clip.width % 2 != 0 || clip.height % 2 != 0))
        throw UsageError("--size: width and height must be even for libx264 with " + clip.pixFmt +
                         ", got " + std::to_string(clip.width) + "x" + std::to_string(clip.height));
    if (!clip.video && !clip.audio)
        throw UsageError("--no-audio and --no-video together leave nothing to write");
    if (clip.format.empty()) {
        clip.format = FormatForExtension(clip.path);
        if (clip.format.empty())
            throw UsageError("cannot tell the container from '" + clip.path +
                             "': use .flv, .mp4, .ts, .mkv, .webm, .mpg, .avi or .mp3, or "
                             "--format NAME");
    }
    CheckTimeEdits(clip);
    if (clip.audio && clip.duration * clip.sampleRate < 1)
        throw UsageError("--duration is shorter than one audio sample");
    if (clip.video && clip.VideoFrames() < 1)
        throw UsageError("--duration is shorter than one video frame");
    return cmd;
}

}  // namespace tw::gen
