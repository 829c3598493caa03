// transcoder/Presets.h — targets and encoder presets: the two shortcuts that
// configure many options at once.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/rational.h>
}

namespace tw {

/// One built-in preset: its name and its option text, lines of name=value
/// separated by line feeds, in the order they are applied.
struct TOptionsPreset {
    std::string_view Name;
    std::string_view Text;
};

/// Number of built-in presets.
inline constexpr size_t BuiltInPresetCount = 36;

/// The built-in presets in lookup order.
const std::array<TOptionsPreset, BuiltInPresetCount>& BuiltInPresets();

/// The first built-in preset whose name equals `name` without regard to
/// (ASCII) case, or nullptr.
const TOptionsPreset* FindBuiltInPreset(std::string_view name);

/// What applying a preset needs of the engine. The engine implements it over
/// its option state; every call behaves as the engine operation of that name.
class TPresetHost {
  public:
    virtual ~TPresetHost() = default;
    /// The generic option path; false when nothing accepted the option.
    virtual bool SetDefaultOption(const std::string& name, const std::string& value) = 0;
    /// The text of the last generic option failure.
    virtual std::string LastOptionFailure() const = 0;
    virtual bool RaiseOnUnknownOption() const = 0;
    /// Codec by name, or stream copy for "copy".
    virtual void SetVideoCodec(const std::string& name) = 0;
    virtual void SetAudioCodec(const std::string& name) = 0;
    virtual void SetSubtitleCodec(const std::string& name) = 0;
    /// The current codec name of kind 'a', 'v' or 's' (empty when none).
    virtual std::string CodecName(char kind) const = 0;
};

/// Applies a preset for option `kind` ("apre", "vpre", "spre" or "fpre"):
/// nothing when either text is empty. For a, v and s the value is looked up
/// in the built-in table (without regard to case), then as
/// "<codec name of that kind>-<value>"; otherwise, and always for "fpre", it
/// is a file name. Lines are name=value; blank lines and lines starting with
/// '#' are skipped; "acodec"/"vcodec"/"scodec" (any case) set that codec.
/// Throws FFmpegException: "Preset \"<name>\" not found",
/// "<preset>: Invalid syntax: \"<line>\"", and, when an option is refused and
/// RaiseOnUnknownOption is set, "<failure>\r\n<preset>: Invalid option or
/// argument: \"<line>\", parsed as \"<key>\" = \"<value>\"". Lines before a
/// failing one stay applied.
void ApplyPresetOn(TPresetHost& host, const std::string& kind, const std::string& value);

/// The television norm of a target.
enum class TTargetNorm { PAL, NTSC, Film };

/// What applying a target needs of the engine, beyond the preset host.
class TTargetHost : public TPresetHost {
  public:
    /// The frame rate option value (FrameRate).
    virtual AVRational FrameRate() const = 0;
    /// Frame rates of the opened inputs' video streams, files and streams in
    /// order (a stream's average or real frame rate; {0, 0} when unknown).
    virtual std::vector<AVRational> InputVideoFrameRates() const = 0;
    virtual int Verbose() const = 0;
    virtual float FrameAspectRatio() const = 0;
    virtual int AudioChannels() const = 0;
    virtual void SetForcedFormatName(const std::string& name) = 0;
    virtual void SetFrameSize(const std::string& size) = 0;
    virtual void SetFrameRate(const std::string& rate) = 0;
    virtual void SetAspectRatio(const std::string& aspect) = 0;
    /// The "pix_fmt" option.
    virtual void SetPixelFormat(const std::string& name) = 0;
    virtual void SetAudioSampleRate(int rate) = 0;
    virtual void SetAudioChannels(int channels) = 0;
    virtual void SetMuxPreload(float seconds) = 0;
};

/// Chooses the norm: "pal", "ntsc", "film" name it; any other text means
/// automatic: from FrameRate (25000 PAL, 29970 or 23976 NTSC, in 1/1000 frames
/// per second rounded half to even), else from the first input video stream
/// giving one of those, else the fallback ("film" film, "ntsc" NTSC, else
/// PAL). Throws FFmpegException "frame_rate is invalid." when automatic and
/// FrameRate has denominator 0. Logs "Assuming PAL|NTSC for target." at
/// llVerbose when automatic and Verbose > 0.
TTargetNorm ChooseTargetNorm(const TTargetHost& host, const std::string& norm,
                             const std::string& fallback);

/// Applies target "vcd", "svcd", "dvd", "dv" or "dv50" for `norm` (see
/// ChooseTargetNorm). Generic options set here are not checked. Throws
/// FFmpegException "Unknown target type" for another name.
void ApplyTargetOn(TTargetHost& host, const std::string& target, const std::string& norm,
                   const std::string& fallback);

/// Splits a "target" option value: trimmed; a "pal-", "ntsc-" or "film-"
/// prefix gives that norm and the rest as target name; else the norm is
/// "auto". Returns (norm, target name). The fallback for the option is "ntsc".
std::pair<std::string, std::string> SplitTargetOptionValue(const std::string& value);

}  // namespace tw
