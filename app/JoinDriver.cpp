// app/JoinDriver.cpp — the join driver.
#include "app/JoinDriver.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>

#include "app/MergedFileCheck.h"
#include "app/Messages.h"
#include "app/PendingOutput.h"
#include "app/SmartMerge.h"
#include "app/StreamPlan.h"
#include "diag/MainThread.h"

namespace tw {

std::string GetLibraryFolder() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    std::string exe(path, static_cast<size_t>(n));
    const std::string folder = exe.substr(0, exe.rfind('/') + 1) + "LibAV";
    struct stat st;
    if (::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return folder + "/";
    return {};
}

std::string SecondsToHMS(int seconds) {
    const int s = seconds % 60;
    const int m = ((seconds - s) / 60) % 60;
    const int h = ((seconds - s) / 60 - m) / 60;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2d:%.2d:%.2d", h, m, s);
    return buf;
}

std::string ProgressText(const TProgress& info) {
    const int64_t total = info.TotalDuration;
    if (total <= 0) return {};
    const int64_t current = info.CurrentOrZero();
    const int64_t percent = current * 100 / total;
    const int64_t seconds = current / 1000000;
    return std::to_string(percent) + "% " + SecondsToHMS(static_cast<int>(seconds)) + " " +
           std::to_string(info.TotalSize / 1024) + "kb";
}

TMergePlan MergeOutputPlan(TCustomDecoder& first, bool fastJoin, int threads,
                           const std::string& container) {
    TMergePlan p;
    p.Container = container.empty() ? kDefaultContainer : container;
    if (fastJoin) {
        p.Video.Codec = "copy";
        p.Audio.Codec = "copy";
    } else {
        p.Video.Codec = "libx264";
        if (TCustomEncoder::HasEncoder("libfaac")) {
            p.Audio.Codec = "libfaac";
        } else {
            p.Audio.Codec = "aac";
            p.Audio.Experimental = true;
        }
        if (threads != 0) p.Threads = std::max(threads, 0);
        // Closed groups of pictures: every key frame the muxers mark (MP4
        // sync samples, Matroska cues, the FLV key-frame index) is then an
        // IDR frame, where a player that seeks can start decoding. libx264
        // otherwise runs open groups, whose key frames are I-frames that the
        // pictures shown before them still refer across.
        p.Video.ClosedGop = true;
        // Every source fitted into the first one's picture, and silence for
        // one without sound.
        p.FitPictures = true;
        p.FillMissingAudio = true;
    }
    // Players can only seek a merged FLV whose header carries the final
    // duration, size and a key-frame index.
    // An index of no video at all is an invalid object to the readers.
    p.KeyFrameIndex = p.Container == "flv" && first.FirstVideoStream() >= 0;
    // A file that plays while it downloads needs its index first.
    p.FastStart = p.Container == "mp4" || p.Container == "mov";
    TAudioStreamInfo audio;
    TVideoStreamInfo video;
    first.GetAudioStreamInfo(-1, audio);
    p.Audio.Channels = audio.Channels;
    p.Audio.SampleRate = audio.SampleRate;
    p.Audio.Bitrate = audio.BitRate;
    first.GetVideoStreamInfo(-1, video);
    p.Video.Bitrate = video.BitRate;
    p.Video.Preset = "libx264-default";
    p.Join = true;
    return p;
}

std::string SourceTitle(const std::string& file) {
    std::string name = file.substr(file.rfind('/') + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

TInputOptions MergeInputOptions(const TJoinSettings& settings) {
    TInputOptions in;
    // The decoders take their thread count when their input is opened.
    if (!settings.FastJoin && settings.Threads != 0) in.Threads = std::max(settings.Threads, 0);
    return in;
}

void AdjustReencodePlan(TMergePlan& p, const std::vector<TSourceFacts>& sources) {
    // The picture of the first source as it is shown, in even numbers (4:2:0
    // has one chroma sample per two pixels each way); every source is fitted
    // into it, and into the format every player takes.
    for (const TSourceFacts& s : sources) {
        if (!s.HasVideo) continue;
        int w = 0, h = 0;
        s.DisplaySize(w, h);
        w &= ~1;
        h &= ~1;
        if (w >= 2 && h >= 2) {
            p.Video.Width = w;
            p.Video.Height = h;
        }
        break;
    }
    p.Video.PixelFormat = AV_PIX_FMT_YUV420P;
    // The audio of the first source that has some: a merge whose first
    // source is silent still carries the others' sound.
    if (p.Audio.Channels > 0) return;
    for (const TSourceFacts& s : sources) {
        if (!s.HasAudio) continue;
        p.Audio.Channels = s.Channels > 0 ? s.Channels : -1;
        p.Audio.SampleRate = s.SampleRate > 0 ? s.SampleRate : -1;
        p.Audio.Bitrate = s.AudioBitrate;
        break;
    }
}

TJoinResult JoinFiles(TFFEncoder& encoder, const std::vector<std::string>& files,
                      const std::string& outputFile, std::string& message,
                      const TJoinSettings& settings, const std::function<void()>& onWait,
                      std::vector<TSourceFacts>* survey, std::string* notice,
                      std::vector<std::string>* warnings) {
    message.clear();
    if (notice) notice->clear();
    if (encoder.Working && !encoder.Done) {
        message = "Encoder Busy!";
        return jrError;
    }
    encoder.ClearTasks();
    // The first source is described where the engine opened it: no second
    // open and analysis of it. A source that can be read only once (a FIFO,
    // a pipe) could not be opened twice anyway.
    encoder.Decoder.CloseFile();
    if (files.empty()) {
        message = "LoadFile Error: " + encoder.Decoder.LastError;
        return jrError;
    }
    for (size_t i = 0; i < files.size(); ++i) {
        TInputOptions in = MergeInputOptions(settings);
        // A copy reads the sources one after another: each is opened when
        // the merge comes to it, so that many sources do not hold their
        // buffers all at once. Not when a handler wants to see every source
        // before its analysis: it would be called again, on the worker.
        in.ReopenInputs = settings.FastJoin && !encoder.OnBeforeFindStreamInfo;
        const bool ok =
            i == 0 ? encoder.AddTask(files[0], &in) >= 0 : encoder.AddInputFile(0, files[i], &in);
        if (!ok) {
            message = (i == 0 ? "LoadFile Error: " : "AddTask Error: ") + encoder.LastError;
            return jrError;
        }
    }
    // The first input stays open for the whole run (only the later ones are
    // closed after probing).
    if (!encoder.AttachDecoderToInput(0, 0)) {
        message = "LoadFile Error: " + files[0];
        return jrError;
    }
    // What the caller read of the sources, or what the engine found.
    std::vector<TSourceFacts> facts = settings.Sources;
    if (facts.size() != files.size()) {
        facts.clear();
        for (size_t i = 0; i < files.size(); ++i)
            facts.push_back(SurveySource(encoder.InputContext(0, static_cast<int>(i)), files[i]));
    }
    if (survey) *survey = facts;
    bool fastJoin = settings.FastJoin;
    if (settings.CheckSources && !settings.CheckSources(facts, fastJoin, message)) return jrError;
    TMergePlan out =
        MergeOutputPlan(encoder.Decoder, fastJoin, settings.Threads, settings.Container);
    if (fastJoin) {
        // Refused before anything is written: the container could not hold
        // it, or a source would leave a hole in a stream.
        message = FastMergeProblem(facts, settings.Container);
        if (!message.empty()) return jrError;
    } else {
        AdjustReencodePlan(out, facts);
        if (settings.AdjustOutput) settings.AdjustOutput(out);
    }
    // Every further track of the first source the container holds, each
    // followed by the same track of the later sources; subtitles are among
    // them, never the engine's ordinary (encoded) subtitle stream.
    const TStreamPlan plan =
        PlanStreams(facts[0], settings.Container, settings.FastJoin, out.Audio.Codec);
    out.MoreStreams = plan.More;
    out.BindInOrder = true;
    out.KeepCover = plan.KeepCover;
    out.DisableSubtitle = true;
    if (notice) *notice = plan.Notice;
    if (settings.ChaptersPerSource)
        for (const std::string& f : settings.SourceNames.empty() ? files : settings.SourceNames)
            out.SourceChapterTitles.push_back(SourceTitle(f));
    out.FileName = settings.OutputName;
    if (!encoder.SetOutputPlan(0, outputFile, out)) {
        message = "SetOutputFile Error: " + encoder.LastError;
        return jrError;
    }
    encoder.Start(1);
    // Wait without burning a processor: the call queue wakes us when there
    // is something to run, and at least every 100 ms.
    while (!encoder.Done) {
        if (onWait) onWait();
        if (IsMainThread())
            WaitAndDrainMainThreadCalls(std::chrono::milliseconds(100));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (warnings) *warnings = encoder.TaskWarnings(0);
    const TTerminateInfo outcome = encoder.TaskOutcome(0);
    if (outcome.ErrorRaised) {
        message = "FatalException: " + outcome.ErrorMessage;
        return jrError;
    }
    if (outcome.Finished) return jrDone;
    message = Tr("用户停止");
    // A file of a header and an ending only would replace the old output
    // with nothing worth keeping.
    return encoder.TaskWroteMedia(0) ? jrStopped : jrStoppedEmpty;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

TJoinResult MergeWithChecks(TJoinUser& user, TFFEncoder& encoder, std::vector<std::string>& files,
                            const std::string& outputFile, const TJoinSettings& settings,
                            const std::function<void()>& onWait) {
    if (outputFile.empty()) {
        user.Tell(Tr("请设定“合并到文件”"));
        return jrError;
    }
    // Checked before anything is asked: an old output must not be at stake
    // when no merge follows, and a source must never be overwritten.
    if (files.empty()) {
        user.Tell(Tr("请增加视频文件"));
        return jrError;
    }
    for (const auto& f : files)
        if (SameFile(f, outputFile)) {
            user.Tell(TrF("{1}是源文件组中的文件，不能作为合并到文件", {outputFile}));
            return jrError;
        }
    struct stat st;
    if (::stat(outputFile.c_str(), &st) == 0) {
        // A device or a folder is no file to replace.
        if (!S_ISREG(st.st_mode)) {
            user.Tell(TrF("{1}不是普通文件，不能作为合并到文件", {outputFile}));
            return jrError;
        }
        if (!user.AskYesNo(TrF("{1}已经存在，是否覆盖？", {outputFile}))) return jrError;
    }
    // The merge writes beside the output; the old output is replaced only by
    // a merge that is kept (done, or stopped with a playable partial file).
    TPendingOutput pending;
    std::string why;
    if (!pending.Create(outputFile, why)) {
        user.Tell(::stat(outputFile.c_str(), &st) == 0
                      ? TrF("{1}已经存在，并且不可覆盖", {outputFile})
                      : "SetOutputFile Error: " + why);
        return jrError;
    }
    std::string message, notice;
    std::vector<TSourceFacts> sources;
    std::vector<std::string> warnings;
    TJoinResult result;
    // The merge's texts name the output, not the file it is written to first.
    TJoinSettings run = settings;
    run.OutputName = outputFile;
    try {
        result = settings.SmartJoin
                     ? SmartJoinFiles(
                           encoder, files, pending.Path(), message, run, onWait,
                           [&user] { return user.StopRequested(); }, &sources, &notice, &warnings)
                     : JoinFiles(encoder, files, pending.Path(), message, run, onWait, &sources,
                                 &notice, &warnings);
    } catch (...) {
        user.SetStateText("");
        throw;
    }
    user.SetStateText("");
    for (const std::string& w : warnings) user.Warn(w);
    if (result == jrStoppedEmpty) return result;  // the pending file goes with its destructor
    if (!KeepsOutput(result)) {
        user.Tell(message);  // the pending file goes with its destructor
        return result;
    }
    if (!pending.Commit(why)) {
        user.Tell("SetOutputFile Error: " + why);
        return jrError;
    }
    const bool noticeShown = notice.empty() || user.Notice(notice);
    if (result == jrDone) {
        user.Notify(nkInformation,
                    noticeShown ? std::string(Tr("合并成功")) : Tr("合并成功") + ("\n" + notice));
        const bool deleteSources = user.DeleteSources(settings.DeleteSources);
        if (deleteSources && user.StopRequested()) {
            // A stop once the merge is in place keeps it, and the sources.
            user.Notify(nkWarning, Tr("已停止，源文件未删除"));
        } else if (deleteSources) {
            // A smart merge's re-encoded parts carry parameter sets of their
            // own: its sources are checked as those of a re-encoding merge.
            if (!VerifyMerge(sources, outputFile, settings.FastJoin && !settings.SmartJoin, why)) {
                user.Notify(nkWarning, TrF("合并后的文件未通过检查，源文件未删除：{1}", {why}));
                return result;
            }
            std::string failed;
            for (const auto& f : files)
                if (::unlink(f.c_str()) != 0 && ::access(f.c_str(), F_OK) == 0) failed += f + "\n";
            if (!failed.empty()) {
                user.Notify(nkWarning, TrF("合并成功，但以下源文件未能删除：\n{1}", {failed}));
            } else {
                files.clear();
                user.Notify(nkInformation, Tr("合并后删除源文件组，成功"));
            }
        }
    }
    return result;
}

}  // namespace tw
