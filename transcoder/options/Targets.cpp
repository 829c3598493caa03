// transcoder/options/Targets.cpp — disc and camcorder targets: codecs, container,
// picture, rates and muxer settings of a format for its television norm.
#include "transcoder/options/Targets.h"

#include <cstdint>

#include "diag/FFLog.h"
#include "transcoder/FFmpegException.h"
#include "transcoder/options/Parsers.h"

namespace tw {

namespace {

/// rate × 1000 rounded to the nearest integer, a half going to the even
/// neighbour; 0 for a rate without denominator.
int64_t MilliRate(AVRational rate) {
    if (rate.den == 0) return 0;
    int64_t num = int64_t(rate.num) * 1000, den = rate.den;
    if (den < 0) {
        num = -num;
        den = -den;
    }
    int64_t q = num / den, rem = num % den;
    if (rem < 0) {
        rem += den;
        --q;
    }
    if (2 * rem > den || (2 * rem == den && (q & 1))) ++q;
    return q;
}

/// The norm a rate in 1/1000 frames per second stands for, if any.
bool NormOfRate(int64_t milli, TTargetNorm& norm) {
    if (milli == 25000) {
        norm = TTargetNorm::PAL;
        return true;
    }
    if (milli == 29970 || milli == 23976) {
        norm = TTargetNorm::NTSC;
        return true;
    }
    return false;
}

}  // namespace

TTargetNorm ChooseTargetNorm(const TOptionState& options, const std::vector<AVRational>& inputRates,
                             const std::string& norm, const std::string& fallback) {
    if (norm == "pal") return TTargetNorm::PAL;
    if (norm == "ntsc") return TTargetNorm::NTSC;
    if (norm == "film") return TTargetNorm::Film;

    const AVRational rate = options.FrameRate;
    if (rate.den == 0) throw FFmpegException("frame_rate is invalid.");
    TTargetNorm chosen;
    bool decided = NormOfRate(MilliRate(rate), chosen);
    if (!decided) {
        // The inputs' video streams, in order: the first with a norm's rate
        // decides. Today the rate is the stream's, not the decoder time base.
        for (AVRational r : inputRates)
            if ((decided = NormOfRate(MilliRate(r), chosen))) break;
    }
    if (!decided) {
        if (fallback == "film")
            chosen = TTargetNorm::Film;
        else if (fallback == "ntsc")
            chosen = TTargetNorm::NTSC;
        else
            chosen = TTargetNorm::PAL;
    }
    if (options.Verbose > 0)
        FFLogger()->LogFmt(&options, llVerbose, "Assuming %s for target.",
                           chosen == TTargetNorm::PAL ? "PAL" : "NTSC");
    return chosen;
}

void ApplyTargetOn(TEngineOptions& options, const std::vector<AVRational>& inputRates,
                   const std::string& target, const std::string& norm,
                   const std::string& fallback) {
    const TTargetNorm n = ChooseTargetNorm(options, inputRates, norm, fallback);
    const bool pal = n == TTargetNorm::PAL;  // else NTSC sizes (NTSC and film)
    const char* rate = n == TTargetNorm::PAL    ? "25"
                       : n == TTargetNorm::NTSC ? "30000/1001"
                                                : "24000/1001";
    // Options the libraries refuse are ignored: a target is a best effort.
    auto set = [&](const char* name, const char* value) { options.SetDefaultOption(name, value); };
    auto assumeAspect = [&](const char* aspect, const char* message) {
        if (options.FrameAspectRatio == 0) {
            FFLogger()->Log(&options, llInfo, message);
            options.SetAspectRatio(aspect);
        }
    };

    if (target == "vcd") {
        options.SetVideoCodec("mpeg1video");
        options.SetAudioCodec("mp2");
        options.SetForcedFormatName("vcd");
        options.SetFrameSize(pal ? "352x288" : "352x240");
        options.SetFrameRate(rate);
        set("g", pal ? "15" : "18");
        set("b", "1150000");
        set("maxrate", "1150000");
        set("minrate", "1150000");
        set("bufsize", "327680");
        set("ab", "224000");
        options.SetAudioSampleRate(44100);
        options.SetAudioChannels(2);
        set("packetsize", "2324");
        set("muxrate", "1411200");
        options.SetMuxPreload(0.44f);
        assumeAspect("4:3", "Assuming 4:3 for aspect ratio");
    } else if (target == "svcd") {
        options.SetVideoCodec("mpeg2video");
        options.SetAudioCodec("mp2");
        options.SetForcedFormatName("svcd");
        options.SetFrameSize(pal ? "480x576" : "480x480");
        options.SetFrameRate(rate);
        set("g", pal ? "15" : "18");
        set("b", "2040000");
        set("maxrate", "2516000");
        set("minrate", "0");
        set("bufsize", "1835008");
        set("flags", "+scan_offset");
        set("ab", "224000");
        options.SetAudioSampleRate(44100);
        set("packetsize", "2324");
        if (options.AudioChannels == 1) options.SetAudioChannels(2);
        assumeAspect("4:3", "Assuming 4:3 for aspect ratio");
    } else if (target == "dvd") {
        options.SetVideoCodec("mpeg2video");
        options.SetAudioCodec("ac3");
        options.SetForcedFormatName("dvd");
        options.SetFrameSize(pal ? "720x576" : "720x480");
        options.SetFrameRate(rate);
        set("g", pal ? "15" : "18");
        set("b", "6000000");
        set("maxrate", "9000000");
        set("minrate", "0");
        set("bufsize", "1835008");
        set("packetsize", "2048");
        set("muxrate", "10080000");
        set("ab", "448000");
        options.SetAudioSampleRate(48000);
        if (options.AudioChannels == 1) options.SetAudioChannels(2);
        assumeAspect("16:9", "Assuming 16:9 for aspect ratio");
    } else if (target == "dv" || target == "dv50") {
        options.SetForcedFormatName("dv");
        options.SetFrameSize(pal ? "720x576" : "720x480");
        options.SetPixelFormat(target == "dv50" ? "yuv422p" : pal ? "yuv420p" : "yuv411p");
        options.SetFrameRate(rate);
        options.SetAudioSampleRate(48000);
        options.SetAudioChannels(2);
    } else {
        throw FFmpegException("Unknown target type");
    }
}

std::pair<std::string, std::string> SplitTargetOptionValue(const std::string& value) {
    const std::string v = Trim(value);
    for (const char* norm : {"pal", "ntsc", "film"}) {
        const std::string prefix = std::string(norm) + "-";
        if (v.compare(0, prefix.size(), prefix) == 0) return {norm, v.substr(prefix.size())};
    }
    return {"auto", v};
}

}  // namespace tw
