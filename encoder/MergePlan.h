// encoder/MergePlan.h — what one merge writes, as values: the container, the
// codecs with their settings and the rules of joining the inputs. The join
// driver builds one for its output (a smart merge one per re-encoded part)
// and hands it to TCustomEncoder::SetOutputPlan, which sets the engine's
// options from it directly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "encoder/OptionRecords.h"

extern "C" {
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
}

namespace tw {

/// The settings of the output's video. A field left at its default leaves
/// the choice to the preset, the encoder or the first input.
struct TVideoPlan {
    /// "copy" or an encoder's name ("libx264").
    std::string Codec;
    /// Preset name of the encoder's settings ("libx264-default").
    std::string Preset;
    /// The encoder's profile (FF_PROFILE_*) and level (H.264: 31 for 3.1);
    /// -1 for the encoder's choice. Reach the video encoder only.
    int Profile = -1;
    int Level = -1;
    AVPixelFormat PixelFormat = AV_PIX_FMT_NONE;
    /// Bits per second; <= 0 for the preset's rate control.
    int Bitrate = -1;
    /// The picture in pixels; 0 for the first input's.
    int Width = 0;
    int Height = 0;
    /// The shape of the picture as shown (width:height); {0, 0} for none.
    AVRational DisplayAspect{0, 0};
    /// Frames per second; {0, 0} for the first input's.
    AVRational FrameRate{0, 0};
    /// Frames from one key frame to the next; -1 for the preset's.
    int KeyFrameInterval = -1;
    /// Closed groups of pictures: every key frame an IDR frame, where a
    /// player that seeks can start decoding.
    bool ClosedGop = false;
    /// The parameter sets before every key frame, in band (libx264).
    bool RepeatHeaders = false;
};

/// The settings of the output's sound; -1 for the first input's.
struct TAudioPlan {
    /// "copy" or an encoder's name ("aac").
    std::string Codec;
    /// The encoder may be one the libraries call experimental.
    bool Experimental = false;
    int SampleRate = -1;
    int Channels = -1;
    int Bitrate = -1;
};

struct TMergePlan {
    /// The muxer's name ("flv", "mp4", "mov", "matroska", "mpegts").
    std::string Container;
    TVideoPlan Video;
    TAudioPlan Audio;
    /// Encoder threads: -1 the engine's default (one), 0 the libraries'
    /// automatic choice.
    int Threads = -1;
    /// FLV: a key-frame index in the header, which players need to seek.
    bool KeyFrameIndex = false;
    /// MP4/MOV: the index in front of the media data (a second pass).
    bool FastStart = false;

    /// The output spans every input of the task, one after another.
    bool Join = true;
    /// Every input's pictures fitted into the output's picture (turned
    /// upright, black bars, never stretched).
    bool FitPictures = false;
    /// Silence of its length for an input without audio.
    bool FillMissingAudio = false;
    /// Streams after the ordinary ones (further audio and subtitle tracks of
    /// the first input, each carried on by the same track of the later ones).
    std::vector<TMoreStream> MoreStreams;
    /// Every stream bound to the input stream of its kind and number.
    bool BindInOrder = false;
    /// The first input's cover art kept.
    bool KeepCover = false;
    /// No encoded subtitle stream of the engine's own (subtitles travel in
    /// MoreStreams).
    bool DisableSubtitle = false;
    /// One chapter per input, titled by this list; empty for none.
    std::vector<std::string> SourceChapterTitles;

    /// The name the user knows the output by (see TOutputOptions::FileName).
    std::string FileName;
    /// Options a user typed, in the extended-options text (see
    /// SplitExtOptions); applied after the plan's own, so they win.
    std::string ExtOptions;
};

/// The output record of a plan: every field the record has a place for.
/// The codec settings without one (profile, level, pixel format, closed
/// groups, repeated headers, threads, container flags) are PlanOptions.
TOutputOptions PlanOutputRecord(const TMergePlan& plan);

/// The engine options a plan sets besides its record, as (name, value) in
/// the order they are set.
std::vector<std::pair<std::string, std::string>> PlanOptions(const TMergePlan& plan);

}  // namespace tw
