// probe/StreamFacts.cpp — stream facts read from the context's parameters.
#include "probe/StreamFacts.h"

#include "binding/Entries.h"
#include "media/SourceSurvey.h"
#include "probe/MediaNames.h"

namespace tw {
namespace {

std::optional<std::string> Text(const char* s) {
    return s ? std::optional<std::string>(s) : std::nullopt;
}

std::optional<std::string> Tag(const AVDictionary* metadata, const char* key) {
    const AVDictionaryEntry* e = lib().av_dict_get(metadata, key, nullptr, 0);
    return Text(e ? e->value : nullptr);
}

TStreamFacts Describe(const AVStream* st) {
    const AVCodecParameters* par = st->codecpar;
    TStreamFacts f;
    f.Index = st->index;
    f.Kind = par->codec_type;
    f.Type = Text(lib().av_get_media_type_string(par->codec_type));
    f.Codec = CodecName(par->codec_id);
    f.Profile = Text(ProfileName(par->codec_id, par->profile));
    f.AttachedPicture = st->disposition & AV_DISPOSITION_ATTACHED_PIC;
    f.Default = st->disposition & AV_DISPOSITION_DEFAULT;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
        f.Width = par->width;
        f.Height = par->height;
        const AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
        if (!f.AttachedPicture && rate.num > 0 && rate.den > 0) f.FrameRate = rate;
        f.PixelFormat = Text(PixelFormatName(par->format));
        f.Rotation = QuarterTurn(st);
    } else if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
        f.SampleRate = par->sample_rate;
        f.Channels = par->ch_layout.nb_channels;
        char layout[128] = "";
        if (par->ch_layout.nb_channels > 0 &&
            lib().av_channel_layout_describe(&par->ch_layout, layout, sizeof layout) > 0)
            f.ChannelLayout = layout;
    }
    f.Language = Tag(st->metadata, "language");
    f.Title = Tag(st->metadata, "title");
    return f;
}

}  // namespace

std::vector<TStreamFacts> DescribeStreams(const AVFormatContext* context) {
    std::vector<TStreamFacts> streams;
    for (unsigned i = 0; context && i < context->nb_streams; ++i)
        streams.push_back(Describe(context->streams[i]));
    return streams;
}

std::string ContainerName(const AVFormatContext* context) {
    return context && context->iformat && context->iformat->name ? context->iformat->name : "";
}

}  // namespace tw
