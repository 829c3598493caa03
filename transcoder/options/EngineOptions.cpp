// transcoder/options/EngineOptions.cpp — the field setters and the operations of
// single options over the value parsers.
#include "transcoder/options/EngineOptions.h"

#include <ctime>
#include <stdexcept>

#include "binding/Entries.h"
#include "diag/FFLog.h"
#include "transcoder/options/Parsers.h"
#include "transcoder/options/Presets.h"
#include "transcoder/options/Targets.h"

namespace tw {

namespace {

void SetCodecChoice(const std::string& name, std::string& codecName, bool& streamCopy) {
    if (name.empty()) return;
    codecName.clear();
    if (name == "copy")
        streamCopy = true;
    else
        codecName = name;
}

}  // namespace

void TEngineOptions::ResetOptionValues() {
    // Build the new store first: a failure leaves the old state whole.
    auto contexts = std::make_unique<TOptionContexts>(TOptionState{}.SwsFlags);
    static_cast<TOptionState&>(*this) = TOptionState{};
    OptionContexts = std::move(contexts);
}

// --- field setters

void TEngineOptions::SetForcedFormatName(const std::string& name) {
    if (!name.empty()) ForcedFormatName = name;
}

void TEngineOptions::SetStartTime(int64_t us) {
    if (us != AV_NOPTS_VALUE) StartTime = us;
}

void TEngineOptions::SetProgramId(int id) {
    if (id >= 0) ProgramId = id;
}

void TEngineOptions::SetVerbose(int level) { Verbose = level; }

void TEngineOptions::SetAudioVolume(int volume) {
    if (volume >= 0) AudioVolume = volume;
}

void TEngineOptions::SetAudioSampleRate(int rate) {
    if (rate > 0) AudioSampleRate = rate;
}

void TEngineOptions::SetAudioChannels(int channels) {
    if (channels > 0) AudioChannels = channels;
}

void TEngineOptions::SetAudioSyncMethod(int method) { AudioSyncMethod = method; }

void TEngineOptions::SetVideoSyncMethod(int method) { VideoSyncMethod = method; }

void TEngineOptions::SetMuxMaxDelay(float seconds) {
    if (seconds > 0) MuxMaxDelay = seconds;
}

void TEngineOptions::SetMuxPreload(float seconds) {
    if (seconds > 0) MuxPreload = seconds;
}

void TEngineOptions::SetAudioDisable(bool on) { AudioDisable = on; }

void TEngineOptions::SetVideoDisable(bool on) { VideoDisable = on; }

void TEngineOptions::SetSubtitleDisable(bool on) { SubtitleDisable = on; }

void TEngineOptions::SetAudioLanguage(const std::string& language) { AudioLanguage = language; }

void TEngineOptions::SetVideoLanguage(const std::string& language) { VideoLanguage = language; }

void TEngineOptions::SetSubtitleLanguage(const std::string& language) {
    SubtitleLanguage = language;
}

void TEngineOptions::SetInputSync(bool on) { InputSync = on; }

void TEngineOptions::SetCopyTs(bool on) { CopyTs = on; }

void TEngineOptions::SetRecordingTimestamp(int64_t seconds) { RecordingTimestamp = seconds; }

// --- operations of single options

void TEngineOptions::SetFrameRate(const std::string& text) {
    if (text.empty()) return;
    AVRational r{};
    if (lib().av_parse_video_rate(&r, text.c_str()) < 0)
        throw FFmpegException("Incorrect frame rate");
    FrameRate = r;
}

void TEngineOptions::SetFrameSize(const std::string& text) {
    if (text.empty()) return;
    int w = 0, h = 0;
    if (lib().av_parse_video_size(&w, &h, text.c_str()) < 0)
        throw FFmpegException("Incorrect frame size");
    FrameWidth = w;
    FrameHeight = h;
}

void TEngineOptions::SetAspectRatio(const std::string& text) {
    if (text.empty()) return;
    const double ratio = ParseAspectRatioText(text);
    if (ratio == 0) throw FFmpegException("Incorrect aspect ratio specification.");
    FrameAspectRatio = static_cast<float>(ratio);
}

void TEngineOptions::SetPixelFormat(const std::string& text) {
    if (text == "list") {
        for (const std::string& line : PixelFormatListLines()) FFLogger()->Log(this, llInfo, line);
        return;
    }
    const AVPixelFormat fmt = lib().av_get_pix_fmt(text.c_str());
    if (fmt == AV_PIX_FMT_NONE) throw FFmpegException("Unknown pixel format requested: " + text);
    FramePixFmt = fmt;
}

void TEngineOptions::SetSampleFormat(const std::string& text) {
    if (text == "list") {
        for (const std::string& line : SampleFormatListLines()) FFLogger()->Log(this, llInfo, line);
        return;
    }
    const AVSampleFormat fmt = lib().av_get_sample_fmt(text.c_str());
    if (fmt == AV_SAMPLE_FMT_NONE) throw FFmpegException("Invalid sample format \"" + text + "\"");
    AudioSampleFmt = fmt;
}

void TEngineOptions::SetQscale(const std::string& text) {
    const double q = ToFloat(text);
    if (!(q > 0 && q <= 255)) throw FFmpegException("qscale must be > 0.0 and <= 255");
    VideoQscale = static_cast<float>(q);
}

void TEngineOptions::SetBitRate(const std::string& name, const std::string& value) {
    if (!SetDefaultOption(name, value)) {
        if (RaiseOnUnknownOption) throw FFmpegException(LastOptionFailure());
        return;
    }
    AVCodecContext* ctx = OptionContexts->Codec(
        !name.empty() && name[0] == 'a' ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO);
    int64_t rate = 0;
    if (lib().av_opt_get_int(ctx, "b", 0, &rate) >= 0 && rate < 1000)
        FFLogger()->Log(this, llWarning,
                        "WARNING: The bitrate parameter is set too low. It takes bits/s as "
                        "argument, not kbits/s");
}

void TEngineOptions::SetVideoCodec(const std::string& name) {
    SetCodecChoice(name, VideoCodecName, VideoStreamCopy);
}

void TEngineOptions::SetAudioCodec(const std::string& name) {
    SetCodecChoice(name, AudioCodecName, AudioStreamCopy);
}

void TEngineOptions::SetSubtitleCodec(const std::string& name) {
    SetCodecChoice(name, SubtitleCodecName, SubtitleStreamCopy);
}

void TEngineOptions::SetCodecTag(const std::string& option, const std::string& text) {
    if (text.empty()) return;
    uint32_t* tag = option == "atag"   ? &AudioCodecTag
                    : option == "vtag" ? &VideoCodecTag
                    : option == "stag" ? &SubtitleCodecTag
                                       : nullptr;
    if (!tag) throw FFmpegException("Invalid tag parmeter " + option);
    *tag = ParseCodecTagText(text);
}

void TEngineOptions::SetMetadata(const std::string& text) {
    const size_t eq = text.find('=');
    if (eq == std::string::npos) throw FFmpegException("Missing =");
    if (eq == 0) throw FFmpegException("wrong parameter of metadata");
    AddMetadata(text.substr(0, eq), text.substr(eq + 1));
}

void TEngineOptions::AddMetadata(const std::string& key, const std::string& value) {
    Metadata.Set(key, value);
}

void TEngineOptions::AddStreamMap(const std::string& text) {
    StreamMaps.push_back(ParseStreamMapText(text));
}

void TEngineOptions::AddMetadataMap(const std::string& text) {
    const TMetadataMap map = ParseMetadataMapText(text);
    MetadataMaps.push_back(map);
    for (char kind : {map.Out.Kind, map.In.Kind}) {
        if (kind == 'g') MetadataGlobalAutocopy = false;
        if (kind == 's') MetadataStreamsAutocopy = false;
        if (kind == 'c') MetadataChaptersAutocopy = false;
    }
}

void TEngineOptions::AddChapterMap(const std::string& text) {
    const auto [outFile, inFile] = ParseChapterMapText(text);
    ChapterMaps.push_back({inFile, outFile});
}

void TEngineOptions::SetStreamId(const std::string& option, const std::string& text) {
    if (text.empty()) return;
    const auto [index, id] = ParseStreamIdText(option, text);
    GrowArray(StreamIdMap, static_cast<size_t>(index) + 1);
    StreamIdMap[index] = id;
}

void TEngineOptions::SetPass(const std::string& text) {
    const int pass = ToInt(text);
    if (pass != 1 && pass != 2) throw FFmpegException("pass number can be only 1 or 2");
    PassNumber = pass;
}

void TEngineOptions::SetVstats(bool on) {
    VstatsFileName.clear();
    if (on) VstatsFileName = VstatsFileNameFor(ExecutableFolder(), std::time(nullptr));
}

void TEngineOptions::SetVstatsFile(const std::string& name) { VstatsFileName = name; }

void TEngineOptions::SetMatrix(const std::string& option, const std::string& text) {
    const TMatrix m = ParseMatrixText(text);
    (option == "intra_matrix" ? IntraMatrix : InterMatrix) = m;
}

void TEngineOptions::AddBitstreamFilter(const std::string& option, const std::string& text) {
    const std::string name = BitstreamFilterNameOf(text);
    if (name.empty()) return;
    const AVBitStreamFilter* filter = lib().av_bsf_get_by_name(name.c_str());
    AVBSFContext* raw = nullptr;
    if (!filter || lib().av_bsf_alloc(filter, &raw) < 0)
        throw FFmpegException("Unknown bitstream filter " + Trim(text));
    BsfContextPtr ctx(raw);
    TBitstreamFilterChain& chain = option.empty()     ? SubtitleBitstreamFilters
                                   : option[0] == 'v' ? VideoBitstreamFilters
                                   : option[0] == 'a' ? AudioBitstreamFilters
                                                      : SubtitleBitstreamFilters;
    chain.Filters.push_back(std::move(ctx));
}

void TEngineOptions::AddFrameHook(const std::string& text) {
    // The hook's argument list has room for the module and 65 arguments.
    static constexpr size_t kMaxHookArgs = 66;
    TFrameHookArgs args = SplitHookArguments(text);
    if (args.empty() || args.size() > kMaxHookArgs)
        throw FFmpegException("Failed to add video hook function: " + text);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (tw::AddFrameHook(FrameHookList, static_cast<int>(args.size()), argv.data()) != 0)
        throw FFmpegException("Failed to add video hook function: " + text);
    FrameHooks.push_back(std::move(args));
    UsingFrameHooks = true;
}

int64_t TEngineOptions::ParseTime(const std::string& name, const std::string& value,
                                  bool isDuration) {
    return ParseTimeValue(name, value, isDuration);
}

void TEngineOptions::SetVideoFilters(const std::string& text) {
    if (!text.empty()) VideoFilters = text;
}

void TEngineOptions::ApplyTarget(const std::string& target, const std::string& norm,
                                 const std::string& fallback) {
    ApplyTargetOn(*this, InputVideoFrameRates(), target, norm, fallback);
}

void TEngineOptions::SetTarget(const std::string& value) {
    const auto [norm, target] = SplitTargetOptionValue(value);
    ApplyTarget(target, norm, "ntsc");
}

void TEngineOptions::SetRecordingTime(int64_t us) {
    if (us == AV_NOPTS_VALUE) return;
    RecordingTime = us;
    Files().RecordingTimeSet(us);
}

void TEngineOptions::ApplyPreset(const std::string& kindOption, const std::string& name) {
    ApplyPresetOn(*this, kindOption, name);
}

// --- options that reach the files

TOptionFiles& TEngineOptions::Files() const {
    if (!FFiles) throw std::logic_error("Assertion failure");
    return *FFiles;
}

void TEngineOptions::SetInputTsScale(const std::string& text) { Files().SetInputTsScale(text); }
void TEngineOptions::NewVideoStream() { Files().NewStream(AVMEDIA_TYPE_VIDEO); }
void TEngineOptions::NewAudioStream() { Files().NewStream(AVMEDIA_TYPE_AUDIO); }
void TEngineOptions::NewSubtitleStream() { Files().NewStream(AVMEDIA_TYPE_SUBTITLE); }

std::vector<AVRational> TEngineOptions::InputVideoFrameRates() const {
    return FFiles ? FFiles->InputVideoFrameRates() : std::vector<AVRational>{};
}

}  // namespace tw
