// tools/gen_media/Synth.h — the synthetic picture and tone.
#pragma once

extern "C" {
#include <libavutil/frame.h>
}

namespace tw::gen {

/// How the test picture looks.
struct PictureLook {
    /// Picks the colours, the drift direction and the bar speed.
    int pattern = 0;
    /// Clockwise turn (0, 90, 180, 270) the player will apply: the picture
    /// is painted so that it is upright after that turn.
    int rotate = 0;
    /// Orientation marks: white square at the displayed top-left, black at
    /// the displayed bottom-right, a quarter of the shorter displayed side.
    bool marks = false;
};

/// Paints frame number `index` of the test picture into a planar YUV frame
/// (any chroma subsampling, odd sizes too) whose buffers are allocated and
/// writable: a diagonal gradient that drifts with the index, a bright
/// vertical bar sweeping across, and a block counter at the top-left showing
/// the index in binary, so no two frames are alike. All positions are those
/// of the displayed (turned) picture.
void PaintPicture(AVFrame& frame, long long index, const PictureLook& look);

/// Fills frame.nb_samples samples of a sine of `hz` starting at absolute
/// sample `first` (so consecutive frames join without a click), amplitude
/// about -10 dBFS, the same on every channel. Supports the sample formats
/// u8, s16, s32, flt, dbl and their planar forms; returns false for others.
bool FillTone(AVFrame& frame, long long first, int sampleRate, double hz);

}  // namespace tw::gen
