// transcoder/paths/AudioOut.cpp — re-encoding audio.
//
// The path counts bytes of interleaved samples, as the decoder's output is
// handed in; the encoder's planar format is only produced at the very end.
#include "transcoder/paths/AudioOut.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "binding/Entries.h"
#include "transcoder/FFmpegException.h"

namespace tw {
namespace {

// Interleaved bytes of one frame into the encoder's (possibly planar) frame.
void FillFrame(AVFrame* frame, const uint8_t* data, int samples, int channels, int bps,
               bool planar) {
    if (!planar) {
        std::memcpy(frame->data[0], data, size_t(samples) * channels * bps);
        return;
    }
    for (int c = 0; c < channels; ++c) {
        uint8_t* out = frame->extended_data[c];
        for (int n = 0; n < samples; ++n)
            std::memcpy(out + size_t(n) * bps, data + (size_t(n) * channels + c) * bps, bps);
    }
}

// The byte of a silent sample: unsigned 8-bit audio is silent at its middle.
uint8_t SilenceByte(AVSampleFormat packed) { return packed == AV_SAMPLE_FMT_U8 ? 0x80 : 0; }

}  // namespace

// Encodes what the record's FIFO holds: whole encoder frames, or for
// encoders without a fixed frame size everything at once; at the end
// (flushing) also the rest, as a short last frame or padded with silence.
void TAudioOut::EncodeFromFifo(AVFormatContext* s, TOutputStream* ost, TOutputStream& er,
                               bool flushing) {
    AVCodecContext* enc = er.Encoder.get();
    AVFifo* fifo = er.Fifo.get();
    const AVSampleFormat encPacked = lib().av_get_packed_sample_fmt(enc->sample_fmt);
    const int sampleBytes = lib().av_get_bytes_per_sample(encPacked) * enc->ch_layout.nb_channels;
    if (sampleBytes <= 0) throw FFmpegException("Audio encoding failed");
    const bool anySize = enc->frame_size <= 1;
    FramePtr frame(lib().av_frame_alloc());
    PacketPtr packet(lib().av_packet_alloc());
    AVPacket* pkt = packet.get();
    if (!frame || !pkt) throw FFmpegException("Out of memory in do_audio_out");
    const bool planar = lib().av_sample_fmt_is_planar(enc->sample_fmt);
    std::vector<uint8_t> frameData;
    while (true) {
        const size_t have = lib().av_fifo_can_read(fifo);
        const int left = static_cast<int>(have / sampleBytes);
        if (left == 0) break;
        const int full = anySize ? left : enc->frame_size;
        if (left < full && !flushing) break;
        int samples = std::min(left, full);
        frameData.assign(size_t(full) * sampleBytes, SilenceByte(encPacked));
        lib().av_fifo_read(fifo, frameData.data(), size_t(samples) * sampleBytes);
        // A short last frame when the encoder takes one, else padded.
        if (samples < full && !(enc->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME))
            samples = full;
        lib().av_frame_unref(frame.get());
        frame->nb_samples = samples;
        frame->format = enc->sample_fmt;
        frame->sample_rate = enc->sample_rate;
        lib().av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout);
        if (lib().av_frame_get_buffer(frame.get(), 0) < 0)
            throw FFmpegException("Out of memory in do_audio_out");
        FillFrame(frame.get(), frameData.data(), samples, enc->ch_layout.nb_channels,
                  sampleBytes / enc->ch_layout.nb_channels, planar);
        frame->pts = er.SyncOpts;
        er.SyncOpts += samples;
        ost->SyncOpts = er.SyncOpts;
        if (lib().avcodec_send_frame(enc, frame.get()) < 0)
            throw FFmpegException("Audio encoding failed");
        int ret;
        while ((ret = lib().avcodec_receive_packet(enc, pkt)) >= 0) {
            FCounters.AudioSize += pkt->size;
            pkt->stream_index = ost->StreamIndex;
            lib().av_packet_rescale_ts(pkt, enc->time_base, er.Stream->time_base);
            pkt->flags |= AV_PKT_FLAG_KEY;
            FWriter.WritePacket(s, pkt, enc, er.BitstreamFilters);
            lib().av_packet_unref(pkt);
        }
        if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF)
            throw FFmpegException("Audio encoding failed");
    }
}

void TAudioOut::FillSilence(AVFormatContext* s, TOutputStream* ost) {
    TOutputStream& er = *FEncoderRecord(ost);
    AVCodecContext* enc = er.Encoder.get();
    const TOutputStream* video = ost->SilenceVideo ? FEncoderRecord(ost->SilenceVideo) : nullptr;
    if (!enc || !video || !video->Encoder || !er.Fifo || enc->sample_rate <= 0) return;
    // Up to the end of the last picture given to the video encoder.
    const double videoEnd = ost->SilenceVideo->SyncOpts * av_q2d(video->Encoder->time_base);
    const AVSampleFormat packed = lib().av_get_packed_sample_fmt(enc->sample_fmt);
    const int sampleBytes = lib().av_get_bytes_per_sample(packed) * enc->ch_layout.nb_channels;
    if (sampleBytes <= 0) return;
    const int64_t queued = lib().av_fifo_can_read(er.Fifo.get()) / sampleBytes;
    const int64_t missing = std::llrint(videoEnd * enc->sample_rate) - er.SyncOpts - queued;
    if (missing <= 0) return;
    const std::vector<uint8_t> silence(size_t(missing) * sampleBytes, SilenceByte(packed));
    if (lib().av_fifo_write(er.Fifo.get(), silence.data(), silence.size()) < 0)
        throw FFmpegException("av_fifo_realloc2() failed");
    EncodeFromFifo(s, ost, er, false);
}

void TAudioOut::Encode(AVFormatContext* s, TOutputStream* ost, TInputStream* ist, uint8_t* buf,
                       int size) {
    TOutputStream& er = *FEncoderRecord(ost);
    AVCodecContext* enc = er.Encoder.get();
    AVCodecContext* dec = ist->Decoder;
    if (!enc) throw FFmpegException("Audio encoding failed");
    const AVSampleFormat encPacked = lib().av_get_packed_sample_fmt(enc->sample_fmt);
    const int osize = lib().av_get_bytes_per_sample(encPacked);
    const int echannels = enc->ch_layout.nb_channels;
    AVFifo* fifo = er.Fifo.get();
    if (!fifo) {
        er.Fifo.reset(lib().av_fifo_alloc2(1024, 1, AV_FIFO_FLAG_AUTO_GROW));
        fifo = er.Fifo.get();
        if (!fifo) throw FFmpegException("av_fifo_alloc fail");
    }
    std::vector<uint8_t> converted;

    if (buf && size > 0) {
        // The decoder's samples, interleaved, as they come in.
        const AVSampleFormat decPacked = lib().av_get_packed_sample_fmt(dec->sample_fmt);
        const int isize = lib().av_get_bytes_per_sample(decPacked);
        const int dchannels = dec->ch_layout.nb_channels;
        if (isize <= 0 || dchannels <= 0) return;

        // A new input layout (another file of a join, or a change in the
        // stream) gets a new converter.
        const bool changed = ost->ResampleSampleFmt != dec->sample_fmt ||
                             ost->ResampleChannels != dchannels ||
                             ost->ResampleSampleRate != dec->sample_rate;
        if (changed) {
            char oldName[32], newName[32];
            std::snprintf(
                oldName, sizeof oldName, "%s",
                lib().av_get_sample_fmt_name(static_cast<AVSampleFormat>(ost->ResampleSampleFmt))
                    ?: "none");
            std::snprintf(newName, sizeof newName, "%s",
                          lib().av_get_sample_fmt_name(dec->sample_fmt) ?: "none");
            FFLogger()->LogFmt(FSender, llInfo,
                               "Input stream #%d.%d frame changed from rate:%d fmt:%s ch:%d to "
                               "rate:%d fmt:%s ch:%d",
                               ist->FileIndex, ist->StreamIndex, ost->ResampleSampleRate, oldName,
                               ost->ResampleChannels, dec->sample_rate, newName, dchannels);
            ost->Resampler.reset();
            ost->ResampleSampleFmt = dec->sample_fmt;
            ost->ResampleChannels = dchannels;
            ost->ResampleSampleRate = dec->sample_rate;
        }
        const bool same = decPacked == encPacked && dchannels == echannels &&
                          dec->sample_rate == enc->sample_rate && FConfig.AudioSyncMethod <= 1;
        if (!same && !ost->Resampler) {
            SwrContext* swr = nullptr;
            AVChannelLayout inLayout{};
            lib().av_channel_layout_copy(&inLayout, &dec->ch_layout);
            if (inLayout.order == AV_CHANNEL_ORDER_UNSPEC)
                lib().av_channel_layout_default(&inLayout, dchannels);
            int ret = lib().swr_alloc_set_opts2(&swr, &enc->ch_layout, encPacked, enc->sample_rate,
                                                &inLayout, decPacked, dec->sample_rate, 0, nullptr);
            lib().av_channel_layout_uninit(&inLayout);
            if (ret >= 0) {
                // The resampler of the day: filter length 16, 2^10 phases,
                // no linear interpolation, cutoff 0.8.
                lib().av_opt_set_int(swr, "filter_size", 16, 0);
                lib().av_opt_set_int(swr, "phase_shift", 10, 0);
                lib().av_opt_set_int(swr, "linear_interp", 0, 0);
                lib().av_opt_set_double(swr, "cutoff", 0.8, 0);
                ret = lib().swr_init(swr);
            }
            ost->Resampler.reset(swr);
            if (ret < 0)
                throw FFmpegException("Can not resample " + std::to_string(dchannels) +
                                      " channels @ " + std::to_string(dec->sample_rate) +
                                      " Hz to " + std::to_string(echannels) + " channels @ " +
                                      std::to_string(enc->sample_rate) + " Hz");
            ost->AudioResample = true;
        }

        // Keep the audio in time with its input.
        const double syncTime = (ost->SyncInput->Pts - FConfig.StartTime) / 1000000.0;
        const int64_t queued = lib().av_fifo_can_read(fifo) / (osize * echannels);
        std::vector<uint8_t> padded;
        if (FConfig.AudioSyncMethod == 0) {
            er.SyncOpts = std::llrint(syncTime * enc->sample_rate) - queued;
        } else {
            const double delta = syncTime * enc->sample_rate - er.SyncOpts - queued;
            const double idelta = delta * dec->sample_rate / enc->sample_rate;
            int64_t byteDelta = static_cast<int64_t>(idelta) * isize * dchannels;
            if (std::fabs(delta) > 50) {
                if (ist->IsStart ||
                    std::fabs(delta) > FConfig.AudioDriftThreshold * enc->sample_rate) {
                    if (byteDelta < 0) {
                        byteDelta = std::max<int64_t>(byteDelta, -size);
                        size += static_cast<int>(byteDelta);
                        buf -= byteDelta;
                        if (FConfig.Verbose > 2)
                            FFLogger()->LogFmt(FSender, llVerbose, "discarding %d audio samples",
                                               static_cast<int>(-delta));
                        ist->IsStart = false;
                        if (size <= 0) return;
                    } else {
                        ist->IsStart = false;
                        padded.assign(size_t(byteDelta) + size, SilenceByte(decPacked));
                        std::memcpy(padded.data() + byteDelta, buf, size);
                        buf = padded.data();
                        size += static_cast<int>(byteDelta);
                        if (FConfig.Verbose > 2)
                            FFLogger()->LogFmt(FSender, llVerbose,
                                               "adding %d audio samples of silence",
                                               static_cast<int>(delta));
                    }
                } else if (FConfig.AudioSyncMethod > 1 && ost->Resampler) {
                    const int comp = std::clamp(static_cast<int>(delta), -FConfig.AudioSyncMethod,
                                                FConfig.AudioSyncMethod);
                    if (FConfig.Verbose > 2)
                        FFLogger()->LogFmt(FSender, llVerbose,
                                           "compensating audio timestamp drift:%f "
                                           "compensation:%d in:%d",
                                           delta, comp, enc->sample_rate);
                    lib().swr_set_compensation(ost->Resampler.get(), comp, enc->sample_rate);
                }
            }
        }

        if (ost->Resampler) {
            const int inSamples = size / (isize * dchannels);
            const int outMax = static_cast<int>(
                int64_t(inSamples) * enc->sample_rate / dec->sample_rate + 256 + inSamples / 8);
            converted.resize(size_t(outMax) * osize * echannels);
            uint8_t* out = converted.data();
            const uint8_t* in = buf;
            const int got = lib().swr_convert(ost->Resampler.get(), &out, outMax, &in, inSamples);
            if (got < 0) throw FFmpegException("Audio encoding failed");
            converted.resize(size_t(got) * osize * echannels);
            buf = converted.data();
            size = static_cast<int>(converted.size());
        }
        if (lib().av_fifo_write(fifo, buf, size) < 0)
            throw FFmpegException("av_fifo_realloc2() failed");
    }

    EncodeFromFifo(s, ost, er, !buf);
}

}  // namespace tw
