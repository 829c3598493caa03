// tests/support/KeyFrames.h — what a file's marked key frames hold: for each
// H.264 picture a player may start from (packets flagged key, and the
// entries of an FLV key-frame index), whether a decoder can really start
// there (an IDR slice) or only resume (a recovery-point SEI).
#pragma once

#include <string>
#include <vector>

namespace tw::test {

/// One marked key frame of the first video stream.
struct KeyFrame {
    double time = 0;             ///< presentation time, seconds (FLV index: the index's time)
    bool idr = false;            ///< holds an IDR slice (NAL unit type 5)
    bool recoveryPoint = false;  ///< holds a recovery-point SEI (payload type 6)
    bool intra = false;          ///< holds a slice (IDR or not) that is an I or SI slice
};

/// The key frames of a file.
struct KeyFrameList {
    /// Empty when the file was read; otherwise why not.
    std::string error;
    /// Packets of the first video stream flagged key, in file order.
    std::vector<KeyFrame> packets;
    /// Packets of that stream in all, and how many of them hold an I slice
    /// that is not an IDR slice.
    int videoPackets = 0;
    int nonIdrIntra = 0;
    /// FLV only: the pictures at the file positions of the key-frame index in
    /// the onMetaData tag ("keyframes" / "filepositions"), in index order.
    std::vector<KeyFrame> flvIndex;
    bool hasFlvIndex = false;

    /// The packets (and index entries) that lack an IDR slice.
    int WithoutIdr() const;
};

/// Reads path (H.264 video in MP4, Matroska, FLV or MPEG-TS) with the
/// libraries and, for FLV, its key-frame index from the file's bytes.
KeyFrameList ReadKeyFrames(const std::string& path);

}  // namespace tw::test
