// encoder/OptionRecords.h — the records that describe an input or output file
// of a task, and how they become engine options.
//
// Records are plain values owned by the caller. Text lines of the extended
// options reach the engine through its option table (SetOption); the record
// fields through the engine's typed setters, each with the effect of the
// option of the same meaning. Nothing here catches: every call throws what
// the engine throws (FFmpegException with the option's text, "Invalid
// BitsPixel <n>" for the hook bitmaps). Configuring thread only.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "transcoder/files/FileSet.h"

extern "C" {
#include <libavutil/avutil.h>
}

namespace tw {

class TCustomFFmpeg;

struct TInputOptions {
    std::string FileName;
    std::string ForceFormat;
    int64_t StartTime = AV_NOPTS_VALUE;
    int ProgramId = -1;
    /// Decoder threads of this input ("threads"): -1 the engine's default
    /// (one), 0 the libraries' automatic choice. The decoders take it when
    /// the input is opened.
    int Threads = -1;
    /// Taken from a task's first input only (AddTask): the later inputs are
    /// closed once analysed and opened again when the run comes to them, so
    /// that many inputs do not hold their buffers at once (the engine's
    /// ReopenInputs).
    bool ReopenInputs = false;
    std::string ExtOptions;
};

struct TStreamInfo {
    /// Days since 1899-12-30, local time: 0 = now, < 0 = none.
    double Timestamp = -1.0;
    int Year = -1;
    int Track = -1;
    std::string Title, Author, Rights, Comment, Album, Genre;
};

struct TOutputOptions {
    /// The name the user knows the output by, which the texts of a failed
    /// open give; filled with the call's file name when empty.
    std::string FileName;
    std::string ForceFormat;
    int PacketSize = -1;
    int MuxRate = -1;
    float MuxDelay = -1.0f;
    float MuxPreload = -1.0f;
    std::string AudioCodec;
    std::string AudioPreset;
    bool DisableAudio = false;
    int AudioVolume = -1;
    int AudioChannels = -1;
    int AudioSampleRate = -1;
    int AudioBitrate = -1;
    int AudioBitrateTolerance = -1;
    std::string AudioLanguage;
    int AudioSync = 0;
    std::string AudioTag;
    std::string VideoCodec;
    std::string VideoPreset;
    bool DisableVideo = false;
    std::string FrameRate;
    std::string FrameSize;
    std::string AspectRatio;
    int GopSize = -1;
    int VideoBitrate = -1;
    int VideoMaxRate = -1;
    int VideoMinRate = -1;
    int VideoBitrateTolerance = -1;
    int VideoBufSize = -1;
    int VideoSync = -1;
    std::string VideoTag;
    std::string VideoFilters;
    std::string VideoLanguage;
    std::string SubtitleCodec;
    std::string SubtitlePreset;
    bool DisableSubtitle = false;
    std::string SubtitleLanguage;
    bool InputSync = false;
    bool CopyTimestamps = false;
    int64_t StartTime = AV_NOPTS_VALUE;
    int64_t RecordingTime = AV_NOPTS_VALUE;
    TStreamInfo Info;
    int Target = 0;
    int TargetNorm = 0;
    int TargetDefaultNorm = 1;
    bool AudioHook = false;
    bool VideoInputHook = false;
    bool VideoOutputHook = false;
    int HookBitsPixel = 24;
    bool Join = false;
    /// Rules of a joined re-encoding: every input's pictures fitted into the
    /// output's picture (turned upright, black bars, never stretched), and
    /// silence of its length for an input without audio.
    bool FitPictures = false;
    bool FillMissingAudio = false;
    /// Streams after the ordinary ones (further audio and subtitle tracks of
    /// the first input, each carried on by the same track of the later ones),
    /// every stream bound to the stream of its kind and number, the first
    /// input's cover art, and a chapter per input titled by this list: the
    /// engine's fields of these names.
    std::vector<TMoreStream> MoreStreams;
    bool BindInOrder = false;
    bool KeepCover = false;
    std::vector<std::string> SourceChapterTitles;
    std::string ExtOptions;
};

/// Extended options: trimmed, line breaks and "<CRLF>" become line feeds;
/// one (lowercased key, value) per line.
std::vector<std::pair<std::string, std::string>> SplitExtOptions(const std::string& text);

/// Name/value lines looked up without regard to case; lives for one
/// SetOutputFile.
struct TStreamDefaultList {
    std::vector<std::pair<std::string, std::string>> Lines;
    std::string Value(const std::string& name) const;
    void Set(const std::string& name, const std::string& value);
};

void ApplyExtOptions(TCustomFFmpeg& task, const std::string& text, bool withCodecKeys);
/// Input steps before the open (the copy is stored by the caller).
void ApplyInputOptions(TCustomFFmpeg& task, TInputOptions& options, const std::string& fileName);
void CollectStreamDefaults(TStreamDefaultList& list, const TOutputOptions& options);
void ApplyTargetOptions(TCustomFFmpeg& task, const TOutputOptions& options);
void ApplyOutputOptions(TCustomFFmpeg& task, const TOutputOptions& options);
/// Engine options as (name, value), set one by one through the option table.
using TOptionList = std::vector<std::pair<std::string, std::string>>;

/// Output steps 3 to 11 (everything before the open); planned options (a
/// merge plan's, see MergePlan.h) are set where the extended options are,
/// before them. Throws "Invalid BitsPixel %d" for hook bitmaps of an
/// unsupported depth.
void ApplyOutputOptionsBeforeOpen(TCustomFFmpeg& task, TOutputOptions& options,
                                  TStreamDefaultList& list, const TOptionList& planned = {});
void ApplyNewStreamOptions(TCustomFFmpeg& task, const std::string& text, TStreamDefaultList& list);
/// Seconds since 1970 (UTC) of a local date-time in days since 1899-12-30,
/// with the zone's standard offset (daylight saving not applied).
int64_t DateTimeToUnix(double days);

}  // namespace tw
