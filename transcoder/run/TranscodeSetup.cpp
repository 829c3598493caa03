// transcoder/run/TranscodeSetup.cpp — the setup of a transcode: the input and
// output tables, binding each output stream to an input stream, the copy and
// encode parameters, opening encoders and decoders, and the release step.
#include "transcoder/run/TranscodeSetup.h"

#include <cinttypes>
#include <climits>
#include <cstring>

#include "binding/Entries.h"
#include "binding/LockManager.h"
#include "diag/FFLog.h"
#include "diag/FFUtils.h"
#include "diag/LibraryErrorCapture.h"

namespace tw {

void TTranscodeSetup::Build() {
    BuildInputTables();
    BuildOutputTables();
    OpenEncoders();
    OpenDecoders();
    InitInputTiming();
}

void TTranscodeSetup::BuildInputTables() {
    int count = 0;
    for (int i = 0; i < FTables.EngineFiles.InputFileCount; ++i) {
        AVFormatContext* ic = FTables.EngineFiles.InputFiles[i].get();
        TInputFile f;
        f.FirstStream = count;
        f.StreamCount = static_cast<int>(ic->nb_streams);
        FTables.Files.push_back(f);
        for (unsigned j = 0; j < ic->nb_streams; ++j) {
            auto ist = std::make_unique<TInputStream>();
            ist->Stream = ic->streams[j];
            ist->Decoder = j < FTables.EngineFiles.InputDecoders[i].size()
                               ? FTables.EngineFiles.InputDecoders[i][j].get()
                               : nullptr;
            ist->FileIndex = i;
            ist->StreamIndex = static_cast<int>(j);
            ist->Discard = true;
            if (FConfig.RateEmulation) ist->RateEmuStart = lib().av_gettime();
            FTables.Inputs.push_back(std::move(ist));
        }
        count += f.StreamCount;
    }
}
void TTranscodeSetup::BuildOutputTables() {
    for (int i = 0; i < FTables.EngineFiles.OutputFileCount; ++i) {
        AVFormatContext* oc = FTables.Output(i);
        if (oc->nb_streams == 0 && !(oc->oformat->flags & AVFMT_NOSTREAMS)) {
            lib().av_dump_format(oc, i, oc->url, 1);
            throw FFmpegException("Output file #" + std::to_string(i) +
                                  " does not contain any stream");
        }
    }
    FTables.StreamsPerOutput = FTables.EngineFiles.OutputFileCount > 0
                                   ? static_cast<int>(FTables.Output(0)->nb_streams)
                                   : 0;
    for (int i = 0; i < FTables.EngineFiles.OutputFileCount; ++i)
        for (auto& rec : FTables.EngineFiles.OutputStreams[i])
            if (rec) FTables.Outputs.push_back(rec.get());

    const int maps = FConfig.StreamMapCount();
    if (maps > 0 && maps != static_cast<int>(FTables.Outputs.size()))
        throw FFmpegException("Number of stream maps must match number of output streams");
    for (const TStreamMap& m : FConfig.StreamMaps) {
        if (m.File < 0 || m.File >= static_cast<int>(FTables.Files.size()) || m.Stream < 0 ||
            m.Stream >= FTables.Files[m.File].StreamCount)
            throw FFmpegException("Could not find input stream #" + std::to_string(m.File) + "." +
                                  std::to_string(m.Stream));
        if (m.SyncFile < 0 || m.SyncFile >= static_cast<int>(FTables.Files.size()) ||
            m.SyncStream < 0 || m.SyncStream >= FTables.Files[m.SyncFile].StreamCount)
            throw FFmpegException("Could not find sync stream #" + std::to_string(m.SyncFile) +
                                  "." + std::to_string(m.SyncStream));
    }

    size_t n = 0;
    for (int j = 0; j < FTables.EngineFiles.OutputFileCount; ++j) {
        AVFormatContext* oc = FTables.Output(j);
        for (unsigned k = 0; k < oc->nb_streams && n < FTables.Outputs.size(); ++k, ++n) {
            TOutputStream& ost = *FTables.Outputs[n];
            ost.Stream = oc->streams[k];
            if (maps > 0)
                BindWithMap(ost, static_cast<int>(n));
            else
                BindWithoutMap(ost, j);
            TInputStream& ist = *FTables.Inputs[ost.SourceIndex];
            ist.Discard = false;
            if (maps > 0) {
                const TStreamMap& m = FConfig.StreamMaps[n];
                ost.SyncInput =
                    FTables.Inputs[FTables.Files[m.SyncFile].FirstStream + m.SyncStream].get();
            } else {
                ost.SyncInput = &ist;
            }
            ost.Active = true;
        }
    }
    for (TOutputStream* ost : FTables.Outputs) SetupCodec(*ost);

    if (FCounters.BitBufferSize < 0)
        throw FFmpegException("Cannot allocate " + std::to_string(FCounters.BitBufferSize) +
                              " bytes output buffer");
}
// The media type of an output record: its encoder context carries it (the
// muxer's parameters are filled only at setup), else the first set's record.
static AVMediaType OutputType(const TOutputStream& ost, const std::vector<TOutputStream*>& all,
                              int perOutput, size_t index) {
    if (ost.Encoder) return ost.Encoder->codec_type;
    if (perOutput > 0) {
        const TOutputStream* first = all[index % perOutput];
        if (first->Encoder) return first->Encoder->codec_type;
    }
    return ost.Stream->codecpar->codec_type;
}

void TTranscodeSetup::BindWithMap(TOutputStream& ost, int mapIndex) {
    const TStreamMap& m = FConfig.StreamMaps[mapIndex];
    ost.SourceIndex = FTables.Files[m.File].FirstStream + m.Stream;
    const AVMediaType in = FTables.Inputs[ost.SourceIndex]->Stream->codecpar->codec_type;
    const AVMediaType out = OutputType(ost, FTables.Outputs, FTables.StreamsPerOutput, mapIndex);
    if (in != out) {
        lib().av_dump_format(FTables.Output(ost.FileIndex), ost.FileIndex,
                             FTables.Output(ost.FileIndex)->url, 1);
        throw FFmpegException("Codec type mismatch for mapping #" + std::to_string(m.File) + "." +
                              std::to_string(m.Stream) + " (" + MediaTypeName(in) + ") -> #" +
                              std::to_string(ost.FileIndex) + "." +
                              std::to_string(ost.StreamIndex) + " (" + MediaTypeName(out) + ")");
    }
}
void TTranscodeSetup::BindWithoutMap(TOutputStream& ost, int entry) {
    size_t index = 0;
    for (; index < FTables.Outputs.size(); ++index)
        if (FTables.Outputs[index] == &ost) break;
    const AVMediaType type = OutputType(ost, FTables.Outputs, FTables.StreamsPerOutput, index);
    if (ost.Cover) {
        // Its own input's cover, or the first input's: the picture is
        // written once, from the first.
        const int file = FConfig.JoinMode ? entry : 0;
        for (const int f : {file, 0})
            for (size_t i = 0; i < FTables.Inputs.size(); ++i) {
                const TInputStream& ist = *FTables.Inputs[i];
                if (ist.FileIndex == f && (ist.Stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
                    ost.SourceIndex = static_cast<int>(i);
                    return;
                }
            }
    }
    auto inProgram = [&](const TInputStream& ist) {
        if (FConfig.ProgramId == 0) return true;
        const AVFormatContext* ic = FTables.EngineFiles.InputFiles[ist.FileIndex].get();
        for (unsigned p = 0; p < ic->nb_programs; ++p) {
            const AVProgram* prog = ic->programs[p];
            if (prog->id != FConfig.ProgramId) continue;
            for (unsigned k = 0; k < prog->nb_stream_indexes; ++k)
                if (static_cast<int>(prog->stream_index[k]) == ist.StreamIndex) return true;
        }
        return false;
    };
    // Cover art is a still picture beside the media, never the video.
    auto isCover = [](const TInputStream& ist) {
        return (ist.Stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
    };
    // The candidate the demuxer knows most about: today's libraries keep
    // their probe counts to themselves, so the frame count the container
    // declares stands for it (equal counts keep the earlier stream).
    int best = -1;
    int64_t bestFrames = -1;
    if (FConfig.BindInOrder) {
        // The stream of the kind with the record's number, of its own input.
        const int file = FConfig.JoinMode ? entry : 0;
        int n = 0;
        for (size_t i = 0; i < FTables.Inputs.size() && best < 0; ++i) {
            const TInputStream& ist = *FTables.Inputs[i];
            if (ist.FileIndex != file || ist.Stream->codecpar->codec_type != type || isCover(ist))
                continue;
            if (n++ == ost.KindOrdinal && ist.Stream->discard != AVDISCARD_ALL)
                best = static_cast<int>(i);
        }
    }
    for (size_t i = 0; i < FTables.Inputs.size() && !FConfig.BindInOrder; ++i) {
        const TInputStream& ist = *FTables.Inputs[i];
        if (!ist.Discard || ist.Stream->discard == AVDISCARD_ALL || isCover(ist)) continue;
        if (ist.Stream->codecpar->codec_type != type || !inProgram(ist)) continue;
        if (FConfig.JoinMode && ist.FileIndex != entry) continue;
        const int64_t frames = ist.Stream->nb_frames;
        if (best < 0 || frames > bestFrames) {
            best = static_cast<int>(i);
            bestFrames = frames;
        }
    }
    if (best < 0 && FConfig.JoinMode && FConfig.FillMissingAudio && type == AVMEDIA_TYPE_AUDIO &&
        FTables.StreamsPerOutput > 0 &&
        !FTables.Outputs[index % FTables.StreamsPerOutput]->StreamCopy &&
        BindSilence(ost, entry, index))
        return;
    if (best < 0 && FConfig.ProgramId == 0 && !FConfig.JoinMode && !FConfig.BindInOrder) {
        for (size_t i = 0; i < FTables.Inputs.size(); ++i) {
            const TInputStream& ist = *FTables.Inputs[i];
            if (ist.Stream->codecpar->codec_type == type && ist.Stream->discard != AVDISCARD_ALL &&
                !isCover(ist))
                best = static_cast<int>(i);
        }
    }
    if (best < 0) {
        lib().av_dump_format(FTables.Output(ost.FileIndex), ost.FileIndex,
                             FTables.Output(ost.FileIndex)->url, 1);
        throw FFmpegException("Could not find input stream matching output stream #" +
                              std::to_string(ost.FileIndex) + "." +
                              std::to_string(ost.StreamIndex) + " (" + MediaTypeName(type) + ")");
    }
    ost.SourceIndex = best;
}
bool TTranscodeSetup::BindSilence(TOutputStream& ost, int entry, size_t index) {
    // The set's video record measures how much silence the input needs.
    const size_t set = index / FTables.StreamsPerOutput * FTables.StreamsPerOutput;
    TOutputStream* video = nullptr;
    for (size_t r = set; r < set + FTables.StreamsPerOutput && r < FTables.Outputs.size(); ++r)
        if (OutputType(*FTables.Outputs[r], FTables.Outputs, FTables.StreamsPerOutput, r) ==
            AVMEDIA_TYPE_VIDEO)
            video = FTables.Outputs[r];
    if (!video) return false;
    for (size_t i = 0; i < FTables.Inputs.size(); ++i) {
        const TInputStream& ist = *FTables.Inputs[i];
        if (ist.FileIndex != entry || ist.Stream->discard == AVDISCARD_ALL ||
            ist.Stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO ||
            (ist.Stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        ost.SourceIndex = static_cast<int>(i);
        ost.FillsSilence = true;
        ost.SilenceVideo = video;
        return true;
    }
    return false;
}
void TTranscodeSetup::SetupCodec(TOutputStream& ost) {
    TInputStream& ist = *FTables.Inputs[ost.SourceIndex];
    AVStream* ost_st = ost.Stream;
    AVStream* ist_st = ist.Stream;
    if (FConfig.MetadataStreamsAutocopy)
        lib().av_dict_copy(&ost_st->metadata, ist_st->metadata, AV_DICT_DONT_OVERWRITE);
    ost_st->disposition = ist_st->disposition;

    // Records of later sets in join mode share the first set's encoder.
    size_t index = 0;
    for (; index < FTables.Outputs.size(); ++index)
        if (FTables.Outputs[index] == &ost) break;
    TOutputStream& first =
        FTables.StreamsPerOutput > 0 ? *FTables.Outputs[index % FTables.StreamsPerOutput] : ost;
    const bool copy = first.StreamCopy;
    // The cover's parameters were set when it was made.
    if (ost.Cover) return;
    if (copy) {
        SetupCopy(ost, ist);
    } else if (&first == &ost) {
        SetupEncode(ost, ist);
        OpenPassLog(ost, static_cast<int>(index));
    } else {
        // A later set of a joined output: it decodes its own input and feeds
        // the first set's encoder.
        ost.EncodingNeeded = true;
        ist.DecodingNeeded = true;
        ost.ReformatPair = -6;
        AVCodecContext* dec = ist.Decoder;
        if (ist.Stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && first.Encoder) {
            ost.AudioResample = ist.Stream->codecpar->sample_rate != first.Encoder->sample_rate ||
                                FConfig.AudioSyncMethod > 1;
            if (dec) {
                ost.ResampleSampleFmt = dec->sample_fmt;
                ost.ResampleChannels = dec->ch_layout.nb_channels;
                ost.ResampleSampleRate = dec->sample_rate;
            }
        }
        AVCodecContext* enc = first.Encoder.get();
        if (dec && enc && enc->codec_type == AVMEDIA_TYPE_VIDEO) {
            // Its pictures are scaled to the output size unless they have it.
            ost.VideoResample = dec->width != enc->width || dec->height != enc->height ||
                                dec->pix_fmt != enc->pix_fmt;
            ost.ResampleWidth = dec->width;
            ost.ResampleHeight = dec->height;
            ost.ResamplePixFmt = dec->pix_fmt;
            if ((FConfig.UseVideoFilters || FConfig.FitPictures) &&
                FVideoFilter.Build(&ist, &ost) < 0)
                throw FFmpegException("Error opening filters!");
        }
    }
    const AVCodecParameters* par = ost_st->codecpar;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO ||
        (first.Encoder && first.Encoder->codec_type == AVMEDIA_TYPE_VIDEO)) {
        const int w = first.Encoder && !copy ? first.Encoder->width : par->width;
        const int h = first.Encoder && !copy ? first.Encoder->height : par->height;
        const int64_t need = int64_t(w) * h * 6 + 200;
        if (need > FCounters.BitBufferSize)
            FCounters.BitBufferSize = need > INT_MAX ? INT_MAX : static_cast<int>(need);
    }
}
void TTranscodeSetup::CopyParameters(TOutputStream& ost, TInputStream& ist) {
    AVCodecParameters* in = ist.Stream->codecpar;
    AVCodecParameters* out = ost.Stream->codecpar;
    const uint32_t keepTag = out->codec_tag;
    const AVCodecID previousId = out->codec_id;
    if (lib().avcodec_parameters_copy(out, in) < 0) throw FFmpegException("av_mallocz fail");
    // The tag: the input's when the container has no tag table, or maps the
    // input's tag to this codec, or has no tag of its own for it.
    out->codec_tag = keepTag;
    if (previousId != AV_CODEC_ID_NONE && previousId != in->codec_id) out->codec_tag = 0;
    if (!out->codec_tag) {
        const AVOutputFormat* of = FTables.Output(ost.FileIndex)->oformat;
        unsigned int tag = 0;
        if (!of->codec_tag || lib().av_codec_get_id(of->codec_tag, in->codec_tag) == in->codec_id ||
            !lib().av_codec_get_tag2(of->codec_tag, in->codec_id, &tag))
            out->codec_tag = in->codec_tag;
    }

    // Time base of the copy: the frame duration when the container's own
    // time base is finer than a millisecond, unless told to keep it.
    const AVRational streamTb = ist.Stream->time_base;
    AVRational codecTb{0, 1};
    if (in->codec_type == AVMEDIA_TYPE_VIDEO && ist.Stream->r_frame_rate.num)
        codecTb = av_inv_q(ist.Stream->r_frame_rate);
    else if (in->codec_type == AVMEDIA_TYPE_AUDIO && in->sample_rate > 0)
        codecTb = {1, in->sample_rate};
    AVRational tb = streamTb;
    if (!FConfig.CopyTb && codecTb.num && av_q2d(codecTb) > av_q2d(streamTb) &&
        av_q2d(streamTb) < 0.001)
        tb = codecTb;
    ost.Stream->time_base = tb;
    // Muxers take the frame rate from the stream (FLV's metadata and its
    // key-frame index times).
    if (in->codec_type == AVMEDIA_TYPE_VIDEO) {
        ost.Stream->avg_frame_rate = ist.Stream->avg_frame_rate;
        ost.Stream->r_frame_rate = ist.Stream->r_frame_rate;
        CopyDisplayMatrix(ost, ist);
    }
}
void TTranscodeSetup::CopyDisplayMatrix(TOutputStream& ost, TInputStream& ist) {
    // How the picture is turned for display is stream side data, which the
    // codec parameters do not carry: without it a phone clip plays sideways.
    // Muxers that can store it (MP4, MOV) write it into the track header.
    size_t size = 0;
    const uint8_t* matrix =
        lib().av_stream_get_side_data(ist.Stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!matrix || size < 9 * sizeof(int32_t)) return;
    uint8_t* copy = lib().av_stream_new_side_data(ost.Stream, AV_PKT_DATA_DISPLAYMATRIX, size);
    if (!copy) throw FFmpegException("av_mallocz fail");
    std::memcpy(copy, matrix, size);
}
void TTranscodeSetup::SetupCopy(TOutputStream& ost, TInputStream& ist) {
    AVCodecParameters* in = ist.Stream->codecpar;
    AVCodecParameters* out = ost.Stream->codecpar;
    if (int64_t(in->extradata_size) + AV_INPUT_BUFFER_PADDING_SIZE > INT_MAX)
        throw FFmpegException("icodec.extradata_size is invalid (too large)");
    // The sets of a join share the muxer's streams: the header describes the
    // first input, later inputs are converted to it while copying.
    const bool laterSet = FConfig.JoinMode && ost.FileIndex > 0;
    if (!laterSet) CopyParameters(ost, ist);
    switch (in->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            if (FEvents.HasVideoInputHook() || FEvents.HasVideoOutputHook())
                throw FFmpegException(
                    "-vcodec copy and VideoHook are incompatible (frames are not decoded)");
            if (!FFrameHooks.Empty())
                throw FFmpegException(
                    "-vcodec copy and -vhook are incompatible (frames are not decoded)");
            if (FEvents.PreviewFlags() != 0)
                throw FFmpegException(
                    "-vcodec copy and PostHooks are incompatible (frames are not decoded)");
            if (!laterSet && ost.Stream->sample_aspect_ratio.num)
                out->sample_aspect_ratio = ost.Stream->sample_aspect_ratio;
            break;
        case AVMEDIA_TYPE_AUDIO:
            if (FConfig.AudioVolume != 256)
                throw FFmpegException(
                    "-acodec copy and -vol are incompatible (frames are not decoded)");
            if (FEvents.HasAudioHook())
                throw FFmpegException(
                    "-acodec copy and AudioHook are incompatible (frames are not decoded)");
            if (!laterSet && ((out->block_align == 1 && out->codec_id == AV_CODEC_ID_MP3) ||
                              out->codec_id == AV_CODEC_ID_AC3))
                out->block_align = 0;
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            break;
        default:
            throw FFmpegException("invalid codec_type of output stream");
    }
}
void TTranscodeSetup::SetupEncode(TOutputStream& ost, TInputStream& ist) {
    AVCodecContext* enc = ost.Encoder.get();
    AVCodecContext* dec = ist.Decoder;
    if (!enc || !dec) throw FFmpegException("invalid codec_type of output stream");
    if (ost.FillsSilence) {
        // Nothing to decode or convert: silence goes straight into the FIFO.
        ost.Fifo.reset(lib().av_fifo_alloc2(1024, 1, AV_FIFO_FLAG_AUTO_GROW));
        if (!ost.Fifo) throw FFmpegException("av_fifo_alloc fail");
        ost.ReformatPair = -6;
        ost.EncodingNeeded = true;
        ost.ResampleSampleFmt = enc->sample_fmt;
        ost.ResampleChannels = enc->ch_layout.nb_channels;
        ost.ResampleSampleRate = enc->sample_rate;
        return;
    }
    enc->bits_per_raw_sample = dec->bits_per_raw_sample;
    enc->chroma_sample_location = dec->chroma_sample_location;
    switch (enc->codec_type) {
        case AVMEDIA_TYPE_AUDIO:
            ost.Fifo.reset(lib().av_fifo_alloc2(1024, 1, AV_FIFO_FLAG_AUTO_GROW));
            if (!ost.Fifo) throw FFmpegException("av_fifo_alloc fail");
            ost.ReformatPair = -6;
            ost.AudioResample = dec->sample_rate != enc->sample_rate || FConfig.AudioSyncMethod > 1;
            ost.EncodingNeeded = true;
            ist.DecodingNeeded = true;
            ost.ResampleSampleFmt = dec->sample_fmt;
            ost.ResampleChannels = dec->ch_layout.nb_channels;
            ost.ResampleSampleRate = dec->sample_rate;
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            ost.EncodingNeeded = true;
            ist.DecodingNeeded = true;
            break;
        case AVMEDIA_TYPE_VIDEO:
            if (enc->pix_fmt == AV_PIX_FMT_NONE)
                throw FFmpegException("Video pixel format is unknown, stream cannot be encoded");
            ost.VideoResample = dec->width != enc->width || dec->height != enc->height ||
                                dec->pix_fmt != enc->pix_fmt;
            if (ost.VideoResample) enc->bits_per_raw_sample = 0;
            ost.ResampleHeight = dec->height;
            ost.ResampleWidth = dec->width;
            ost.ResamplePixFmt = dec->pix_fmt;
            ost.EncodingNeeded = true;
            ist.DecodingNeeded = true;
            // Fitted pictures are square-pixel pictures of the output size.
            if (FConfig.FitPictures)
                enc->sample_aspect_ratio = ost.Stream->sample_aspect_ratio = {1, 1};
            if ((FConfig.UseVideoFilters || FConfig.FitPictures) &&
                FVideoFilter.Build(&ist, &ost) < 0)
                throw FFmpegException("Error opening filters!");
            break;
        default:
            throw FFmpegException("invalid codec_type of output stream");
    }
}
void TTranscodeSetup::OpenPassLog(TOutputStream& ost, int index) {
    AVCodecContext* enc = ost.Encoder.get();
    if (!ost.EncodingNeeded || !enc || !(enc->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2)))
        return;
    std::string name = (FConfig.PassLogFilePrefix.empty() ? std::string("ffmpeg2pass")
                                                          : FConfig.PassLogFilePrefix) +
                       "-" + std::to_string(index) + ".log";
    if (name.size() >= 1024) name.resize(1023);
    if (enc->flags & AV_CODEC_FLAG_PASS1) {
        ost.PassLogFile.reset(std::fopen(name.c_str(), "wb"));
        if (!ost.PassLogFile)
            throw FFmpegException("Cannot write log file " + name + " for pass-1 encoding");
    } else {
        FilePtr f(std::fopen(name.c_str(), "rb"));
        if (!f)
            throw FFmpegException("Cannot read file: Error reading log file \"" + name +
                                  "\" for pass-2 encoding");
        std::string text;
        char buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) text.append(buf, n);
        f.reset();
        char* copy = lib().av_strdup(text.c_str());
        if (!copy)
            throw FFmpegException("Could not allocate file buffer: Error reading log file \"" +
                                  name + "\" for pass-2 encoding");
        enc->stats_in = copy;  // freed with the context by its deleter
    }
}
void TTranscodeSetup::OpenEncoders() {
    const size_t count = FConfig.JoinMode ? FTables.StreamsPerOutput : FTables.Outputs.size();
    for (size_t i = 0; i < count && i < FTables.Outputs.size(); ++i) {
        TOutputStream& ost = *FTables.Outputs[i];
        if (!ost.EncodingNeeded) continue;
        AVCodecContext* enc = ost.Encoder.get();
        const AVCodec* codec =
            i < FTables.EngineFiles.OutputCodecs.size() && FTables.EngineFiles.OutputCodecs[i]
                ? FTables.EngineFiles.OutputCodecs[i]
                : lib().avcodec_find_encoder(enc->codec_id);
        const std::string where = "output stream #" + std::to_string(ost.FileIndex) + "." +
                                  std::to_string(ost.StreamIndex) + " (" +
                                  MediaTypeName(enc->codec_type) + ")";
        if (!codec)
            FHeaders.FailWithMapping("Encoder (codec id " + std::to_string(enc->codec_id) +
                                     ") not found for " + where);
        TInputStream& ist = *FTables.Inputs[ost.SourceIndex];
        // A subtitle decoder makes the styles the encoder starts from when
        // it is opened.
        if (enc->codec_type == AVMEDIA_TYPE_SUBTITLE && ist.Decoder && ist.DecodingNeeded &&
            !lib().avcodec_is_open(ist.Decoder))
            OpenDecoder(ist, ost.SourceIndex);
        if (ist.Decoder && ist.Decoder->subtitle_header) {
            enc->subtitle_header =
                static_cast<uint8_t*>(lib().av_mallocz(ist.Decoder->subtitle_header_size + 1));
            if (!enc->subtitle_header) FHeaders.FailWithMapping("av_malloc failed");
            std::memcpy(enc->subtitle_header, ist.Decoder->subtitle_header,
                        ist.Decoder->subtitle_header_size);
            enc->subtitle_header_size = ist.Decoder->subtitle_header_size;
        }
        if (FConfig.JoinMode) ost.EncoderCodecId = enc->codec_id;
        int ret;
        // The encoder's own reason (libx264 names the parameter it refuses)
        // goes into the message, not only into the log.
        TLibraryErrorCapture reasons;
        {
            CodecLockGuard lock;
            ret = lib().avcodec_open2(enc, codec, nullptr);
        }
        if (ret < 0) {
            std::string message = "Error while opening encoder for " + where +
                                  " - maybe incorrect parameters such as bit_rate, rate, width "
                                  "or height. Please check error log message to find out more "
                                  "detail information.";
            for (const std::string& line : reasons.Lines()) message += "\n" + line;
            FHeaders.FailWithMapping(message);
        }
        FOpenEncoders.push_back(&ost);
        FCounters.ExtraSize += enc->extradata_size;
        // The muxer writes what the encoder says in its header.
        lib().avcodec_parameters_from_context(ost.Stream->codecpar, enc);
        ost.Stream->time_base = enc->time_base;
        // Muxers time their indexes by the stream's frame rate (an FLV
        // key-frame index without one holds no valid times).
        if (enc->codec_type == AVMEDIA_TYPE_VIDEO && enc->framerate.num > 0 &&
            enc->framerate.den > 0)
            ost.Stream->avg_frame_rate = enc->framerate;
    }
}
void TTranscodeSetup::OpenDecoders() {
    for (size_t i = 0; i < FTables.Inputs.size(); ++i) {
        TInputStream& ist = *FTables.Inputs[i];
        if (!ist.DecodingNeeded || (ist.Decoder && lib().avcodec_is_open(ist.Decoder))) continue;
        OpenDecoder(ist, i);
    }
}
void TTranscodeSetup::OpenDecoder(TInputStream& ist, size_t i) {
    const AVCodec* codec =
        i < FTables.EngineFiles.InputCodecs.size() && FTables.EngineFiles.InputCodecs[i]
            ? FTables.EngineFiles.InputCodecs[i]
            : lib().avcodec_find_decoder(ist.Decoder->codec_id);
    const std::string where = "input stream #" + std::to_string(ist.FileIndex) + "." +
                              std::to_string(ist.StreamIndex) + " (" +
                              MediaTypeName(ist.Decoder->codec_type) + ")";
    if (!codec)
        FHeaders.FailWithMapping("Decoder (codec id " + std::to_string(ist.Decoder->codec_id) +
                                 ") not found for " + where);
    int ret;
    {
        CodecLockGuard lock;
        ret = lib().avcodec_open2(ist.Decoder, codec, nullptr);
    }
    if (ret < 0) FHeaders.FailWithMapping("Error while opening decoder for " + where);
    FOpenDecoders.push_back(&ist);
}
void TTranscodeSetup::InitInputTiming() {
    for (auto& p : FTables.Inputs) {
        TInputStream& ist = *p;
        const AVRational rate = ist.Stream->avg_frame_rate;
        const int delay = ist.Stream->codecpar->video_delay;
        ist.Pts = rate.num ? -llrint(delay * 1000000.0 / av_q2d(rate)) : 0;
        ist.NextPts = AV_NOPTS_VALUE;
        ist.PtsCorrection = TPtsCorrection{};
        ist.IsStart = true;
    }
}
void TTranscodeSetup::CloseEncoders() {
    const size_t count = FConfig.JoinMode ? FTables.StreamsPerOutput : FTables.Outputs.size();
    for (size_t i = 0; i < count && i < FTables.Outputs.size(); ++i) {
        TOutputStream* ost = FTables.Outputs[i];
        if (!ost->EncodingNeeded) continue;
        auto it = std::find(FOpenEncoders.begin(), FOpenEncoders.end(), ost);
        if (it == FOpenEncoders.end()) continue;
        FOpenEncoders.erase(it);
        ost->Encoder.reset();
    }
}

void TTranscodeSetup::Release() {
    if (FReleased) return;
    FReleased = true;
    // Closing a decoder means making it a fresh, closed context again: the
    // file tables own it and the next run or CloseFiles frees it.
    for (TInputStream* ist : FOpenDecoders) {
        if (!ist->Decoder) continue;
        CodecContextPtr fresh(lib().avcodec_alloc_context3(nullptr));
        if (!fresh || lib().avcodec_parameters_to_context(fresh.get(), ist->Stream->codecpar) < 0)
            continue;
        for (auto& file : FTables.EngineFiles.InputDecoders)
            for (auto& d : file)
                if (d.get() == ist->Decoder) d = std::move(fresh);
    }
    FOpenDecoders.clear();
    for (TOutputStream* ost : FOpenEncoders) ost->Encoder.reset();
    FOpenEncoders.clear();
    FTables.Inputs.clear();
    FTables.Files.clear();
    for (TOutputStream* ost : FTables.Outputs) {
        ost->PassLogFile.reset();
        ost->Fifo.reset();
        ost->ResampledPicture.reset();
        ost->Scaler.reset();
        ost->Resampler.reset();
        ost->Reformatter.reset();
        ost->ForcedKeyFramePts.clear();
    }
    FTables.Outputs.clear();
}

}  // namespace tw
