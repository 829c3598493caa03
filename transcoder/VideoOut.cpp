// transcoder/VideoOut.cpp — re-encoding video: how many output frames a
// decoded picture becomes, scaling to the encoder's size and format, forced
// key frames, and encoding.
#include <cmath>

#include "binding/Entries.h"
#include "diag/FFLog.h"
#include "transcoder/CustomFFmpeg.h"
#include "transcoder/StreamTables.h"

namespace tw {

void TCustomFFmpeg::PreProcessVideoFrame(TInputStream* ist, AVFrame*) { ++ist->DecodedFrames; }

int TCustomFFmpeg::BuildFilterGraph(TInputStream*, TOutputStream*) { return AVERROR(ENOSYS); }

int TCustomFFmpeg::DoVideoOut(AVFormatContext* s, TOutputStream* ost, TInputStream* ist,
                              AVFrame* picture) {
    TOutputStream& er = *EncoderRecord(ost);
    AVCodecContext* enc = er.Encoder.get();
    if (!enc) throw FFmpegException("Video encoding failed");

    // 1-2. How many frames this picture becomes.
    const double syncTime =
        (ost->SyncInput->Pts - StartTime) / 1000000.0 / av_q2d(enc->time_base);
    int n = 1;
    if (VideoSyncMethod == 0) {
        ost->SyncOpts = std::llrint(syncTime);
    } else {
        const double vdelta = syncTime - ost->SyncOpts;
        const bool variable = VideoSyncMethod == 2 ||
                              (VideoSyncMethod < 0 && (s->oformat->flags & AVFMT_VARIABLE_FPS));
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
            ++DropFrames;
            if (Verbose > 2) FFLogger()->Log(this, llVerbose, "*** drop!");
        } else if (n > 1) {
            DupFrames += n - 1;
            if (Verbose > 2) FFLogger()->LogFmt(this, llVerbose, "*** %d dup!", n - 1);
        }
    }
    n = static_cast<int>(std::min<int64_t>(n, int64_t(MaxFrames[mfVideo]) - ost->FrameNumber));
    if (n <= 0) return 0;

    // 4. Scaling, per record: each input of a join has its own size.
    AVFrame* final = picture;
    if (picture->width != enc->width || picture->height != enc->height ||
        picture->format != enc->pix_fmt) {
        if (ost->ResampleWidth && (picture->width != ost->ResampleWidth ||
                                   picture->height != ost->ResampleHeight ||
                                   picture->format != ost->ResamplePixFmt) &&
            ost->Scaler) {
            FFLogger()->LogFmt(this, llQuiet, "Input Stream #%d.%d frame size changed to %dx%d, %s",
                               ist->FileIndex, ist->StreamIndex, picture->width, picture->height,
                               lib().av_get_pix_fmt_name(static_cast<AVPixelFormat>(picture->format))
                                   ?: "none");
            ost->Scaler.reset();
        }
        if (!ost->Scaler) {
            ost->Scaler.reset(lib().sws_getContext(
                picture->width, picture->height, static_cast<AVPixelFormat>(picture->format),
                enc->width, enc->height, enc->pix_fmt, SwsFlags, nullptr, nullptr, nullptr));
            if (!ost->Scaler) throw FFmpegException("Cannot get resampling context");
            ost->ResampleWidth = picture->width;
            ost->ResampleHeight = picture->height;
            ost->ResamplePixFmt = picture->format;
            ost->VideoResample = true;
        }
        if (!ost->ResampledPicture) {
            ost->ResampledPicture.reset(lib().av_frame_alloc());
            if (!ost->ResampledPicture) throw FFmpegException("Cannot allocate temp picture, check pix fmt");
        }
        AVFrame* out = ost->ResampledPicture.get();
        if (lib().av_frame_make_writable(out) < 0 || out->width != enc->width) {
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

    // 5. Encode n times.
    int produced = 0;
    AVPacket* pkt = lib().av_packet_alloc();
    if (!pkt) throw FFmpegException("Video encoding failed");
    struct PacketGuard {
        AVPacket*& P;
        ~PacketGuard() { lib().av_packet_free(&P); }
    } guard{pkt};
    for (int i = 0; i < n && !StopRequested; ++i) {
        FramePtr frame(lib().av_frame_clone(final));
        if (!frame) throw FFmpegException("Video encoding failed");
        frame->pts = ost->SyncOpts;
        frame->pict_type = AV_PICTURE_TYPE_NONE;
        frame->interlaced_frame = picture->interlaced_frame;
        if (TopFieldFirst >= 0) frame->top_field_first = TopFieldFirst;
        if (er.ForcedKeyFrameIndex < er.ForcedKeyFrameCount() &&
            frame->pts >= er.ForcedKeyFramePts[er.ForcedKeyFrameIndex]) {
            frame->pict_type = AV_PICTURE_TYPE_I;
            ++er.ForcedKeyFrameIndex;
        }
        if (lib().avcodec_send_frame(enc, frame.get()) < 0)
            throw FFmpegException("Video encoding failed");
        int ret;
        while ((ret = lib().avcodec_receive_packet(enc, pkt)) >= 0) {
            produced += pkt->size;
            VideoSize += pkt->size;
            pkt->stream_index = ost->StreamIndex;
            lib().av_packet_rescale_ts(pkt, enc->time_base, er.Stream->time_base);
            if (er.PassLogFile && enc->stats_out) std::fputs(enc->stats_out, er.PassLogFile);
            WritePacket(s, pkt, enc, er.BitstreamFilters);
            lib().av_packet_unref(pkt);
        }
        if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF)
            throw FFmpegException("Video encoding failed");
        ++ost->SyncOpts;
        ++ost->FrameNumber;
    }
    return produced;
}

}  // namespace tw
