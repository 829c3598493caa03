// Tests of targets and of preset application (transcoder/options/Targets.h,
// transcoder/options/Presets.h) on option values with a fresh option store.
#include "transcoder/options/Targets.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>

#include "binding/Entries.h"
#include "binding/FFLoad.h"
#include "diag/FFLog.h"
#include "tests/support/LogCapture.h"
#include "transcoder/options/Presets.h"

namespace tw {
namespace {

/// Option values with a fresh option store, as the engine has them.
struct Values : TEngineOptions {
    Values() {
        EXPECT_TRUE(FFLoader().Load(WorkLibraryKinds)) << FFLoader().LastErrMsg();
        FFLogger()->TriggerEventInMainThread = false;
        ResetOptionValues();
        RaiseOnUnknownOption = true;
    }
    /// The names of the generic options set, in order.
    std::vector<std::string> Names() const {
        std::vector<std::string> all;
        for (const TRecordedOption& r : OptionContexts->Recorded()) all.push_back(r.Name);
        return all;
    }
    /// The value of an option in the library option context of a kind
    /// ('v', 'a' or 'f' for the format), or its recorded text when only a
    /// private option took it.
    std::string Value(char kind, const std::string& name) const {
        for (const TRecordedOption& r : OptionContexts->Recorded())
            if (r.Name == name && r.HasValue) return r.Value;
        void* ctx = kind == 'f'   ? static_cast<void*>(OptionContexts->Format())
                    : kind == 'a' ? static_cast<void*>(OptionContexts->Codec(AVMEDIA_TYPE_AUDIO))
                                  : static_cast<void*>(OptionContexts->Codec(AVMEDIA_TYPE_VIDEO));
        uint8_t* out = nullptr;
        if (lib().av_opt_get(ctx, name.c_str(), 0, &out) < 0) return "<unset>";
        std::string text(reinterpret_cast<char*>(out));
        lib().av_free(out);
        return text;
    }
    std::string Size() const {
        return std::to_string(FrameWidth) + "x" + std::to_string(FrameHeight);
    }
    std::string Rate() const {
        return std::to_string(FrameRate.num) + "/" + std::to_string(FrameRate.den);
    }
    std::string PixFmt() const {
        return lib().av_get_pix_fmt_name(static_cast<AVPixelFormat>(FramePixFmt));
    }
};

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "<no error>";
}

using test::LogCapture;
const std::vector<AVRational> kNoInputs;

// Catches: an explicit norm that looks at the frame rate, or a vcd target
// missing one of its settings or setting them in another order.
TEST(Targets, PalVcdSetsEverythingWithoutFrameRate) {
    Values h;  // FrameRate 25/0: an explicit norm must not look at it
    h.FrameRate = {25, 0};
    h.AudioChannels = 1;
    LogCapture log;
    ApplyTargetOn(h, kNoInputs, "vcd", "pal", "ntsc");
    EXPECT_EQ(h.VideoCodecName, "mpeg1video");
    EXPECT_EQ(h.AudioCodecName, "mp2");
    EXPECT_EQ(h.ForcedFormatName, "vcd");
    EXPECT_EQ(h.Size(), "352x288");
    EXPECT_EQ(h.Rate(), "25/1");
    EXPECT_EQ(h.AudioSampleRate, 44100);
    EXPECT_EQ(h.AudioChannels, 2);
    EXPECT_FLOAT_EQ(h.MuxPreload, 0.44f);
    EXPECT_FLOAT_EQ(h.FrameAspectRatio, 4.0f / 3.0f);
    EXPECT_TRUE(log.Has(llInfo, "Assuming 4:3 for aspect ratio"));
    EXPECT_EQ(h.Names(), (std::vector<std::string>{"g", "b", "maxrate", "minrate", "bufsize", "ab",
                                                   "packetsize", "muxrate"}));
    EXPECT_EQ(h.Value('v', "g"), "15");
    EXPECT_EQ(h.Value('v', "b"), "1150000");
    EXPECT_EQ(h.Value('v', "maxrate"), "1150000");
    EXPECT_EQ(h.Value('v', "minrate"), "1150000");
    EXPECT_EQ(h.Value('v', "bufsize"), "327680");
    EXPECT_EQ(h.Value('a', "ab"), "224000");
    EXPECT_EQ(h.Value('f', "packetsize"), "2324");
    EXPECT_EQ(h.Value('f', "muxrate"), "1411200");
}

// Catches: an automatic norm without a usable frame rate taken as one, or
// settings applied before the refusal.
TEST(Targets, AutomaticNormNeedsAFrameRate) {
    Values h;
    h.FrameRate = {25, 0};
    EXPECT_EQ(ErrorOf([&] { ApplyTargetOn(h, kNoInputs, "vcd", "auto", "ntsc"); }),
              "frame_rate is invalid.");
    EXPECT_TRUE(h.VideoCodecName.empty());
    EXPECT_TRUE(h.ForcedFormatName.empty());
    EXPECT_TRUE(h.Names().empty());
}

// Catches: the automatic norm not read from the frame rate, then from the
// inputs' video streams in order, then from the fallback.
TEST(Targets, AutomaticNormFromFrameRateOrInputs) {
    {
        Values h;
        h.FrameRate = {30000, 1001};
        LogCapture log;
        ApplyTargetOn(h, kNoInputs, "vcd", "auto", "pal");
        EXPECT_EQ(h.Size(), "352x240");
        EXPECT_EQ(h.Rate(), "30000/1001");
        EXPECT_EQ(h.Value('v', "g"), "18");
        EXPECT_TRUE(log.Has(llVerbose, "Assuming NTSC for target."));
    }
    {
        // The option rate says nothing; the second input stream decides.
        Values h;
        h.FrameRate = {15, 1};
        ApplyTargetOn(h, {{0, 0}, {24000, 1001}, {25, 1}}, "dvd", "auto", "pal");
        EXPECT_EQ(h.Size(), "720x480");
    }
    {
        // Neither decides: the fallback does; film keeps NTSC sizes at 23.976.
        Values h;
        h.FrameRate = {15, 1};
        h.Verbose = 0;
        LogCapture log;
        ApplyTargetOn(h, kNoInputs, "dvd", "auto", "film");
        EXPECT_EQ(h.Size(), "720x480");
        EXPECT_EQ(h.Rate(), "24000/1001");
        EXPECT_FALSE(log.Has(llVerbose, "Assuming NTSC for target."));
    }
    {
        Values h;
        h.FrameRate = {15, 1};
        ApplyTargetOn(h, kNoInputs, "vcd", "auto", "whatever");
        EXPECT_EQ(h.Size(), "352x288");
    }
}

// Catches: rates rounded to the nearest per mille the other way at a tie.
TEST(Targets, RateRoundingIsHalfToEven) {
    // 25.0005 fps is 25000.5 per mille: rounds to the even 25000, so PAL.
    Values h;
    h.FrameRate = {50001, 2000};
    ApplyTargetOn(h, kNoInputs, "vcd", "auto", "ntsc");
    EXPECT_EQ(h.Size(), "352x288");
    // 25.0015 fps is 25001.5: rounds to 25002, no norm, fallback NTSC.
    Values g;
    g.FrameRate = {50003, 2000};
    ApplyTargetOn(g, kNoInputs, "vcd", "auto", "ntsc");
    EXPECT_EQ(g.Size(), "352x240");
}

// Catches: a dvd target overriding the user's aspect, or leaving mono sound.
TEST(Targets, DvdKeepsAnInputAspectAndMakesMonoStereo) {
    Values h;
    h.FrameAspectRatio = 4.0f / 3.0f;
    h.AudioChannels = 1;
    ApplyTargetOn(h, kNoInputs, "dvd", "pal", "ntsc");
    EXPECT_FLOAT_EQ(h.FrameAspectRatio, 4.0f / 3.0f);
    EXPECT_EQ(h.AudioChannels, 2);
    EXPECT_EQ(h.AudioCodecName, "ac3");
    EXPECT_EQ(h.AudioSampleRate, 48000);
    Values z;
    LogCapture log;
    ApplyTargetOn(z, kNoInputs, "dvd", "ntsc", "ntsc");
    EXPECT_FLOAT_EQ(z.FrameAspectRatio, 16.0f / 9.0f);
    EXPECT_TRUE(log.Has(llInfo, "Assuming 16:9 for aspect ratio"));
}

// Catches: svcd turning more than mono into stereo, the dv pixel formats
// of the norms mixed up, an unknown target (names are case-sensitive) passed.
TEST(Targets, SvcdAndDvVariants) {
    Values s;
    s.AudioChannels = 6;
    ApplyTargetOn(s, kNoInputs, "svcd", "ntsc", "ntsc");
    EXPECT_EQ(s.Size(), "480x480");
    // "flags=+scan_offset" is today the encoder's private "scan_offset".
    EXPECT_EQ(s.Names(), (std::vector<std::string>{"g", "b", "maxrate", "minrate", "bufsize",
                                                   "scan_offset", "ab", "packetsize"}));
    EXPECT_EQ(s.AudioChannels, 6);  // only mono becomes stereo
    Values dv;
    ApplyTargetOn(dv, kNoInputs, "dv", "ntsc", "ntsc");
    EXPECT_EQ(dv.PixFmt(), "yuv411p");
    Values dvp;
    ApplyTargetOn(dvp, kNoInputs, "dv", "pal", "ntsc");
    EXPECT_EQ(dvp.PixFmt(), "yuv420p");
    Values dv50;
    ApplyTargetOn(dv50, kNoInputs, "dv50", "ntsc", "ntsc");
    EXPECT_EQ(dv50.PixFmt(), "yuv422p");
    EXPECT_EQ(dv50.ForcedFormatName, "dv");
    Values bad;
    EXPECT_EQ(ErrorOf([&] { ApplyTargetOn(bad, kNoInputs, "VCD", "pal", "ntsc"); }),
              "Unknown target type");
}

// Catches: a norm prefix not split off, or an unknown prefix taken as a norm.
TEST(Targets, OptionValueSplitting) {
    using P = std::pair<std::string, std::string>;
    EXPECT_EQ(SplitTargetOptionValue(" pal-vcd "), (P{"pal", "vcd"}));
    EXPECT_EQ(SplitTargetOptionValue("ntsc-dvd"), (P{"ntsc", "dvd"}));
    EXPECT_EQ(SplitTargetOptionValue("film-dv"), (P{"film", "dv"}));
    EXPECT_EQ(SplitTargetOptionValue("vcd"), (P{"auto", "vcd"}));
    EXPECT_EQ(SplitTargetOptionValue("secam-vcd"), (P{"auto", "secam-vcd"}));
}

// --- presets ------------------------------------------------------------------

// Catches: a built-in preset found only in its own case, or not by the
// current codec's name as prefix.
TEST(ApplyPreset, BuiltInByNameInAnyCaseAndByCodecPrefix) {
    Values h;
    ApplyPresetOn(h, "vpre", "LIBX264-DEFAULT");
    // 22 lines, some of them spelled today as two options.
    ASSERT_EQ(h.Names().size(), 26u) << ::testing::PrintToString(h.Names());
    EXPECT_EQ(h.Names().front(), "coder");
    EXPECT_EQ(h.Names().back(), "weightp");

    Values g;
    EXPECT_EQ(ErrorOf([&] { ApplyPresetOn(g, "vpre", "default"); }),
              "Preset \"default\" not found");
    g.SetVideoCodec("libx264");
    ApplyPresetOn(g, "vpre", "default");
    EXPECT_EQ(g.Names(), h.Names());
}

// Catches: "fpre" looking in the built-in table, or an empty kind or value
// doing anything.
TEST(ApplyPreset, FpreNeverUsesTheTable) {
    Values h;
    EXPECT_EQ(ErrorOf([&] { ApplyPresetOn(h, "fpre", "libx264-default"); }),
              "Preset \"libx264-default\" not found");
    EXPECT_TRUE(h.Names().empty());
    ApplyPresetOn(h, "", "libx264-default");
    ApplyPresetOn(h, "vpre", "");
    EXPECT_TRUE(h.Names().empty());
}

struct TempPreset {
    std::string Name;
    explicit TempPreset(const std::string& text) {
        char tmpl[] = "/tmp/tw-preset-XXXXXX";
        int fd = mkstemp(tmpl);
        Name = tmpl;
        std::ofstream(Name, std::ios::binary) << text;
        if (fd >= 0) close(fd);
    }
    ~TempPreset() { std::remove(Name.c_str()); }
};

// Catches: comments, blank lines, any line ending or codec keys in another
// case misread, a line without '=' or value accepted, or the lines before a
// bad one undone.
TEST(ApplyPreset, FileLinesCommentsCodecsAndSyntax) {
    TempPreset file("  # comment\r\nvcodec=libx264\r\n\r\n  g=12  \rACODEC=copy\n  #x=y\nbf=2");
    Values h;
    ApplyPresetOn(h, "fpre", file.Name);
    EXPECT_EQ(h.VideoCodecName, "libx264");
    EXPECT_TRUE(h.AudioStreamCopy);
    EXPECT_EQ(h.Names(), (std::vector<std::string>{"g", "bf"}));
    EXPECT_EQ(h.Value('v', "g"), "12");
    EXPECT_EQ(h.Value('v', "bf"), "2");

    TempPreset bad("g=1\nno_equals_sign\nbf=2");
    Values b;
    EXPECT_EQ(ErrorOf([&] { ApplyPresetOn(b, "fpre", bad.Name); }),
              bad.Name + ": Invalid syntax: \"no_equals_sign\"");
    EXPECT_EQ(b.Names().size(), 1u);  // the line before stays applied
    TempPreset empty_value("g=");
    EXPECT_EQ(ErrorOf([&] { ApplyPresetOn(b, "fpre", empty_value.Name); }),
              empty_value.Name + ": Invalid syntax: \"g=\"");
    TempPreset nothing("");
    ApplyPresetOn(b, "fpre", nothing.Name);
}

// Catches: a refused option passed over silently while refusals raise, the
// failure not naming the line, or a refusal raised while they do not.
TEST(ApplyPreset, RefusedOptionNamesTheLine) {
    TempPreset file("g=1\n  zz = 3 \nbf=2");
    Values h;
    EXPECT_EQ(ErrorOf([&] { ApplyPresetOn(h, "fpre", file.Name); }),
              "Unrecognized option \"zz \"\r\n" + file.Name +
                  ": Invalid option or argument: \"zz = 3\", parsed as \"zz \" = \" 3\"");
    Values quiet;
    quiet.RaiseOnUnknownOption = false;
    ApplyPresetOn(quiet, "fpre", file.Name);
    EXPECT_EQ(quiet.Names().size(), 2u);
}

}  // namespace
}  // namespace tw
