// tools/gen_media/ExtraStreams.cpp — subtitle cues and cover art.
#include "ExtraStreams.h"

#include <cstring>
#include <stdexcept>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
}

namespace tw::gen {

namespace {

// What the subtitle encoders parse their styles from.
constexpr const char* kAssHeader =
    "[Script Info]\nScriptType: v4.00+\nPlayResX: 384\nPlayResY: 288\n\n[V4+ Styles]\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, "
    "BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, "
    "BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n"
    "Style: Default,Arial,16,&Hffffff,&Hffffff,&H0,&H0,0,0,0,0,100,100,0,0,1,1,0,2,10,10,10,0\n\n"
    "[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";

constexpr int kCueSpacingMs = 500, kCueLengthMs = 400, kCoverSize = 64;

[[noreturn]] void Fail(const std::string& what, int err) {
    throw std::runtime_error(what + ": " + ErrorText(err));
}

}  // namespace

const char* TrackLanguage(int n) {
    static const char* const kLanguages[] = {"eng", "fra", "deu", "spa",
                                             "ita", "jpn", "chi", "rus"};
    return kLanguages[static_cast<unsigned>(n) % 8];
}

void ExtraStreams::Add(AVFormatContext& oc, const ClipSpec& spec) {
    if (spec.subtitles) AddSubtitles(oc, spec);
    if (spec.cover) AddCover(oc);
}

void ExtraStreams::AddSubtitles(AVFormatContext& oc, const ClipSpec& spec) {
    // Each container's own text form: SRT in Matroska, timed text in MP4.
    const std::string muxer = oc.oformat->name;
    const char* name = muxer == "matroska"                ? "srt"
                       : muxer == "mp4" || muxer == "mov" ? "mov_text"
                                                          : nullptr;
    if (!name) throw std::runtime_error("the " + muxer + " container gets no subtitles here");
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (!codec) throw std::runtime_error(std::string("subtitle encoder '") + name + "' is missing");
    CodecContextPtr enc(avcodec_alloc_context3(codec));
    if (!enc) throw std::runtime_error("out of memory");
    enc->time_base = AVRational{1, 1000};
    enc->subtitle_header = reinterpret_cast<uint8_t*>(av_strdup(kAssHeader));
    if (!enc->subtitle_header) throw std::runtime_error("out of memory");
    enc->subtitle_header_size = static_cast<int>(std::strlen(kAssHeader));
    if (int err = avcodec_open2(enc.get(), codec, nullptr); err < 0)
        Fail(std::string("cannot open encoder ") + name, err);
    FSubtitles = avformat_new_stream(&oc, nullptr);
    if (!FSubtitles) throw std::runtime_error("out of memory creating a stream");
    FSubtitles->time_base = AVRational{1, 1000};
    if (int err = avcodec_parameters_from_context(FSubtitles->codecpar, enc.get()); err < 0)
        Fail("cannot copy encoder parameters", err);
    av_dict_set(&FSubtitles->metadata, "language", "eng", 0);

    const long long totalMs = std::llround(spec.duration * 1000);
    const long long startMs = std::llround(spec.startTime * 1000);
    std::vector<uint8_t> buffer(4096);
    for (long long at = 0, n = 1; at + kCueLengthMs <= totalMs; at += kCueSpacingMs, ++n) {
        std::string line = "0,0,Default,,0,0,0,,Cue " + std::to_string(n);
        AVSubtitleRect rect{};
        rect.type = SUBTITLE_ASS;
        rect.ass = line.data();
        AVSubtitleRect* rects[] = {&rect};
        AVSubtitle sub{};
        sub.num_rects = 1;
        sub.rects = rects;
        sub.end_display_time = kCueLengthMs;
        const int size =
            avcodec_encode_subtitle(enc.get(), buffer.data(), int(buffer.size()), &sub);
        if (size < 0) Fail("cannot encode a subtitle", size);
        PacketPtr pkt(av_packet_alloc());
        if (!pkt || av_new_packet(pkt.get(), size) < 0) throw std::runtime_error("out of memory");
        std::memcpy(pkt->data, buffer.data(), size_t(size));
        pkt->pts = pkt->dts = startMs + at;
        pkt->duration = kCueLengthMs;
        pkt->flags |= AV_PKT_FLAG_KEY;
        FCues.push_back(std::move(pkt));
    }
}

void ExtraStreams::AddCover(AVFormatContext& oc) {
    const std::string muxer = oc.oformat->name;
    if (muxer != "matroska" && muxer != "mp4" && muxer != "mov" && muxer != "mp3")
        throw std::runtime_error("the " + muxer + " container gets no cover here");
    // A small PNG picture in two colours.
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (!codec) throw std::runtime_error("the PNG encoder is missing");
    CodecContextPtr enc(avcodec_alloc_context3(codec));
    if (!enc) throw std::runtime_error("out of memory");
    enc->width = enc->height = kCoverSize;
    enc->pix_fmt = AV_PIX_FMT_RGB24;
    enc->time_base = AVRational{1, 25};
    if (int err = avcodec_open2(enc.get(), codec, nullptr); err < 0)
        Fail("cannot open the PNG encoder", err);
    FramePtr frame(av_frame_alloc());
    if (!frame) throw std::runtime_error("out of memory");
    frame->format = AV_PIX_FMT_RGB24;
    frame->width = frame->height = kCoverSize;
    if (int err = av_frame_get_buffer(frame.get(), 0); err < 0) Fail("cannot allocate", err);
    for (int y = 0; y < kCoverSize; ++y)
        for (int x = 0; x < kCoverSize; ++x) {
            uint8_t* p = frame->data[0] + y * frame->linesize[0] + 3 * x;
            const bool light = (x / 8 + y / 8) % 2 == 0;
            p[0] = light ? 240 : 30;
            p[1] = light ? 200 : 60;
            p[2] = light ? 40 : 160;
        }
    frame->pts = 0;
    FPicture.reset(av_packet_alloc());
    if (!FPicture) throw std::runtime_error("out of memory");
    if (int err = avcodec_send_frame(enc.get(), frame.get()); err < 0) Fail("cannot encode", err);
    if (int err = avcodec_receive_packet(enc.get(), FPicture.get()); err < 0)
        Fail("cannot encode the cover", err);
    FHasCover = true;

    if (muxer == "matroska") {
        // Matroska keeps covers as attached files; its reader shows an image
        // attachment as an attached picture.
        AVStream* st = avformat_new_stream(&oc, nullptr);
        if (!st) throw std::runtime_error("out of memory creating a stream");
        st->codecpar->codec_type = AVMEDIA_TYPE_ATTACHMENT;
        st->codecpar->codec_id = AV_CODEC_ID_PNG;
        st->codecpar->extradata = static_cast<uint8_t*>(
            av_mallocz(size_t(FPicture->size) + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!st->codecpar->extradata) throw std::runtime_error("out of memory");
        std::memcpy(st->codecpar->extradata, FPicture->data, size_t(FPicture->size));
        st->codecpar->extradata_size = FPicture->size;
        av_dict_set(&st->metadata, "filename", "cover.png", 0);
        av_dict_set(&st->metadata, "mimetype", "image/png", 0);
        FPicture.reset();
        return;
    }
    FCover = avformat_new_stream(&oc, nullptr);
    if (!FCover) throw std::runtime_error("out of memory creating a stream");
    if (int err = avcodec_parameters_from_context(FCover->codecpar, enc.get()); err < 0)
        Fail("cannot copy encoder parameters", err);
    FCover->disposition |= AV_DISPOSITION_ATTACHED_PIC;
    FCover->time_base = AVRational{1, 90000};
}

void ExtraStreams::Write(AVFormatContext& oc) {
    if (FCover && FPicture) {
        FPicture->stream_index = FCover->index;
        FPicture->pts = FPicture->dts = 0;
        FPicture->flags |= AV_PKT_FLAG_KEY;
        if (int err = av_write_frame(&oc, FPicture.get()); err < 0)
            Fail("cannot write the cover", err);
        FPicture.reset();
    }
    for (PacketPtr& cue : FCues) {
        av_packet_rescale_ts(cue.get(), AVRational{1, 1000}, FSubtitles->time_base);
        cue->stream_index = FSubtitles->index;
        if (int err = av_interleaved_write_frame(&oc, cue.get()); err < 0)
            Fail("cannot write a subtitle", err);
    }
    FCues.clear();
}

std::string ExtraStreams::Describe() const {
    std::string text;
    if (FSubtitles)
        text += ", subtitles " + std::string(avcodec_get_name(FSubtitles->codecpar->codec_id));
    if (FHasCover) text += ", cover png";
    return text;
}

}  // namespace tw::gen
