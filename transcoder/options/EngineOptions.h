// transcoder/options/EngineOptions.h — the option values of the transcoder engine:
// the option fields, the generic option store, the option table that
// applies one option by name, and the operations of single options.
//
// Implemented in three units: EngineOptions.cpp (the setters and the
// operations of single options), Dispatcher.cpp (SetOption over the option
// table) and DefaultOptions.cpp (the generic option path and FindCodec).
//
// Everything here runs on the configuring thread while the engine is idle.
// Every failure is an FFmpegException carrying the user-facing text, unless
// a method says otherwise. The few options that reach beyond the option
// values (a stream of the last output file, the scale of the next input,
// the expected duration, the inputs' frame rates) go to the files attached
// with AttachFiles.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "diag/FrameHook.h"
#include "transcoder/FFmpegException.h"
#include "transcoder/options/OptionContexts.h"
#include "transcoder/options/OptionFiles.h"
#include "transcoder/options/OptionState.h"

namespace tw {

class TEngineOptions : public TOptionState {
  public:
    TEngineOptions() = default;
    virtual ~TEngineOptions() = default;
    TEngineOptions(const TEngineOptions&) = delete;
    TEngineOptions& operator=(const TEngineOptions&) = delete;

    /// The files the options that reach beyond the option values act on;
    /// not owned, outlives this object. Before it is attached those options
    /// throw std::logic_error "Assertion failure" (the frame rates: none).
    void AttachFiles(TOptionFiles& files) { FFiles = &files; }

    /// Last failure text of the file openers and of FindCodec.
    std::string LastError;
    /// Whether an option that nothing accepts raises (true) or is ignored.
    bool RaiseOnUnknownOption = true;
    /// The generic option store; created by ResetOptions (none while the
    /// libraries are not loaded).
    std::unique_ptr<TOptionContexts> OptionContexts;

    // --- the dispatcher
    /// Applies one option by name (case-sensitive) and value text through the
    /// option table (transcoder/options/Dispatcher.h). Throws FFmpegException on a bad
    /// value, a removed option, or an option nothing accepts while
    /// RaiseOnUnknownOption is set.
    void SetOption(const std::string& name, const std::string& value);

    /// The generic fallback: hands the option to the library option contexts
    /// and records it. False when not accepted, the reason then in
    /// LastOptionFailure(): "Unrecognized option \"<name>\"" or
    /// "Invalid value \"<value>\" for option \"<name>\"". A name blank
    /// of every character up to ' ' returns false and leaves the text alone.
    bool SetDefaultOption(const std::string& name, const std::string& value);
    /// SetDefaultOption with the decimal text of value.
    bool SetDefaultOptionInt(const std::string& name, int value);
    /// The text of this engine's last generic option failure (empty before
    /// the first one); what SetOption and the presets raise for a refused option.
    const std::string& LastOptionFailure() const { return FOptionFailure; }

    /// Copies the recorded generic options whose option in optionContext has
    /// all bits of requiredFlags (AV_OPT_FLAG_*) into target; options known
    /// only to codec's private table go to target->priv_data. Throws when a
    /// private option refuses its recorded value.
    void ApplyContextOptions(AVCodecContext* target, void* optionContext, int requiredFlags,
                             const AVCodec* codec);
    /// As above for a format context; private options go to its muxer's
    /// private data when the muxer has private options.
    void ApplyContextOptions(AVFormatContext* target, void* optionContext, int requiredFlags);

    /// Resolves a codec name of media type `type` among encoders or decoders.
    /// An empty name gives AV_CODEC_ID_NONE. False with the reason in
    /// LastError when unknown, of another type, or experimental while
    /// strict > FF_COMPLIANCE_EXPERIMENTAL.
    bool FindCodec(const std::string& name, AVMediaType type, bool encoder, int strict,
                   AVCodecID& id);

    // --- field setters used by the encoder instead of option texts; the
    // option table uses them too where an option has the same effect
    /// Ignored when empty.
    void SetForcedFormatName(const std::string& name);
    /// Microseconds; ignored when AV_NOPTS_VALUE.
    void SetStartTime(int64_t us);
    /// Ignored when negative.
    void SetProgramId(int id);
    void SetVerbose(int level);
    /// Ignored when negative.
    void SetAudioVolume(int volume);
    /// Ignored unless > 0.
    void SetAudioSampleRate(int rate);
    /// Ignored unless > 0.
    void SetAudioChannels(int channels);
    void SetAudioSyncMethod(int method);
    void SetVideoSyncMethod(int method);
    /// Seconds; ignored unless > 0.
    void SetMuxMaxDelay(float seconds);
    /// Seconds; ignored unless > 0.
    void SetMuxPreload(float seconds);
    /// "an", "vn", "sn".
    void SetAudioDisable(bool on);
    void SetVideoDisable(bool on);
    void SetSubtitleDisable(bool on);
    /// "alang", "vlang", "slang": the language of the next stream of the type
    /// (empty clears it).
    void SetAudioLanguage(const std::string& language);
    void SetVideoLanguage(const std::string& language);
    void SetSubtitleLanguage(const std::string& language);
    /// "isync".
    void SetInputSync(bool on);
    /// "copyts".
    void SetCopyTs(bool on);
    /// Seconds since 1970 (UTC) stamped on the output ("timestamp").
    void SetRecordingTimestamp(int64_t seconds);

    // --- operations of single options (value parsers)
    /// "r": empty changes nothing; throws "Incorrect frame rate".
    void SetFrameRate(const std::string& text);
    /// "s": empty changes nothing; throws "Incorrect frame size".
    void SetFrameSize(const std::string& text);
    /// "aspect": empty changes nothing; throws "Incorrect aspect ratio specification.".
    void SetAspectRatio(const std::string& text);
    /// "pix_fmt": "list" logs the known formats; else throws
    /// "Unknown pixel format requested: <text>" for an unknown name.
    void SetPixelFormat(const std::string& text);
    /// "sample_fmt": "list" logs the known formats; else throws
    /// "Invalid sample format \"<text>\"" for an unknown name.
    void SetSampleFormat(const std::string& text);
    /// "qscale": a float in (0, 255], else "qscale must be > 0.0 and <= 255".
    void SetQscale(const std::string& text);
    /// "b", "vb", "ab": generic option plus a warning for rates below 1000.
    void SetBitRate(const std::string& name, const std::string& value);
    /// "vcodec": empty changes nothing; "copy" selects stream copy.
    void SetVideoCodec(const std::string& name);
    /// "acodec": as SetVideoCodec.
    void SetAudioCodec(const std::string& name);
    /// "scodec": as SetVideoCodec.
    void SetSubtitleCodec(const std::string& name);
    /// "vtag", "atag", "stag": empty changes nothing; another option name
    /// throws "Invalid tag parmeter <name>".
    void SetCodecTag(const std::string& option, const std::string& text);
    /// "metadata" "key=value": throws "Missing =" or "wrong parameter of metadata".
    void SetMetadata(const std::string& text);
    /// Sets one entry of Metadata, replacing the same key.
    void AddMetadata(const std::string& key, const std::string& value);
    /// "map": appends to StreamMaps.
    void AddStreamMap(const std::string& text);
    /// "map_meta_data": appends to MetadataMaps and clears the autocopy flags
    /// of the kinds it names.
    void AddMetadataMap(const std::string& text);
    /// "map_chapters": appends to ChapterMaps.
    void AddChapterMap(const std::string& text);
    /// "itsscale": scale of one stream of the next input file (the files
    /// know which input that is). Throws "stream index over MAX_STREAMS(20)",
    /// or "Too many input files" when every input slot is taken.
    void SetInputTsScale(const std::string& text);
    /// "streamid" "index:id": empty changes nothing.
    void SetStreamId(const std::string& option, const std::string& text);
    /// "pass": 1 or 2, else "pass number can be only 1 or 2".
    void SetPass(const std::string& text);
    /// "vstats": on gives a time-stamped file beside the executable; off clears.
    void SetVstats(bool on);
    /// "vstats_file".
    void SetVstatsFile(const std::string& name);
    /// "intra_matrix", "inter_matrix": 64 comma-separated coefficients.
    void SetMatrix(const std::string& option, const std::string& text);
    /// "absf", "vbsf", "sbsf": appends a filter to the chain of the option's
    /// media type; throws "Unknown bitstream filter <value>".
    void AddBitstreamFilter(const std::string& option, const std::string& text);
    /// "vhook": adds a frame hook; throws "Failed to add video hook function: <text>".
    void AddFrameHook(const std::string& text);
    /// A duration or date in microseconds; throws
    /// "Invalid duration|date specification for <name>: <value>".
    static int64_t ParseTime(const std::string& name, const std::string& value, bool isDuration);
    /// "t" (µs): ignores AV_NOPTS_VALUE, else sets RecordingTime and the
    /// files' expected duration (TotalDuration).
    void SetRecordingTime(int64_t us);
    /// "vf", "vfilters": ignored when empty.
    void SetVideoFilters(const std::string& text);
    /// Applies target "vcd", "svcd", "dvd", "dv" or "dv50" for norm "pal",
    /// "ntsc", "film" or automatic (any other text) with the fallback norm.
    void ApplyTarget(const std::string& target, const std::string& norm,
                     const std::string& fallback);
    /// The "target" option: "[pal-|ntsc-|film-]name", fallback norm "ntsc".
    void SetTarget(const std::string& value);
    /// "apre", "vpre", "spre", "fpre": nothing when either text is empty.
    void ApplyPreset(const std::string& kindOption, const std::string& name);

    /// "newvideo", "newaudio", "newsubtitle": add a stream of that type to
    /// the last output file. Throws "At least one output file must be specified"
    /// when no output file is open yet.
    void NewVideoStream();
    void NewAudioStream();
    void NewSubtitleStream();

    /// Frame-hook modules added by "vhook", released when the run ends.
    TFrameHookList FrameHookList;

    /// The frame rates of the video streams of the opened inputs, in order
    /// (0/0 where a stream has none): what a target's automatic norm is read from.
    std::vector<AVRational> InputVideoFrameRates() const;

  protected:
    /// Every option field back to its default and a fresh option store.
    /// Throws when the store cannot be created (the old state then stays whole).
    void ResetOptionValues();

  private:
    /// The generic path proper: sets and records the option or throws
    /// FFmpegException with the failure text. Older spellings are translated
    /// first when `translate` is set (a translation is not translated again).
    void SetGenericOption(const std::string& name, const std::string& value, bool translate);
    void ApplyRecordedOptions(void* target, void* optionContext, int requiredFlags,
                              void* privateContext);

    TOptionFiles& Files() const;

    std::string FOptionFailure;
    TOptionFiles* FFiles = nullptr;
};

}  // namespace tw
