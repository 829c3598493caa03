// tools/probe_clips.cpp — prints what the libraries find in media files, going
// through the product's loader and entry slots. Used by scripts/demo.

#include <cstdio>
#include <memory>
#include <string>

#include "binding/Entries.h"
#include "binding/FFLoad.h"
#include "diag/FFUtils.h"

namespace {

struct InputClose {
    void operator()(AVFormatContext* ctx) const { tw::lib().avformat_close_input(&ctx); }
};
using InputPtr = std::unique_ptr<AVFormatContext, InputClose>;

std::string Seconds(int64_t us) {
    if (us == AV_NOPTS_VALUE) return "unknown";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", us / 1e6);
    return text;
}

bool Probe(const std::string& name) {
    tw::TEntries& lib = tw::lib();
    AVFormatContext* raw = nullptr;
    int err = lib.avformat_open_input(&raw, name.c_str(), nullptr, nullptr);
    if (err < 0) {
        std::printf("%s\n", tw::ErrorText(name, err).c_str());
        return false;
    }
    InputPtr ctx(raw);
    err = lib.avformat_find_stream_info(ctx.get(), nullptr);
    if (err < 0) {
        std::printf("%s: could not find codec parameters\n", name.c_str());
        return false;
    }
    std::printf("%s: %s, duration %s, start %s, %u stream(s)\n", name.c_str(), ctx->iformat->name,
                Seconds(ctx->duration).c_str(), Seconds(ctx->start_time).c_str(), ctx->nb_streams);
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVCodecParameters* par = ctx->streams[i]->codecpar;
        std::printf("  #%u %s %s", i, tw::MediaTypeName(par->codec_type).c_str(),
                    lib.avcodec_get_name(par->codec_id));
        if (par->codec_type == AVMEDIA_TYPE_VIDEO)
            std::printf(" %dx%d %.2f fps", par->width, par->height,
                        av_q2d(ctx->streams[i]->avg_frame_rate));
        if (par->codec_type == AVMEDIA_TYPE_AUDIO)
            std::printf(" %d Hz %d ch", par->sample_rate, par->ch_layout.nb_channels);
        std::printf("\n");
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    tw::TFFLoader& loader = tw::FFLoader();
    if (!loader.Load(tw::WorkLibraryKinds)) {
        std::fprintf(stderr, "%s\n", loader.LastErrMsg().c_str());
        return 1;
    }
    int failures = 0;
    for (int i = 1; i < argc; ++i) failures += Probe(argv[i]) ? 0 : 1;
    return failures == 0 ? 0 : 1;
}
