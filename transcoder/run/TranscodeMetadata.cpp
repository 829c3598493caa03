// transcoder/run/TranscodeMetadata.cpp — the last setup steps: metadata and
// chapters as the maps ask, the output headers and the stream-mapping log.
#include "transcoder/run/TranscodeMetadata.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "binding/Entries.h"
#include "diag/FFUtils.h"
#include "transcoder/files/FlvKeyframeIndex.h"

namespace tw {

void TOutputHeaders::FailWithMapping(const std::string& message) const {
    LogStreamMapping();
    FFLogger()->Log(FEvents.LogSender(), llError, message);
    throw FFmpegException(message);
}

void TOutputHeaders::MapMetadata() {
    auto target = [&](AVFormatContext* ctx, const TMetadataMapSide& side) -> AVDictionary** {
        auto invalid = [&](const char* what, int index) {
            FailWithMapping(std::string("Invalid ") + what + " index " + std::to_string(index) +
                            " while processing metadata maps");
        };
        switch (side.Kind) {
            case 'c':
                if (side.Index < 0 || side.Index >= static_cast<int>(ctx->nb_chapters))
                    invalid("chapter", side.Index);
                return &ctx->chapters[side.Index]->metadata;
            case 'p':
                if (side.Index < 0 || side.Index >= static_cast<int>(ctx->nb_programs))
                    invalid("program", side.Index);
                return &ctx->programs[side.Index]->metadata;
            case 's':
                if (side.Index < 0 || side.Index >= static_cast<int>(ctx->nb_streams))
                    invalid("stream", side.Index);
                return &ctx->streams[side.Index]->metadata;
            default:
                return &ctx->metadata;
        }
    };
    for (const TMetadataMap& m : FConfig.MetadataMaps) {
        if (m.Out.File < 0 || m.In.File < 0) continue;
        if (m.Out.File >= FTables.EngineFiles.OutputFileCount)
            FailWithMapping("Invalid output file index " + std::to_string(m.Out.File) +
                            " while processing metadata maps");
        if (m.In.File >= FTables.EngineFiles.InputFileCount)
            FailWithMapping("Invalid input file index " + std::to_string(m.In.File) +
                            " while processing metadata maps");
        AVDictionary** out = target(FTables.Output(m.Out.File), m.Out);
        AVDictionary** in = target(FTables.EngineFiles.InputFiles[m.In.File].get(), m.In);
        lib().av_dict_copy(out, *in, AV_DICT_DONT_OVERWRITE);
    }
    if (FConfig.MetadataGlobalAutocopy && FTables.EngineFiles.InputFileCount > 0) {
        const int outputs = FConfig.JoinMode ? 1 : FTables.EngineFiles.OutputFileCount;
        for (int i = 0; i < outputs; ++i)
            lib().av_dict_copy(&FTables.Output(i)->metadata,
                               FTables.EngineFiles.InputFiles[0]->metadata, AV_DICT_DONT_OVERWRITE);
    }
}
void TOutputHeaders::CopyChapters(int input, int output) {
    AVFormatContext* is = FTables.EngineFiles.InputFiles[input].get();
    AVFormatContext* os = FTables.Output(output);
    for (unsigned i = 0; i < is->nb_chapters; ++i) {
        const AVChapter* in = is->chapters[i];
        const AVRational us{1, 1000000};
        const int64_t offset =
            lib().av_rescale_q(FConfig.StartTime - FTables.TsOffsets[input], us, in->time_base);
        const int64_t limit = FConfig.RecordingTime == INT64_MAX
                                  ? INT64_MAX
                                  : lib().av_rescale_q(FConfig.RecordingTime, us, in->time_base);
        if (in->end < offset) continue;
        if (limit != INT64_MAX && in->start > offset + limit) break;
        ChapterPtr out(static_cast<AVChapter*>(lib().av_mallocz(sizeof(AVChapter))));
        if (!out) throw FFmpegException("av_mallocz fail");
        out->id = in->id;
        out->time_base = in->time_base;
        out->start = std::max<int64_t>(0, in->start - offset);
        out->end = std::min(in->end - offset, limit);
        if (FConfig.MetadataChaptersAutocopy) lib().av_dict_copy(&out->metadata, in->metadata, 0);
        void* grown = lib().av_realloc(os->chapters, sizeof(AVChapter*) * (os->nb_chapters + 1));
        if (!grown) throw FFmpegException("av_realloc fail");
        os->chapters = static_cast<AVChapter**>(grown);
        os->chapters[os->nb_chapters++] = out.release();  // freed with the output context
    }
}
void TOutputHeaders::MapChapters() {
    for (const TChapterMap& m : FConfig.ChapterMaps) {
        if (m.InFile < 0 || m.OutFile < 0) continue;
        if (m.InFile >= FTables.EngineFiles.InputFileCount)
            FailWithMapping("Invalid input file index " + std::to_string(m.InFile) +
                            " in chapter mapping.");
        if (m.OutFile >= FTables.EngineFiles.OutputFileCount)
            FailWithMapping("Invalid output file index " + std::to_string(m.OutFile) +
                            " in chapter mapping.");
        CopyChapters(m.InFile, m.OutFile);
    }
    // A joined output takes every input's chapters (JoinChapters).
    if (!FConfig.ChapterMaps.empty() || FConfig.JoinMode) return;
    for (int i = 0; i < FTables.EngineFiles.InputFileCount; ++i) {
        if (FTables.EngineFiles.InputFiles[i]->nb_chapters == 0) continue;
        const int outputs = FConfig.JoinMode ? 1 : FTables.EngineFiles.OutputFileCount;
        for (int j = 0; j < outputs; ++j) CopyChapters(i, j);
        break;
    }
}
void TOutputHeaders::CheckCopiedCodecs() const {
    for (const TOutputStream* ost : FTables.Outputs) {
        if (ost->EncodingNeeded || ost->SourceIndex < 0 || ost->Cover) continue;
        const AVCodecParameters* in = FTables.Inputs[ost->SourceIndex]->Stream->codecpar;
        if (in->codec_type != AVMEDIA_TYPE_VIDEO && in->codec_type != AVMEDIA_TYPE_AUDIO) continue;
        // Only a definite no: formats that cannot tell are left to the muxer.
        const AVOutputFormat* of = FTables.Output(ost->FileIndex)->oformat;
        const char* type = lib().av_get_media_type_string(in->codec_type);
        const std::string what =
            std::string(lib().avcodec_get_name(in->codec_id)) + " " + (type ? type : "data");
        const std::string header = "Could not write header for output file #" +
                                   std::to_string(FConfig.JoinMode ? 0 : ost->FileIndex) +
                                   " (incorrect codec parameters ?): ";
        if (lib().avformat_query_codec(of, in->codec_id, FF_COMPLIANCE_NORMAL) == 0)
            FailWithMapping(header + what + " cannot be stored in " + of->name);
        // A joined stream holds one codec: the header's, of the first input.
        if (FConfig.JoinMode && ost->FileIndex > 0 && FTables.StreamsPerOutput > 0) {
            const TOutputStream* first = FTables.Outputs[ost->StreamIndex];
            const AVCodecParameters* head = FTables.Inputs[first->SourceIndex]->Stream->codecpar;
            if (head->codec_id != in->codec_id)
                FailWithMapping(header + what + " of input #" + std::to_string(ost->FileIndex) +
                                " cannot follow " + lib().avcodec_get_name(head->codec_id));
        }
    }
}
void TOutputHeaders::PrepareCopyForms() {
    for (const TOutputStream* ost : FTables.Outputs) {
        if (ost->EncodingNeeded || ost->SourceIndex < 0 || ost->Cover) continue;
        if (FConfig.JoinMode && ost->FileIndex > 0) continue;  // the header is the first input's
        const TInputStream& ist = *FTables.Inputs[ost->SourceIndex];
        FQueue.ReadAhead(ist.FileIndex);
        std::vector<const AVPacket*> first;
        for (const PacketPtr& p : FQueue.Packets(ist.FileIndex))
            if (p->stream_index == ist.StreamIndex) first.push_back(p.get());
        TCopyForm::PrepareHeader(ost->Stream->codecpar, first);
    }
}
void TOutputHeaders::WriteHeaders() {
    const int outputs = FConfig.JoinMode ? 1 : FTables.EngineFiles.OutputFileCount;
    bool allRtp = outputs > 0;
    CheckCopiedCodecs();
    PrepareCopyForms();
    for (int i = 0; i < outputs; ++i) {
        AVFormatContext* oc = FTables.Output(i);
        TFlvKeyframeIndex::TakeOver(oc, FConfig.TotalDuration);
        if (lib().avformat_write_header(oc, nullptr) < 0)
            FailWithMapping("Could not write header for output file #" + std::to_string(i) +
                            " (incorrect codec parameters ?)");
        TFlvKeyframeIndex::HeaderWritten(oc);
        allRtp = allRtp && std::strcmp(oc->oformat->name, "rtp") == 0;
    }
    // Every copied input's packets are turned into the form the header gave.
    std::map<const AVStream*, std::shared_ptr<TCopyStreamState>> states;
    for (const TOutputStream* ost : FTables.Outputs) {
        if (ost->EncodingNeeded || ost->SourceIndex < 0) continue;
        auto& state = states[ost->Stream];
        if (!state) {
            state = std::make_shared<TCopyStreamState>();
            const AVCodecParameters* par = ost->Stream->codecpar;
            if (par->codec_id == AV_CODEC_ID_AAC && par->extradata_size > 0)
                state->AacConfig.assign(par->extradata, par->extradata + par->extradata_size);
        }
        FTables.CopyForms[ost] = std::make_unique<TCopyForm>(
            FTables.Inputs[ost->SourceIndex]->Stream->codecpar, ost->Stream->codecpar, state);
    }
    if (allRtp) {
        std::vector<AVFormatContext*> list;
        for (int i = 0; i < outputs; ++i) list.push_back(FTables.Output(i));
        char sdp[2048] = {};
        lib().av_sdp_create(list.data(), outputs, sdp, sizeof sdp);
        std::string text(sdp);
        while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
            text.pop_back();
        FFLogger()->Log(FEvents.LogSender(), llInfo, "SDP:\r\n" + text);
    }
}
void TOutputHeaders::LogStreamMapping() const {
    const int outputs = FConfig.JoinMode ? 1 : FTables.EngineFiles.OutputFileCount;
    for (int i = 0; i < outputs; ++i)
        lib().av_dump_format(FTables.Output(i), i, FTables.Output(i)->url, 1);
    if (FConfig.Verbose < 0) return;
    FFLogger()->Log(FEvents.LogSender(), llVerbose, "Stream mapping:");
    for (TOutputStream* ost : FTables.Outputs) {
        if (ost->SourceIndex < 0 || ost->SourceIndex >= static_cast<int>(FTables.Inputs.size()))
            continue;
        const TInputStream& ist = *FTables.Inputs[ost->SourceIndex];
        const int type = ost->Encoder  ? ost->Encoder->codec_type
                         : ost->Stream ? ost->Stream->codecpar->codec_type
                                       : -1;
        char line[256];
        std::snprintf(line, sizeof line, "  Stream #%d.%d -> #%d.%d (%s)", ist.FileIndex,
                      ist.StreamIndex, FConfig.JoinMode ? 0 : ost->FileIndex, ost->StreamIndex,
                      MediaTypeName(type).c_str());
        FFLogger()->Log(FEvents.LogSender(), llVerbose, line);
        if (ost->SyncInput && ost->SyncInput != &ist) {
            std::snprintf(line, sizeof line, " [sync #%d.%d (%s)]", ost->SyncInput->FileIndex,
                          ost->SyncInput->StreamIndex, MediaTypeName(type).c_str());
            FFLogger()->Log(FEvents.LogSender(), llVerbose, line);
        }
    }
}

}  // namespace tw
