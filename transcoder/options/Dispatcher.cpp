// transcoder/options/Dispatcher.cpp — the option table and SetOption over it: one
// option name and value text at a time, in the order the caller gives them.
#include "transcoder/options/Dispatcher.h"

#include <cmath>
#include <stdexcept>
#include <type_traits>
#include <unordered_map>

#include "diag/FFLog.h"
#include "transcoder/options/EngineOptions.h"
#include "transcoder/options/Parsers.h"

namespace tw {

namespace {

using Text = const std::string&;

// Row handlers built from the field or setter an option writes. A setter is
// used wherever the encoder has one with the same effect, so that the option
// and the direct call cannot drift apart.
template <auto Target, class T>
void Assign(TEngineOptions& e, const T& value) {
    if constexpr (std::is_member_function_pointer_v<decltype(Target)>)
        (e.*Target)(value);
    else
        e.*Target = value;
}

template <auto Target>
void SetFlag(TEngineOptions& e, Text, Text v) {
    Assign<Target>(e, ToFlag(v));
}

template <auto Target>
void SetInt(TEngineOptions& e, Text, Text v) {
    Assign<Target>(e, ToInt(v));
}

template <auto Target>
void SetInt64(TEngineOptions& e, Text, Text v) {
    Assign<Target>(e, ToInt64(v));
}

template <auto Target>
void SetFloat(TEngineOptions& e, Text, Text v) {
    Assign<Target>(e, static_cast<float>(ToFloat(v)));
}

/// The value text unchanged, to a text field or to a parsing operation.
template <auto Target>
void SetText(TEngineOptions& e, Text, Text v) {
    Assign<Target>(e, v);
}

/// Operations that need the option's name as well (rows of several names).
template <auto Method>
void WithName(TEngineOptions& e, Text name, Text v) {
    (e.*Method)(name, v);
}

template <auto Method>
void Run(TEngineOptions& e, Text, Text) {
    (e.*Method)();
}

template <int Index>
void SetMaxFrames(TEngineOptions& e, Text, Text v) {
    e.MaxFrames[Index] = ToInt(v);
}

void NoAction(TEngineOptions& e, Text name, Text) {
    FFLogger()->Log(&e, llInfo, "Do nothing: option - " + name);
}

using E = TEngineOptions;
using S = TOptionState;

}  // namespace

const std::vector<TOptionRow>& OptionTable() {
    static const std::vector<TOptionRow> table = {
        {{"L", "h", "version", "formats", "codecs", "bsfs", "protocols", "filters"}, NoAction},
        {{"loglevel"},
         [](E&, Text, Text v) {
             try {
                 FFLogger()->SetLogLevelText(v);
             } catch (const std::invalid_argument&) {
                 throw FFmpegException("Invalid loglevel \"" + v + "\"");
             }
         }},
        {{"f"}, SetText<&E::SetForcedFormatName>},
        // Inputs are opened by OpenInputFile only; outputs are always overwritten.
        {{"i", "y"}, NoAction},
        {{"map"}, SetText<&E::AddStreamMap>},
        {{"map_meta_data"}, SetText<&E::AddMetadataMap>},
        {{"map_chapters"}, SetText<&E::AddChapterMap>},
        {{"t"}, [](E& e, Text n, Text v) { e.SetRecordingTime(E::ParseTime(n, v, true)); }},
        {{"fs"}, SetInt64<&S::FileSizeLimit>},
        {{"ss"}, [](E& e, Text n, Text v) { e.SetStartTime(E::ParseTime(n, v, true)); }},
        {{"itsoffset"}, [](E& e, Text n, Text v) { e.InputTsOffset = E::ParseTime(n, v, true); }},
        {{"itsscale"}, SetText<&E::SetInputTsScale>},
        {{"timestamp"},
         [](E& e, Text n, Text v) {
             const double us = static_cast<double>(E::ParseTime(n, v, false));
             e.SetRecordingTimestamp(std::llround(us / 1e6));
         }},
        {{"metadata"}, SetText<&E::SetMetadata>},
        {{"dframes"}, SetMaxFrames<mfData>},
        {{"benchmark"}, NoAction},
        {{"timelimit"},
         [](E& e, Text, Text) {
             FFLogger()->Log(&e, llWarning, "Warning: -timelimit not implemented on Windows");
         }},
        {{"dump"}, SetFlag<&S::PacketDump>},
        {{"hex"}, SetFlag<&S::HexDump>},
        {{"re"}, SetFlag<&S::RateEmulation>},
        {{"loop_input"}, SetFlag<&S::LoopInput>},
        {{"loop_output"}, SetInt<&S::LoopOutput>},
        {{"v"}, SetInt<&E::SetVerbose>},
        {{"target"}, SetText<&E::SetTarget>},
        {{"threads"},
         [](E& e, Text, Text v) {
             e.ThreadCount = ToInt(v);
             if (e.Verbose >= 0)
                 FFLogger()->Log(&e, llVerbose,
                                 "Warning: if the ffmpeg libraries were not compiled with thread "
                                 "support, it would be using thread emulation.");
         }},
        {{"vsync"}, SetInt<&E::SetVideoSyncMethod>},
        {{"async"}, SetInt<&E::SetAudioSyncMethod>},
        {{"adrift_threshold"}, SetFloat<&S::AudioDriftThreshold>},
        {{"vglobal"}, SetInt<&S::VideoGlobalHeader>},
        {{"copyts"}, SetFlag<&E::SetCopyTs>},
        {{"copytb"}, SetFlag<&S::CopyTb>},
        {{"shortest"}, SetFlag<&S::Shortest>},
        {{"dts_delta_threshold"}, SetFloat<&S::DtsDeltaThreshold>},
        // Unlike the encoder's setter, the option takes negative ids too.
        {{"programid"}, SetInt<&S::ProgramId>},
        {{"xerror"}, SetFlag<&S::ExitOnError>},
        {{"copyinkf"}, SetInt<&S::CopyInitialNonKeyframes>},
        {{"b", "vb"}, WithName<&E::SetBitRate>},
        {{"vframes"}, SetMaxFrames<mfVideo>},
        {{"r"}, SetText<&E::SetFrameRate>},
        {{"s"}, SetText<&E::SetFrameSize>},
        {{"aspect"}, SetText<&E::SetAspectRatio>},
        {{"pix_fmt"}, SetText<&E::SetPixelFormat>},
        {{"croptop", "cropbottom", "cropleft", "cropright"},
         [](E&, Text, Text) { throw FFmpegException("Removed, use the crop filter instead"); }},
        {{"padtop", "padbottom", "padleft", "padright", "padcolor"},
         [](E&, Text, Text) { throw FFmpegException("Removed, use the pad filter instead"); }},
        {{"intra"}, SetFlag<&S::IntraOnly>},
        {{"vn"}, SetFlag<&E::SetVideoDisable>},
        {{"vdt"}, SetInt<&S::VideoDiscard>},
        {{"qscale"}, SetText<&E::SetQscale>},
        {{"rc_override"}, SetText<&S::VideoRcOverride>},
        {{"vcodec"}, SetText<&E::SetVideoCodec>},
        {{"me_threshold"}, SetInt<&S::MeThreshold>},
        {{"sameq"}, SetFlag<&S::SameQuality>},
        {{"pass"}, SetText<&E::SetPass>},
        {{"passlogfile"}, SetText<&S::PassLogFilePrefix>},
        {{"deinterlace"}, SetFlag<&S::Deinterlace>},
        {{"psnr"}, SetFlag<&S::DoPsnr>},
        {{"vstats"}, SetFlag<&E::SetVstats>},
        {{"vstats_file"}, SetText<&E::SetVstatsFile>},
        {{"vhook"}, SetText<&E::AddFrameHook>},
        {{"vfilters", "vf"}, SetText<&E::SetVideoFilters>},
        {{"intra_matrix", "inter_matrix"}, WithName<&E::SetMatrix>},
        {{"top"}, SetInt<&S::TopFieldFirst>},
        {{"dc"}, SetInt<&S::IntraDcPrecision>},
        {{"vtag"}, WithName<&E::SetCodecTag>},
        {{"newvideo"}, Run<&E::NewVideoStream>},
        {{"vlang"}, SetText<&E::SetVideoLanguage>},
        {{"qphist"}, SetFlag<&S::QpHistogram>},
        {{"force_fps"}, SetFlag<&S::ForceFps>},
        {{"streamid"}, WithName<&E::SetStreamId>},
        {{"force_key_frames"}, SetText<&S::ForcedKeyFrames>},
        {{"ab"}, WithName<&E::SetBitRate>},
        {{"aframes"}, SetMaxFrames<mfAudio>},
        {{"aq"}, SetFloat<&S::AudioQscale>},
        {{"ar"}, SetInt<&E::SetAudioSampleRate>},
        {{"ac"}, SetInt<&E::SetAudioChannels>},
        {{"an"}, SetFlag<&E::SetAudioDisable>},
        {{"acodec"}, SetText<&E::SetAudioCodec>},
        {{"atag"}, WithName<&E::SetCodecTag>},
        // Unlike the encoder's setter, the option takes negative volumes too.
        {{"vol"}, SetInt<&S::AudioVolume>},
        {{"newaudio"}, Run<&E::NewAudioStream>},
        {{"alang"}, SetText<&E::SetAudioLanguage>},
        {{"sample_fmt"}, SetText<&E::SetSampleFormat>},
        {{"sn"}, SetFlag<&E::SetSubtitleDisable>},
        {{"scodec"}, SetText<&E::SetSubtitleCodec>},
        {{"newsubtitle"}, Run<&E::NewSubtitleStream>},
        {{"slang"}, SetText<&E::SetSubtitleLanguage>},
        {{"stag"}, WithName<&E::SetCodecTag>},
        {{"vc"}, SetInt<&S::VideoChannel>},
        {{"tvstd"}, SetText<&S::VideoStandard>},
        {{"isync"}, SetFlag<&E::SetInputSync>},
        // No range check here, unlike the encoder's setters.
        {{"muxdelay"}, SetFloat<&S::MuxMaxDelay>},
        {{"muxpreload"}, SetFloat<&S::MuxPreload>},
        {{"absf", "vbsf", "sbsf"}, WithName<&E::AddBitstreamFilter>},
        {{"apre", "vpre", "spre", "fpre"}, WithName<&E::ApplyPreset>},
    };
    return table;
}

TOptionHandler FindOptionHandler(std::string_view name) {
    static const std::unordered_map<std::string_view, TOptionHandler> index = [] {
        std::unordered_map<std::string_view, TOptionHandler> byName;
        for (const TOptionRow& row : OptionTable())
            for (std::string_view n : row.Names)
                if (!byName.emplace(n, row.Handler).second)
                    throw std::logic_error("Duplicate option name " + std::string(n));
        return byName;
    }();
    const auto it = index.find(name);
    return it == index.end() ? nullptr : it->second;
}

void TEngineOptions::SetOption(const std::string& name, const std::string& value) {
    if (const TOptionHandler handle = FindOptionHandler(name)) {
        handle(*this, name, value);
        return;
    }
    if (SetDefaultOption(name, value) || !RaiseOnUnknownOption) return;
    // A blank name leaves no failure text of its own behind.
    if (IsBlank(name)) throw FFmpegException("Empty option name");
    throw FFmpegException(LastOptionFailure());
}

}  // namespace tw
