// tests/support/Media.cpp — making test clips and reading them back.
#include "tests/support/Media.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
}

namespace tw::test {

const char* GeneratorPath() { return TW_GEN_MEDIA_EXE; }

GeneratorRun RunGenerator(const std::vector<std::string>& args) {
    GeneratorRun run;
    std::vector<std::string> argvStore{GeneratorPath()};
    argvStore.insert(argvStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argvStore) argv.push_back(a.data());
    argv.push_back(nullptr);

    int fds[2];
    if (pipe(fds) != 0) {
        run.output = "cannot create a pipe";
        return run;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        run.output = "cannot start the generator";
        return run;
    }
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        dup2(fds[1], STDERR_FILENO);
        close(fds[0]);
        close(fds[1]);
        execv(argv[0], argv.data());
        const char msg[] = "cannot run the generator\n";
        [[maybe_unused]] auto n = write(STDERR_FILENO, msg, sizeof msg - 1);
        _exit(127);
    }
    close(fds[1]);
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) != 0;) {
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        run.output.append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string GenerateClip(const std::string& path, const std::vector<std::string>& args) {
    std::vector<std::string> all = args;
    all.push_back("-q");
    all.push_back(path);
    const GeneratorRun run = RunGenerator(all);
    if (run.exitCode != 0) {
        std::string command = GeneratorPath();
        for (const std::string& a : all) command += " '" + a + "'";
        ADD_FAILURE() << "generating " << path << " failed (exit status " << run.exitCode
                      << "): " << command << "\n"
                      << run.output;
        throw std::runtime_error("cannot generate " + path);
    }
    return path;
}

const StreamInfo* MediaInfo::Find(const std::string& type) const {
    for (const StreamInfo& s : streams)
        if (s.type == type) return &s;
    return nullptr;
}

std::optional<std::string> MediaInfo::Tag(const std::string& key) const {
    for (const auto& [k, v] : metadata)
        if (av_strcasecmp(k.c_str(), key.c_str()) == 0) return v;
    return std::nullopt;
}

namespace {

struct InputClose {
    void operator()(AVFormatContext* ic) const { avformat_close_input(&ic); }
};
using InputPtr = std::unique_ptr<AVFormatContext, InputClose>;

struct DecoderFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
using DecoderPtr = std::unique_ptr<AVCodecContext, DecoderFree>;

struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};

std::string ErrorText(int err) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return buf;
}

std::map<std::string, std::string> ToMap(const AVDictionary* dict) {
    std::map<std::string, std::string> map;
    const AVDictionaryEntry* e = nullptr;
    while ((e = av_dict_get(dict, "", e, AV_DICT_IGNORE_SUFFIX))) map[e->key] = e->value;
    return map;
}

std::optional<double> Seconds(int64_t t, AVRational tb) {
    if (t == AV_NOPTS_VALUE) return std::nullopt;
    return static_cast<double>(t) * av_q2d(tb);
}

void Widen(std::optional<double>& low, std::optional<double>& high, double t) {
    if (!low || t < *low) low = t;
    if (!high || t > *high) high = t;
}

/// Counts what the decoder gives back; stops at EAGAIN or the end.
void Receive(AVCodecContext& dec, AVFrame& frame, StreamInfo& s) {
    while (avcodec_receive_frame(&dec, &frame) == 0) {
        ++s.decodedFrames;
        if (dec.codec_type == AVMEDIA_TYPE_AUDIO) s.decodedSamples += frame.nb_samples;
        av_frame_unref(&frame);
    }
}

DecoderPtr OpenDecoder(const AVStream& st) {
    const AVCodec* codec = avcodec_find_decoder(st.codecpar->codec_id);
    if (!codec) return nullptr;
    DecoderPtr dec(avcodec_alloc_context3(codec));
    if (!dec || avcodec_parameters_to_context(dec.get(), st.codecpar) < 0) return nullptr;
    dec->pkt_timebase = st.time_base;
    dec->thread_count = 1;
    if (avcodec_open2(dec.get(), codec, nullptr) < 0) return nullptr;
    return dec;
}

}  // namespace

MediaInfo ReadMediaInfo(const std::string& path, const ReadOptions& options) {
    MediaInfo info;
    AVFormatContext* raw = nullptr;
    int err = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (err < 0) {
        info.error = "cannot open " + path + ": " + ErrorText(err);
        return info;
    }
    InputPtr ic(raw);
    err = avformat_find_stream_info(ic.get(), nullptr);
    if (err < 0) {
        info.error = "cannot find the streams of " + path + ": " + ErrorText(err);
        return info;
    }

    info.format = ic->iformat->name;
    if (ic->duration != AV_NOPTS_VALUE) info.duration = Seconds(ic->duration, AV_TIME_BASE_Q);
    if (ic->start_time != AV_NOPTS_VALUE) info.startTime = Seconds(ic->start_time, AV_TIME_BASE_Q);
    info.bitRate = ic->bit_rate;
    info.metadata = ToMap(ic->metadata);
    for (unsigned i = 0; i < ic->nb_chapters; ++i) {
        const AVChapter& ch = *ic->chapters[i];
        const AVDictionaryEntry* title = av_dict_get(ch.metadata, "title", nullptr, 0);
        info.chapters.push_back({*Seconds(ch.start, ch.time_base), *Seconds(ch.end, ch.time_base),
                                 title ? title->value : ""});
    }

    std::vector<DecoderPtr> decoders(ic->nb_streams);
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        const AVStream& st = *ic->streams[i];
        const AVCodecParameters& par = *st.codecpar;
        StreamInfo s;
        s.index = static_cast<int>(i);
        const char* type = av_get_media_type_string(par.codec_type);
        s.type = type ? type : "unknown";
        s.codec = avcodec_get_name(par.codec_id);
        if (par.codec_type == AVMEDIA_TYPE_VIDEO) {
            s.width = par.width;
            s.height = par.height;
            const AVRational rate = st.avg_frame_rate.num ? st.avg_frame_rate : st.r_frame_rate;
            s.fps = rate.den ? av_q2d(rate) : 0;
        } else if (par.codec_type == AVMEDIA_TYPE_AUDIO) {
            s.sampleRate = par.sample_rate;
            s.channels = par.ch_layout.nb_channels;
        }
        s.metadata = ToMap(st.metadata);
        if (options.decode &&
            (par.codec_type == AVMEDIA_TYPE_VIDEO || par.codec_type == AVMEDIA_TYPE_AUDIO)) {
            decoders[i] = OpenDecoder(st);
            if (decoders[i]) s.decodedFrames = s.decodedSamples = 0;
        }
        info.streams.push_back(std::move(s));
    }

    std::unique_ptr<AVPacket, PacketFree> pkt(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    if (!pkt || !frame) {
        info.readError = "out of memory";
        return info;
    }
    std::vector<std::optional<int64_t>> lastDts(ic->nb_streams), lastPts(ic->nb_streams);
    while ((err = av_read_frame(ic.get(), pkt.get())) >= 0) {
        const unsigned idx = static_cast<unsigned>(pkt->stream_index);
        if (idx < info.streams.size()) {
            StreamInfo& s = info.streams[idx];
            const AVRational tb = ic->streams[idx]->time_base;
            ++s.packets;
            if (pkt->flags & AV_PKT_FLAG_KEY) ++s.keyPackets;
            if (pkt->pts != AV_NOPTS_VALUE) {
                if (lastPts[idx] && pkt->pts < *lastPts[idx]) s.ptsInFileOrder = false;
                lastPts[idx] = pkt->pts;
                const double pts = *Seconds(pkt->pts, tb);
                Widen(s.firstPts, s.lastPts, pts);
                const double end = pts + static_cast<double>(pkt->duration) * av_q2d(tb);
                if (!s.endTime || end > *s.endTime) s.endTime = end;
            }
            if (s.packets == 1) s.firstDts = Seconds(pkt->dts, tb);
            if (pkt->dts != AV_NOPTS_VALUE) {
                if (lastDts[idx] && pkt->dts < *lastDts[idx]) s.dtsMonotonic = false;
                lastDts[idx] = pkt->dts;
            }
            s.packetDuration += static_cast<double>(pkt->duration) * av_q2d(tb);
            if (AVCodecContext* dec = decoders[idx].get()) {
                if (avcodec_send_packet(dec, pkt.get()) < 0) ++s.decodeErrors;
                Receive(*dec, *frame, s);
            }
        }
        av_packet_unref(pkt.get());
    }
    if (err != AVERROR_EOF) info.readError = ErrorText(err);

    for (unsigned i = 0; i < decoders.size(); ++i) {
        if (!decoders[i]) continue;
        avcodec_send_packet(decoders[i].get(), nullptr);
        Receive(*decoders[i], *frame, info.streams[i]);
    }
    return info;
}

}  // namespace tw::test
