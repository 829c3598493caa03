// transcoder/RunEvents.h — what one transcode tells its owner, and asks of
// it, while it runs: progress, the audio and video hooks and the preview,
// warnings, media packets written, whether to stop, and the readers of the
// inputs.
#pragma once

#include <cstdint>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

#include "diag/Bitmap.h"
#include "diag/FFLog.h"
#include "transcoder/Progress.h"

namespace tw {

/// Implemented by the owner of a run (the engine). Every call comes from the
/// thread that runs the transcode, except StopRequested, which the
/// interrupt check may also call from inside a blocking library call on
/// that thread. A handler's exception reaches the caller unchanged unless
/// the calling part says otherwise.
class TRunEvents {
  public:
    virtual ~TRunEvents() = default;

    /// The sender the run's log lines carry.
    virtual TLogSender LogSender() const = 0;
    /// A stop was requested (by any thread); polled by the run.
    virtual bool StopRequested() const = 0;
    /// Interrupt check for InterruptCB (context: the TRunEvents).
    static bool CheckStop(void* events) {
        return static_cast<const TRunEvents*>(events)->StopRequested();
    }

    /// Whether each handler is there: the setup decodes only for those.
    virtual bool HasProgress() const = 0;
    virtual bool HasAudioHook() const = 0;
    virtual bool HasVideoInputHook() const = 0;
    virtual bool HasVideoOutputHook() const = 0;
    virtual bool HasPreview() const = 0;
    /// Preview flags (TPictureState) as they stand now.
    virtual int PreviewFlags() const = 0;

    /// One progress report.
    virtual void Progress(const TProgress& progress) = 0;
    /// Decoded audio (see TCustomFFmpeg::AudioHookCallback).
    virtual void AudioHook(uint8_t* buffer, int sampleFormat, int channels, int sampleRate,
                           int size, int64_t pts) = 0;
    /// A picture for the input (input set) or output video hook (see
    /// TCustomFFmpeg::VideoInputHookCallback).
    virtual void VideoHook(bool input, TBitmap* bitmap, bool& stopHook, bool& update, int64_t pts,
                           int frameNumber) = 0;
    /// The input (input set) or output video hook asked to stop, or failed:
    /// it is not called again, in this run or later ones.
    virtual void DropVideoHook(bool input) = 0;
    /// A preview picture (preview flag pfBitmap).
    virtual void Preview(TBitmap* bitmap, int64_t pts, int frameNumber) = 0;
    /// A line the caller may want to show after the run.
    virtual void Warning(const std::string& text) = 0;
    /// An audio or video packet reached a muxer.
    virtual void MediaPacketWritten() = 0;

    /// The context the packets of input `file` are read from (see
    /// TFileSet::InputReader); throws FFmpegException naming the file.
    virtual AVFormatContext* InputReader(int file) = 0;
    /// The run has read input `file` to its end.
    virtual void CloseInputReader(int file) = 0;
};

}  // namespace tw
