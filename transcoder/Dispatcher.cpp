// transcoder/Dispatcher.cpp — the option table: one option name and value text
// at a time, in the order the caller gives them.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <stdexcept>
#include <string_view>

#include "diag/FFLog.h"
#include "transcoder/EngineOptions.h"
#include "transcoder/Presets.h"

namespace tw {

namespace {

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool TryInt64(const std::string& text, int64_t& out) {
    std::string t(TrimBlanks(text));
    if (t.empty()) return false;
    size_t i = 0;
    const bool negative = t[0] == '-';
    if (t[0] == '+' || t[0] == '-') ++i;
    int base = 10;
    // "$" is the old run-time library's hexadecimal prefix; "0x" is read too.
    if (i < t.size() && t[i] == '$') {
        base = 16;
        ++i;
    } else if (t.size() - i > 2 && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= t.size() || !std::isxdigit(static_cast<unsigned char>(t[i]))) return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long u = std::strtoull(t.c_str() + i, &end, base);
    if (errno == ERANGE || *end != '\0') return false;
    if (negative) {
        if (u > static_cast<unsigned long long>(INT64_MAX) + 1) return false;
        out = static_cast<int64_t>(0 - u);
    } else {
        if (u > static_cast<unsigned long long>(INT64_MAX)) return false;
        out = static_cast<int64_t>(u);
    }
    return true;
}

bool In(const std::string& name, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (name == n) return true;
    return false;
}

}  // namespace

bool TEngineOptions::ToFlag(const std::string& text) { return text != "0"; }

int64_t TEngineOptions::ToInt64(const std::string& text) {
    int64_t v = 0;
    if (!TryInt64(text, v)) throw FFmpegException("'" + text + "' is not a valid integer value");
    return v;
}

int TEngineOptions::ToInt(const std::string& text) {
    int64_t v = 0;
    if (!TryInt64(text, v) || v < INT_MIN || v > INT_MAX)
        throw FFmpegException("'" + text + "' is not a valid integer value");
    return static_cast<int>(v);
}

double TEngineOptions::ToFloat(const std::string& text) {
    const std::string t(TrimBlanks(text));
    const auto bad = [&] {
        return FFmpegException("'" + text + "' is not a valid floating point value");
    };
    // Plain decimal notation only: no hexadecimal floats, no "inf" or "nan".
    if (t.empty() || t.find_first_not_of("+-.0123456789eE") != std::string::npos) throw bad();
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(t.c_str(), &end);
    if (*end != '\0' || errno == ERANGE || !std::isfinite(v)) throw bad();
    return v;
}

void TEngineOptions::SetOption(const std::string& name, const std::string& value) {
    const std::string& v = value;
    const auto noAction = [&] { FFLogger()->Log(this, llInfo, "Do nothing: option - " + name); };
    const auto toFloat = [](const std::string& t) { return static_cast<float>(ToFloat(t)); };

    if (In(name, {"L", "h", "version", "formats", "codecs", "bsfs", "protocols", "filters"})) {
        noAction();  // 1
    } else if (name == "loglevel") {
        try {
            FFLogger()->SetLogLevelText(v);
        } catch (const std::invalid_argument&) {
            throw FFmpegException("Invalid loglevel \"" + v + "\"");
        }
    } else if (name == "f") {
        SetForcedFormatName(v);
    } else if (In(name, {"i", "y"})) {
        noAction();  // 4: inputs are opened by OpenInputFile; outputs are always overwritten
    } else if (name == "map") {
        AddStreamMap(v);
    } else if (name == "map_meta_data") {
        AddMetadataMap(v);
    } else if (name == "map_chapters") {
        AddChapterMap(v);
    } else if (name == "t") {
        SetRecordingTime(ParseTime(name, v, true));
    } else if (name == "fs") {
        FileSizeLimit = ToInt64(v);
    } else if (name == "ss") {
        StartTime = ParseTime(name, v, true);
    } else if (name == "itsoffset") {
        InputTsOffset = ParseTime(name, v, true);
    } else if (name == "itsscale") {
        SetInputTsScale(v);
    } else if (name == "timestamp") {
        RecordingTimestamp = std::llround(static_cast<double>(ParseTime(name, v, false)) / 1e6);
    } else if (name == "metadata") {
        SetMetadata(v);
    } else if (name == "dframes") {
        MaxFrames[mfData] = ToInt(v);
    } else if (name == "benchmark") {
        noAction();  // 14
    } else if (name == "timelimit") {
        FFLogger()->Log(this, llWarning, "Warning: -timelimit not implemented on Windows");
    } else if (name == "dump") {
        PacketDump = ToFlag(v);
    } else if (name == "hex") {
        HexDump = ToFlag(v);
    } else if (name == "re") {
        RateEmulation = ToFlag(v);
    } else if (name == "loop_input") {
        LoopInput = ToFlag(v);
    } else if (name == "loop_output") {
        LoopOutput = ToInt(v);
    } else if (name == "v") {
        Verbose = ToInt(v);
    } else if (name == "target") {
        SetTarget(v);
    } else if (name == "threads") {
        ThreadCount = ToInt(v);
        if (Verbose >= 0)
            FFLogger()->Log(this, llVerbose,
                            "Warning: if the ffmpeg libraries were not compiled with thread "
                            "support, it would be using thread emulation.");
    } else if (name == "vsync") {
        VideoSyncMethod = ToInt(v);
    } else if (name == "async") {
        AudioSyncMethod = ToInt(v);
    } else if (name == "adrift_threshold") {
        AudioDriftThreshold = toFloat(v);
    } else if (name == "vglobal") {
        VideoGlobalHeader = ToInt(v);
    } else if (name == "copyts") {
        CopyTs = ToFlag(v);
    } else if (name == "copytb") {
        CopyTb = ToFlag(v);
    } else if (name == "shortest") {
        Shortest = ToFlag(v);
    } else if (name == "dts_delta_threshold") {
        DtsDeltaThreshold = toFloat(v);
    } else if (name == "programid") {
        ProgramId = ToInt(v);
    } else if (name == "xerror") {
        ExitOnError = ToFlag(v);
    } else if (name == "copyinkf") {
        CopyInitialNonKeyframes = ToInt(v);
    } else if (In(name, {"b", "vb"})) {
        SetBitRate(name, v);
    } else if (name == "vframes") {
        MaxFrames[mfVideo] = ToInt(v);
    } else if (name == "r") {
        SetFrameRate(v);
    } else if (name == "s") {
        SetFrameSize(v);
    } else if (name == "aspect") {
        SetAspectRatio(v);
    } else if (name == "pix_fmt") {
        SetPixelFormat(v);
    } else if (In(name, {"croptop", "cropbottom", "cropleft", "cropright"})) {
        throw FFmpegException("Removed, use the crop filter instead");
    } else if (In(name, {"padtop", "padbottom", "padleft", "padright", "padcolor"})) {
        throw FFmpegException("Removed, use the pad filter instead");
    } else if (name == "intra") {
        IntraOnly = ToFlag(v);
    } else if (name == "vn") {
        VideoDisable = ToFlag(v);
    } else if (name == "vdt") {
        VideoDiscard = ToInt(v);
    } else if (name == "qscale") {
        SetQscale(v);
    } else if (name == "rc_override") {
        VideoRcOverride = v;
    } else if (name == "vcodec") {
        SetVideoCodec(v);
    } else if (name == "me_threshold") {
        MeThreshold = ToInt(v);
    } else if (name == "sameq") {
        SameQuality = ToFlag(v);
    } else if (name == "pass") {
        SetPass(v);
    } else if (name == "passlogfile") {
        PassLogFilePrefix = v;
    } else if (name == "deinterlace") {
        Deinterlace = ToFlag(v);
    } else if (name == "psnr") {
        DoPsnr = ToFlag(v);
    } else if (name == "vstats") {
        SetVstats(ToFlag(v));
    } else if (name == "vstats_file") {
        SetVstatsFile(v);
    } else if (name == "vhook") {
        AddFrameHook(v);
    } else if (In(name, {"vfilters", "vf"})) {
        SetVideoFilters(v);
    } else if (In(name, {"intra_matrix", "inter_matrix"})) {
        SetMatrix(name, v);
    } else if (name == "top") {
        TopFieldFirst = ToInt(v);
    } else if (name == "dc") {
        IntraDcPrecision = ToInt(v);
    } else if (name == "vtag") {
        SetCodecTag(name, v);
    } else if (name == "newvideo") {
        NewVideoStream();
    } else if (name == "vlang") {
        VideoLanguage = v;
    } else if (name == "qphist") {
        QpHistogram = ToFlag(v);
    } else if (name == "force_fps") {
        ForceFps = ToFlag(v);
    } else if (name == "streamid") {
        SetStreamId(name, v);
    } else if (name == "force_key_frames") {
        ForcedKeyFrames = v;
    } else if (name == "ab") {
        SetBitRate(name, v);
    } else if (name == "aframes") {
        MaxFrames[mfAudio] = ToInt(v);
    } else if (name == "aq") {
        AudioQscale = toFloat(v);
    } else if (name == "ar") {
        SetAudioSampleRate(ToInt(v));
    } else if (name == "ac") {
        SetAudioChannels(ToInt(v));
    } else if (name == "an") {
        AudioDisable = ToFlag(v);
    } else if (name == "acodec") {
        SetAudioCodec(v);
    } else if (name == "atag") {
        SetCodecTag(name, v);
    } else if (name == "vol") {
        AudioVolume = ToInt(v);
    } else if (name == "newaudio") {
        NewAudioStream();
    } else if (name == "alang") {
        AudioLanguage = v;
    } else if (name == "sample_fmt") {
        SetSampleFormat(v);
    } else if (name == "sn") {
        SubtitleDisable = ToFlag(v);
    } else if (name == "scodec") {
        SetSubtitleCodec(v);
    } else if (name == "newsubtitle") {
        NewSubtitleStream();
    } else if (name == "slang") {
        SubtitleLanguage = v;
    } else if (name == "stag") {
        SetCodecTag(name, v);
    } else if (name == "vc") {
        VideoChannel = ToInt(v);
    } else if (name == "tvstd") {
        VideoStandard = v;
    } else if (name == "isync") {
        InputSync = ToFlag(v);
    } else if (name == "muxdelay") {
        MuxMaxDelay = toFloat(v);
    } else if (name == "muxpreload") {
        MuxPreload = toFloat(v);
    } else if (In(name, {"absf", "vbsf", "sbsf"})) {
        AddBitstreamFilter(name, v);
    } else if (In(name, {"apre", "vpre", "spre", "fpre"})) {
        ApplyPreset(name, v);
    } else if (!SetDefaultOption(name, v) && RaiseOnUnknownOption) {
        // A blank name leaves no failure text of its own behind.
        if (TrimBlanks(name).empty()) throw FFmpegException("Empty option name");
        throw FFmpegException(LastOptionFailure());
    }
}

}  // namespace tw
