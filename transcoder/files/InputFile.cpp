// transcoder/files/InputFile.cpp — opening one input file: the open under the I/O
// timeout, stream analysis, the start position, and the stream parameters
// copied back into the option state for the outputs created later.
#include "transcoder/files/InputFile.h"

#include <cinttypes>
#include <cstdio>

#include "binding/Entries.h"
#include "binding/InterruptCB.h"
#include "binding/StreamAnalysis.h"
#include "binding/StreamLimit.h"
#include "binding/UnicodeProtocol.h"
#include "diag/FFLog.h"
#include "diag/FFUtils.h"
#include "transcoder/files/FileSet.h"
#include "transcoder/files/InputReopen.h"

namespace tw {

DictionaryPtr InputOpenParameters(const TOptionState& o) {
    AVDictionary* d = nullptr;
    auto set = [&](const char* key, const std::string& value) {
        lib().av_dict_set(&d, key, value.c_str(), 0);
    };
    if (o.AudioSampleRate > 0) set("sample_rate", std::to_string(o.AudioSampleRate));
    if (o.AudioChannels > 0) set("channels", std::to_string(o.AudioChannels));
    if (o.FrameRate.num > 0 && o.FrameRate.den > 0)
        set("framerate", std::to_string(o.FrameRate.num) + "/" + std::to_string(o.FrameRate.den));
    if (o.FrameWidth > 0 && o.FrameHeight > 0)
        set("video_size", std::to_string(o.FrameWidth) + "x" + std::to_string(o.FrameHeight));
    if (o.FramePixFmt >= 0) {
        if (const char* name = lib().av_get_pix_fmt_name(static_cast<AVPixelFormat>(o.FramePixFmt)))
            set("pixel_format", name);
    }
    if (o.VideoChannel != 0) set("channel", std::to_string(o.VideoChannel));
    if (!o.VideoStandard.empty()) set("standard", o.VideoStandard);
    return DictionaryPtr(d);
}

bool TFileSet::OpenInputFile(const std::string& fileName) {
    try {
        OpenInput(fileName);
    } catch (const TOpenRefused& e) {
        LastError = e.what();
        return false;
    }
    return true;
}

namespace {

// Undoes what the steps of an open did to the option values and the I/O
// check when the open does not get through them, by refusal or exception.
class TOpenCleanUp {
  public:
    TOpenCleanUp(TFileSet& files, TOptionState& options, uint32_t thread)
        : FFiles(files), FOptions(options), FThread(thread) {}
    ~TOpenCleanUp() {
        if (FArmed) Run();
    }
    TOpenCleanUp(const TOpenCleanUp&) = delete;
    TOpenCleanUp& operator=(const TOpenCleanUp&) = delete;

    void Register() {
        FFiles.IOStartTime = INT64_MAX;
        InterruptCB()->Register(FThread, &FFiles, TFileSet::CheckIOTimeout);
        FRegistered = true;
    }
    void Unregister() {
        FFiles.IOStartTime = INT64_MAX;
        if (FRegistered) InterruptCB()->Unregister(FThread, &FFiles, TFileSet::CheckIOTimeout);
        FRegistered = false;
    }
    /// The open got through its steps: nothing to undo.
    void Disarm() { FArmed = false; }

  private:
    void Run() {
        Unregister();
        FOptions.VideoCodecName.clear();
        FOptions.AudioCodecName.clear();
        FOptions.SubtitleCodecName.clear();
        FOptions.VideoChannel = 0;
    }
    TFileSet& FFiles;
    TOptionState& FOptions;
    const uint32_t FThread;
    bool FRegistered = false;
    bool FArmed = true;
};

}  // namespace

void TFileSet::OpenInput(const std::string& fileName) {
    // The tables hold MaxFiles inputs; one more would be written past them.
    if (InputFileCount >= MaxFiles)
        throw TOpenRefused("Cannot open more than " + std::to_string(MaxFiles) + " input files");
    const AVInputFormat* format = nullptr;
    if (!ForcedFormatName.empty()) {
        format = lib().av_find_input_format(ForcedFormatName.c_str());
        if (!format) throw FFmpegException("Unknown input format: \"" + ForcedFormatName + "\"");
        ForcedFormatName.clear();
    }

    FormatContextPtr ic(lib().avformat_alloc_context());
    if (!ic) throw FFmpegException("avformat_alloc_context failed");
    DictionaryPtr params = InputOpenParameters(*this);
    ApplyContextOptions(ic.get(), OptionContexts->Format(), AV_OPT_FLAG_DECODING_PARAM);

    TOpenCleanUp cleanUp(*this, *this, CurrentThreadID());

    // Decoders forced by name.
    struct {
        const std::string& Name;
        AVMediaType Type;
        AVCodecID* Target;
    } forced[] = {{VideoCodecName, AVMEDIA_TYPE_VIDEO, &ic->video_codec_id},
                  {AudioCodecName, AVMEDIA_TYPE_AUDIO, &ic->audio_codec_id},
                  {SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, &ic->subtitle_codec_id}};
    for (auto& f : forced) {
        AVCodecID id;
        if (!FindCodec(f.Name, f.Type, false, OptionContexts->Codec(f.Type)->strict_std_compliance,
                       id))
            throw TOpenRefused(LastError);
        *f.Target = id;
    }

    ic->flags |= AVFMT_FLAG_NONBLOCK;
    ic->interrupt_callback = LibraryInterruptCB();

    const std::string libraryName = ToLibraryFileName(fileName);
    // What it takes to open the input again the same way, when it is to be
    // closed after probing: the context as it is before the demuxer sees it.
    std::unique_ptr<TInputReopen> reopen;
    if (ReopenInputs && InputFileCount > 0 && ProgramId == 0 && !IsReadOnceFile(fileName)) {
        reopen = std::make_unique<TInputReopen>();
        reopen->FileName = fileName;
        reopen->LibraryName = libraryName;
        reopen->Format = format;
        reopen->OwnReader = NeedsOwnReader(libraryName);
        reopen->Settings.reset(lib().avformat_alloc_context());
        if (!reopen->Settings) throw FFmpegException("avformat_alloc_context failed");
        AVFormatContext* settings = reopen->Settings.get();
        if (lib().av_opt_copy(settings, ic.get()) < 0) throw FFmpegException("av_mallocz fail");
        settings->flags = ic->flags;
        settings->video_codec_id = ic->video_codec_id;
        settings->audio_codec_id = ic->audio_codec_id;
        settings->subtitle_codec_id = ic->subtitle_codec_id;
        settings->interrupt_callback = ic->interrupt_callback;
        AVDictionary* copy = nullptr;
        if (params && lib().av_dict_copy(&copy, params.get(), 0) < 0)
            throw FFmpegException("av_mallocz fail");
        reopen->OpenParameters.reset(copy);
    }
    // A handler that throws (BeforeFindStreamInfo, a log handler) must not
    // leave the check registered for this thread after the engine: the
    // clean-up unregisters it.
    cleanUp.Register();
    IOStartTime = lib().av_gettime();

    // Names the libraries cannot open themselves, and sources that must not
    // block beyond a stop (FIFOs, pipes), are read through our own I/O.
    if (NeedsOwnReader(libraryName)) {
        AVIOContext* pb = nullptr;
        const int ret = OpenLibraryIO(libraryName, AVIO_FLAG_READ, &pb);
        if (ret < 0) throw TOpenRefused(ErrorText(fileName, ret));
        ic->pb = pb;
        ic->flags |= AVFMT_FLAG_CUSTOM_IO;
    }

    // The library frees the context when the open fails; our own I/O stays ours.
    AVFormatContext* raw = ic.release();
    TLibraryIOPtr customIO((raw->flags & AVFMT_FLAG_CUSTOM_IO) ? raw->pb : nullptr);
    AVDictionary* openOptions = params.release();
    int ret = lib().avformat_open_input(&raw, libraryName.c_str(), format, &openOptions);
    params.reset(openOptions);
    if (ret < 0) throw TOpenRefused(ErrorText(fileName, ret));
    // From here the input's own deleter closes our I/O after the input.
    (void)customIO.release();
    InputFormatPtr input(raw);
    if (const std::string why = TooManyStreams(input.get(), fileName); !why.empty())
        throw TOpenRefused(why);
    LimitStreams(input.get());

    if (ProgramId != 0) {
        for (unsigned i = 0; i < input->nb_streams; ++i) input->streams[i]->discard = AVDISCARD_ALL;
        bool found = false;
        for (unsigned p = 0; p < input->nb_programs; ++p) {
            AVProgram* program = input->programs[p];
            if (program->id != ProgramId) {
                program->discard = AVDISCARD_ALL;
                continue;
            }
            found = true;
            for (unsigned k = 0; k < program->nb_stream_indexes; ++k)
                input->streams[program->stream_index[k]]->discard = AVDISCARD_DEFAULT;
        }
        if (!found) throw TOpenRefused("Specified program id not found");
        ProgramId = 0;
    }

    // LoopInput asked the old image demuxer to loop; today that is the
    // demuxer's own "loop" option, which only image sequences have.
    BeforeFindStreamInfo(input.get());

    IOStartTime = lib().av_gettime();
    ret = AnalyseStreams(input.get());
    if (const std::string why = TooManyStreams(input.get(), fileName); !why.empty())
        throw TOpenRefused(why);
    if (ret < 0 && Verbose >= 0) {
        const std::string text = libraryName + ": could not find codec parameters";
        FFLogger()->Log(this, llVerbose, text);
        throw TOpenRefused(text);
    }

    int64_t timestamp = StartTime;
    if (input->start_time != AV_NOPTS_VALUE) timestamp += input->start_time;
    if (StartTime != 0) {
        IOStartTime = lib().av_gettime();
        if (lib().av_seek_frame(input.get(), -1, timestamp, AVSEEK_FLAG_BACKWARD) < 0 &&
            Verbose > 0)
            FFLogger()->LogFmt(this, llVerbose, "%s: could not seek to position %0.3f",
                               fileName.c_str(), static_cast<double>(timestamp) / 1000000.0);
        StartTime = 0;
        if (reopen) reopen->SeekTo = timestamp;
    }
    cleanUp.Unregister();
    cleanUp.Disarm();

    const int fileIndex = InputFileCount;
    std::vector<CodecContextPtr> decoders;
    // A stream that fails below leaves no forced decoders of this file
    // behind: they would be taken for the streams of the next input.
    const size_t codecsBefore = InputCodecs.size();
    struct CodecsRollback {
        std::vector<const AVCodec*>& Codecs;
        size_t Size;
        bool Keep = false;
        ~CodecsRollback() {
            if (!Keep) Codecs.resize(Size);
        }
    } rollback{InputCodecs, codecsBefore};
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        AVStream* st = input->streams[i];
        CodecContextPtr dec(lib().avcodec_alloc_context3(nullptr));
        if (!dec || lib().avcodec_parameters_to_context(dec.get(), st->codecpar) < 0)
            throw FFmpegException("avcodec_alloc_context3 failed");
        dec->pkt_timebase = st->time_base;
        dec->thread_count = ThreadCount;
        InputCodecs.push_back(nullptr);
        const AVCodec*& entry = InputCodecs.back();

        switch (dec->codec_type) {
            case AVMEDIA_TYPE_VIDEO: {
                // Cover art is one still picture: its size and its meaningless
                // frame rate (90000) are not the video's.
                if (st->disposition & AV_DISPOSITION_ATTACHED_PIC) break;
                entry = VideoCodecName.empty()
                            ? nullptr
                            : lib().avcodec_find_decoder_by_name(VideoCodecName.c_str());
                ApplyContextOptions(dec.get(), OptionContexts->Codec(AVMEDIA_TYPE_VIDEO),
                                    AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_DECODING_PARAM, entry);
                FrameHeight = dec->height;
                FrameWidth = dec->width;
                double aspect =
                    st->sample_aspect_ratio.num
                        ? av_q2d(st->sample_aspect_ratio)
                        : (dec->sample_aspect_ratio.den ? av_q2d(dec->sample_aspect_ratio) : 0.0);
                if (dec->width * dec->height != 0) {
                    const double frame = static_cast<double>(dec->width) / dec->height;
                    aspect = aspect != 0 ? aspect * frame : frame;
                } else if (aspect == 0) {
                    aspect = 4.0 / 3.0;
                }
                FrameAspectRatio = static_cast<float>(aspect);
                if (dec->pix_fmt == AV_PIX_FMT_NONE) dec->pix_fmt = static_cast<AVPixelFormat>(0);
                FramePixFmt = dec->pix_fmt;
                const AVRational rate = st->r_frame_rate;
                if (dec->lowres) {
                    FrameHeight >>= dec->lowres;
                    FrameWidth >>= dec->lowres;
                    dec->height = FrameHeight;
                    dec->width = FrameWidth;
                }
                if (MeThreshold) dec->debug |= 32;  // motion vectors
                // Streams carry no codec time base today; the rate the
                // decoder will time its pictures by is the average rate.
                const AVRational codecRate = st->avg_frame_rate;
                if ((codecRate.num != rate.num || codecRate.den != rate.den) && codecRate.den &&
                    rate.den && Verbose >= 0)
                    FFLogger()->LogFmt(
                        this, llInfo,
                        "Seems stream %d codec frame rate differs from container frame rate: "
                        "%2.2f (%d/%d) -> %2.2f (%d/%d)",
                        static_cast<int>(i), av_q2d(codecRate), codecRate.num, codecRate.den,
                        av_q2d(rate), rate.num, rate.den);
                FrameRate = rate;
                if (VideoDisable)
                    st->discard = AVDISCARD_ALL;
                else if (VideoDiscard)
                    st->discard = static_cast<AVDiscard>(VideoDiscard);
                break;
            }
            case AVMEDIA_TYPE_AUDIO:
                entry = AudioCodecName.empty()
                            ? nullptr
                            : lib().avcodec_find_decoder_by_name(AudioCodecName.c_str());
                ApplyContextOptions(dec.get(), OptionContexts->Codec(AVMEDIA_TYPE_AUDIO),
                                    AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_DECODING_PARAM, entry);
                ChannelLayout = dec->ch_layout.order == AV_CHANNEL_ORDER_NATIVE
                                    ? static_cast<int64_t>(dec->ch_layout.u.mask)
                                    : 0;
                AudioChannels = dec->ch_layout.nb_channels;
                AudioSampleRate = dec->sample_rate;
                AudioSampleFmt = dec->sample_fmt;
                if (AudioDisable) st->discard = AVDISCARD_ALL;
                if (dec->lowres) AudioSampleRate >>= dec->lowres;
                break;
            case AVMEDIA_TYPE_SUBTITLE:
                entry = SubtitleCodecName.empty()
                            ? nullptr
                            : lib().avcodec_find_decoder_by_name(SubtitleCodecName.c_str());
                if (SubtitleDisable) st->discard = AVDISCARD_ALL;
                break;
            case AVMEDIA_TYPE_DATA:
            case AVMEDIA_TYPE_ATTACHMENT:
            case AVMEDIA_TYPE_UNKNOWN:
                break;
            default:
                throw FFmpegException("invalid codec_type");
        }
        decoders.push_back(std::move(dec));
    }
    // Closed now, read later: what setup and the run need of it stays.
    InputFormatPtr description = reopen ? DescribeInput(*input) : nullptr;
    rollback.Keep = true;

    if (input->duration != AV_NOPTS_VALUE && input->duration > TotalDuration)
        TotalDuration = input->duration;

    InputTsOffsets[fileIndex] = CopyTs ? InputTsOffset : InputTsOffset - timestamp;
    InputDecoders[fileIndex] = std::move(decoders);
    if (Verbose >= 0) lib().av_dump_format(input.get(), fileIndex, libraryName.c_str(), 0);
    if (reopen) {
        input = std::move(description);
        InputReopens[fileIndex] = std::move(reopen);
    }
    InputFiles[fileIndex] = std::move(input);

    ++InputFileCount;
    VideoChannel = 0;
    VideoCodecName.clear();
    AudioCodecName.clear();
    SubtitleCodecName.clear();
}

}  // namespace tw
