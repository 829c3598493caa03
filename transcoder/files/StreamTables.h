// transcoder/files/StreamTables.h — the working records of one transcode: input
// files, input streams and output streams.
//
// Today's streams carry no codec context: every input stream gets a decoder
// context built from its parameters when its file is opened (kept in the
// file tables, see InputDecoders), and every output stream owns its encoder
// context (Encoder); for a copied stream the muxer reads the parameters that
// setup fills into the stream's codecpar.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/fifo.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "binding/LibPtr.h"
#include "transcoder/options/OptionContexts.h"
#include "transcoder/options/OptionState.h"

namespace tw {

/// One per input file, in input order.
struct TInputFile {
    /// The file returned end of file or a read error.
    bool EofReached = false;
    /// Index in the input-stream table of this file's stream 0.
    int FirstStream = 0;
    /// Number of streams of the file when the transcode began.
    int StreamCount = 0;
};

/// Counts and last values of the timestamp correction of decoded data.
struct TPtsCorrection {
    int64_t NumFaultyPts = 0;
    int64_t NumFaultyDts = 0;
    int64_t LastPts = INT64_MIN;
    int64_t LastDts = INT64_MIN;
};

struct TOutputStream;

/// One per stream of every input file (file 0 streams 0..n-1, then file 1 ...).
struct TInputStream {
    int FileIndex = 0;
    int StreamIndex = 0;
    /// The demuxer's stream.
    AVStream* Stream = nullptr;
    /// Its decoder context (owned by the file tables; opened by setup when
    /// decoding is needed).
    AVCodecContext* Decoder = nullptr;
    /// True until some output stream is bound to it.
    bool Discard = true;
    /// Some output stream re-encodes it.
    bool DecodingNeeded = false;
    /// Decoded video pictures (frame number handed to the video input hook).
    int DecodedFrames = 0;
    /// Library clock at setup, taken only with rate emulation.
    int64_t RateEmuStart = 0;
    /// Expected time of the next packet (µs); no time until the first packet.
    int64_t NextPts = AV_NOPTS_VALUE;
    /// Time of the current decoded data (µs).
    int64_t Pts = 0;
    TPtsCorrection PtsCorrection;
    /// True until audio synchronisation first drops or inserts samples.
    bool IsStart = true;
    bool MultiFrameWarned = false;
    /// A packet reached the recording-time limit: no more packets.
    bool PastRecordingTime = false;
    /// Join mode: the decoder was flushed when its file ended.
    bool FlushedAtEof = false;
    /// Source and sink of this stream's video filter graph.
    AVFilterContext* FilterInput = nullptr;
    AVFilterContext* FilterOutput = nullptr;
    FilterGraphPtr FilterGraph;
    /// Picture last taken from the filter graph.
    FramePtr FilterPicture;
    /// The end of the stream was pushed into the graph.
    bool FilterFlushed = false;
    /// Copied packets without decode time: the one derived for the next
    /// packet (stream time base, before the file's offset); no time until
    /// the first packet.
    int64_t DerivedDts = AV_NOPTS_VALUE;
    /// What the graph was built for: the record it feeds and the picture
    /// size and pixel format of its source.
    TOutputStream* FilterRecord = nullptr;
    int FilterWidth = 0;
    int FilterHeight = 0;
    int FilterPixFmt = -1;
    /// The output records bound to this stream, once RecordsKnown (found at
    /// its first packet; see TPacketProcessor::BoundRecords).
    std::vector<TOutputStream*> Records;
    bool RecordsKnown = false;
};

/// One per output stream record; created by the output opener with
/// FileIndex and StreamIndex set, completed by setup.
struct TOutputStream {
    int FileIndex = 0;
    int StreamIndex = 0;
    /// Index of the bound input stream in the input-stream table.
    int SourceIndex = -1;
    /// The muxer's stream.
    AVStream* Stream = nullptr;
    /// The encoder context of this stream: the encode path opens it, the copy
    /// path uses it to carry the parameters that setup fills into codecpar.
    CodecContextPtr Encoder;
    bool EncodingNeeded = false;
    /// Created as a stream copy ("copy" codec): setup copies the input's
    /// parameters instead of opening an encoder.
    bool StreamCopy = false;
    /// With BindInOrder: the record is bound to the stream of its kind with
    /// this number (from 0, cover art not counted) of its input.
    int KindOrdinal = 0;
    /// The cover art of the output (KeepCover): bound to its input's cover,
    /// its parameters set when it was created, written once from the first
    /// input (an attachment never).
    bool Cover = false;
    /// Packets or frames written.
    int FrameNumber = 0;
    /// Input stream whose time drives synchronisation.
    TInputStream* SyncInput = nullptr;
    /// Output position in encoder time-base units (video frames, audio samples).
    int64_t SyncOpts = 0;
    TBitstreamFilterChain BitstreamFilters;

    // --- video
    bool VideoResample = false;
    FramePtr ResampledPicture;
    SwsContextPtr Scaler;
    int ResampleHeight = 0;
    int ResampleWidth = 0;
    int ResamplePixFmt = -1;
    /// Times (encoder time base) that must become key frames.
    std::vector<int64_t> ForcedKeyFramePts;
    int ForcedKeyFrameCount() const { return static_cast<int>(ForcedKeyFramePts.size()); }
    int ForcedKeyFrameIndex = 0;
    /// Statistics of the last coded picture: quality (lambda, -1 = none yet),
    /// picture type and the squared errors of the planes (with PSNR).
    int CodedQuality = -1;
    int CodedPictType = 0;
    int64_t CodedError[3] = {};     // of the last coded picture, per plane
    int64_t CodedErrorSum[3] = {};  // running totals
    int CodedErrorPlanes = 0;       // planes the encoder reports errors for

    // --- audio
    bool AudioResample = false;
    SwrContextPtr Resampler;
    int ResampleSampleFmt = -1;
    int ResampleChannels = 0;
    int ResampleSampleRate = 0;
    /// Sample-format pair the converter was built for; -6 = no pair.
    int ReformatPair = -6;
    SwrContextPtr Reformatter;
    /// Encoder input samples (interleaved bytes) not yet forming a whole frame.
    FifoPtr Fifo;

    /// First-pass statistics file (closed by the release step of setup).
    FilePtr PassLogFile;
    /// Join mode: codec id of the opened encoder, restored before each reopen.
    int EncoderCodecId = 0;
    /// Cleared when the input file of this record's set has ended (join mode).
    bool Active = true;
    /// Join with FillMissingAudio: this audio record's input has no audio.
    /// It is bound to that input's video stream (so it is served with every
    /// decoded picture) and feeds the shared audio encoder silence up to
    /// where SilenceVideo, the video record of the same set, has got.
    bool FillsSilence = false;
    TOutputStream* SilenceVideo = nullptr;
};

}  // namespace tw
