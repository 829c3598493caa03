// transcoder/files/InputReopen.cpp — the description an input is kept as while it
// is closed, and opening it again as it was first opened.
#include "transcoder/files/InputReopen.h"

#include <algorithm>
#include <cstring>

#include "binding/Entries.h"
#include "binding/StreamAnalysis.h"
#include "binding/StreamLimit.h"
#include "binding/UnicodeProtocol.h"
#include "diag/FFUtils.h"
#include "transcoder/files/FileSet.h"

namespace tw {

namespace {

[[noreturn]] void OutOfMemory() { throw FFmpegException("av_mallocz fail"); }

void CopyDictionary(AVDictionary** to, const AVDictionary* from) {
    if (from && lib().av_dict_copy(to, from, 0) < 0) OutOfMemory();
}

void CopyStream(AVFormatContext* d, const AVStream& in) {
    AVStream* st = lib().avformat_new_stream(d, nullptr);
    if (!st || lib().avcodec_parameters_copy(st->codecpar, in.codecpar) < 0) OutOfMemory();
    st->id = in.id;
    st->time_base = in.time_base;
    st->start_time = in.start_time;
    st->duration = in.duration;
    st->nb_frames = in.nb_frames;
    st->disposition = in.disposition;
    st->discard = in.discard;
    st->sample_aspect_ratio = in.sample_aspect_ratio;
    st->avg_frame_rate = in.avg_frame_rate;
    st->r_frame_rate = in.r_frame_rate;
    st->event_flags = in.event_flags;
    st->pts_wrap_bits = in.pts_wrap_bits;
    CopyDictionary(&st->metadata, in.metadata);
    for (int i = 0; i < in.nb_side_data; ++i) {
        const AVPacketSideData& sd = in.side_data[i];
        uint8_t* data = lib().av_stream_new_side_data(st, sd.type, sd.size);
        if (!data) OutOfMemory();
        if (sd.size) std::memcpy(data, sd.data, sd.size);
    }
    if (in.attached_pic.data && lib().av_packet_ref(&st->attached_pic, &in.attached_pic) < 0)
        OutOfMemory();
}

// Whether the streams the demuxer has now are the ones the input was probed
// with: count, order, types, codecs, time bases.
bool SameStreams(const AVFormatContext& now, const AVFormatContext& then) {
    if (now.nb_streams != then.nb_streams) return false;
    for (unsigned i = 0; i < then.nb_streams; ++i) {
        const AVStream& a = *now.streams[i];
        const AVStream& b = *then.streams[i];
        if (a.codecpar->codec_type != b.codecpar->codec_type ||
            a.codecpar->codec_id != b.codecpar->codec_id || a.time_base.num != b.time_base.num ||
            a.time_base.den != b.time_base.den)
            return false;
    }
    return true;
}

// How much a reopened input without a full header reads to find its
// streams again: they were found before, their parameters are known.
constexpr int64_t kReopenProbeSize = 64 * 1024;
constexpr int64_t kReopenAnalyzeDuration = 500000;  // microseconds

void CopyChapters(AVFormatContext* d, const AVFormatContext& ic) {
    if (ic.nb_chapters == 0) return;
    void* list = lib().av_mallocz(sizeof(AVChapter*) * ic.nb_chapters);
    if (!list) OutOfMemory();
    d->chapters = static_cast<AVChapter**>(list);  // freed with the context
    for (unsigned c = 0; c < ic.nb_chapters; ++c) {
        auto* ch = static_cast<AVChapter*>(lib().av_mallocz(sizeof(AVChapter)));
        if (!ch) OutOfMemory();
        d->chapters[d->nb_chapters++] = ch;
        const AVChapter& in = *ic.chapters[c];
        ch->id = in.id;
        ch->time_base = in.time_base;
        ch->start = in.start;
        ch->end = in.end;
        CopyDictionary(&ch->metadata, in.metadata);
    }
}

void CopyPrograms(AVFormatContext* d, const AVFormatContext& ic) {
    for (unsigned p = 0; p < ic.nb_programs; ++p) {
        const AVProgram& in = *ic.programs[p];
        AVProgram* prog = lib().av_new_program(d, in.id);
        if (!prog) OutOfMemory();
        prog->discard = in.discard;
        prog->program_num = in.program_num;
        prog->pmt_pid = in.pmt_pid;
        prog->pcr_pid = in.pcr_pid;
        CopyDictionary(&prog->metadata, in.metadata);
        for (unsigned k = 0; k < in.nb_stream_indexes; ++k)
            lib().av_program_add_stream_index(d, in.id, in.stream_index[k]);
    }
}

}  // namespace

InputFormatPtr DescribeInput(const AVFormatContext& ic) {
    InputFormatPtr d(lib().avformat_alloc_context());
    if (!d) OutOfMemory();
    d->opaque = InputDescriptionMark();
    if (ic.url && !(d->url = lib().av_strdup(ic.url))) OutOfMemory();
    d->start_time = ic.start_time;
    d->duration = ic.duration;
    d->bit_rate = ic.bit_rate;
    d->ctx_flags = ic.ctx_flags;
    CopyDictionary(&d->metadata, ic.metadata);
    for (unsigned i = 0; i < ic.nb_streams; ++i) CopyStream(d.get(), *ic.streams[i]);
    CopyChapters(d.get(), ic);
    CopyPrograms(d.get(), ic);
    // Set last: the streams above are a description's, not a demuxer's.
    d->iformat = ic.iformat;
    return d;
}

AVFormatContext* TFileSet::InputReader(int file) {
    const TInputReopen* how = InputReopens[file].get();
    if (!how) return InputFiles[file].get();
    if (!InputReaders[file]) InputReaders[file] = ReopenInput(file, *how);
    return InputReaders[file].get();
}

void TFileSet::CloseInputReader(int file) {
    if (file >= 0 && file < MaxFiles) InputReaders[file].reset();
}

int TFileSet::OpenInputCount() const {
    int count = 0;
    for (int i = 0; i < InputFileCount; ++i)
        if (InputReopens[i] ? InputReaders[i] != nullptr : InputFiles[i] != nullptr) ++count;
    return count;
}

InputFormatPtr TFileSet::OpenInputAgain(const TInputReopen& how) {
    FormatContextPtr ic(lib().avformat_alloc_context());
    if (!ic) throw FFmpegException("avformat_alloc_context failed");
    const AVFormatContext& settings = *how.Settings;
    if (lib().av_opt_copy(ic.get(), &settings) < 0) OutOfMemory();
    ic->flags = settings.flags;
    ic->video_codec_id = settings.video_codec_id;
    ic->audio_codec_id = settings.audio_codec_id;
    ic->subtitle_codec_id = settings.subtitle_codec_id;
    ic->interrupt_callback = settings.interrupt_callback;
    AVDictionary* options = nullptr;
    if (how.OpenParameters && lib().av_dict_copy(&options, how.OpenParameters.get(), 0) < 0)
        OutOfMemory();
    DictionaryPtr params(options);
    if (how.OwnReader) {
        AVIOContext* pb = nullptr;
        const int ret = OpenLibraryIO(how.LibraryName, AVIO_FLAG_READ, &pb);
        if (ret < 0) throw FFmpegException(ErrorText(how.FileName, ret));
        ic->pb = pb;
        ic->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    // As in the first open: the library frees the context when the open
    // fails, our own I/O stays ours.
    AVFormatContext* raw = ic.release();
    TLibraryIOPtr customIO((raw->flags & AVFMT_FLAG_CUSTOM_IO) ? raw->pb : nullptr);
    options = params.release();
    const int ret = lib().avformat_open_input(&raw, how.LibraryName.c_str(), how.Format, &options);
    params.reset(options);
    if (ret < 0) throw FFmpegException(ErrorText(how.FileName, ret));
    (void)customIO.release();
    InputFormatPtr input(raw);
    if (const std::string why = TooManyStreams(input.get(), how.FileName); !why.empty())
        throw FFmpegException(why);
    LimitStreams(input.get());
    BeforeFindStreamInfo(input.get());
    return input;
}

InputFormatPtr TFileSet::ReopenInput(int file, const TInputReopen& how) {
    const AVFormatContext& kept = *InputFiles[file];
    InputFormatPtr input = OpenInputAgain(how);
    // The first open analysed the file already. The MP4/MOV demuxer shows
    // every stream right after the open, and its index gives every packet
    // its times and duration: when the streams are the ones probed, the run
    // reads the packets an analysis would have read ahead, as they were, and
    // none is made. Other demuxers create their streams as their packets
    // come (MPEG-TS, FLV) or leave packet durations to what the analysis
    // learns of the codec (Matroska): a short read finds that again; a file
    // whose streams it does not reach is opened once more and read as far
    // as the first probe read it.
    const bool indexed = input->iformat && std::strstr(input->iformat->name, "mov") != nullptr;
    if (!indexed || (input->ctx_flags & AVFMTCTX_NOHEADER) || !SameStreams(*input, kept)) {
        input->probesize = std::min<int64_t>(input->probesize, kReopenProbeSize);
        input->max_analyze_duration = kReopenAnalyzeDuration;
        int ret = AnalyseStreams(input.get());
        if (ret >= 0 && !SameStreams(*input, kept)) {
            input = OpenInputAgain(how);
            ret = AnalyseStreams(input.get());
        }
        if (ret < 0 && Verbose >= 0)
            throw FFmpegException(how.LibraryName + ": could not find codec parameters");
    }
    if (!SameStreams(*input, kept))
        throw FFmpegException(how.FileName +
                              ": the file has changed since it was opened (its streams differ)");
    for (unsigned i = 0; i < kept.nb_streams; ++i)
        input->streams[i]->discard = kept.streams[i]->discard;
    if (how.SeekTo != AV_NOPTS_VALUE)
        lib().av_seek_frame(input.get(), -1, how.SeekTo, AVSEEK_FLAG_BACKWARD);
    return input;
}

}  // namespace tw
