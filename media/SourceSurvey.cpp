// media/SourceSurvey.cpp — the facts of a source, read from its opened input.
#include "media/SourceSurvey.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "binding/Entries.h"

namespace tw {

// A turn of the display matrix as a clockwise quarter turn: the matrix
// gives the counter-clockwise angle the picture must be turned by.
int QuarterTurn(const AVStream* st) {
    const uint8_t* matrix = lib().av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (!matrix) return 0;
    const double angle = lib().av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
    if (std::isnan(angle)) return 0;
    int clockwise = static_cast<int>(std::lround(-angle / 90.0)) * 90 % 360;
    if (clockwise < 0) clockwise += 360;
    return clockwise;
}

namespace {

std::string Hex(const uint8_t* data, size_t size) {
    static const char* kDigits = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        text += kDigits[data[i] >> 4];
        text += kDigits[data[i] & 15];
    }
    return text;
}

// The values of an AAC AudioSpecificConfig that decide whether two streams
// can follow one another: object type, rate, channel configuration.
std::string AacConfig(const AVCodecParameters* par) {
    int type = par->profile >= 0 ? par->profile + 1 : 0;
    int rate = par->sample_rate;
    int channels = par->ch_layout.nb_channels;
    if (par->extradata && par->extradata_size > 0)
        ReadAudioSpecificConfig(ByteSpan(par->extradata, size_t(par->extradata_size)), type, rate,
                                channels);
    if (type == 0 && rate == 0) return {};
    return std::to_string(type) + "/" + std::to_string(rate) + "/" + std::to_string(channels);
}

}  // namespace

bool ContainerKeepsRotation(const std::string& container) {
    // Of today's muxers only the MP4/MOV family writes a display matrix
    // (into the track header); Matroska, FLV and MPEG-TS drop it.
    static const char* const kKeep[] = {"mp4", "mov", "3gp", "3g2", "ipod", "ismv", "psp"};
    for (const char* name : kKeep)
        if (container == name) return true;
    return false;
}

std::string CodecName(AVCodecID id) {
    if (id == AV_CODEC_ID_NONE) return "none";
    const char* name = lib().avcodec_get_name(id);
    return name ? name : "unknown";
}

void TSourceFacts::DisplaySize(int& width, int& height) const {
    width = Width;
    height = Height;
    if (SampleAspect.num > 0 && SampleAspect.den > 0 && SampleAspect.num != SampleAspect.den)
        width = static_cast<int>(std::lround(double(Width) * SampleAspect.num / SampleAspect.den));
    if (Rotation == 90 || Rotation == 270) std::swap(width, height);
}

TSourceFacts SurveySource(const AVFormatContext* ic, const std::string& file) {
    TSourceFacts f;
    f.File = file;
    if (!ic) return f;
    if (ic->duration != AV_NOPTS_VALUE && ic->duration > 0) f.Duration = ic->duration;
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        const AVStream* st = ic->streams[i];
        const AVCodecParameters* par = st->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_AUDIO || par->codec_type == AVMEDIA_TYPE_SUBTITLE) {
            TTrackFacts t;
            t.Type = par->codec_type;
            t.Codec = par->codec_id;
            if (const AVDictionaryEntry* e =
                    lib().av_dict_get(st->metadata, "language", nullptr, 0))
                t.Language = e->value;
            if (const AVDictionaryEntry* e = lib().av_dict_get(st->metadata, "title", nullptr, 0))
                t.Title = e->value;
            f.Tracks.push_back(t);
        }
        // Cover art is a picture, not a video stream.
        if (par->codec_type == AVMEDIA_TYPE_VIDEO &&
            (st->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            if (!f.HasCover) f.CoverCodec = par->codec_id;
            f.HasCover = true;
            continue;
        }
        if (par->codec_type == AVMEDIA_TYPE_VIDEO && !f.HasVideo) {
            f.HasVideo = true;
            f.VideoCodec = par->codec_id;
            f.VideoProfile = par->profile;
            f.VideoLevel = par->level;
            if (par->bit_rate > 0 && par->bit_rate <= INT32_MAX)
                f.VideoBitrate = static_cast<int>(par->bit_rate);
            f.Width = par->width;
            f.Height = par->height;
            f.PixFmt = par->format;
            f.SampleAspect =
                st->sample_aspect_ratio.num ? st->sample_aspect_ratio : par->sample_aspect_ratio;
            f.Rotation = QuarterTurn(st);
            f.FrameRate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
            if (f.FrameRate.num <= 0 || f.FrameRate.den <= 0) f.FrameRate = {0, 1};
            if (par->codec_id == AV_CODEC_ID_H264 || par->codec_id == AV_CODEC_ID_HEVC) {
                for (const std::string& unit :
                     ParameterSets(par->extradata, par->extradata_size, par->codec_id)) {
                    if (!f.VideoConfig.empty()) f.VideoConfig += ',';
                    f.VideoConfig +=
                        Hex(reinterpret_cast<const uint8_t*>(unit.data()), unit.size());
                }
            } else if (par->extradata_size > 0) {
                f.VideoConfig = Hex(par->extradata, size_t(par->extradata_size));
            }
        } else if (par->codec_type == AVMEDIA_TYPE_AUDIO && !f.HasAudio) {
            f.HasAudio = true;
            f.AudioCodec = par->codec_id;
            f.AudioProfile = par->profile;
            f.SampleRate = par->sample_rate;
            f.Channels = par->ch_layout.nb_channels;
            if (par->bit_rate > 0 && par->bit_rate <= INT32_MAX)
                f.AudioBitrate = static_cast<int>(par->bit_rate);
            if (par->codec_id == AV_CODEC_ID_AAC)
                f.AudioConfig = AacConfig(par);
            else if (par->extradata_size > 0)
                f.AudioConfig = Hex(par->extradata, size_t(par->extradata_size));
        }
    }
    return f;
}

std::vector<TTrackFacts> TSourceFacts::TracksOf(AVMediaType type) const {
    std::vector<TTrackFacts> list;
    for (const TTrackFacts& t : Tracks)
        if (t.Type == type) list.push_back(t);
    return list;
}

std::string ContainerShownName(const std::string& container) {
    std::string shown = container == "matroska" ? "MKV" : container == "mpegts" ? "TS" : container;
    for (char& c : shown) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return shown;
}

bool ContainerTakes(const std::string& container, AVCodecID codec, AVMediaType type) {
    // The FLV muxer lists these in its tag table but refuses them when it
    // writes its header, unless told to be lax.
    if (container == "flv" && (codec == AV_CODEC_ID_MPEG4 || codec == AV_CODEC_ID_H263))
        return false;
    // MPEG-TS has no tag table to ask; of subtitles it carries the DVB ones.
    if (container == "mpegts" && type == AVMEDIA_TYPE_SUBTITLE)
        return codec == AV_CODEC_ID_DVB_SUBTITLE || codec == AV_CODEC_ID_DVB_TELETEXT;
    const AVOutputFormat* muxer = lib().av_guess_format(container.c_str(), nullptr, nullptr);
    return !muxer || lib().avformat_query_codec(muxer, codec, FF_COMPLIANCE_NORMAL) != 0;
}

}  // namespace tw
