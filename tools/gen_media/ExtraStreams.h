// tools/gen_media/ExtraStreams.h — the streams of a clip beyond its picture
// and first tone: subtitle cues and cover art.
#pragma once

#include <string>
#include <vector>

#include "ClipSpec.h"
#include "Handles.h"

namespace tw::gen {

/// The language tag of audio track n (from 0): "eng", "fra", "deu", ...
const char* TrackLanguage(int n);

/// Subtitle cues and a cover picture of one clip. Add creates the streams
/// before the header is written; Write writes their packets right after it
/// (before any audio or video packet: the MP3 muxer holds the sound back
/// until its pictures have come). The context owns the streams; this object
/// owns the packets until they are written.
class ExtraStreams {
  public:
    /// Adds what spec asks for (nothing for the defaults). Throws
    /// std::runtime_error when the container cannot hold it.
    void Add(AVFormatContext& oc, const ClipSpec& spec);
    /// Writes the cover and the cues.
    void Write(AVFormatContext& oc);
    /// ", 4 subtitle cues, cover png" or "".
    std::string Describe() const;

  private:
    void AddSubtitles(AVFormatContext& oc, const ClipSpec& spec);
    void AddCover(AVFormatContext& oc);

    AVStream* FSubtitles = nullptr;
    std::vector<PacketPtr> FCues;  ///< in milliseconds
    AVStream* FCover = nullptr;    ///< an attached picture stream (not Matroska's attachment)
    PacketPtr FPicture;
    bool FHasCover = false;
};

}  // namespace tw::gen
