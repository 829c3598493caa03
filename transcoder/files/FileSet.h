// transcoder/files/FileSet.h — the files of one transcode job: opening the inputs
// and the output from the option values, the per-file tables they fill, and
// the I/O timeout every blocking open runs under.
//
// The openers read the option values as they stand when called and consume
// some of them (the forced format, the codec names, the start position...),
// so that the next file starts from a clean slate. They run on the
// configuring thread while the engine is idle. Inside, every failure is an
// exception; OpenInputFile and OpenOutputFile turn the ones their callers
// expect into false / -1 with the text in LastError.
#pragma once

#include <atomic>
#include <climits>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "transcoder/options/EngineOptions.h"
#include "transcoder/FFmpegException.h"
#include "transcoder/options/OptionState.h"

namespace tw {

/// One more stream of an output beyond its first video, audio and subtitle
/// stream (TFileSet::MoreStreams).
struct TMoreStream {
    AVMediaType Type = AVMEDIA_TYPE_AUDIO;  ///< audio or subtitle
    /// Which stream of that kind of each input it carries (from 0).
    int Ordinal = 0;
    /// "copy", or the name of the encoder.
    std::string Codec = "copy";
};

/// A failure an opener reports as its result (false, -1) with the text in
/// LastError, rather than raising it to its caller.
class TOpenRefused : public FFmpegException {
  public:
    using FFmpegException::FFmpegException;
};

class TFileSet : public TEngineOptions, public TFileTables {
  public:
    /// Largest capacity the engine accepts.
    static constexpr int MaxFilesLimit = 512;

    /// Allocates every per-file table with maxFiles entries. Throws
    /// std::logic_error "Assertion failure" (a programming error, not a user
    /// error) unless 1 <= maxFiles <= 512.
    explicit TFileSet(int maxFiles);

    /// Capacity: maximum number of input files and, separately, of output files.
    const int MaxFiles;
    /// The output is a joined one: every input plays into it in turn.
    bool JoinMode = false;
    /// Milliseconds for one blocking open; 0 or less disables the timeout.
    int IOTimeout = 10000;
    /// Microseconds; INT64_MAX = no open in progress, 0 = cancelled.
    std::atomic<int64_t> IOStartTime = INT64_MAX;
    /// Expected output duration in microseconds, -1 = unknown.
    int64_t TotalDuration = -1;

    // --- merge policy of the join driver. No option names reach these and
    // ResetOptions leaves them alone: every other caller gets the engine's
    // ordinary rules.
    /// Re-encoding join: each input's pictures are turned upright by their
    /// display matrix, scaled to fit the output size with their aspect kept
    /// and padded black, never stretched.
    bool FitPictures = false;
    /// Re-encoding join: the output has audio when any input has; an input
    /// without audio contributes silence as long as its video.
    bool FillMissingAudio = false;
    /// Streams the output gets after its ordinary ones, in this order. An
    /// encoded audio stream takes the channels and rate of the first input's
    /// stream it carries. Empty: the ordinary streams only.
    std::vector<TMoreStream> MoreStreams;
    /// Each output stream is bound to the stream of its kind numbered its
    /// KindOrdinal (the ordinary ones 0) of its input (in a join each set's
    /// own input, else the first), instead of the one with most frames.
    bool BindInOrder = false;
    /// The output carries the first input's cover art (its first attached
    /// picture), copied once: an attached picture in MP4/MOV, an image
    /// attachment in Matroska. The caller sees to it that the container
    /// holds it.
    bool KeepCover = false;

    /// Inputs after the first are closed again once probed, kept as a
    /// description (see InputFiles), and opened again when the run reads
    /// them; a joined run closes each when it has read it, so that only the
    /// first input and the one being read are open. Inputs that can be read
    /// only once (FIFOs, pipes) and those opened with a program id stay
    /// open. Set before the second input is opened; CloseFiles leaves it.
    bool ReopenInputs = false;

    /// Join: one chapter per input, titled by this list (input k gets entry
    /// k), besides the inputs' own chapters; empty for none.
    std::vector<std::string> SourceChapterTitles;

    /// What a run warned of that its caller may want to show (a jump of a
    /// source's clock, say), one line each; emptied when a run starts.
    /// Written by the engine thread during the run, read once it has ended.
    std::vector<std::string> Warnings;

    // --- opening input files (InputFile.cpp)
    /// Opens one input with the current option values and records it; its
    /// stream parameters become the option values'. False with the reason in
    /// LastError; FFmpegException for an unknown forced format, a failed
    /// allocation or an impossible stream type. On false nothing is recorded;
    /// option values consumed before the failure stay consumed.
    bool OpenInputFile(const std::string& fileName);
    /// Interrupt check registered for the calling thread during a blocking
    /// open (context: the file set, i.e. the engine): the open took longer
    /// than IOTimeout, or was cancelled (IOStartTime 0).
    static bool CheckIOTimeout(void* fileSet);

    // --- inputs closed after probing (InputReopen.cpp)
    /// The context the packets of an input are read from: the input itself,
    /// or the reader of one closed after probing, opened again first as it
    /// was opened at first and checked to hold the streams it was probed
    /// with (count, order, types, codecs, time bases); BeforeFindStreamInfo
    /// is called for it again, on this thread. Its streams are analysed
    /// again unless its MP4/MOV index shows them: with a short read, and
    /// once more in full (opened anew) when that does not find them all.
    /// The set owns it. Engine thread during a run. Throws FFmpegException naming the file
    /// when it cannot be opened again or its streams differ.
    AVFormatContext* InputReader(int file);
    /// Closes the reader of an input closed after probing; nothing for the
    /// others.
    void CloseInputReader(int file);
    /// Inputs whose demuxer is open now (their file descriptors too).
    int OpenInputCount() const;

    // --- the output file and its streams (OutputFile.cpp)
    /// Creates the output with its streams from the option values and opens
    /// it for writing. Returns the new OutputFileCount, or -1 with the reason
    /// in LastError. With join set and several inputs open, the output
    /// becomes a joined one (JoinMode). shownName is the name the user
    /// knows the output by (a file written under another name first, say);
    /// the texts of a failed open name it. Empty: fileName.
    int OpenOutputFile(const std::string& fileName, bool join, const std::string& shownName = {});
    /// Which media types the inputs hold: the first input only when joining
    /// (but audio of any input with FillMissingAudio), else all. Throws
    /// "invalid codec_type of input file".
    void CheckInputStreamTypes(bool join, bool& hasVideo, bool& hasAudio, bool& hasSubtitle);
    /// Adds a stream of the type to the context and its record to the slot.
    /// Throws the stream's failure text.
    void NewVideoStream(AVFormatContext* oc, int slot);
    void NewAudioStream(AVFormatContext* oc, int slot);
    void NewSubtitleStream(AVFormatContext* oc, int slot);
    /// The options "newvideo", "newaudio", "newsubtitle" (see NewStream).
    using TEngineOptions::NewAudioStream;
    using TEngineOptions::NewSubtitleStream;
    using TEngineOptions::NewVideoStream;

    // --- the set as a whole (FileSet.cpp)
    /// Joined output: one slot per input, all naming the one context, and
    /// TotalDuration the sum of the inputs' durations. Nothing otherwise.
    /// Throws "Too many input files to join" when the slots do not suffice.
    void ExpandJoinedOutput();
    /// Closes every output (deleting one left empty) and input and forgets
    /// the mapping lists that named them.
    void CloseFiles();
    /// True when an output stream is encoded rather than copied: the run
    /// then needs ReencodeLibraryKinds (binding/FFLoad.h) too.
    bool EncodesAnyStream() const;

    /// Called by OpenInputFile (and InputReader) after a successful open,
    /// before the streams are analysed, so that the owner can adjust the
    /// context; on the thread that opens. Empty: nothing.
    std::function<void(AVFormatContext* context)> OnBeforeFindStreamInfo;

    // --- options that reach the files (see TOptionFiles)
    /// "itsscale" "index:scale" for the input opened next. Throws
    /// "stream index over MAX_STREAMS(20)", or "Too many input files" when
    /// every input slot is taken.
    void SetInputTsScale(const std::string& text);
    /// A stream of the type on the last output file; throws "At least one
    /// output file must be specified" before the first output is open.
    void NewStream(AVMediaType type);
    /// The video streams of the opened inputs, files and streams in order:
    /// average frame rate, else real frame rate, else {0, 0}.
    std::vector<AVRational> InputVideoFrameRates() const;

  private:
    /// The file side of the options, attached to the option operations.
    class TOptionSide final : public TOptionFiles {
      public:
        explicit TOptionSide(TFileSet& files) : F(files) {}
        void SetInputTsScale(const std::string& text) override { F.SetInputTsScale(text); }
        void NewStream(AVMediaType type) override { F.NewStream(type); }
        void RecordingTimeSet(int64_t us) override { F.TotalDuration = us; }
        std::vector<AVRational> InputVideoFrameRates() const override {
            return F.InputVideoFrameRates();
        }

      private:
        TFileSet& F;
    };
    TOptionSide FOptionSide{*this};

    void BeforeFindStreamInfo(AVFormatContext* context) {
        if (OnBeforeFindStreamInfo) OnBeforeFindStreamInfo(context);
    }
    static int CheckedCapacity(int maxFiles);
    /// The body of OpenInputFile and OpenOutputFile: TOpenRefused for a
    /// refusal, other exceptions raised through.
    void OpenInput(const std::string& fileName);
    void OpenOutput(const std::string& fileName, bool join, const std::string& shownName);
    InputFormatPtr ReopenInput(int file, const TInputReopen& how);
    /// Opens an input closed after probing as it was first opened, before
    /// any analysis.
    InputFormatPtr OpenInputAgain(const TInputReopen& how);
    TOutputStream& NewOutputStreamRecord(AVFormatContext* oc, int slot);
    /// Adds the stream `more` describes to the context and the slot.
    void NewMoreStream(AVFormatContext* oc, int slot, const TMoreStream& more);
    /// KeepCover: the cover stream, complete, and its record; nothing when
    /// the first input has no cover.
    void NewCoverStream(AVFormatContext* oc, int slot);
};

}  // namespace tw
