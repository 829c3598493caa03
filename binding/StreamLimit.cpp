// binding/StreamLimit.cpp — the most streams a source may have.
#include "binding/StreamLimit.h"

namespace tw {

void LimitStreams(AVFormatContext* ic) {
    if (ic) ic->max_streams = static_cast<int>(kMaxSourceStreams + 1);
}

std::string TooManyStreams(const AVFormatContext* ic, const std::string& file) {
    if (!ic || ic->nb_streams <= kMaxSourceStreams) return {};
    // At our cap the demuxer stopped creating them: there are more.
    const bool capped =
        ic->max_streams == int(kMaxSourceStreams + 1) && ic->nb_streams == kMaxSourceStreams + 1;
    return file + ": " +
           (capped ? "more than " + std::to_string(kMaxSourceStreams)
                   : std::to_string(ic->nb_streams)) +
           " streams, more than a video file has (" + std::to_string(kMaxSourceStreams) +
           " at most)";
}

}  // namespace tw
