// transcoder/paths/AudioVolume.h — the "vol" option on decoded samples.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {
#include <libavutil/samplefmt.h>
}

namespace tw {

/// Scales interleaved samples of the packed format by volume / 256 in place.
/// 16-bit: (s x volume + 128) >> 8, clipped; the other integer formats the
/// same way in their own range (8-bit around its midpoint 128); float
/// formats are multiplied and left unclipped. Planar formats are taken as
/// their packed twins. 256 changes nothing.
void ApplyVolume(uint8_t* samples, size_t bytes, AVSampleFormat format, int volume);

}  // namespace tw
