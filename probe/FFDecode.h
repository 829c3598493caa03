// probe/FFDecode.h — the probing component: opens a media file (or describes
// an input the engine opened), counts its streams and describes them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

#include "binding/LibPtr.h"
#include "binding/UnicodeProtocol.h"
#include "diag/FFBaseComponent.h"
#include "diag/FormatConverter.h"

namespace tw {

/// What probing knows of an audio stream; -1 (texts empty) where unknown.
struct TAudioStreamInfo {
    std::string Language;
    std::string CodecName;
    int64_t StartTime = -1;    // stream time base
    int64_t StartTimeUs = -1;  // microseconds
    int64_t Duration = -1;     // stream time base
    int64_t DurationUs = -1;   // microseconds
    int BitRate = -1;
    int Channels = -1;
    int SampleRate = -1;
    int SampleFormat = -1;  // AVSampleFormat
};

/// What probing knows of a video stream; -1 (texts empty) where unknown.
struct TVideoStreamInfo {
    std::string Language;
    std::string CodecName;
    int64_t StartTime = -1;
    int64_t StartTimeUs = -1;
    int64_t Duration = -1;
    int64_t DurationUs = -1;
    int BitRate = -1;
    int Height = -1;
    int Width = -1;
    float AspectRatio = -1.0f;  // display aspect: width x sample aspect / height
    int PixFmt = -1;            // AVPixelFormat
    int FrameRateNum = -1;
    int FrameRateDen = -1;
};

/// Used on the caller's thread. Without a file every value is -1.
class TCustomDecoder : public TFFBaseComponent {
  public:
    TCustomDecoder();
    ~TCustomDecoder() override;

    /// Opens and analyses a file (the forced input format name may be
    /// empty). False with LastError set on failure; the previous file is
    /// closed in every case.
    bool LoadFile(const std::string& fileName, const std::string& formatName = "");
    /// Describes a context opened elsewhere (an engine input); it is never
    /// closed by this component and must stay open while it is described.
    virtual void AttachContext(AVFormatContext* context);
    /// Forgets the context, closing it when this component opened it.
    virtual void CloseFile();

    /// index -1: the first stream of the type. False (the record at -1, the
    /// reason reported) when the stream cannot be described.
    bool GetAudioStreamInfo(int index, TAudioStreamInfo& info);
    bool GetAudioStreamInfo(TAudioStreamInfo& info) { return GetAudioStreamInfo(-1, info); }
    bool GetVideoStreamInfo(int index, TVideoStreamInfo& info);
    bool GetVideoStreamInfo(TVideoStreamInfo& info) { return GetVideoStreamInfo(-1, info); }

    /// Throws std::runtime_error "LibAVCodec not loaded." (then LibAVFormat,
    /// LibAVUtil, LibSwScale) for the first needed library not loaded.
    static void CheckLibraries();

    std::string LastError;
    AVFormatContext* FormatContext() const { return FContext; }
    bool Owned() const { return FOwnedContext != nullptr; }
    const std::string& FormatName() const { return FFormatName; }
    int64_t FileSize() const { return FFileSize; }
    int StreamCount() const { return FStreamCount; }
    int ProgramCount() const { return FProgramCount; }
    int AudioStreamCount() const { return FAudioStreamCount; }
    int VideoStreamCount() const { return FVideoStreamCount; }
    int SubtitleStreamCount() const { return FSubtitleStreamCount; }
    int FirstAudioStream() const { return FFirstAudioStream; }
    /// The first video stream that is no attached picture (cover art), or -1.
    int FirstVideoStream() const { return FFirstVideoStream; }
    int FirstSubtitleStream() const { return FFirstSubtitleStream; }

  protected:
    /// Recomputes the values from the context.
    virtual void Refresh();
    /// Logs the text with this component as sender and keeps it in LastError.
    void Report(int libraryLevel, const std::string& text);

  private:
    AVStream* StreamFor(int index, AVMediaType type, int first, const char* kind);

    // The context described: FOwnedContext's, or one attached from elsewhere.
    AVFormatContext* FContext = nullptr;
    // A file this component opened; its I/O of the unicode protocol is
    // closed after it.
    InputFormatPtr FOwnedContext;
    std::string FFormatName;
    int64_t FFileSize = -1;
    int FStreamCount = -1;
    int FProgramCount = -1;
    int FAudioStreamCount = -1;
    int FVideoStreamCount = -1;
    int FSubtitleStreamCount = -1;
    int FFirstAudioStream = -1;
    int FFirstVideoStream = -1;
    int FFirstSubtitleStream = -1;
};

/// The probing component the encoder and the join driver use. It will carry
/// a picture converter for thumbnails; probing itself needs none.
class TFFDecoder : public TCustomDecoder {
  public:
    TFFDecoder() : FConverter(std::make_unique<TFormatConverter>()) {}
    /// Turns pictures of the probed file into bitmaps for the application.
    TFormatConverter& Converter() { return *FConverter; }

  private:
    std::unique_ptr<TFormatConverter> FConverter;
};

}  // namespace tw
