// app/SmartMerge.cpp — copy what matches the first source, re-encode the rest.
#include "app/SmartMerge.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <climits>
#include <cmath>
#include <memory>
#include <numeric>

#include "app/EncodingTable.h"
#include "app/Messages.h"
#include "app/PendingOutput.h"
#include "probe/FileNames.h"
#include "probe/FileSurvey.h"

namespace tw {

namespace {

// The first value of the encoding table in which a differs from b
// ("size 640x360 / 320x240"), the parameter sets aside: a re-encoded part
// has sets of its own, which it carries before each key frame. "" when none.
std::string DifferenceBesideParameterSets(const TSourceFacts& a, TSourceFacts b) {
    // Square pixels, said or not, are square pixels.
    const auto square = [](AVRational r) { return r.num == 0 || r.num == r.den; };
    if (square(a.SampleAspect) && square(b.SampleAspect)) b.SampleAspect = a.SampleAspect;
    const std::vector<std::string> va = EncodingValues(a), vb = EncodingValues(b);
    const std::vector<std::string>& heads = EncodingHeads();
    for (size_t c = 0; c < heads.size(); ++c) {
        const std::string x = c < va.size() ? va[c] : "-", y = c < vb.size() ? vb[c] : "-";
        if (c != kParamsColumn && x != y) return heads[c] + " " + y + " / " + x;
    }
    return {};
}

bool HasFurtherTracks(const TSourceFacts& f) {
    return f.TracksOf(AVMEDIA_TYPE_AUDIO).size() > 1 || !f.TracksOf(AVMEDIA_TYPE_SUBTITLE).empty();
}

int64_t FileSize(const std::string& file) {
    struct stat st;
    return ::stat(file.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

// Why the folder of outputFile cannot take the parts and the merged file, or
// "". The parts are taken at the first source's bytes per second, the merged
// file as the copied sources plus the parts.
std::string SpaceProblem(const std::vector<TSourceFacts>& facts, const TSmartPlan& plan,
                         const std::string& outputFile) {
    const TSourceFacts& first = facts[0];
    if (first.Duration <= 0) return {};
    const double rate = double(FileSize(first.File)) / double(first.Duration);  // bytes per µs
    double parts = 0, copied = 0;
    for (size_t i = 0; i < facts.size(); ++i) {
        if (plan.Reencode[i])
            parts += rate * double(std::max<int64_t>(facts[i].Duration, 0));
        else
            copied += double(FileSize(facts[i].File));
    }
    const size_t slash = outputFile.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : outputFile.substr(0, slash + 1);
    struct statvfs vfs;
    if (::statvfs(folder.c_str(), &vfs) != 0) return {};
    const double free = double(vfs.f_bavail) * double(vfs.f_frsize);
    const double need = 2 * parts + copied;
    if (free >= need) return {};
    const auto mb = [](double bytes) { return std::to_string(int64_t(bytes / 1e6) + 1) + " MB"; };
    return TrF("磁盘空间不足：合并约需 {1}，{2} 只剩 {3}", {mb(need), folder, mb(free)});
}

// The output the parts are hidden files of: the merge's own output when it
// is itself the hidden file of one (".NAME.1a2b3c.part" beside NAME), so
// that the next merge to NAME removes parts a killed merge left.
std::string PartsTarget(const std::string& output) {
    const size_t slash = output.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : output.substr(0, slash + 1);
    const std::string name = output.substr(folder.size());
    const size_t tail = std::string(".123456.part").size();
    if (name.size() > tail + 1 && name[0] == '.' && name.compare(name.size() - 5, 5, ".part") == 0)
        return folder + name.substr(1, name.size() - 1 - tail);
    return output;
}

// Restores the encoder's progress handler when a smart merge ends.
struct TProgressHandlerSaved {
    TFFEncoder& Encoder;
    TProgressEvent Saved;
    ~TProgressHandlerSaved() { Encoder.OnProgress = Saved; }
};

}  // namespace

size_t TSmartPlan::ReencodeCount() const {
    size_t n = 0;
    for (const bool r : Reencode) n += r;
    return n;
}

TSmartPlan PlanSmartMerge(const std::vector<TSourceFacts>& sources, const std::string& container) {
    TSmartPlan plan;
    if (sources.empty()) return plan;
    plan.Reencode.assign(sources.size(), false);
    const TSourceFacts& first = sources[0];
    const auto refuse = [&plan](const std::string& why) {
        plan.Problem = TrF("{1}，不能智能合并", {why});
        return plan;
    };
    for (const TSourceFacts& s : sources)
        if (IsReadOnceSource(s.File)) return refuse(TrF("{1}：只能读取一次", {s.File}));
    const std::vector<std::string> reference = EncodingValues(first);
    for (size_t i = 1; i < sources.size(); ++i) {
        const TSourceFacts& s = sources[i];
        plan.Reencode[i] =
            EncodingValues(s) != reference || !FastMergeProblem({first, s}, container).empty();
    }
    if (const std::string problem = FastMergeProblem({first}, container); !problem.empty())
        return refuse(problem);
    if (plan.ReencodeCount() == 0) return plan;

    // What the re-encoded parts can match.
    if (!first.HasVideo || first.VideoCodec != AV_CODEC_ID_H264)
        return refuse(TrF(
            "{1}：视频编码为 {2}，不是 H.264",
            {first.File, first.HasVideo ? CodecName(first.VideoCodec) : std::string(Tr("无"))}));
    if (first.HasAudio && first.AudioCodec != AV_CODEC_ID_AAC)
        return refuse(
            TrF("{1}：音频编码为 {2}，不是 AAC", {first.File, CodecName(first.AudioCodec)}));
    // The AAC encoder here writes Low Complexity only.
    if (first.HasAudio && first.AudioProfile != FF_PROFILE_AAC_LOW &&
        first.AudioProfile != FF_PROFILE_UNKNOWN)
        return refuse(TrF("{1}：音频不是 AAC-LC", {first.File}));
    if (first.FrameRate.num <= 0 || first.FrameRate.den <= 0)
        return refuse(TrF("{1}：帧率未知", {first.File}));
    if (first.Rotation != 0) return refuse(TrF("{1}：画面有旋转", {first.File}));
    if (HasFurtherTracks(first)) return refuse(TrF("{1}：有多条音轨或字幕", {first.File}));
    if (!TCustomEncoder::HasEncoder("libx264") ||
        (first.HasAudio && !TCustomEncoder::HasEncoder("aac")))
        return refuse(Tr("没有 H.264 或 AAC 编码器"));
    for (size_t i = 1; i < sources.size(); ++i) {
        const TSourceFacts& s = sources[i];
        if (!plan.Reencode[i]) continue;
        // Nothing is made up or dropped: a part has the first one's streams.
        if (!s.HasVideo) return refuse(TrF("{1}：没有视频", {s.File}));
        if (s.HasAudio != first.HasAudio)
            return refuse(
                TrF(s.HasAudio ? NoTr("{1}：有第一个文件没有的音频") : NoTr("{1}：没有音频"),
                    {s.File}));
        if (HasFurtherTracks(s)) return refuse(TrF("{1}：有多条音轨或字幕", {s.File}));
    }
    return plan;
}

void MatchEncoding(TMergePlan& p, const TSourceFacts& first) {
    TVideoPlan& v = p.Video;
    v.Codec = "libx264";
    v.Width = first.Width;
    v.Height = first.Height;
    const AVRational sar = first.SampleAspect;
    if (sar.num > 0 && sar.den > 0 && sar.num != sar.den) {
        int64_t w = int64_t(first.Width) * sar.num, h = int64_t(first.Height) * sar.den;
        if (w > INT_MAX || h > INT_MAX) {
            const int64_t common = std::gcd(w, h);
            w /= common;
            h /= common;
        }
        if (w <= INT_MAX && h <= INT_MAX) v.DisplayAspect = {int(w), int(h)};
    }
    v.FrameRate = first.FrameRate;
    v.KeyFrameInterval = std::max(1, int(std::lround(av_q2d(first.FrameRate))));
    if (first.VideoBitrate > 0) v.Bitrate = first.VideoBitrate;
    // The constraint flags are x264's to set: its baseline is constrained.
    if (first.VideoProfile >= 0) v.Profile = first.VideoProfile & ~FF_PROFILE_H264_CONSTRAINED;
    if (first.VideoLevel > 0) v.Level = first.VideoLevel;
    if (first.PixFmt >= 0) v.PixelFormat = static_cast<AVPixelFormat>(first.PixFmt);
    // The part's own parameter sets travel in band, before every key frame.
    v.RepeatHeaders = true;
    if (first.HasAudio) {
        p.Audio.Codec = "aac";
        p.Audio.SampleRate = first.SampleRate;
        p.Audio.Channels = first.Channels;
        if (first.AudioBitrate > 0) p.Audio.Bitrate = first.AudioBitrate;
    }
}

TJoinResult SmartJoinFiles(TFFEncoder& encoder, const std::vector<std::string>& files,
                           const std::string& outputFile, std::string& message,
                           const TJoinSettings& settings, const std::function<void()>& onWait,
                           const std::function<bool()>& stopRequested,
                           std::vector<TSourceFacts>* survey, std::string* notice,
                           std::vector<std::string>* warnings) {
    message.clear();
    if (notice) notice->clear();
    if (warnings) warnings->clear();
    // The facts the caller read (the command line's survey), else read here.
    std::vector<TSourceFacts> facts = settings.Sources;
    if (facts.size() != files.size()) facts.clear();
    for (size_t i = facts.size(); i < files.size(); ++i) {
        const std::string& f = files[i];
        TSourceFacts read;
        read.File = f;
        std::string why;
        if (!IsReadOnceSource(f) && !SurveyFile(f, read, why)) {
            message = "LoadFile Error: " + why;
            return jrError;
        }
        facts.push_back(std::move(read));
    }
    if (survey) *survey = facts;
    if (facts.empty()) {
        message = "LoadFile Error: ";
        return jrError;
    }
    const TSmartPlan plan = PlanSmartMerge(facts, settings.Container);
    if (!plan.Problem.empty()) {
        message = plan.Problem;
        return jrError;
    }
    if (const std::string problem = SpaceProblem(facts, plan, outputFile); !problem.empty()) {
        message = problem;
        return jrError;
    }

    // One bar over the whole merge: the media time re-encoded, then the
    // media time copied.
    int64_t total = 0, done = 0, stepLength = 0;
    for (size_t i = 0; i < facts.size(); ++i) {
        const int64_t length = std::max<int64_t>(facts[i].Duration, 0);
        total += plan.Reencode[i] ? 2 * length : length;
    }
    TProgressHandlerSaved saved{encoder, encoder.OnProgress};
    encoder.OnProgress = [&](TCustomEncoder* sender, PProgressInfo info) {
        if (!saved.Saved || !info) return;
        TProgressInfo whole = *info;
        const int64_t at = info->CurrentOrZero();
        whole.CurrentTime = done + std::clamp<int64_t>(at, 0, stepLength);
        whole.TotalDuration = total;
        saved.Saved(sender, &whole);
    };

    std::vector<std::unique_ptr<TPendingOutput>> temporaries;
    std::vector<std::string> parts = files;
    // What the copy joins: the sources copied, and each part as its check
    // read it.
    std::vector<TSourceFacts> partFacts = facts;
    for (size_t i = 0; i < files.size(); ++i) {
        if (!plan.Reencode[i]) continue;
        if (stopRequested && stopRequested()) {
            message = Tr("用户停止");
            return jrStoppedEmpty;
        }
        auto part = std::make_unique<TPendingOutput>();
        std::string why;
        if (!part->Create(PartsTarget(outputFile), why)) {
            message = "SetOutputFile Error: " + why;
            return jrError;
        }
        TJoinSettings step;
        step.Threads = settings.Threads;
        // MP4 keeps the encoder's time base and the AAC priming.
        step.Container = "mp4";
        // A part's failure is told as one of the output.
        step.OutputName = settings.OutputName.empty() ? outputFile : settings.OutputName;
        step.Sources = {facts[i]};
        step.AdjustOutput = [&facts](TMergePlan& p) { MatchEncoding(p, facts[0]); };
        stepLength = std::max<int64_t>(facts[i].Duration, 0);
        std::vector<std::string> stepWarnings;
        const TJoinResult r = JoinFiles(encoder, {files[i]}, part->Path(), message, step, onWait,
                                        nullptr, nullptr, &stepWarnings);
        if (warnings) warnings->insert(warnings->end(), stepWarnings.begin(), stepWarnings.end());
        if (r == jrError) {
            message = TrF("{1}：{2}", {files[i], message});
            return jrError;
        }
        if (r != jrDone) {
            message = Tr("用户停止");
            return jrStoppedEmpty;
        }
        // A part that did not come out in the first source's encoding would
        // be copied into a file that does not play.
        // A part that cannot be read back differs in every value.
        TSourceFacts made;
        std::string unread;
        SurveyFile(part->Path(), made, unread);
        made.File = files[i];
        if (const std::string diff = DifferenceBesideParameterSets(facts[0], made); !diff.empty()) {
            message = TrF("{1}：重新编码后与第一个文件的编码仍不同（{2}）", {files[i], diff});
            return jrError;
        }
        parts[i] = part->Path();
        made.File = parts[i];
        partFacts[i] = std::move(made);
        temporaries.push_back(std::move(part));
        done += stepLength;
    }
    if (stopRequested && stopRequested()) {
        message = Tr("用户停止");
        return jrStoppedEmpty;
    }
    TJoinSettings copy = settings;
    copy.FastJoin = true;
    copy.SmartJoin = false;
    copy.CheckSources = nullptr;
    copy.AdjustOutput = nullptr;
    copy.SourceNames = files;
    copy.Sources = partFacts;
    stepLength = total - done;
    std::vector<std::string> copyWarnings;
    const TJoinResult r = JoinFiles(encoder, parts, outputFile, message, copy, onWait, nullptr,
                                    notice, &copyWarnings);
    if (warnings) warnings->insert(warnings->end(), copyWarnings.begin(), copyWarnings.end());
    // The engine names the parts by their hidden files: the user knows the
    // sources.
    for (size_t i = 0; i < parts.size(); ++i)
        for (size_t at; parts[i] != files[i] && (at = message.find(parts[i])) != std::string::npos;)
            message.replace(at, parts[i].size(), files[i]);
    return r;
}

}  // namespace tw
