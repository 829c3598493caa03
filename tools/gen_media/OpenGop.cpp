// tools/gen_media/OpenGop.cpp — open groups of pictures.
#include "OpenGop.h"

#include <stdexcept>
#include <string>

extern "C" {
#include <libavutil/opt.h>
}

namespace tw::gen {

void ConfigureOpenGop(AVCodecContext& encoder, const ClipSpec& spec) {
    if (!spec.openGop) return;
    if (std::string(encoder.codec->name) != "libx264")
        throw std::runtime_error("--open-gop needs the libx264 encoder");
    av_opt_set(encoder.priv_data, "x264-params", "open-gop=1", 0);
}

}  // namespace tw::gen
