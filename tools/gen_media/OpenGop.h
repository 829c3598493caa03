// tools/gen_media/OpenGop.h — clips whose key frames are not all IDR
// frames: libx264's open groups of pictures.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "ClipSpec.h"

namespace tw::gen {

/// Before the encoder is opened: libx264 in open groups of pictures when the
/// spec asks for them (then every key frame after the first is an I-frame
/// that the B-frames before it refer across, marked with a recovery-point
/// SEI). Throws std::runtime_error for another encoder.
void ConfigureOpenGop(AVCodecContext& encoder, const ClipSpec& spec);

}  // namespace tw::gen
