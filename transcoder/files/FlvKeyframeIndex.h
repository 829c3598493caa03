// transcoder/files/FlvKeyframeIndex.h — the key-frame index of an FLV output,
// written into room kept for it in the onMetaData tag, so that the finished
// file need not be read back and moved to make room for it.
//
// The FLV muxer writes the index ("flvflags" add_keyframe_index) by reading
// the whole finished file and writing every byte again further on. For an
// output written through our own file writer (binding/AsyncFileWriter.h)
// the index is taken over instead: before the header, metadata entries of
// blank text are added whose room the header then holds; while the file is
// written, its tags are followed as the bytes go by and the position and
// time of every video key frame are noted; after the trailer the room is
// overwritten with the index. An index larger than its room is fitted by
// moving the file's tags by the difference, as the muxer would.
//
// What is written into onMetaData, in place of the room: hasVideo,
// hasKeyframes, hasAudio, hasMetadata, canSeekToEnd (booleans), datasize,
// videosize, audiosize (bytes), lasttimestamp, lastkeyframetimestamp
// (seconds), lastkeyframelocation (file position), then "keyframes", an
// object of two strict arrays of numbers, "filepositions" (the start of each
// video key-frame tag) and "times" (that tag's time in seconds), and last,
// when room is left, "padding", a strict array of nulls that fills it to the
// byte (nulls show up nowhere in a reader's metadata).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "binding/AsyncFileWriter.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace tw {

/// Follows one FLV output's bytes and writes its key-frame index. Lives as
/// the observer of the output's file (WatchAsyncFile); every call comes from
/// the thread that writes the output.
class TFlvKeyframeIndex : public TAsyncFileObserver {
  public:
    /// Before avformat_write_header. When oc is an FLV output whose muxer is
    /// asked for the key-frame index (and for onMetaData), written by
    /// OpenAsyncFile into a regular file: clears the muxer's
    /// add_keyframe_index flag, adds the room to oc->metadata (sized from
    /// expectedDuration, microseconds, -1 when unknown), drops metadata
    /// entries of the names the index writes itself (copied from a source,
    /// they would describe that source) and starts following the file.
    /// Returns true when taken over; otherwise changes nothing.
    static bool TakeOver(AVFormatContext* oc, int64_t expectedDuration);
    /// After avformat_write_header succeeded: flushes the header through the
    /// context and finds the room in it. Does nothing for an output not taken
    /// over. Throws FFmpegException when the header lacks its onMetaData tag.
    static void HeaderWritten(AVFormatContext* oc);
    /// After av_write_trailer succeeded: writes the index into the room (or,
    /// when it does not fit, moves the tags to make it fit). Does nothing for
    /// an output not taken over. When the tags could not be followed as they
    /// were written (a write that went back before the trailer), they are
    /// read back from the file first. Returns 0 or a negative library code of
    /// a failed read or write; throws FFmpegException when the file holds no
    /// sound FLV tags (no index is then written).
    static int Finish(AVFormatContext* oc);

    /// Test seam: the room holds this many index entries whatever the
    /// duration (0, the default: sized from the duration).
    static void SetRoomEntriesForTesting(int entries);
    /// Test seam: when set, the tags are not followed after the header, and
    /// Finish reads them back from the file.
    static void SetReadBackForTesting(bool readBack);

    void Written(int64_t pos, const uint8_t* data, size_t size) override;

  private:
    struct TEntry {
        int64_t Position;
        uint32_t Time;  // milliseconds, as in the tag
    };

    explicit TFlvKeyframeIndex(bool hasAudio) : FHasAudio(hasAudio) {}
    void Feed(const uint8_t* data, size_t size);
    void TagDone();
    void FindRoom();
    void ReadTagsBack(AVIOContext* pb);
    void RestartTags();
    std::vector<uint8_t> IndexProperties(int64_t shift, int64_t scriptTagSize) const;
    int Write(AVIOContext* pb);

    const bool FHasAudio;
    // The bytes of the header as the file holds them, also after the
    // trailer's corrections; the whole file until HeaderWritten.
    std::vector<uint8_t> FImage;
    bool FHeaderDone = false;
    int64_t FEnd = 0;       // the end of the file as written so far
    int64_t FFirstTag = 0;  // where the first tag starts

    // --- the tags followed as the bytes go by
    bool FFollowing = true;  // until the first write that is not at FCursor
    bool FBroken = false;    // bytes that are no FLV tags
    int64_t FCursor = 0;     // the position of the next byte to be parsed
    int64_t FTagStart = 0;
    uint8_t FHead[13] = {};  // tag header and the first two body bytes
    size_t FHeadHave = 0, FHeadNeed = 11;
    int64_t FSkip = 0;  // bytes of the body still to pass over
    uint8_t FPrev[4] = {};
    size_t FPrevHave = 0;
    enum class TPart { Head, Body, Previous } FPart = TPart::Head;

    std::vector<TEntry> FEntries;
    int64_t FVideoSize = 0, FAudioSize = 0;
    uint32_t FLastTime = 0;
    int64_t FScriptPos = -1, FScriptSize = 0;

    // --- the onMetaData tag, found by HeaderWritten (offsets in its body)
    size_t FCountAt = 0;  // the ECMA array's property count
    size_t FRoomStart = 0, FRoomEnd = 0;
    uint32_t FOtherProperties = 0;  // properties outside the room
    size_t FFileSizeAt = 0;         // the value of "filesize", 0: none
};

}  // namespace tw
