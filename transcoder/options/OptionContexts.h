// transcoder/options/OptionContexts.h — the generic option store: library option
// contexts that take the options the engine does not know itself, and the
// record of which options were given.
#pragma once

#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include "binding/LibPtr.h"

namespace tw {

/// One recorded generic option. Value is empty (HasValue false) when a library
/// option context accepted the option under Name; otherwise Name and Value
/// are the texts as given, known only to a codec's or muxer's private options.
struct TRecordedOption {
    std::string Name;
    std::string Value;
    bool HasValue = false;
};

/// The option contexts of one engine. Needs libavcodec, libavformat and
/// libswscale bound for its whole life. Configuring thread only.
class TOptionContexts {
  public:
    /// Number of codec option contexts: video, audio, data, subtitle, attachment.
    static constexpr int CodecContextCount = 5;

    /// Allocates the five codec option contexts with the library defaults of
    /// their media type, the format option context and a 16x16 → 16x16
    /// yuv420p scaler context created with swsFlags. Throws FFmpegException
    /// "Could not allocate the option contexts" when the library fails.
    explicit TOptionContexts(int swsFlags);
    ~TOptionContexts();
    TOptionContexts(const TOptionContexts&) = delete;
    TOptionContexts& operator=(const TOptionContexts&) = delete;

    /// The codec option context of a media type (AVMEDIA_TYPE_VIDEO ..
    /// AVMEDIA_TYPE_ATTACHMENT); throws std::out_of_range for another type.
    AVCodecContext* Codec(AVMediaType type) const;
    AVFormatContext* Format() const { return FFormat.get(); }
    SwsContext* Scaler() const { return FScaler.get(); }

    /// Appends a record; the store keeps its own copies of the texts.
    void Record(const std::string& name);
    void Record(const std::string& name, const std::string& value);
    const std::vector<TRecordedOption>& Recorded() const { return FRecorded; }
    int RecordedCount() const { return static_cast<int>(FRecorded.size()); }

  private:
    std::vector<CodecContextPtr> FCodecs;
    FormatContextPtr FFormat;
    SwsContextPtr FScaler;
    std::vector<TRecordedOption> FRecorded;
};

}  // namespace tw
