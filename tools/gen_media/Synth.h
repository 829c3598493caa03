// tools/gen_media/Synth.h — the synthetic picture and tone.
#pragma once

extern "C" {
#include <libavutil/frame.h>
}

namespace tw::gen {

/// Paints frame number `index` of the test picture into a yuv420p frame whose
/// buffers are allocated and writable: a diagonal gradient that drifts with
/// the index, a bright vertical bar sweeping across, and a block counter at
/// the top-left showing the index in binary, so no two frames are alike.
/// `pattern` picks the colours, the drift direction and the bar speed.
void PaintPicture(AVFrame& frame, long long index, int pattern);

/// Fills frame.nb_samples samples of a sine of `hz` starting at absolute
/// sample `first` (so consecutive frames join without a click), amplitude
/// about -10 dBFS, the same on every channel. Supports the sample formats
/// s16, s32, flt, dbl and their planar forms; returns false for others.
bool FillTone(AVFrame& frame, long long first, int sampleRate, double hz);

}  // namespace tw::gen
