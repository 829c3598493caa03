// transcoder/options/LegacyOptions.cpp — translation of older codec option spellings to today's.
//
// The presets and targets are written in the option language of the 2011
// libraries. Several of those names and flag values have since been removed
// from the codec context and now live, under other names, in the private
// options of libx264 or of the MPEG-family encoders. The table:
//
//   older option                      today's option(s)
//   --------------------------------  ------------------------------------------------
//   directpred=0|1|2|3                direct-pred=none|spatial|temporal|auto (libx264)
//   me_method=M                       motion-est=X (libx264) and motion_est=Y (MPEG
//                                     family), M as a name or the older number:
//                                       M           X      Y
//                                       zero  (1)   hex    zero
//                                       full  (2)   esa    epzs
//                                       esa         esa    epzs
//                                       log   (3)   hex    epzs
//                                       phods (4)   hex    epzs
//                                       epzs  (5)   dia    epzs
//                                       dia         dia    epzs
//                                       x1    (6)   hex    xone
//                                       hex   (7)   hex    epzs
//                                       umh   (8)   umh    epzs
//                                       iter  (9)   hex    epzs
//                                       tesa (10)   tesa   epzs
//   wpredp=0|1|2                      weightp=none|simple|smart (libx264)
//   cqp=N                             qp=N (libx264)
//   partitions=+parti8x8+parti4x4     partitions=i8x8,i4x4,p8x8,p4x4,b8x8 (libx264):
//     +partp8x8+partp4x4+partb8x8     the parts switched on, in this order, or "none";
//                                     '-' switches a part off
//   flags2=±mixed_refs                mixed-refs=1|0 (libx264)
//   flags2=±wpred                     weightb=1|0 (libx264)
//   flags2=±dct8x8                    8x8dct=1|0 (libx264)
//   flags2=±fastpskip                 fast-pskip=1|0 (libx264)
//   flags2=±bpyramid                  b-pyramid=normal|none (libx264)
//   flags2=±mbtree                    mbtree=1|0 (libx264)
//   flags2=±aud / ±psy / ±ssim        aud / psy / ssim=1|0 (libx264)
//   flags2=±intra_refresh             intra-refresh=1|0 (libx264)
//   flags2=±ivlc                      intra_vlc=1|0 (MPEG-2)
//   flags2=±non_linear_q              non_linear_quant=1|0 (MPEG-2)
//   flags2=±drop_frame_timecode       drop_frame_timecode=1|0 (MPEG-1/2)
//   flags2=±reservoir                 reservoir=1|0 (libmp3lame)
//   flags2=±skiprd / ±sgop            mpv_flags=±skip_rd / ±strict_gop (MPEG family)
//   flags2=± any still-known value    stays in flags2 (fast, noout, local_header, ...)
//   flags=-loop                       flags=-loop and x264-params=no-deblock=1: libx264
//                                     no longer reads the loop-filter flag (deblocking
//                                     is on unless switched off)
//   flags=±scan_offset                scan_offset=1|0 (MPEG-1/2)
//   flags=±mv0 / ±naq / ±cbp / ±qprd  mpv_flags=±mv0 / ±naq / ±cbp_rd / ±qp_rd
//   flags=±obmc / ±umv / ±aiv         obmc / umv / aiv=1|0 (H.263+)
//   flags=±slice                      structured_slices=1|0 (H.263+)
//   flags=±part                       data_partitioning=1|0 (MPEG-4)
//   flags=±alt                        alternate_scan=1|0 (MPEG-4, MPEG-2)
//   flags=±gmc                        no effect any more
//   flags=± any still-known value     stays in flags (loop, mv4, qpel, gray, ...)
//   aq_mode, aq_strength,             aq-mode, aq-strength, rc-lookahead, b-bias,
//   rc_lookahead, bframebias,         cplxblur (libx264), noise_reduction (libx264
//   complexityblur, nr                and MPEG family), value unchanged
//
// Options not listed keep their spelling: "coder", "b_strategy",
// "sc_threshold", "level", "cmp=+chroma", "packetsize", "muxrate" and the
// plain rate-control numbers are all still accepted as written.
#include "transcoder/options/LegacyOptions.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace tw {
namespace {

/// One part of a flag-style value: its sign ('+', '-', or 0 when bare) and name.
struct TFlagPart {
    char Sign = 0;
    std::string Name;
    bool On() const { return Sign != '-'; }
    std::string Text() const { return Sign ? std::string(1, Sign) + Name : Name; }
};

/// Splits "+a-b+c" (or "a+b") into its parts; a bare first part is kept bare.
std::vector<TFlagPart> SplitFlags(const std::string& value) {
    std::vector<TFlagPart> parts;
    TFlagPart current;
    bool started = false;
    for (char c : value) {
        if (c == '+' || c == '-') {
            if (started && !current.Name.empty()) parts.push_back(current);
            current = TFlagPart{c, {}};
            started = true;
        } else if (!std::isspace(static_cast<unsigned char>(c))) {
            current.Name += c;
            started = true;
        }
    }
    if (!current.Name.empty()) parts.push_back(current);
    return parts;
}

/// Appends " part" to a no-effect note for option `option`.
void NoteNoEffect(std::string& note, const std::string& option, const TFlagPart& p) {
    if (note.empty())
        note = option + "=" + p.Text();
    else
        note += p.Text();
}

// --- me_method ------------------------------------------------------------

struct TMeMethod {
    std::string_view Name;
    std::string_view Number;  // the older numeric value, empty for aliases
    std::string_view X264;
    std::string_view Mpeg;
};

constexpr std::array<TMeMethod, 12> kMeMethods{{
    {"zero", "1", "hex", "zero"},
    {"full", "2", "esa", "epzs"},
    {"esa", "", "esa", "epzs"},
    {"log", "3", "hex", "epzs"},
    {"phods", "4", "hex", "epzs"},
    {"epzs", "5", "dia", "epzs"},
    {"dia", "", "dia", "epzs"},
    {"x1", "6", "hex", "xone"},
    {"hex", "7", "hex", "epzs"},
    {"umh", "8", "umh", "epzs"},
    {"iter", "9", "hex", "epzs"},
    {"tesa", "10", "tesa", "epzs"},
}};

bool TranslateMeMethod(const std::string& value, TLegacyTranslation& out) {
    for (const TMeMethod& m : kMeMethods) {
        if (value == m.Name || (!m.Number.empty() && value == m.Number)) {
            out.Options = {{"motion-est", std::string(m.X264)},
                           {"motion_est", std::string(m.Mpeg)}};
            return true;
        }
    }
    return false;
}

// --- partitions -----------------------------------------------------------

bool TranslatePartitions(const std::string& value, TLegacyTranslation& out) {
    // Older part names in the order today's comma list is written.
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 5> kParts{{
        {"parti8x8", "i8x8"},
        {"parti4x4", "i4x4"},
        {"partp8x8", "p8x8"},
        {"partp4x4", "p4x4"},
        {"partb8x8", "b8x8"},
    }};
    const std::vector<TFlagPart> parts = SplitFlags(value);
    if (parts.empty()) return false;
    std::array<bool, kParts.size()> on{};
    for (const TFlagPart& p : parts) {
        auto it = std::find_if(kParts.begin(), kParts.end(),
                               [&](const auto& k) { return k.first == p.Name; });
        // Anything else is today's syntax ("i8x8,p8x8", "all", "none").
        if (it == kParts.end()) return false;
        on[it - kParts.begin()] = p.On();
    }
    std::string list;
    for (size_t i = 0; i < kParts.size(); ++i) {
        if (!on[i]) continue;
        if (!list.empty()) list += ',';
        list += kParts[i].second;
    }
    out.Options = {{"partitions", list.empty() ? "none" : list}};
    return true;
}

// --- flags and flags2 -----------------------------------------------------

/// An older flag value that became an option of its own (or a part of
/// "mpv_flags", when Option is "mpv_flags"; then On is the part's name).
struct TMovedFlag {
    std::string_view Legacy;
    std::string_view Option;
    std::string_view On;
    std::string_view Off;
};

constexpr std::array<TMovedFlag, 16> kMovedFlags2{{
    {"mixed_refs", "mixed-refs", "1", "0"},
    {"wpred", "weightb", "1", "0"},
    {"dct8x8", "8x8dct", "1", "0"},
    {"fastpskip", "fast-pskip", "1", "0"},
    {"bpyramid", "b-pyramid", "normal", "none"},
    {"mbtree", "mbtree", "1", "0"},
    {"aud", "aud", "1", "0"},
    {"psy", "psy", "1", "0"},
    {"ssim", "ssim", "1", "0"},
    {"intra_refresh", "intra-refresh", "1", "0"},
    {"ivlc", "intra_vlc", "1", "0"},
    {"non_linear_q", "non_linear_quant", "1", "0"},
    {"drop_frame_timecode", "drop_frame_timecode", "1", "0"},
    {"reservoir", "reservoir", "1", "0"},
    {"skiprd", "mpv_flags", "skip_rd", ""},
    {"sgop", "mpv_flags", "strict_gop", ""},
}};

constexpr std::array<TMovedFlag, 12> kMovedFlags{{
    {"scan_offset", "scan_offset", "1", "0"},
    {"mv0", "mpv_flags", "mv0", ""},
    {"naq", "mpv_flags", "naq", ""},
    {"cbp", "mpv_flags", "cbp_rd", ""},
    {"qprd", "mpv_flags", "qp_rd", ""},
    {"obmc", "obmc", "1", "0"},
    {"umv", "umv", "1", "0"},
    {"aiv", "aiv", "1", "0"},
    {"slice", "structured_slices", "1", "0"},
    {"part", "data_partitioning", "1", "0"},
    {"alt", "alternate_scan", "1", "0"},
    {"gmc", "", "", ""},  // no present-day equivalent
}};

/// Translates a flag-style option ("flags" or "flags2"). Parts still known
/// under `name` stay there; moved parts become their own options.
template <size_t N>
bool TranslateFlags(const std::string& name, const std::string& value,
                    const std::array<TMovedFlag, N>& moved, TLegacyTranslation& out) {
    const std::vector<TFlagPart> parts = SplitFlags(value);
    TLegacyTranslation result;
    std::string kept;
    std::string mpvFlags;
    bool translated = false;
    for (const TFlagPart& p : parts) {
        auto it = std::find_if(moved.begin(), moved.end(),
                               [&](const TMovedFlag& m) { return m.Legacy == p.Name; });
        if (it == moved.end()) {
            // Still a value of this option today (or unknown: then setting it
            // reports the bad value as usual).
            kept += (p.Sign || kept.empty()) ? p.Text() : "+" + p.Name;
            if (name == "flags" && p.Name == "loop" && !p.On()) {
                // libx264 ignores the flag now; switching deblocking off
                // needs its own parameter.
                result.Options.emplace_back("x264-params", "no-deblock=1");
                translated = true;
            }
            continue;
        }
        translated = true;
        if (it->Option.empty()) {
            NoteNoEffect(result.NoEffect, name, p);
        } else if (it->Option == "mpv_flags") {
            mpvFlags += (p.On() ? "+" : "-") + std::string(it->On);
        } else {
            result.Options.emplace_back(std::string(it->Option),
                                        std::string(p.On() ? it->On : it->Off));
        }
    }
    if (!translated) return false;
    if (!kept.empty()) result.Options.insert(result.Options.begin(), {name, kept});
    if (!mpvFlags.empty()) result.Options.emplace_back("mpv_flags", mpvFlags);
    out = std::move(result);
    return true;
}

// --- plain renames ----------------------------------------------------------

constexpr std::array<std::pair<std::string_view, std::string_view>, 7> kRenamed{{
    {"cqp", "qp"},
    {"aq_mode", "aq-mode"},
    {"aq_strength", "aq-strength"},
    {"rc_lookahead", "rc-lookahead"},
    {"bframebias", "b-bias"},
    {"complexityblur", "cplxblur"},
    {"nr", "noise_reduction"},
}};

/// Maps a numeric value to a name by its index; other values are kept.
std::string NameForNumber(const std::string& value, std::initializer_list<std::string_view> names) {
    int i = 0;
    for (std::string_view n : names) {
        if (value == std::to_string(i)) return std::string(n);
        ++i;
    }
    return value;
}

}  // namespace

bool TranslateLegacyOption(const std::string& name, const std::string& value,
                           TLegacyTranslation& out) {
    if (name == "directpred") {
        out = {{{"direct-pred", NameForNumber(value, {"none", "spatial", "temporal", "auto"})}},
               {}};
        return true;
    }
    if (name == "wpredp") {
        out = {{{"weightp", NameForNumber(value, {"none", "simple", "smart"})}}, {}};
        return true;
    }
    if (name == "me_method") {
        TLegacyTranslation t;
        if (!TranslateMeMethod(value, t)) return false;
        out = std::move(t);
        return true;
    }
    if (name == "partitions") {
        TLegacyTranslation t;
        if (!TranslatePartitions(value, t)) return false;
        out = std::move(t);
        return true;
    }
    if (name == "flags2") return TranslateFlags(name, value, kMovedFlags2, out);
    if (name == "flags") return TranslateFlags(name, value, kMovedFlags, out);
    for (const auto& [legacy, today] : kRenamed) {
        if (name == legacy) {
            out = {{{std::string(today), value}}, {}};
            return true;
        }
    }
    return false;
}

}  // namespace tw
