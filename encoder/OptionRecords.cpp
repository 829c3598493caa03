// encoder/OptionRecords.cpp — input and output records applied to a task.
#include "encoder/OptionRecords.h"

#include <cmath>
#include <ctime>
#include <string_view>

#include "transcoder/CustomFFmpeg.h"
#include "transcoder/options/Parsers.h"

namespace tw {
namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool StreamKey(const std::string& k) {
    return k == "acodec" || k == "vcodec" || k == "scodec" || k == "apre" || k == "vpre" ||
           k == "spre" || k == "s" || k == "vfilters" || k == "vf";
}

bool StreamCreatingKey(const std::string& k) {
    return k == "newaudio" || k == "newvideo" || k == "newsubtitle";
}

}  // namespace

std::vector<std::pair<std::string, std::string>> SplitExtOptions(const std::string& text) {
    std::string norm = ToLineFeeds(Trim(text));
    static constexpr std::string_view kMarker = "<CRLF>";
    for (size_t at = norm.find(kMarker); at != std::string::npos; at = norm.find(kMarker, at + 1))
        norm.replace(at, kMarker.size(), 1, '\n');
    std::vector<std::pair<std::string, std::string>> lines;
    if (norm.empty()) return lines;
    size_t pos = 0;
    while (true) {
        const size_t lf = norm.find('\n', pos);
        const std::string line = norm.substr(pos, lf == std::string::npos ? lf : lf - pos);
        const size_t eq = line.find('=');
        lines.emplace_back(Lower(line.substr(0, eq)),
                           eq == std::string::npos ? std::string() : line.substr(eq + 1));
        if (lf == std::string::npos) break;
        pos = lf + 1;
    }
    return lines;
}

std::string TStreamDefaultList::Value(const std::string& name) const {
    const std::string n = Lower(name);
    for (const auto& [k, v] : Lines)
        if (Lower(k) == n) return v;
    return {};
}

void TStreamDefaultList::Set(const std::string& name, const std::string& value) {
    const std::string n = Lower(name);
    for (auto& [k, v] : Lines)
        if (Lower(k) == n) {
            v = value;
            return;
        }
    Lines.emplace_back(name, value);
}

void ApplyExtOptions(TCustomFFmpeg& task, const std::string& text, bool withCodecKeys) {
    for (const auto& [key, value] : SplitExtOptions(text)) {
        if (StreamCreatingKey(key) || key == "apre" || key == "vpre" || key == "spre" ||
            key == "vfilters" || key == "vf")
            continue;
        if ((key == "acodec" || key == "vcodec" || key == "scodec" || key == "s") && !withCodecKeys)
            continue;
        task.SetOption(key, value);
    }
}

void ApplyInputOptions(TCustomFFmpeg& task, TInputOptions& options, const std::string& fileName) {
    if (options.FileName.empty()) options.FileName = fileName;
    if (options.Threads >= 0) task.SetOption("threads", std::to_string(options.Threads));
    ApplyExtOptions(task, options.ExtOptions, true);
    task.SetForcedFormatName(options.ForceFormat);
    task.SetStartTime(options.StartTime);
    task.SetProgramId(options.ProgramId);
}

void CollectStreamDefaults(TStreamDefaultList& list, const TOutputOptions& o) {
    const std::pair<const char*, const std::string*> defs[] = {
        {"def_acodec", &o.AudioCodec},    {"def_vcodec", &o.VideoCodec},
        {"def_scodec", &o.SubtitleCodec}, {"def_apre", &o.AudioPreset},
        {"def_vpre", &o.VideoPreset},     {"def_spre", &o.SubtitlePreset},
        {"def_s", &o.FrameSize},          {"def_vf", &o.VideoFilters}};
    for (const auto& [name, value] : defs)
        if (!value->empty()) list.Set(name, *value);
    for (auto [key, value] : SplitExtOptions(o.ExtOptions)) {
        if (!StreamKey(key) || value.empty()) continue;
        if (key == "vfilters") key = "vf";
        if (list.Value("def_" + key).empty()) list.Set("def_" + key, value);
        list.Lines.emplace_back(key, value);
    }
}

void ApplyTargetOptions(TCustomFFmpeg& task, const TOutputOptions& o) {
    static const char* kTargets[] = {nullptr, "vcd", "svcd", "dvd"};
    if (o.Target < 1 || o.Target > 3) return;
    const char* norm = o.TargetNorm == 1 ? "pal" : o.TargetNorm == 2 ? "ntsc" : "auto";
    task.ApplyTarget(kTargets[o.Target], norm, o.TargetDefaultNorm == 1 ? "pal" : "ntsc");
}

int64_t DateTimeToUnix(double days) {
    tzset();
    // The standard offset of the zone: timezone is seconds west of UTC.
    const double offsetDays = -static_cast<double>(timezone) / 86400.0;
    return std::llround((days - 25569.0 - offsetDays) * 86400.0);
}

void ApplyOutputOptions(TCustomFFmpeg& t, const TOutputOptions& o) {
    // Each call has the effect of the option named beside it; the setters
    // carry the "ignored when" rules the record's conditions repeat.
    t.SetForcedFormatName(o.ForceFormat);  // f
    if (o.PacketSize > 0) t.SetDefaultOptionInt("packetsize", o.PacketSize);
    if (o.MuxRate > 0) t.SetDefaultOptionInt("muxrate", o.MuxRate);
    t.SetMuxMaxDelay(o.MuxDelay);                 // muxdelay
    t.SetMuxPreload(o.MuxPreload);                // muxpreload
    if (o.DisableAudio) t.SetAudioDisable(true);  // an
    t.SetAudioVolume(o.AudioVolume);              // vol
    t.SetAudioChannels(o.AudioChannels);          // ac
    t.SetAudioSampleRate(o.AudioSampleRate);      // ar
    if (o.AudioBitrate > 0 && o.Target == 0) t.SetDefaultOptionInt("ab", o.AudioBitrate);
    if (o.AudioBitrateTolerance > 0) t.SetDefaultOptionInt("abt", o.AudioBitrateTolerance);
    t.SetAudioLanguage(o.AudioLanguage);  // alang
    t.SetAudioSyncMethod(o.AudioSync);    // async
    t.SetCodecTag("atag", o.AudioTag);
    if (o.DisableVideo) t.SetVideoDisable(true);  // vn
    t.SetFrameRate(o.FrameRate);                  // r
    t.SetAspectRatio(o.AspectRatio);              // aspect
    if (o.GopSize > 0) t.SetDefaultOptionInt("g", o.GopSize);
    if (o.VideoBitrate > 0 && o.Target == 0) t.SetDefaultOptionInt("vb", o.VideoBitrate);
    if (o.VideoMaxRate > 0) t.SetDefaultOptionInt("maxrate", o.VideoMaxRate);
    if (o.VideoMinRate > 0) t.SetDefaultOptionInt("minrate", o.VideoMinRate);
    if (o.VideoBitrateTolerance > 0) t.SetDefaultOptionInt("bt", o.VideoBitrateTolerance);
    if (o.VideoBufSize > 0) t.SetDefaultOptionInt("bufsize", o.VideoBufSize);
    t.SetVideoSyncMethod(o.VideoSync);  // vsync
    t.SetCodecTag("vtag", o.VideoTag);
    t.SetVideoLanguage(o.VideoLanguage);                // vlang
    if (o.DisableSubtitle) t.SetSubtitleDisable(true);  // sn
    t.SetSubtitleLanguage(o.SubtitleLanguage);          // slang
    t.SetInputSync(o.InputSync);                        // isync
    if (o.CopyTimestamps) t.SetCopyTs(true);            // copyts
    t.SetStartTime(o.StartTime);                        // ss
    t.SetRecordingTime(o.RecordingTime);                // t
    if (o.Info.Timestamp == 0)
        t.SetRecordingTimestamp(static_cast<int64_t>(std::time(nullptr)));
    else if (o.Info.Timestamp > 0)
        t.SetRecordingTimestamp(DateTimeToUnix(o.Info.Timestamp));
    if (o.Info.Year > 0) t.AddMetadata("year", std::to_string(o.Info.Year));
    if (o.Info.Track > 0) t.AddMetadata("track", std::to_string(o.Info.Track));
    const std::pair<const char*, const std::string*> texts[] = {
        {"title", &o.Info.Title},     {"author", &o.Info.Author}, {"copyright", &o.Info.Rights},
        {"comment", &o.Info.Comment}, {"album", &o.Info.Album},   {"genre", &o.Info.Genre}};
    for (const auto& [key, value] : texts)
        if (!value->empty()) t.AddMetadata(key, *value);
}

void ApplyOutputOptionsBeforeOpen(TCustomFFmpeg& t, TOutputOptions& o, TStreamDefaultList& list,
                                  const TOptionList& planned) {
    CollectStreamDefaults(list, o);
    ApplyTargetOptions(t, o);
    t.SetAudioCodec(list.Value("def_acodec"));
    t.SetVideoCodec(list.Value("def_vcodec"));
    t.SetSubtitleCodec(list.Value("def_scodec"));
    t.ApplyPreset("apre", list.Value("def_apre"));
    t.ApplyPreset("vpre", list.Value("def_vpre"));
    t.ApplyPreset("spre", list.Value("def_spre"));
    for (const auto& [key, value] : planned) t.SetOption(key, value);
    ApplyExtOptions(t, o.ExtOptions, false);
    ApplyOutputOptions(t, o);
    t.SetFrameSize(list.Value("def_s"));
    t.SetVideoFilters(list.Value("def_vf"));
    t.SetHookBitsPixel(o.HookBitsPixel);
    // Read by the open itself (which inputs' streams the output needs).
    t.FitPictures = o.FitPictures;
    t.FillMissingAudio = o.FillMissingAudio;
    t.MoreStreams = o.MoreStreams;
    t.BindInOrder = o.BindInOrder;
    t.KeepCover = o.KeepCover;
    t.SourceChapterTitles = o.SourceChapterTitles;
}

void ApplyNewStreamOptions(TCustomFFmpeg& t, const std::string& text, TStreamDefaultList& list) {
    auto take = [&](const std::string& key) {
        for (auto it = list.Lines.begin(); it != list.Lines.end(); ++it)
            if (it->first == key) {
                const std::string value = it->second;
                list.Lines.erase(it);
                t.SetOption(key, value);
                return;
            }
        t.SetOption(key, list.Value("def_" + key));
    };
    for (const auto& [key, value] : SplitExtOptions(text)) {
        if (key == "newaudio") {
            take("acodec");
            take("apre");
        } else if (key == "newvideo") {
            take("vcodec");
            take("vpre");
            take("s");
            take("vf");
        } else if (key == "newsubtitle") {
            take("scodec");
            take("spre");
        } else {
            continue;
        }
        t.SetOption(key, value);
    }
}

}  // namespace tw
