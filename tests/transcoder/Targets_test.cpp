// Tests of targets and of preset application (transcoder/Targets.h,
// transcoder/Presets.h) against a recording stand-in for the engine.
#include "transcoder/Targets.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <map>

#include "diag/FFLog.h"
#include "tests/support/LogCapture.h"

namespace tw {
namespace {

/// Records what a target or preset does to the engine.
struct FakeHost : TTargetHost {
    std::vector<std::pair<std::string, std::string>> Options;
    std::map<std::string, std::string> Calls;
    AVRational Rate{25, 0};
    std::vector<AVRational> InputRates;
    int VerboseLevel = 1;
    float Aspect = 0;
    int Channels = 2;
    bool Raise = true;
    std::string Refused;  // an option name SetDefaultOption refuses

    bool SetDefaultOption(const std::string& n, const std::string& v) override {
        if (n == Refused) return false;
        Options.emplace_back(n, v);
        return true;
    }
    std::string LastOptionFailure() const override {
        return "Unrecognized option \"" + Refused + "\"";
    }
    bool RaiseOnUnknownOption() const override { return Raise; }
    void SetVideoCodec(const std::string& n) override { Calls["vcodec"] = n; }
    void SetAudioCodec(const std::string& n) override { Calls["acodec"] = n; }
    void SetSubtitleCodec(const std::string& n) override { Calls["scodec"] = n; }
    std::string CodecName(char kind) const override {
        auto it = Calls.find(std::string(1, kind) + "codec");
        return it == Calls.end() ? std::string() : it->second;
    }
    AVRational FrameRate() const override { return Rate; }
    std::vector<AVRational> InputVideoFrameRates() const override { return InputRates; }
    int Verbose() const override { return VerboseLevel; }
    float FrameAspectRatio() const override { return Aspect; }
    int AudioChannels() const override { return Channels; }
    void SetForcedFormatName(const std::string& n) override { Calls["f"] = n; }
    void SetFrameSize(const std::string& s) override { Calls["s"] = s; }
    void SetFrameRate(const std::string& r) override { Calls["r"] = r; }
    void SetAspectRatio(const std::string& a) override { Calls["aspect"] = a; }
    void SetPixelFormat(const std::string& p) override { Calls["pix_fmt"] = p; }
    void SetAudioSampleRate(int r) override { Calls["ar"] = std::to_string(r); }
    void SetAudioChannels(int c) override {
        Channels = c;
        Calls["ac"] = std::to_string(c);
    }
    void SetMuxPreload(float s) override { Calls["muxpreload"] = std::to_string(s); }

    std::string Option(const std::string& name) const {
        for (const auto& [n, v] : Options)
            if (n == name) return v;
        return "<unset>";
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

TEST(Targets, PalVcdSetsEverythingWithoutFrameRate) {
    FakeHost h;  // FrameRate 25/0: an explicit norm must not look at it
    LogCapture log;
    ApplyTargetOn(h, "vcd", "pal", "ntsc");
    EXPECT_EQ(h.Calls["vcodec"], "mpeg1video");
    EXPECT_EQ(h.Calls["acodec"], "mp2");
    EXPECT_EQ(h.Calls["f"], "vcd");
    EXPECT_EQ(h.Calls["s"], "352x288");
    EXPECT_EQ(h.Calls["r"], "25");
    EXPECT_EQ(h.Calls["ar"], "44100");
    EXPECT_EQ(h.Calls["ac"], "2");
    EXPECT_EQ(h.Calls["muxpreload"], std::to_string(0.44f));
    EXPECT_EQ(h.Calls["aspect"], "4:3");
    EXPECT_TRUE(log.Has(llInfo, "Assuming 4:3 for aspect ratio"));
    EXPECT_EQ(h.Options,
              (std::vector<std::pair<std::string, std::string>>{{"g", "15"},
                                                                {"b", "1150000"},
                                                                {"maxrate", "1150000"},
                                                                {"minrate", "1150000"},
                                                                {"bufsize", "327680"},
                                                                {"ab", "224000"},
                                                                {"packetsize", "2324"},
                                                                {"muxrate", "1411200"}}));
}

TEST(Targets, AutomaticNormNeedsAFrameRate) {
    FakeHost h;
    EXPECT_EQ(ErrorOf([&] { ApplyTargetOn(h, "vcd", "auto", "ntsc"); }), "frame_rate is invalid.");
    EXPECT_TRUE(h.Calls.empty());
}

TEST(Targets, AutomaticNormFromFrameRateOrInputs) {
    {
        FakeHost h;
        h.Rate = {30000, 1001};
        LogCapture log;
        ApplyTargetOn(h, "vcd", "auto", "pal");
        EXPECT_EQ(h.Calls["s"], "352x240");
        EXPECT_EQ(h.Calls["r"], "30000/1001");
        EXPECT_EQ(h.Option("g"), "18");
        EXPECT_TRUE(log.Has(llVerbose, "Assuming NTSC for target."));
    }
    {
        // The option rate says nothing; the second input stream decides.
        FakeHost h;
        h.Rate = {15, 1};
        h.InputRates = {{0, 0}, {24000, 1001}, {25, 1}};
        ApplyTargetOn(h, "dvd", "auto", "pal");
        EXPECT_EQ(h.Calls["s"], "720x480");
    }
    {
        // Neither decides: the fallback does; film keeps NTSC sizes at 23.976.
        FakeHost h;
        h.Rate = {15, 1};
        h.VerboseLevel = 0;
        LogCapture log;
        ApplyTargetOn(h, "dvd", "auto", "film");
        EXPECT_EQ(h.Calls["s"], "720x480");
        EXPECT_EQ(h.Calls["r"], "24000/1001");
        EXPECT_FALSE(log.Has(llVerbose, "Assuming NTSC for target."));
    }
    {
        FakeHost h;
        h.Rate = {15, 1};
        ApplyTargetOn(h, "vcd", "auto", "whatever");
        EXPECT_EQ(h.Calls["s"], "352x288");
    }
}

TEST(Targets, RateRoundingIsHalfToEven) {
    // 25.0005 fps is 25000.5 per mille: rounds to the even 25000, so PAL.
    FakeHost h;
    h.Rate = {50001, 2000};
    ApplyTargetOn(h, "vcd", "auto", "ntsc");
    EXPECT_EQ(h.Calls["s"], "352x288");
    // 25.0015 fps is 25001.5: rounds to 25002, no norm, fallback NTSC.
    FakeHost g;
    g.Rate = {50003, 2000};
    ApplyTargetOn(g, "vcd", "auto", "ntsc");
    EXPECT_EQ(g.Calls["s"], "352x240");
}

TEST(Targets, DvdKeepsAnInputAspectAndMakesMonoStereo) {
    FakeHost h;
    h.Aspect = 4.0f / 3.0f;
    h.Channels = 1;
    ApplyTargetOn(h, "dvd", "pal", "ntsc");
    EXPECT_EQ(h.Calls.count("aspect"), 0u);
    EXPECT_EQ(h.Calls["ac"], "2");
    EXPECT_EQ(h.Calls["acodec"], "ac3");
    EXPECT_EQ(h.Calls["ar"], "48000");
    FakeHost z;
    LogCapture log;
    ApplyTargetOn(z, "dvd", "ntsc", "ntsc");
    EXPECT_EQ(z.Calls["aspect"], "16:9");
    EXPECT_TRUE(log.Has(llInfo, "Assuming 16:9 for aspect ratio"));
}

TEST(Targets, SvcdAndDvVariants) {
    FakeHost s;
    s.Channels = 6;
    ApplyTargetOn(s, "svcd", "ntsc", "ntsc");
    EXPECT_EQ(s.Calls["s"], "480x480");
    EXPECT_EQ(s.Option("flags"), "+scan_offset");
    EXPECT_EQ(s.Calls.count("ac"), 0u);  // only mono becomes stereo
    FakeHost dv;
    ApplyTargetOn(dv, "dv", "ntsc", "ntsc");
    EXPECT_EQ(dv.Calls["pix_fmt"], "yuv411p");
    FakeHost dvp;
    ApplyTargetOn(dvp, "dv", "pal", "ntsc");
    EXPECT_EQ(dvp.Calls["pix_fmt"], "yuv420p");
    FakeHost dv50;
    ApplyTargetOn(dv50, "dv50", "ntsc", "ntsc");
    EXPECT_EQ(dv50.Calls["pix_fmt"], "yuv422p");
    EXPECT_EQ(dv50.Calls["f"], "dv");
    FakeHost bad;
    EXPECT_EQ(ErrorOf([&] { ApplyTargetOn(bad, "VCD", "pal", "ntsc"); }), "Unknown target type");
}

TEST(Targets, OptionValueSplitting) {
    using P = std::pair<std::string, std::string>;
    EXPECT_EQ(SplitTargetOptionValue(" pal-vcd "), (P{"pal", "vcd"}));
    EXPECT_EQ(SplitTargetOptionValue("ntsc-dvd"), (P{"ntsc", "dvd"}));
    EXPECT_EQ(SplitTargetOptionValue("film-dv"), (P{"film", "dv"}));
    EXPECT_EQ(SplitTargetOptionValue("vcd"), (P{"auto", "vcd"}));
    EXPECT_EQ(SplitTargetOptionValue("secam-vcd"), (P{"auto", "secam-vcd"}));
}

// --- presets ------------------------------------------------------------------

TEST(ApplyPreset, BuiltInByNameInAnyCaseAndByCodecPrefix) {
    FakeHost h;
    ApplyPresetOn(h, "vpre", "LIBX264-DEFAULT");
    ASSERT_EQ(h.Options.size(), 22u);
    EXPECT_EQ(h.Options.front(), (std::pair<std::string, std::string>{"coder", "1"}));
    EXPECT_EQ(h.Options.back(), (std::pair<std::string, std::string>{"wpredp", "2"}));

    FakeHost g;
    EXPECT_EQ(ErrorOf([&] { ApplyPresetOn(g, "vpre", "default"); }),
              "Preset \"default\" not found");
    g.SetVideoCodec("libx264");
    ApplyPresetOn(g, "vpre", "default");
    EXPECT_EQ(g.Options.size(), 22u);
}

TEST(ApplyPreset, FpreNeverUsesTheTable) {
    FakeHost h;
    EXPECT_EQ(ErrorOf([&] { ApplyPresetOn(h, "fpre", "libx264-default"); }),
              "Preset \"libx264-default\" not found");
    EXPECT_TRUE(h.Options.empty());
    ApplyPresetOn(h, "", "libx264-default");
    ApplyPresetOn(h, "vpre", "");
    EXPECT_TRUE(h.Options.empty());
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

TEST(ApplyPreset, FileLinesCommentsCodecsAndSyntax) {
    TempPreset file("  # comment\r\nvcodec=libx264\r\n\r\n  g=12  \rACODEC=copy\n  #x=y\nbf=2");
    FakeHost h;
    ApplyPresetOn(h, "fpre", file.Name);
    EXPECT_EQ(h.Calls["vcodec"], "libx264");
    EXPECT_EQ(h.Calls["acodec"], "copy");
    EXPECT_EQ(h.Options,
              (std::vector<std::pair<std::string, std::string>>{{"g", "12"}, {"bf", "2"}}));

    TempPreset bad("g=1\nno_equals_sign\nbf=2");
    FakeHost b;
    EXPECT_EQ(ErrorOf([&] { ApplyPresetOn(b, "fpre", bad.Name); }),
              bad.Name + ": Invalid syntax: \"no_equals_sign\"");
    EXPECT_EQ(b.Options.size(), 1u);  // the line before stays applied
    TempPreset empty_value("g=");
    EXPECT_EQ(ErrorOf([&] { ApplyPresetOn(b, "fpre", empty_value.Name); }),
              empty_value.Name + ": Invalid syntax: \"g=\"");
    TempPreset nothing("");
    ApplyPresetOn(b, "fpre", nothing.Name);
}

TEST(ApplyPreset, RefusedOptionNamesTheLine) {
    TempPreset file("g=1\n  zz = 3 \nbf=2");
    FakeHost h;
    h.Refused = "zz ";
    EXPECT_EQ(ErrorOf([&] { ApplyPresetOn(h, "fpre", file.Name); }),
              "Unrecognized option \"zz \"\r\n" + file.Name +
                  ": Invalid option or argument: \"zz = 3\", parsed as \"zz \" = \" 3\"");
    FakeHost quiet;
    quiet.Refused = "zz ";
    quiet.Raise = false;
    ApplyPresetOn(quiet, "fpre", file.Name);
    EXPECT_EQ(quiet.Options.size(), 2u);
}

}  // namespace
}  // namespace tw
