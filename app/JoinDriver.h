// app/JoinDriver.h — the join driver: an ordered list of sources, an output
// name and the fast-merge switch become one encoder job; shared by the
// window and the command line.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/OutputContainer.h"
#include "encoder/FFEncode.h"
#include "media/SourceSurvey.h"

namespace tw {

/// Result codes of JoinFiles and MergeWithChecks (the values are the
/// driver's int32 codes), and what each leaves at the output name:
/// jrError   the merge failed or was refused: nothing new at the output, an
///           old output as it was, the unfinished file removed;
/// jrDone    the merge ran to its end: the merged file is the output;
/// jrStopped the user stopped it: the partial file (with its ending) is the
///           output;
/// jrStoppedEmpty the user stopped it before any picture or sound was
///           written: like jrError nothing changes at the output (an old
///           output stays as it was, the unfinished file is removed), but
///           nothing is told (a stop by the user).
enum TJoinResult { jrError = -1, jrDone = 0, jrStopped = 1, jrStoppedEmpty = 2 };

/// True when a merge that ended with result puts what it wrote in place of
/// the output (done, or stopped with a partial file that holds media).
constexpr bool KeepsOutput(TJoinResult result) { return result == jrDone || result == jrStopped; }

/// What a message reports (the window shows the matching icon): a result or
/// note, something that needs the user's attention, a failure or refusal.
enum TNoticeKind { nkInformation, nkWarning, nkError };

/// How the driver asks and tells the user (the window: message boxes and
/// the state label; the command line: a terminal; tests: a script).
class TJoinUser {
  public:
    virtual ~TJoinUser() = default;
    /// A yes/no question; true only for yes.
    virtual bool AskYesNo(const std::string& text) = 0;
    /// A message with an OK button: a failure or a refusal (nkError).
    virtual void Tell(const std::string& text) = 0;
    /// A message of the given kind; by default told like any other.
    virtual void Notify(TNoticeKind kind, const std::string& text) {
        (void)kind;
        Tell(text);
    }
    /// The state line (progress); empty clears it.
    virtual void SetStateText(const std::string& text) = 0;
    /// True when the user asked to stop after the merged file was put in
    /// place: the sources are then kept. Main thread.
    virtual bool StopRequested() { return false; }
    /// What a merge that ran left out of the output (streams the container
    /// cannot hold). True when shown; otherwise the driver adds it to its
    /// success message.
    virtual bool Notice(const std::string& text) {
        (void)text;
        return false;
    }
    /// Whether the sources go, asked once the merge is in place; setting is
    /// the settings' DeleteSources, the answer by default.
    virtual bool DeleteSources(bool setting) { return setting; }
    /// Something the user should know about a merge that goes on (a jump of
    /// a source's clock, say); told like any message unless overridden.
    virtual void Warn(const std::string& text) { Notify(nkWarning, text); }
};

/// TJoinSettings::Threads: let the libraries choose ("threads" 0).
constexpr int kAutoThreads = -1;

struct TJoinSettings {
    bool FastJoin = false;
    bool DeleteSources = false;
    /// Decoder and encoder threads of a re-encoding merge (0 = the engine's
    /// default of one, kAutoThreads = the libraries' automatic choice).
    int Threads = 0;
    /// The output's muxer: "flv", "mp4", "mov", "matroska" or "mpegts" (both
    /// front ends take it from the output's name with ContainerFor).
    std::string Container = kDefaultContainer;
    /// Called once every source is open (by the engine, the only open of a
    /// source that can be read once), before anything is written, with the
    /// facts of every source: may switch fastJoin (the copy or re-encode
    /// choice), or refuse the merge with false and a message (jrError).
    std::function<bool(const std::vector<TSourceFacts>& sources, bool& fastJoin,
                       std::string& message)>
        CheckSources = nullptr;
    /// Copy the sources that share the first one's encoding and re-encode
    /// only the others to it (see SmartMerge.h); FastJoin is then ignored.
    bool SmartJoin = false;
    /// A re-encoding merge: called with the output's plan once it is
    /// complete, before the output is set up (to match another encoding).
    std::function<void(TMergePlan& plan)> AdjustOutput = nullptr;
    /// The name the user knows the output by, when the merge writes another
    /// file first (TPendingOutput): the texts of a failure name it. Empty:
    /// the file written.
    std::string OutputName = {};
    /// One chapter per source, titled with its file name without the
    /// extension (containers that hold chapters: MP4, MOV, Matroska).
    bool ChaptersPerSource = false;
    /// The names the sources' chapters are titled after, when the files
    /// merged stand in for them (a smart merge's re-encoded parts); empty:
    /// the files' own names.
    std::vector<std::string> SourceNames = {};
    /// The facts of every source in merge order, when the caller has read
    /// them already (the command line's survey, a smart merge's plan): the
    /// merge takes them instead of surveying the sources again. Ignored
    /// unless there is one per source.
    std::vector<TSourceFacts> Sources = {};
};

/// The title of a source's chapter: the file name without folder and
/// extension ("/v/Part 1.mp4" gives "Part 1", ".hidden" stays).
std::string SourceTitle(const std::string& file);

/// The folder the libraries are loaded from: LibAV beside the executable
/// (with a trailing separator) when it exists, else "" (the loader then uses
/// the system's library search).
std::string GetLibraryFolder();

/// "%.2d:%.2d:%.2d" of hours, minutes, seconds (hours not limited).
std::string SecondsToHMS(int seconds);

/// The state text of a progress report: "50% 00:01:23 4882kb"; empty when
/// the total is unknown (the label keeps its text). A report without a media
/// time yet shows 0% and 00:00:00.
std::string ProgressText(const TProgress& info);

/// The output plan of a merge (FLV, copy or H.264 + AAC in closed groups
/// of pictures with the re-encoding merge's rules, FitPictures and
/// FillMissingAudio, the first file's audio and bit-rate values, the
/// key-frame index for seeking when there is video). Another container is
/// forced by its muxer name; MP4 and MOV get their index in front of the
/// media data (FastStart). threads as TJoinSettings::Threads.
TMergePlan MergeOutputPlan(TCustomDecoder& firstFile, bool fastJoin, int threads,
                           const std::string& container = kDefaultContainer);

/// The input record of every source: defaults, and for a re-encoding merge
/// the decoders' thread count.
TInputOptions MergeInputOptions(const TJoinSettings& settings);

/// A re-encoding merge's picture and sound: the first source's displayed
/// size (rotation applied) in even numbers, 4:2:0 pictures, and the audio
/// values of the first source that has audio when the first has none.
void AdjustReencodePlan(TMergePlan& plan, const std::vector<TSourceFacts>& sources);

/// Runs the job; returns a TJoinResult with the text in message. While it
/// waits it serves the main-thread call queue at least every 100 ms.
/// onWait is called on every pass of the wait (for a stop request, say).
/// A fast merge whose sources cannot be copied into one FLV file fails
/// before the output is set up. survey, when given, receives the facts of
/// every source (for the checks after the merge). The output keeps every
/// audio and subtitle track of the first source the container can hold,
/// each carried on by the same track of every later source; notice, when
/// given, receives what it leaves out ("" when nothing); warnings what the
/// run warned of (the engine's Warnings), whatever its result.
TJoinResult JoinFiles(TFFEncoder& encoder, const std::vector<std::string>& files,
                      const std::string& outputFile, std::string& message,
                      const TJoinSettings& settings, const std::function<void()>& onWait = {},
                      std::vector<TSourceFacts>* survey = nullptr, std::string* notice = nullptr,
                      std::vector<std::string>* warnings = nullptr);

/// True when both names lead to the same existing file, however written.
bool SameFile(const std::string& a, const std::string& b);

/// The checks and messages around a merge (the Join button): empty output
/// name, empty list, output among the sources, an output that is no regular
/// file (refused), existing output (asked), the merge itself into a file
/// beside the output that replaces it only when the merge is kept, what it
/// left out (TJoinUser::Notice), then the verified deletion of the sources. Returns the merge's
/// result, or jrError when a check stopped it. Whether the sources go is asked of
/// user.DeleteSources only once the merge has ended, so a user may change their mind while the
/// merge runs (the window's check box stays enabled), with settings.DeleteSources as the
/// default. What the run warned of goes to user.Warn before the outcome is
/// told. Runs on any one thread (the window: a thread of its own), the user's calls with it.
TJoinResult MergeWithChecks(TJoinUser& user, TFFEncoder& encoder, std::vector<std::string>& files,
                            const std::string& outputFile, const TJoinSettings& settings,
                            const std::function<void()>& onWait = {});

}  // namespace tw
