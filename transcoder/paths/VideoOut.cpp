// transcoder/paths/VideoOut.cpp — re-encoding video.
#include "transcoder/paths/VideoOut.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "binding/Entries.h"
#include "transcoder/FFmpegException.h"

namespace tw {

namespace {

// The encoder's statistics of the last coded picture: quality (lambda) and
// picture type.
void TakeCodedStats(TOutputStream& er, const AVPacket* pkt) {
    size_t size = 0;
    const uint8_t* sd = lib().av_packet_get_side_data(pkt, AV_PKT_DATA_QUALITY_STATS, &size);
    if (!sd || size < 5) return;
    er.CodedQuality = static_cast<int>(sd[0] | sd[1] << 8 | sd[2] << 16 | uint32_t(sd[3]) << 24);
    er.CodedPictType = sd[4];
    // Then the error count (one byte, two reserved) and the errors of each
    // plane (64-bit each), filled when the encoder computes PSNR.
    const int planes = std::min<int>(sd[5], 3);
    er.CodedErrorPlanes = planes;
    for (int i = 0; i < planes && size >= 8 + 8 * size_t(i + 1); ++i) {
        std::memcpy(&er.CodedError[i], sd + 8 + 8 * i, sizeof er.CodedError[i]);
        er.CodedErrorSum[i] += er.CodedError[i];
    }
}

}  // namespace

void TVideoOut::PreProcess(TInputStream& ist, AVFrame* picture) {
    ++ist.DecodedFrames;
    FParts.Filter.Refit(&ist, picture);
    FParts.Hooks.ProcessInput(ist, picture);
}

int TVideoOut::Encode(AVFormatContext* s, TOutputStream* ost, TInputStream* ist, AVFrame* picture) {
    // An input without audio: its audio record is served with each of its
    // pictures and keeps the audio as long as the video.
    if (ost->FillsSilence) {
        FParts.Audio.FillSilence(s, ost);
        return 0;
    }
    TOutputStream& er = *FEncoderRecord(ost);
    AVCodecContext* enc = er.Encoder.get();
    if (!enc) throw FFmpegException("Video encoding failed");

    // 1-2. How many frames this picture becomes.
    const double syncTime =
        (ost->SyncInput->Pts - FConfig.StartTime) / 1000000.0 / av_q2d(enc->time_base);
    int n = 1;
    if (FConfig.VideoSyncMethod == 0) {
        ost->SyncOpts = std::llrint(syncTime);
    } else {
        const double vdelta = syncTime - ost->SyncOpts;
        const bool variable =
            FConfig.VideoSyncMethod == 2 ||
            (FConfig.VideoSyncMethod < 0 && (s->oformat->flags & AVFMT_VARIABLE_FPS));
        if (vdelta < -1.1) {
            n = 0;
        } else if (variable) {
            if (vdelta <= -0.6) {
                n = 0;
            } else if (vdelta > 0.6) {
                ost->SyncOpts = std::llrint(syncTime);
            }
        } else if (vdelta > 1.1) {
            n = static_cast<int>(std::llrint(vdelta));
        }
        if (n == 0) {
            ++FCounters.DropFrames;
            FCounters.ReportLogRequested = true;
            if (FConfig.Verbose > 2) FFLogger()->Log(FSender, llVerbose, "*** drop!");
        } else if (n > 1) {
            FCounters.DupFrames += n - 1;
            FCounters.ReportLogRequested = true;
            if (FConfig.Verbose > 2) FFLogger()->LogFmt(FSender, llVerbose, "*** %d dup!", n - 1);
        }
    }
    n = static_cast<int>(
        std::min<int64_t>(n, int64_t(FConfig.MaxFrames[mfVideo]) - ost->FrameNumber));
    if (n <= 0) return 0;

    // 4. Scaling, per record: each input of a join has its own size. A
    // filter graph has scaled the picture already.
    AVFrame* final = picture;
    if (!ist->FilterOutput) {
        if (picture->width != ost->ResampleWidth || picture->height != ost->ResampleHeight ||
            picture->format != ost->ResamplePixFmt) {
            FFLogger()->LogFmt(
                FSender, llQuiet, "Input Stream #%d.%d frame size changed to %dx%d, %s",
                ist->FileIndex, ist->StreamIndex, picture->width, picture->height,
                lib().av_get_pix_fmt_name(static_cast<AVPixelFormat>(picture->format)) ?: "none");
            const bool fitsEncoder = picture->width == enc->width &&
                                     picture->height == enc->height &&
                                     picture->format == enc->pix_fmt;
            // Without scaling set up only a picture the encoder takes as it is
            // can go on.
            if (!ost->VideoResample && !fitsEncoder) throw FFmpegException("Assertion failure");
            ost->Scaler.reset();
            ost->ResampleWidth = picture->width;
            ost->ResampleHeight = picture->height;
            ost->ResamplePixFmt = picture->format;
        }
        if (ost->VideoResample) {
            if (!ost->Scaler) {
                ost->Scaler.reset(lib().sws_getContext(
                    picture->width, picture->height, static_cast<AVPixelFormat>(picture->format),
                    enc->width, enc->height, enc->pix_fmt, FParts.Filter.SwsFlags(), nullptr,
                    nullptr, nullptr));
                if (!ost->Scaler) throw FFmpegException("Cannot get resampling context");
            }
            if (!ost->ResampledPicture) {
                ost->ResampledPicture.reset(lib().av_frame_alloc());
                if (!ost->ResampledPicture)
                    throw FFmpegException("Cannot allocate temp picture, check pix fmt");
            }
            AVFrame* out = ost->ResampledPicture.get();
            if (!out->buf[0] || lib().av_frame_make_writable(out) < 0) {
                lib().av_frame_unref(out);
                out->format = enc->pix_fmt;
                out->width = enc->width;
                out->height = enc->height;
                if (lib().av_frame_get_buffer(out, 0) < 0)
                    throw FFmpegException("Cannot allocate temp picture, check pix fmt");
            }
            lib().sws_scale(ost->Scaler.get(), picture->data, picture->linesize, 0, picture->height,
                            out->data, out->linesize);
            final = out;
        }
    }

    // 5. Encode n times.
    int produced = 0;
    PacketPtr packet(lib().av_packet_alloc());
    AVPacket* pkt = packet.get();
    if (!pkt) throw FFmpegException("Video encoding failed");
    const bool interlacedCoding =
        enc->flags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME);
    for (int i = 0; i < n && !FEvents.StopRequested(); ++i) {
        FramePtr frame(lib().av_frame_clone(final));
        if (!frame) throw FFmpegException("Video encoding failed");
        frame->pts = ost->SyncOpts;
        frame->interlaced_frame = picture->interlaced_frame;
        if (interlacedCoding)
            frame->top_field_first =
                FConfig.TopFieldFirst == -1 ? picture->top_field_first : FConfig.TopFieldFirst;
        frame->quality = FConfig.SameQuality ? picture->quality : enc->global_quality;
        if (FConfig.MeThreshold == 0) frame->pict_type = AV_PICTURE_TYPE_NONE;
        if (er.ForcedKeyFrameIndex < er.ForcedKeyFrameCount() &&
            frame->pts >= er.ForcedKeyFramePts[er.ForcedKeyFrameIndex]) {
            frame->pict_type = AV_PICTURE_TYPE_I;
            ++er.ForcedKeyFrameIndex;
        }
        const int64_t frameTimeUs = lib().av_rescale_q(frame->pts, enc->time_base, {1, 1000000});

        bool converted = false;
        if (FParts.Hooks.HasOutputHook())
            converted = FParts.Hooks.OutputHook(frame.get(), frameTimeUs, ost->FrameNumber + 1);
        FParts.Hooks.Preview(frame.get(), converted, frameTimeUs, ost->FrameNumber + 1);

        if (lib().avcodec_send_frame(enc, frame.get()) < 0)
            throw FFmpegException("Video encoding failed");
        int ret;
        while ((ret = lib().avcodec_receive_packet(enc, pkt)) >= 0) {
            produced = pkt->size;  // the statistics speak of the last frame
            FCounters.VideoSize += pkt->size;
            TakeCodedStats(er, pkt);
            pkt->stream_index = ost->StreamIndex;
            lib().av_packet_rescale_ts(pkt, enc->time_base, er.Stream->time_base);
            if (er.PassLogFile && enc->stats_out) std::fputs(enc->stats_out, er.PassLogFile.get());
            FParts.Writer.WritePacket(s, pkt, enc, er.BitstreamFilters);
            lib().av_packet_unref(pkt);
        }
        if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF)
            throw FFmpegException("Video encoding failed");
        ++ost->SyncOpts;
        ++ost->FrameNumber;
    }
    return produced;
}

void TVideoOut::WriteStats(TOutputStream* ost, int frameSize) {
    if (FConfig.VstatsFileName.empty() || frameSize <= 0) return;
    TOutputStream& er = *FEncoderRecord(ost);
    AVCodecContext* enc = er.Encoder.get();
    if (!enc) return;
    if (!FVstats) {
        FVstats.reset(std::fopen(FConfig.VstatsFileName.c_str(), "w"));
        if (!FVstats) throw FFmpegException("fopen fail: " + FConfig.VstatsFileName);
    }
    std::FILE* f = FVstats.get();
    if (enc->codec_type != AVMEDIA_TYPE_VIDEO) return;
    std::fprintf(f, "frame= %5d q= %2.1f ", ost->FrameNumber, er.CodedQuality / 118.0);
    if (enc->flags & AV_CODEC_FLAG_PSNR)
        std::fprintf(f, "PSNR= %6.2f ",
                     -10.0 * std::log10(double(er.CodedError[0]) /
                                        (double(enc->width) * enc->height * 255.0 * 255.0)));
    std::fprintf(f, "f_size= %6d ", frameSize);
    double ti1 = ost->SyncOpts * av_q2d(enc->time_base);
    if (ti1 < 0.01) ti1 = 0.01;
    const double bitrate = frameSize * 8 / av_q2d(enc->time_base) / 1000.0;
    const double avgBitrate = FCounters.VideoSize * 8 / ti1 / 1000.0;
    std::fprintf(f, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
                 FCounters.VideoSize / 1024.0, ti1, bitrate, avgBitrate);
    std::fprintf(f, "type= %c\n",
                 lib().av_get_picture_type_char(static_cast<AVPictureType>(er.CodedPictType)));
}

}  // namespace tw
