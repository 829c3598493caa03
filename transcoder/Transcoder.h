// transcoder/Transcoder.h — one transcode of an engine: the working tables,
// the setup that binds outputs to inputs, the packet loop that plays the
// inputs (one after another when they are joined), and the packet processing.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "transcoder/AudioOut.h"
#include "transcoder/CopyForm.h"
#include "transcoder/CustomFFmpeg.h"
#include "transcoder/FilterGraph.h"
#include "transcoder/PacketWriter.h"
#include "transcoder/StreamTables.h"
#include "transcoder/VideoHooks.h"
#include "transcoder/VideoOut.h"

namespace tw {

/// A packet its decoder refused: the loop ends the run with it under
/// "xerror", else logs it and goes on.
class TDecodeError : public FFmpegException {
  public:
    using FFmpegException::FFmpegException;
};

class TTranscoder : private TPacketWriter {
  public:
    explicit TTranscoder(TCustomFFmpeg& engine);
    ~TTranscoder();
    TTranscoder(const TTranscoder&) = delete;
    TTranscoder& operator=(const TTranscoder&) = delete;

    /// Setup, loop, trailers and final report. Throws FFmpegException; the
    /// working tables are released in every case.
    void Transcode();

  private:
    // setup (TranscodeSetup.cpp)
    void BuildInputTables();
    void BuildOutputTables();
    void BindWithMap(TOutputStream& ost, int mapIndex);
    void BindWithoutMap(TOutputStream& ost, int entry);
    /// FillMissingAudio: binds the audio record `ost` (table index `index`)
    /// of input `entry`, which has no audio, to that input's video. False
    /// when the input has no video either.
    bool BindSilence(TOutputStream& ost, int entry, size_t index);
    void SetupCodec(TOutputStream& ost);
    void SetupCopy(TOutputStream& ost, TInputStream& ist);
    /// The input's parameters, tag and time base into the copied stream.
    void CopyParameters(TOutputStream& ost, TInputStream& ist);
    void SetupEncode(TOutputStream& ost, TInputStream& ist);
    void OpenPassLog(TOutputStream& ost, int index);
    void OpenEncoders();
    void OpenDecoders();
    void InitInputTiming();
    void Release();
    [[noreturn]] void FailWithMapping(const std::string& message);

    // metadata, chapters, headers (TranscodeMetadata.cpp)
    void MapMetadata();
    void CopyChapters(int input, int output);
    void MapChapters();
    void WriteHeaders();
    /// Refuses a copied codec the output's container cannot hold, before
    /// anything is written.
    void CheckCopiedCodecs();
    /// Header parameters of copied streams in their stored form, and one
    /// converter per copied record into that form.
    void PrepareCopyForms();
    void LogStreamMapping();
    AVFormatContext* Output(int entry) const { return FEngine.OutputFiles[entry].get(); }

    // loop (TranscodeLoop.cpp)
    void Loop();
    bool SwitchFile(int& file);
    void AfterLoop();
    void Report(bool final, int fileIndex);
    void ProgressCheck(int64_t& lastReport, int file);
    double CurrentTime(const TOutputStream& ost) const;
    void CloseEncoders();
    /// The next packet of an input: first what was read ahead, then the
    /// demuxer. Returns the demuxer's result code.
    int ReadPacket(int file, AVPacket* pkt);
    /// Reads the first packets of an input into its queue (a few per copied
    /// stream), so that its placement can see its earliest decode times.
    void ReadAhead(int file);
    int ReadFromDemuxer(int file, AVPacket* pkt);
    void SizeReadAheadTables();
    /// A copied stream's packet without decode time gets one derived from
    /// its presentation times (input time base, before any offset).
    void FillDecodeTime(int file, AVPacket* pkt);
    /// Join mode: the offset that places the next input after the end of
    /// the previous one, with no decode time of any stream going back.
    int64_t NextInputShift(int next, double endTime);

    // packets (TranscodePackets.cpp)
    /// Decodes (or copies) one packet and serves its frames; a null packet
    /// drains the decoder and, at the end of the join, the encoders. Throws
    /// TDecodeError "Error while decoding stream #<file>.<stream> (<type>)"
    /// when the packet cannot be decoded (a drain never throws it).
    void ProcessPacket(TInputStream& ist, AVPacket* pkt);
    [[noreturn]] void DecodeFailed(const TInputStream& ist);
    /// Decoded samples into FAudioBuffer as interleaved bytes (FAudioBytes).
    void InterleaveAudio(const AVFrame* frame);
    /// Serves every picture the stream's filter graph has ready.
    template <typename Serve>
    void ServeFiltered(TInputStream& ist, Serve& serve);
    void CopyPacket(TOutputStream& ost, TInputStream& ist, const AVPacket* pkt);
    void DrainEncoder(TOutputStream& ost, TInputStream& ist);
    void SubtitleOut(TOutputStream& ost, TInputStream& ist, AVSubtitle* sub, int64_t pts);

    /// Writes a packet through the record's bitstream filters and the
    /// interleaving muxer; records the stream's current time.
    void WritePacket(AVFormatContext* s, AVPacket* pkt, AVCodecContext* avctx,
                     TBitstreamFilterChain& bsfs) override;
    /// The same from filter firstFilter of the chain on.
    void WriteFiltered(AVFormatContext* s, AVPacket* pkt, AVCodecContext* avctx,
                       TBitstreamFilterChain& bsfs, size_t firstFilter);

    /// The engine this transcode runs: its options, file tables, counters
    /// and callbacks.
    TCustomFFmpeg& FEngine;
    TEncoderRecords FEncoderRecord;
    TVideoFilter FVideoFilter;
    TVideoHooks FHooks;
    TAudioOut FAudio;
    TVideoOut FVideo;
    std::vector<TInputFile> FFiles;
    std::vector<std::unique_ptr<TInputStream>> FInputs;
    // All records of output entry 0, then entry 1, ...
    std::vector<TOutputStream*> FOutputs;
    int FStreamsPerOutput = 0;
    std::vector<bool> FNoPacket;
    int FNoPacketCount = 0;
    std::vector<TOutputStream*> FOpenEncoders;
    std::vector<TInputStream*> FOpenDecoders;
    // End of what the muxer has of each output stream, in its time base.
    std::map<const AVStream*, int64_t> FStreamEnd;
    // Last decode time written to each output stream and the step before it
    // (its time base): where the next input's first packet may go.
    struct TLastDts {
        int64_t Dts = AV_NOPTS_VALUE;
        int64_t Step = 0;
    };
    std::map<const AVStream*, TLastDts> FStreamLastDts;
    // Packets read ahead of the loop, per input file, and the read result
    // that ended the read-ahead (0 when the file goes on).
    std::vector<std::deque<PacketPtr>> FReadAhead;
    std::vector<int> FReadAheadEnd;
    std::vector<bool> FReadAheadDone;
    // Converters of copied records into the output's bitstream form.
    std::map<const TOutputStream*, std::unique_ptr<TCopyForm>> FCopyForms;
    int64_t FTimerStart = 0;
    bool FStopCheckRegistered = false;
    bool FReleased = false;
    // False while a joined input ends that is not the last: its decoders
    // are drained, the encoders go on with the next input.
    bool FDrainEncoders = true;
    // Reused per packet: decoding never allocates a frame or packet per call.
    FramePtr FFrame;
    PacketPtr FOutPacket;
    std::vector<uint8_t> FAudioBuffer;
    /// Bytes of the decoded samples in FAudioBuffer.
    size_t FAudioBytes = 0;
    /// Encoded subtitles (allocated with the first one).
    std::vector<uint8_t> FSubtitleBuffer;
};

}  // namespace tw
