// tools/gen_media/ClipWriter.cpp — encodes and muxes one synthetic clip.
#include "ClipWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "ExtraStreams.h"
#include "Handles.h"
#include "OpenGop.h"
#include "Synth.h"
#include "TimeEdits.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/display.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace tw::gen {

std::string ErrorText(int err) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return buf;
}

namespace {

namespace fs = std::filesystem;

[[noreturn]] void Fail(const std::string& what, int err) {
    throw std::runtime_error(what + ": " + ErrorText(err));
}

/// One encoded stream: its encoder, a reusable frame, and how far it got.
struct Track {
    AVStream* stream = nullptr;
    CodecContextPtr enc;
    FramePtr frame;
    long long total = 0;  ///< frames (video) or samples (audio) to send
    long long sent = 0;   ///< frames or samples sent so far
    bool drained = false;
    int64_t offset = 0;      ///< start time in the stream's time base
    int64_t lead = 0;        ///< added before the offset, in the encoder's time base
    double toneScale = 1.0;  ///< audio: the tone of this track relative to the first
    /// Streams that carry a copy of every packet (--tracks).
    std::vector<AVStream*> copies;

    /// Time of the next frame, for interleaving the two encoders' input.
    bool Before(const Track& other) const {
        return av_compare_ts(sent, enc->time_base, other.sent, other.enc->time_base) <= 0;
    }
};

const AVCodec& FindEncoder(const std::string& name, AVMediaType type, const AVOutputFormat& fmt) {
    const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
    const char* kind = av_get_media_type_string(type);
    if (!codec)
        throw std::runtime_error(std::string(kind) + " encoder '" + name + "' is not available");
    if (codec->type != type)
        throw std::runtime_error("'" + name + "' is not a " + kind + " encoder");
    if (avformat_query_codec(&fmt, codec->id, FF_COMPLIANCE_NORMAL) == 0)
        throw std::runtime_error(std::string("the ") + fmt.name + " container cannot hold " +
                                 avcodec_get_name(codec->id) + " " + kind);
    return *codec;
}

void OpenEncoder(AVFormatContext& oc, Track& t, const AVCodec& codec) {
    if (oc.oformat->flags & AVFMT_GLOBALHEADER) t.enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int err = avcodec_open2(t.enc.get(), &codec, nullptr);
    if (err < 0) Fail(std::string("cannot open encoder ") + codec.name, err);
    t.stream = avformat_new_stream(&oc, nullptr);
    if (!t.stream) throw std::runtime_error("out of memory creating a stream");
    t.stream->id = static_cast<int>(oc.nb_streams) - 1;
    t.stream->time_base = t.enc->time_base;
    err = avcodec_parameters_from_context(t.stream->codecpar, t.enc.get());
    if (err < 0) Fail("cannot copy encoder parameters", err);
}

void AddVideo(AVFormatContext& oc, const ClipSpec& spec, Track& t) {
    const AVCodec& codec = FindEncoder(spec.videoCodec, AVMEDIA_TYPE_VIDEO, *oc.oformat);
    const AVPixelFormat pixFmt = av_get_pix_fmt(spec.pixFmt.c_str());
    if (codec.pix_fmts) {
        const AVPixelFormat* p = codec.pix_fmts;
        while (*p != AV_PIX_FMT_NONE && *p != pixFmt) ++p;
        if (*p == AV_PIX_FMT_NONE)
            throw std::runtime_error("video encoder '" + spec.videoCodec + "' does not take " +
                                     spec.pixFmt);
    }
    t.enc.reset(avcodec_alloc_context3(&codec));
    if (!t.enc) throw std::runtime_error("out of memory");
    AVCodecContext& c = *t.enc;
    c.width = spec.width;
    c.height = spec.height;
    c.pix_fmt = pixFmt;
    c.time_base = AVRational{1, spec.fps};
    c.framerate = AVRational{spec.fps, 1};
    c.gop_size = spec.gop > 0 ? spec.gop : spec.fps;
    c.max_b_frames = spec.bframes;
    // One thread keeps the output identical from run to run.
    c.thread_count = 1;
    if (std::string(codec.name) == "libx264") {
        av_opt_set(c.priv_data, "preset", spec.bframes > 0 ? "veryfast" : "ultrafast", 0);
        // The preset's own B-frame count would override the context's.
        av_opt_set_int(&c, "bf", spec.bframes, 0);
    }
    ConfigureOpenGop(c, spec);
    OpenEncoder(oc, t, codec);
    t.stream->avg_frame_rate = c.framerate;
    if (spec.rotate != 0) {
        // Of the muxers here only MP4 stores a display matrix (Matroska
        // would drop it without a word).
        const std::string muxer = oc.oformat->name;
        if (muxer != "mp4" && muxer != "mov")
            throw std::runtime_error("the " + muxer + " container cannot store a rotation");
        auto* matrix = reinterpret_cast<int32_t*>(
            av_stream_new_side_data(t.stream, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t)));
        if (!matrix) throw std::runtime_error("out of memory");
        av_display_rotation_set(matrix, spec.rotate);  // clockwise
    }

    t.frame.reset(av_frame_alloc());
    if (!t.frame) throw std::runtime_error("out of memory");
    t.frame->format = c.pix_fmt;
    t.frame->width = c.width;
    t.frame->height = c.height;
    if (int err = av_frame_get_buffer(t.frame.get(), 0); err < 0)
        Fail("cannot allocate a picture", err);
    t.total = spec.VideoFrames();
}

void AddAudio(AVFormatContext& oc, const ClipSpec& spec, Track& t) {
    const AVCodec& codec = FindEncoder(spec.audioCodec, AVMEDIA_TYPE_AUDIO, *oc.oformat);
    t.enc.reset(avcodec_alloc_context3(&codec));
    if (!t.enc) throw std::runtime_error("out of memory");
    AVCodecContext& c = *t.enc;

    c.sample_fmt = AV_SAMPLE_FMT_FLTP;
    if (codec.sample_fmts) {
        const AVSampleFormat* f = codec.sample_fmts;
        while (*f != AV_SAMPLE_FMT_NONE && *f != AV_SAMPLE_FMT_FLTP) ++f;
        c.sample_fmt = *f != AV_SAMPLE_FMT_NONE ? *f : codec.sample_fmts[0];
    }
    if (codec.supported_samplerates) {
        const int* r = codec.supported_samplerates;
        while (*r != 0 && *r != spec.sampleRate) ++r;
        if (*r == 0)
            throw std::runtime_error("audio encoder '" + spec.audioCodec + "' does not support " +
                                     std::to_string(spec.sampleRate) + " Hz");
    }
    c.sample_rate = spec.sampleRate;
    av_channel_layout_default(&c.ch_layout, spec.channels);
    if (codec.ch_layouts) {
        const AVChannelLayout* l = codec.ch_layouts;
        while (l->nb_channels != 0 && av_channel_layout_compare(l, &c.ch_layout) != 0) ++l;
        if (l->nb_channels == 0)
            throw std::runtime_error("audio encoder '" + spec.audioCodec + "' does not support " +
                                     std::to_string(spec.channels) + " channels");
    }
    c.bit_rate = 64000LL * std::min(spec.channels, 2);
    c.time_base = AVRational{1, spec.sampleRate};
    c.thread_count = 1;
    OpenEncoder(oc, t, codec);

    t.frame.reset(av_frame_alloc());
    if (!t.frame) throw std::runtime_error("out of memory");
    t.frame->format = c.sample_fmt;
    t.frame->sample_rate = c.sample_rate;
    t.frame->nb_samples = c.frame_size > 0 ? c.frame_size : 1024;
    if (int err = av_channel_layout_copy(&t.frame->ch_layout, &c.ch_layout); err < 0)
        Fail("cannot copy the channel layout", err);
    if (int err = av_frame_get_buffer(t.frame.get(), 0); err < 0)
        Fail("cannot allocate audio samples", err);
    t.total = spec.AudioSamples();
}

void AddChapters(AVFormatContext& oc, const ClipSpec& spec) {
    if (spec.chapters == 0) return;
    // Other muxers drop chapters without a word.
    const std::string name = oc.oformat->name;
    if (name != "matroska" && name != "webm" && name != "mp4" && name != "mov")
        throw std::runtime_error("the " + name + " container cannot store chapters");
    // The format context owns its chapters and frees them (and their
    // metadata) with itself, so they are allocated with the library.
    auto** list = static_cast<AVChapter**>(av_calloc(spec.chapters, sizeof(AVChapter*)));
    if (!list) throw std::runtime_error("out of memory");
    oc.chapters = list;
    const long long totalMs = std::llround(spec.duration * 1000);
    const long long startMs = std::llround(spec.startTime * 1000);
    for (int i = 0; i < spec.chapters; ++i) {
        auto* ch = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
        if (!ch) throw std::runtime_error("out of memory");
        list[i] = ch;
        oc.nb_chapters = i + 1;
        ch->id = i + 1;
        ch->time_base = AVRational{1, 1000};
        ch->start = startMs + totalMs * i / spec.chapters;
        ch->end = startMs + totalMs * (i + 1) / spec.chapters;
        av_dict_set(&ch->metadata, "title", ("Chapter " + std::to_string(i + 1)).c_str(), 0);
    }
}

void WritePackets(AVFormatContext& oc, Track& t, AVPacket& pkt) {
    for (;;) {
        int err = avcodec_receive_packet(t.enc.get(), &pkt);
        if (err == AVERROR(EAGAIN)) return;
        if (err == AVERROR_EOF) {
            t.drained = true;
            return;
        }
        if (err < 0) Fail("encoding failed", err);
        if (pkt.pts != AV_NOPTS_VALUE) pkt.pts += t.lead;
        if (pkt.dts != AV_NOPTS_VALUE) pkt.dts += t.lead;
        av_packet_rescale_ts(&pkt, t.enc->time_base, t.stream->time_base);
        if (pkt.pts != AV_NOPTS_VALUE) pkt.pts += t.offset;
        if (pkt.dts != AV_NOPTS_VALUE) pkt.dts += t.offset;
        for (AVStream* copy : t.copies) {
            PacketPtr twin(av_packet_clone(&pkt));
            if (!twin) throw std::runtime_error("out of memory");
            av_packet_rescale_ts(twin.get(), t.stream->time_base, copy->time_base);
            twin->stream_index = copy->index;
            err = av_interleaved_write_frame(&oc, twin.get());
            if (err < 0) Fail("cannot write a packet", err);
        }
        pkt.stream_index = t.stream->index;
        err = av_interleaved_write_frame(&oc, &pkt);
        if (err < 0) Fail("cannot write a packet", err);
    }
}

/// Sends the next frame, or the end of stream once all frames are sent.
void EncodeNext(AVFormatContext& oc, Track& t, const ClipSpec& spec, AVPacket& pkt) {
    AVFrame* frame = nullptr;
    if (t.sent < t.total) {
        frame = t.frame.get();
        if (int err = av_frame_make_writable(frame); err < 0) Fail("cannot reuse a frame", err);
        frame->pts = t.sent;
        if (t.enc->codec_type == AVMEDIA_TYPE_VIDEO) {
            PaintPicture(*frame, t.sent, {spec.pattern, spec.rotate, spec.marks});
            t.sent += 1;
        } else {
            const int full = t.enc->frame_size > 0 ? t.enc->frame_size : 1024;
            const int left = static_cast<int>(std::min<long long>(full, t.total - t.sent));
            const bool shortOk = t.enc->frame_size == 0 ||
                                 (t.enc->codec->capabilities & (AV_CODEC_CAP_SMALL_LAST_FRAME |
                                                                AV_CODEC_CAP_VARIABLE_FRAME_SIZE));
            frame->nb_samples = left;
            const double hz = spec.toneHz * (1.0 + 0.25 * (spec.pattern % 4)) * t.toneScale;
            if (!FillTone(*frame, t.sent, spec.sampleRate, hz))
                throw std::runtime_error(std::string("sample format ") +
                                         av_get_sample_fmt_name(t.enc->sample_fmt) +
                                         " of the audio encoder is not supported");
            if (left < full && !shortOk) {
                // The encoder wants whole frames: pad the last one with silence.
                frame->nb_samples = full;
                av_samples_set_silence(frame->extended_data, left, full - left,
                                       frame->ch_layout.nb_channels, t.enc->sample_fmt);
            }
            t.sent += left;
        }
    }
    int err = avcodec_send_frame(t.enc.get(), frame);
    if (err < 0) Fail("encoding failed", err);
    WritePackets(oc, t, pkt);
}

std::string Describe(const ClipSpec& spec, const Track& video, const Track& audio) {
    char line[512];
    std::string text = spec.path + ": " + spec.format;
    std::snprintf(line, sizeof line, ", %.2f s", spec.duration);
    text += line;
    if (video.enc) {
        std::snprintf(line, sizeof line, ", %s %dx%d %d fps", avcodec_get_name(video.enc->codec_id),
                      spec.width, spec.height, spec.fps);
        text += line;
    }
    if (audio.enc) {
        std::snprintf(line, sizeof line, ", %s %d Hz %d ch", avcodec_get_name(audio.enc->codec_id),
                      spec.sampleRate, spec.channels);
        text += line;
    }
    if (spec.startTime != 0) {
        std::snprintf(line, sizeof line, ", start %g s", spec.startTime);
        text += line;
    }
    if (video.enc && spec.pixFmt != "yuv420p") text += ", " + spec.pixFmt;
    if (spec.rotate != 0) text += ", rotated " + std::to_string(spec.rotate);
    if (spec.bframes > 0) text += ", " + std::to_string(spec.bframes) + " B-frames";
    if (spec.openGop) text += ", open GOP";
    if (spec.chapters > 0) text += ", " + std::to_string(spec.chapters) + " chapters";
    for (const auto& [k, v] : spec.metadata) text += ", " + k + "=" + v;
    if (spec.trim) {
        std::snprintf(line, sizeof line, ", shows %g..%g s", spec.trim->first, spec.trim->second);
        text += line;
    }
    if (spec.tsJump) {
        std::snprintf(line, sizeof line, ", clock moves %+g s at %g s", spec.tsJump->second,
                      spec.tsJump->first);
        text += line;
    }
    if (spec.truncate) {
        std::snprintf(line, sizeof line, ", truncated to %g%%", *spec.truncate * 100);
        text += line;
    }
    return text;
}

/// Removes the temporary file unless released.
struct PartialFile {
    fs::path path;
    bool keep = false;
    ~PartialFile() {
        std::error_code ec;
        if (!keep) fs::remove(path, ec);
    }
};

}  // namespace

std::string WriteClip(const ClipSpec& spec) {
    const fs::path target(spec.path);
    PartialFile partial{target.parent_path() / (target.filename().string() + ".part")};

    AVFormatContext* raw = nullptr;
    int err = avformat_alloc_output_context2(&raw, nullptr, spec.format.c_str(), nullptr);
    if (err < 0 || !raw) throw std::runtime_error("unknown container format '" + spec.format + "'");
    OutputContextPtr oc(raw);
    // No random identifiers or version strings: the same command line gives
    // the same bytes, so tests may compare files.
    oc->flags |= AVFMT_FLAG_BITEXACT;
    // MPEG program streams otherwise take their rate from the encoders'
    // nominal bit rates, which a test picture overruns (buffer underflows).
    if (std::string(oc->oformat->name) == "mpeg")
        av_opt_set_int(oc->priv_data, "muxrate", 10080000, 0);

    Track video, audio;
    if (spec.video) AddVideo(*oc, spec, video);
    if (spec.audio) AddAudio(*oc, spec, audio);
    for (int k = 1; audio.stream && k < spec.tracks; ++k) {
        AVStream* copy = avformat_new_stream(oc.get(), nullptr);
        if (!copy || avcodec_parameters_copy(copy->codecpar, audio.stream->codecpar) < 0)
            throw std::runtime_error("cannot add audio track " + std::to_string(k + 1));
        copy->time_base = audio.stream->time_base;
        audio.copies.push_back(copy);
    }
    // Further audio tracks, each its own tone and language.
    std::vector<Track> moreAudio(spec.audio ? spec.audioTracks - 1 : 0);
    for (size_t n = 0; n < moreAudio.size(); ++n) {
        AddAudio(*oc, spec, moreAudio[n]);
        moreAudio[n].toneScale = 1.0 + 0.5 * double(n + 1);
    }
    std::vector<Track*> tracks = {&video, &audio};
    for (Track& t : moreAudio) tracks.push_back(&t);
    if (spec.audio && spec.audioTracks > 1)
        for (size_t n = 1; n < tracks.size(); ++n) {
            av_dict_set(&tracks[n]->stream->metadata, "language", TrackLanguage(int(n - 1)), 0);
            av_dict_set(&tracks[n]->stream->metadata, "title",
                        ("Track " + std::to_string(n)).c_str(), 0);
        }
    ExtraStreams extra;
    extra.Add(*oc, spec);
    AddChapters(*oc, spec);
    for (const auto& [key, value] : spec.metadata)
        av_dict_set(&oc->metadata, key.c_str(), value.c_str(), 0);

    if (!(oc->oformat->flags & AVFMT_NOFILE)) {
        err = avio_open2(&oc->pb, partial.path.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr);
        if (err < 0) Fail("cannot write '" + spec.path + "'", err);
    }
    err = avformat_write_header(oc.get(), nullptr);
    if (err < 0) Fail("cannot write the header of '" + spec.path + "'", err);
    extra.Write(*oc);

    // The muxer may have changed the streams' time bases (FLV and Matroska
    // count in milliseconds), so the start offset is taken afterwards.
    // A trimmed clip's first START seconds come before 0: the muxer hides
    // them with an edit list.
    const double shiftSeconds = spec.startTime - (spec.trim ? spec.trim->first : 0.0);
    const int64_t startUs = std::llround(shiftSeconds * AV_TIME_BASE);
    for (Track* t : tracks)
        if (t->enc) t->offset = av_rescale_q(startUs, AV_TIME_BASE_Q, t->stream->time_base);

    // An audio encoder's first packets carry its priming samples and are
    // stamped before zero. MP4 keeps those times and hides the priming with an
    // edit list; the other containers cannot store a negative time and would
    // shift both streams so that video starts late. There the priming is
    // played like content instead: the audio's first packet lands on the start
    // time, as the video's first frame does, and the tone follows it by the
    // encoder's delay (1024 samples for AAC).
    const std::string muxer = oc->oformat->name;
    for (size_t n = 1; n < tracks.size(); ++n)
        if (tracks[n]->enc && muxer != "mp4" && muxer != "mov")
            tracks[n]->lead = tracks[n]->enc->initial_padding;

    PacketPtr pkt(av_packet_alloc());
    if (!pkt) throw std::runtime_error("out of memory");
    for (;;) {
        Track* next = nullptr;
        for (Track* t : tracks)
            if (t->enc && !t->drained && (!next || t->Before(*next))) next = t;
        if (!next) break;
        EncodeNext(*oc, *next, spec, *pkt);
    }

    err = av_write_trailer(oc.get());
    if (err < 0) Fail("cannot finish '" + spec.path + "'", err);
    if (!(oc->oformat->flags & AVFMT_NOFILE)) {
        err = avio_closep(&oc->pb);
        if (err < 0) Fail("cannot write '" + spec.path + "'", err);
    }

    if (spec.trim) LimitEditLists(partial.path.string(), spec.trim->second - spec.trim->first);
    if (spec.tsJump)
        ShiftTimestampsFrom(partial.path.string(), muxer, spec.tsJump->first, spec.tsJump->second);
    std::error_code ec;
    if (spec.truncate) {
        const auto size = fs::file_size(partial.path, ec);
        if (!ec) fs::resize_file(partial.path, static_cast<uintmax_t>(size * *spec.truncate), ec);
        if (ec) throw std::runtime_error("cannot truncate '" + spec.path + "': " + ec.message());
    }
    fs::rename(partial.path, target, ec);
    if (ec) throw std::runtime_error("cannot write '" + spec.path + "': " + ec.message());
    partial.keep = true;
    std::string text = Describe(spec, video, audio);
    if (spec.audio && spec.audioTracks > 1)
        text += ", " + std::to_string(spec.audioTracks) + " audio tracks";
    return text + extra.Describe();
}

}  // namespace tw::gen
