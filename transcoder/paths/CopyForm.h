// transcoder/paths/CopyForm.h — the bitstream form of a copied stream: one
// encoding is stored in two forms (H.264 with start codes in MPEG-TS, with
// length prefixes and an avcC header elsewhere; AAC with ADTS headers in
// MPEG-TS, raw with an AudioSpecificConfig elsewhere). A joined output has
// one form, set by its header; every input's packets are turned into it.
//
// Library calls go through the entry slots; engine thread only. Failures
// throw FFmpegException("av_mallocz fail") (out of memory).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "media/Bitstream.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace tw {

/// What the muxer's stream has been given so far, shared by the converters
/// of every input joined into it.
struct TCopyStreamState {
    /// The AAC configuration in force (the header's, then the last sent).
    std::vector<uint8_t> AacConfig;
    /// Some input carried other H.264 parameter sets than the header's: from
    /// then on every input brings its own, in band.
    bool ParameterSetsChanged = false;
};

class TCopyForm {
  public:
    /// Completes the header parameters of a copied stream (out, filled from
    /// the first input) so that they describe the stored form: H.264
    /// extradata with start codes becomes avcC, and H.264 or AAC without
    /// extradata gets it from the first packets of that input (in-band
    /// parameter sets, the first ADTS header). first: packets in file order,
    /// of this stream only; not kept.
    static void PrepareHeader(AVCodecParameters* out, const std::vector<const AVPacket*>& first);

    /// Conversion of one input stream (in) into the form of the muxer's
    /// stream (out, as written in the header). Both are read here only;
    /// state is shared with the converters of the other inputs of out and
    /// created with the header's AAC configuration.
    TCopyForm(const AVCodecParameters* in, const AVCodecParameters* out,
              std::shared_ptr<TCopyStreamState> state);

    /// Turns pkt into the output's form in place (data replaced, times,
    /// flags and side data kept). Packets already in that form are left
    /// alone. H.264 parameter sets of an input that differ from the header's
    /// (or that follow an input whose sets did) go in band before each key
    /// frame; an AAC configuration that differs from the one in force goes
    /// with the input's first packet as new extradata.
    void Convert(AVPacket* pkt);

  private:
    void ConvertH264(AVPacket* pkt);
    void ConvertAac(AVPacket* pkt);

    AVCodecID FCodec;
    // H.264
    bool FInAvcC = false;                                // the input's header is avcC
    int FInLengthSize = 4;                               // of length-prefixed input packets
    int FOutLengthSize = 0;                              // 0: the output stores start codes
    std::vector<std::vector<uint8_t>> FInParameterSets;  // the input's SPS/PPS NAL units
    bool FDiffersFromHeader = false;
    bool FInsertParameterSets = false;
    // AAC
    bool FOutRaw = true;
    std::vector<uint8_t> FInConfig;
    bool FStarted = false;  // the first packet was seen
    UnitList FUnits;        // the units of the packet at hand, kept for their room
    std::shared_ptr<TCopyStreamState> FState;
};

}  // namespace tw
