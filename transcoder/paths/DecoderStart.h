// transcoder/paths/DecoderStart.h — whether a decoder can start at a copied
// picture: the packets a container marks as key frames are where players
// start after a seek, so only pictures that start decoding may be marked
// where the container's own index is built from the marks.
//
// Pure byte work on packet data; no library call, any thread.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace tw {

/// True when the H.264 picture in data holds an IDR slice (NAL unit type 5)
/// or a recovery-point SEI message (the pictures from there on decode
/// correctly without what came before). lengthSize: the size of the NAL
/// units' length prefixes (1, 2 or 4), or 0 for start codes (Annex-B).
/// Data that cannot be split into NAL units counts as a start, so that
/// nothing is taken from a picture that cannot be judged.
bool H264StartsDecoding(const uint8_t* data, size_t size, int lengthSize);

/// The length-prefix size of H.264 packets stored with these parameters:
/// that of their avcC extra data, 0 (start codes) without one.
int H264LengthSize(const AVCodecParameters* par);

/// True when the muxer builds an index of places to start playing from the
/// packets' key flags and trusts every flagged packet (FLV's key-frame
/// index): a copied packet marked key that starts no decoding must go in
/// as an inter frame there.
bool IndexesEveryKeyFlag(const AVOutputFormat* format);

}  // namespace tw
