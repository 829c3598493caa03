// transcoder/paths/AudioOut.h — re-encoding audio: conversion to the encoder's
// rate, layout and format, keeping the audio in time with its input, and
// whole encoder frames out of the record's FIFO.
#pragma once

#include <cstdint>

#include "diag/FFLog.h"
#include "transcoder/RunContext.h"
#include "transcoder/files/StreamTables.h"
#include "transcoder/paths/PacketWriter.h"

namespace tw {

/// The audio path of one transcode; engine thread only. Reads the run's
/// configuration, adds the bytes it writes to its counters' AudioSize and writes through
/// `writer`. The converters and the FIFO belong to the output records.
/// Throws FFmpegException: "Audio encoding failed", "av_fifo_alloc fail",
/// "av_fifo_realloc2() failed", "Out of memory in do_audio_out",
/// "Can not resample <n> channels @ <r> Hz to <n> channels @ <r> Hz".
class TAudioOut {
  public:
    TAudioOut(const TRunContext& run, const TEncoderRecords& encoderRecord, TPacketWriter& writer)
        : FConfig(run.Config),
          FCounters(run.Counters),
          FEncoderRecord(encoderRecord),
          FWriter(writer),
          FSender(run.Events.LogSender()) {}

    /// Encodes `size` bytes of decoded samples (interleaved, in the format of
    /// ist's decoder) for ost; without a buffer, drains what the FIFO still
    /// holds as a last (short or padded) frame.
    void Encode(AVFormatContext* s, TOutputStream* ost, TInputStream* ist, uint8_t* buf, int size);
    /// FillMissingAudio: feeds the audio encoder of ost (a FillsSilence
    /// record) silence up to the end of the set's video so far.
    void FillSilence(AVFormatContext* s, TOutputStream* ost);

  private:
    void EncodeFromFifo(AVFormatContext* s, TOutputStream* ost, TOutputStream& er, bool flushing);

    const TRunConfig& FConfig;
    TRunCounters& FCounters;
    const TEncoderRecords& FEncoderRecord;
    TPacketWriter& FWriter;
    TLogSender FSender;
};

}  // namespace tw
