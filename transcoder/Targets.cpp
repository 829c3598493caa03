// transcoder/Targets.cpp — disc and camcorder targets: codecs, container,
// picture, rates and muxer settings of a format for its television norm.
#include "transcoder/Targets.h"

#include <cstdint>

#include "diag/FFLog.h"
#include "transcoder/FFmpegException.h"
#include "transcoder/Parsers.h"

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

TTargetNorm ChooseTargetNorm(const TTargetHost& host, const std::string& norm,
                             const std::string& fallback) {
    if (norm == "pal") return TTargetNorm::PAL;
    if (norm == "ntsc") return TTargetNorm::NTSC;
    if (norm == "film") return TTargetNorm::Film;

    const AVRational rate = host.FrameRate();
    if (rate.den == 0) throw FFmpegException("frame_rate is invalid.");
    TTargetNorm chosen;
    bool decided = NormOfRate(MilliRate(rate), chosen);
    if (!decided) {
        // The inputs' video streams, in order: the first with a norm's rate
        // decides. Today the rate is the stream's, not the decoder time base.
        for (AVRational r : host.InputVideoFrameRates())
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
    if (host.Verbose() > 0)
        FFLogger()->LogFmt(&host, llVerbose, "Assuming %s for target.",
                           chosen == TTargetNorm::PAL ? "PAL" : "NTSC");
    return chosen;
}

void ApplyTargetOn(TTargetHost& host, const std::string& target, const std::string& norm,
                   const std::string& fallback) {
    const TTargetNorm n = ChooseTargetNorm(host, norm, fallback);
    const bool pal = n == TTargetNorm::PAL;  // else NTSC sizes (NTSC and film)
    const char* rate = n == TTargetNorm::PAL    ? "25"
                       : n == TTargetNorm::NTSC ? "30000/1001"
                                                : "24000/1001";
    // Options the libraries refuse are ignored: a target is a best effort.
    auto set = [&](const char* name, const char* value) { host.SetDefaultOption(name, value); };
    auto assumeAspect = [&](const char* aspect, const char* message) {
        if (host.FrameAspectRatio() == 0) {
            FFLogger()->Log(&host, llInfo, message);
            host.SetAspectRatio(aspect);
        }
    };

    if (target == "vcd") {
        host.SetVideoCodec("mpeg1video");
        host.SetAudioCodec("mp2");
        host.SetForcedFormatName("vcd");
        host.SetFrameSize(pal ? "352x288" : "352x240");
        host.SetFrameRate(rate);
        set("g", pal ? "15" : "18");
        set("b", "1150000");
        set("maxrate", "1150000");
        set("minrate", "1150000");
        set("bufsize", "327680");
        set("ab", "224000");
        host.SetAudioSampleRate(44100);
        host.SetAudioChannels(2);
        set("packetsize", "2324");
        set("muxrate", "1411200");
        host.SetMuxPreload(0.44f);
        assumeAspect("4:3", "Assuming 4:3 for aspect ratio");
    } else if (target == "svcd") {
        host.SetVideoCodec("mpeg2video");
        host.SetAudioCodec("mp2");
        host.SetForcedFormatName("svcd");
        host.SetFrameSize(pal ? "480x576" : "480x480");
        host.SetFrameRate(rate);
        set("g", pal ? "15" : "18");
        set("b", "2040000");
        set("maxrate", "2516000");
        set("minrate", "0");
        set("bufsize", "1835008");
        set("flags", "+scan_offset");
        set("ab", "224000");
        host.SetAudioSampleRate(44100);
        set("packetsize", "2324");
        if (host.AudioChannels() == 1) host.SetAudioChannels(2);
        assumeAspect("4:3", "Assuming 4:3 for aspect ratio");
    } else if (target == "dvd") {
        host.SetVideoCodec("mpeg2video");
        host.SetAudioCodec("ac3");
        host.SetForcedFormatName("dvd");
        host.SetFrameSize(pal ? "720x576" : "720x480");
        host.SetFrameRate(rate);
        set("g", pal ? "15" : "18");
        set("b", "6000000");
        set("maxrate", "9000000");
        set("minrate", "0");
        set("bufsize", "1835008");
        set("packetsize", "2048");
        set("muxrate", "10080000");
        set("ab", "448000");
        host.SetAudioSampleRate(48000);
        if (host.AudioChannels() == 1) host.SetAudioChannels(2);
        assumeAspect("16:9", "Assuming 16:9 for aspect ratio");
    } else if (target == "dv" || target == "dv50") {
        host.SetForcedFormatName("dv");
        host.SetFrameSize(pal ? "720x576" : "720x480");
        host.SetPixelFormat(target == "dv50" ? "yuv422p" : pal ? "yuv420p" : "yuv411p");
        host.SetFrameRate(rate);
        host.SetAudioSampleRate(48000);
        host.SetAudioChannels(2);
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
