// transcoder/files/OutputFile.cpp — creating the output file and its streams from
// the option state, and presenting a joined output once per input.
#include "transcoder/files/OutputFile.h"

#include <cmath>
#include <cstring>
#include <ctime>

#include "binding/Entries.h"
#include "binding/InterruptCB.h"
#include "binding/UnicodeProtocol.h"
#include "diag/FFLog.h"
#include "diag/FFUtils.h"
#include "transcoder/files/FileSet.h"
#include "transcoder/files/StreamTables.h"

namespace tw {

// A sample aspect ratio as a fraction with terms of at most 255.
AVRational AspectFraction(double value) {
    int e = static_cast<int>(std::log2(std::fabs(value) + 1e-20));
    if (e < 0) e = 0;
    const int64_t d = int64_t(1) << (61 - e);
    AVRational q{0, 1};
    lib().av_reduce(&q.num, &q.den, static_cast<int64_t>(value * d + 0.5), d, 255);
    return q;
}

double SampleAspect(float aspect, int width, int height) {
    return width * height != 0 ? static_cast<double>(aspect) * height / width
                               : static_cast<double>(aspect) * 3 / 4;
}

// Seconds since 1970 as the muxers' creation time: "2011-05-01T12:00:00.000000Z".
std::string CreationTimeText(int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm utc{};
    if (!gmtime_r(&t, &utc)) return {};
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000Z", &utc);
    return text;
}

// "start,end,q/start,end,q/...": the rate-control overrides of a video encoder.
void ParseRcOverride(const std::string& text, AVCodecContext* enc) {
    std::vector<RcOverride> list;
    const char* p = text.c_str();
    while (p && *p) {
        RcOverride o{};
        char* end = nullptr;
        const long start = std::strtol(p, &end, 10);
        if (end == p || !*end) throw FFmpegException("error parsing rc_override");
        p = end + 1;
        const long stop = std::strtol(p, &end, 10);
        if (end == p || !*end) throw FFmpegException("error parsing rc_override");
        p = end + 1;
        const long q = std::strtol(p, &end, 10);
        o.start_frame = static_cast<int>(start);
        o.end_frame = static_cast<int>(stop);
        if (q > 0) {
            o.qscale = static_cast<int>(q);
            o.quality_factor = 1.0f;
        } else {
            o.qscale = 0;
            o.quality_factor = -q / 100.0f;
        }
        list.push_back(o);
        p = std::strchr(end, '/');
        if (p) ++p;
    }
    if (list.empty()) return;
    auto* array = static_cast<RcOverride*>(lib().av_mallocz(list.size() * sizeof(RcOverride)));
    if (!array) throw FFmpegException("error parsing rc_override");
    std::memcpy(array, list.data(), list.size() * sizeof(RcOverride));
    enc->rc_override = array;  // freed with the context
    enc->rc_override_count = static_cast<int>(list.size());
}

namespace {

bool InList(const AVPixelFormat* list, AVPixelFormat f) {
    for (; *list != AV_PIX_FMT_NONE; ++list)
        if (*list == f) return true;
    return false;
}

uint16_t* MatrixCopy(const TMatrix& m) {
    auto* out = static_cast<uint16_t*>(lib().av_malloc(sizeof(uint16_t) * 64));
    if (out) std::memcpy(out, m.data(), sizeof(uint16_t) * 64);
    return out;
}

// The interrupt of an output's I/O: it may stop the open (time-out, cancel)
// but never a write afterwards; a stop request must not cut the trailer off.
int OutputOpenInterrupt(void* fileSet) { return TFileSet::CheckIOTimeout(fileSet) ? 1 : 0; }

}  // namespace

void TFileSet::CheckInputStreamTypes(bool join, bool& hasVideo, bool& hasAudio, bool& hasSubtitle) {
    hasVideo = hasAudio = hasSubtitle = false;
    // A join that fills missing audio with silence has audio when any of its
    // inputs has; the other types still follow the first input.
    const int files = join && !FillMissingAudio ? std::min(InputFileCount, 1) : InputFileCount;
    for (int i = 0; i < files; ++i) {
        const AVFormatContext* ic = InputFiles[i].get();
        const bool typesCount = !join || i == 0;
        for (unsigned j = 0; j < ic->nb_streams; ++j) {
            switch (ic->streams[j]->codecpar->codec_type) {
                case AVMEDIA_TYPE_VIDEO:
                    // Cover art makes no video stream.
                    if (ic->streams[j]->disposition & AV_DISPOSITION_ATTACHED_PIC) break;
                    hasVideo = hasVideo || typesCount;
                    break;
                case AVMEDIA_TYPE_AUDIO:
                    hasAudio = true;
                    break;
                case AVMEDIA_TYPE_SUBTITLE:
                    hasSubtitle = hasSubtitle || typesCount;
                    break;
                case AVMEDIA_TYPE_DATA:
                case AVMEDIA_TYPE_ATTACHMENT:
                case AVMEDIA_TYPE_UNKNOWN:
                    break;
                default:
                    throw FFmpegException("invalid codec_type of input file");
            }
        }
    }
}

TOutputStream& TFileSet::NewOutputStreamRecord(AVFormatContext* oc, int slot) {
    auto& list = OutputStreams.at(slot);
    if (list.size() < oc->nb_streams) list.resize(oc->nb_streams);
    auto record = std::make_shared<TOutputStream>();
    record->FileIndex = slot;
    record->StreamIndex = static_cast<int>(oc->nb_streams) - 1;
    record->Stream = oc->streams[oc->nb_streams - 1];
    list.back() = record;
    return *record;
}

namespace {

// The first step every kind of stream shares: the stream with its id from
// the stream-id map, and an empty entry for its encoder.
AVStream* NewStreamWithId(AVFormatContext* oc, const std::vector<int>& idMap) {
    const unsigned n = oc->nb_streams;
    AVStream* st = lib().avformat_new_stream(oc, nullptr);
    if (!st) throw FFmpegException("Could not alloc stream");
    st->id = n < idMap.size() ? idMap[n] : 0;
    return st;
}

// The encoder a new stream of the type gets: the one named in the option
// state, or the format's default for the type. An unknown, mistyped or
// experimental name consumes the name (and the language, when given) and
// raises the lookup's text.
const AVCodec* ChooseEncoder(TFileSet& e, AVFormatContext* oc, AVMediaType type, std::string& name,
                             std::string* language) {
    if (name.empty())
        return lib().avcodec_find_encoder(
            lib().av_guess_codec(oc->oformat, nullptr, oc->url, nullptr, type));
    AVCodecID id;
    if (!e.FindCodec(name, type, true, e.OptionContexts->Codec(type)->strict_std_compliance, id)) {
        name.clear();
        if (language) language->clear();
        throw FFmpegException(e.LastError);
    }
    return lib().avcodec_find_encoder_by_name(name.c_str());
}

// The stream's language from the option state, which is then consumed.
void TakeLanguage(AVStream* st, std::string& language) {
    if (language.empty()) return;
    lib().av_dict_set(&st->metadata, "language", language.c_str(), 0);
    language.clear();
}

}  // namespace

void TFileSet::NewVideoStream(AVFormatContext* oc, int slot) {
    AVStream* st;
    try {
        st = NewStreamWithId(oc, StreamIdMap);
    } catch (...) {
        VideoCodecName.clear();
        throw;
    }
    TOutputStream& ost = NewOutputStreamRecord(oc, slot);
    OutputCodecs.push_back(nullptr);
    const AVCodec* codec = nullptr;
    AVCodecContext* videoOptions = OptionContexts->Codec(AVMEDIA_TYPE_VIDEO);
    if (!VideoStreamCopy) {
        const bool named = !VideoCodecName.empty();
        codec = ChooseEncoder(*this, oc, AVMEDIA_TYPE_VIDEO, VideoCodecName, nullptr);
        if (named) OutputCodecs.back() = codec;
    }

    ost.Encoder.reset(lib().avcodec_alloc_context3(codec));
    if (!ost.Encoder) throw FFmpegException("Could not alloc stream");
    AVCodecContext* enc = ost.Encoder.get();
    ost.BitstreamFilters = std::move(VideoBitstreamFilters);
    VideoBitstreamFilters = {};
    enc->thread_count = ThreadCount;
    if (VideoCodecTag) enc->codec_tag = VideoCodecTag;
    if ((VideoGlobalHeader & 1) ||
        (VideoGlobalHeader == 0 && (oc->oformat->flags & AVFMT_GLOBALHEADER))) {
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        videoOptions->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (VideoGlobalHeader & 2) {
        enc->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
        videoOptions->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    }
    enc->codec_type = AVMEDIA_TYPE_VIDEO;

    if (VideoStreamCopy) {
        ost.StreamCopy = true;
        const AVRational sar =
            AspectFraction(SampleAspect(FrameAspectRatio, FrameWidth, FrameHeight));
        enc->sample_aspect_ratio = sar;
        st->sample_aspect_ratio = sar;
    } else {
        AVRational rate = FrameRate.num ? FrameRate : AVRational{25, 1};
        if (!rate.den) rate.den = 1;
        enc->codec_id = codec ? codec->id : AV_CODEC_ID_NONE;
        ApplyContextOptions(enc, videoOptions, AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM,
                            codec);
        if (codec && codec->supported_framerates && !ForceFps)
            rate = codec->supported_framerates[lib().av_find_nearest_q_idx(
                rate, codec->supported_framerates)];
        enc->time_base = {rate.den, rate.num};
        enc->framerate = rate;
        enc->width = FrameWidth;
        enc->height = FrameHeight;
        enc->sample_aspect_ratio =
            AspectFraction(SampleAspect(FrameAspectRatio, enc->width, enc->height));
        enc->pix_fmt = static_cast<AVPixelFormat>(FramePixFmt);
        st->sample_aspect_ratio = enc->sample_aspect_ratio;

        if (codec && codec->pix_fmts) {
            const AVPixelFormat* list = codec->pix_fmts;
            static constexpr AVPixelFormat kMjpeg[] = {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P,
                                                       AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV422P,
                                                       AV_PIX_FMT_NONE};
            static constexpr AVPixelFormat kLjpeg[] = {
                AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUVJ444P, AV_PIX_FMT_YUV420P,
                AV_PIX_FMT_YUV422P,  AV_PIX_FMT_YUV444P,  AV_PIX_FMT_BGRA,     AV_PIX_FMT_NONE};
            if (enc->strict_std_compliance < 0) {
                if (codec->id == AV_CODEC_ID_MJPEG) list = kMjpeg;
                if (codec->id == AV_CODEC_ID_LJPEG) list = kLjpeg;
            }
            if (!InList(list, enc->pix_fmt)) enc->pix_fmt = list[0];
        }

        if (IntraOnly) enc->gop_size = 0;
        if (VideoQscale != 0 || SameQuality) {
            enc->flags |= AV_CODEC_FLAG_QSCALE;
            enc->global_quality = static_cast<int>(FF_QP2LAMBDA * VideoQscale);
        }
        if (IntraMatrix) enc->intra_matrix = MatrixCopy(*IntraMatrix);
        if (InterMatrix) enc->inter_matrix = MatrixCopy(*InterMatrix);
        try {
            ParseRcOverride(VideoRcOverride, enc);
        } catch (...) {
            VideoCodecName.clear();
            throw;
        }
        if (enc->rc_initial_buffer_occupancy == 0)
            enc->rc_initial_buffer_occupancy = enc->rc_buffer_size * 3 / 4;
        // The motion-estimation threshold has no setting any more.
        enc->intra_dc_precision = IntraDcPrecision - 8;
        if (DoPsnr) enc->flags |= AV_CODEC_FLAG_PSNR;
        if (PassNumber == 1) enc->flags |= AV_CODEC_FLAG_PASS1;
        if (PassNumber == 2) enc->flags |= AV_CODEC_FLAG_PASS2;

        if (!ForcedKeyFrames.empty()) {
            size_t from = 0;
            while (true) {
                const size_t comma = ForcedKeyFrames.find(',', from);
                const std::string field = ForcedKeyFrames.substr(from, comma - from);
                const int64_t t = ParseTime("force_key_frames", field, true);
                ost.ForcedKeyFramePts.push_back(
                    lib().av_rescale_q(t, AVRational{1, AV_TIME_BASE}, enc->time_base));
                if (comma == std::string::npos) break;
                from = comma + 1;
            }
        }
    }
    TakeLanguage(st, VideoLanguage);
    VideoDisable = false;
    VideoCodecName.clear();
    ForcedKeyFrames.clear();
    VideoStreamCopy = false;
    FramePixFmt = -1;
}

void TFileSet::NewAudioStream(AVFormatContext* oc, int slot) {
    AVStream* st;
    try {
        st = NewStreamWithId(oc, StreamIdMap);
    } catch (...) {
        AudioCodecName.clear();
        AudioLanguage.clear();
        throw;
    }
    TOutputStream& ost = NewOutputStreamRecord(oc, slot);
    OutputCodecs.push_back(nullptr);
    const AVCodec* codec = nullptr;
    AVCodecContext* audioOptions = OptionContexts->Codec(AVMEDIA_TYPE_AUDIO);
    if (!AudioStreamCopy) {
        const bool named = !AudioCodecName.empty();
        codec = ChooseEncoder(*this, oc, AVMEDIA_TYPE_AUDIO, AudioCodecName, &AudioLanguage);
        if (named) OutputCodecs.back() = codec;
    }
    ost.Encoder.reset(lib().avcodec_alloc_context3(codec));
    if (!ost.Encoder) throw FFmpegException("Could not alloc stream");
    AVCodecContext* enc = ost.Encoder.get();
    ost.BitstreamFilters = std::move(AudioBitstreamFilters);
    AudioBitstreamFilters = {};
    enc->thread_count = ThreadCount;
    enc->codec_type = AVMEDIA_TYPE_AUDIO;
    if (AudioCodecTag) enc->codec_tag = AudioCodecTag;
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) {
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        audioOptions->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }

    auto setLayout = [&] {
        lib().av_channel_layout_uninit(&enc->ch_layout);
        if (ChannelLayout &&
            __builtin_popcountll(static_cast<uint64_t>(ChannelLayout)) == AudioChannels)
            lib().av_channel_layout_from_mask(&enc->ch_layout,
                                              static_cast<uint64_t>(ChannelLayout));
        else
            lib().av_channel_layout_default(&enc->ch_layout, AudioChannels);
    };
    if (AudioStreamCopy) {
        ost.StreamCopy = true;
        setLayout();
        enc->sample_rate = AudioSampleRate;
    } else {
        enc->codec_id = codec ? codec->id : AV_CODEC_ID_NONE;
        ApplyContextOptions(enc, audioOptions, AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM,
                            codec);
        if (AudioQscale > -99999) {
            enc->flags |= AV_CODEC_FLAG_QSCALE;
            enc->global_quality = static_cast<int>(FF_QP2LAMBDA * AudioQscale);
        }
        setLayout();
        enc->sample_fmt = static_cast<AVSampleFormat>(AudioSampleFmt);
        enc->sample_rate = AudioSampleRate;
        if (codec && codec->sample_fmts) {
            bool found = false;
            for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
                found |= *f == enc->sample_fmt;
            if (!found) enc->sample_fmt = codec->sample_fmts[0];
        }
        if (codec && codec->supported_samplerates) {
            int best = codec->supported_samplerates[0];
            for (const int* r = codec->supported_samplerates; *r; ++r)
                if (std::abs(*r - AudioSampleRate) < std::abs(best - AudioSampleRate)) best = *r;
            if (best != AudioSampleRate)
                FFLogger()->LogFmt(
                    this, llWarning,
                    "Requested sampling rate unsupported using closest supported (%d)", best);
            enc->sample_rate = best;
        }
    }
    enc->time_base = {1, AudioSampleRate > 0 ? AudioSampleRate : 1};
    TakeLanguage(st, AudioLanguage);
    AudioDisable = false;
    AudioCodecName.clear();
    AudioStreamCopy = false;
}

void TFileSet::NewSubtitleStream(AVFormatContext* oc, int slot) {
    AVStream* st;
    try {
        st = NewStreamWithId(oc, StreamIdMap);
    } catch (...) {
        SubtitleCodecName.clear();
        SubtitleLanguage.clear();
        throw;
    }
    TOutputStream& ost = NewOutputStreamRecord(oc, slot);
    OutputCodecs.push_back(nullptr);
    const AVCodec* codec = nullptr;
    AVCodecContext* subtitleOptions = OptionContexts->Codec(AVMEDIA_TYPE_SUBTITLE);
    if (!SubtitleStreamCopy) {
        codec =
            ChooseEncoder(*this, oc, AVMEDIA_TYPE_SUBTITLE, SubtitleCodecName, &SubtitleLanguage);
        OutputCodecs.back() = codec;
    }
    ost.Encoder.reset(lib().avcodec_alloc_context3(codec));
    if (!ost.Encoder) throw FFmpegException("Could not alloc stream");
    AVCodecContext* enc = ost.Encoder.get();
    ost.BitstreamFilters = std::move(SubtitleBitstreamFilters);
    SubtitleBitstreamFilters = {};
    enc->codec_type = AVMEDIA_TYPE_SUBTITLE;
    if (SubtitleCodecTag) enc->codec_tag = SubtitleCodecTag;
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) {
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        subtitleOptions->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (SubtitleStreamCopy) {
        ost.StreamCopy = true;
    } else {
        enc->codec_id = codec ? codec->id : AV_CODEC_ID_NONE;
        // Subtitle times count in milliseconds (their display times do);
        // today's encoders refuse to open without a time base.
        enc->time_base = {1, 1000};
        ApplyContextOptions(enc, subtitleOptions,
                            AV_OPT_FLAG_SUBTITLE_PARAM | AV_OPT_FLAG_ENCODING_PARAM, codec);
    }
    TakeLanguage(st, SubtitleLanguage);
    SubtitleDisable = false;
    SubtitleCodecName.clear();
    SubtitleStreamCopy = false;
}

void TFileSet::NewMoreStream(AVFormatContext* oc, int slot, const TMoreStream& more) {
    const bool copy = more.Codec == "copy";
    if (more.Type == AVMEDIA_TYPE_SUBTITLE) {
        SubtitleStreamCopy = copy;
        SubtitleCodecName = copy ? std::string() : more.Codec;
        NewSubtitleStream(oc, slot);
    } else if (more.Type == AVMEDIA_TYPE_AUDIO) {
        // An encoded track keeps its own channels and rate; the option
        // values stay those of the first track for the streams after it.
        const int channels = AudioChannels, rate = AudioSampleRate;
        const int64_t layout = ChannelLayout;
        const AVFormatContext* ic = InputFileCount > 0 ? InputFiles[0].get() : nullptr;
        for (unsigned i = 0, n = 0; ic && i < ic->nb_streams; ++i) {
            const AVCodecParameters* par = ic->streams[i]->codecpar;
            if (par->codec_type != AVMEDIA_TYPE_AUDIO || int(n++) != more.Ordinal) continue;
            AudioChannels = par->ch_layout.nb_channels;
            AudioSampleRate = par->sample_rate;
            ChannelLayout = par->ch_layout.order == AV_CHANNEL_ORDER_NATIVE
                                ? static_cast<int64_t>(par->ch_layout.u.mask)
                                : 0;
        }
        AudioStreamCopy = copy;
        AudioCodecName = copy ? std::string() : more.Codec;
        try {
            NewAudioStream(oc, slot);
        } catch (...) {
            AudioChannels = channels, AudioSampleRate = rate, ChannelLayout = layout;
            throw;
        }
        AudioChannels = channels, AudioSampleRate = rate, ChannelLayout = layout;
    } else {
        throw FFmpegException("invalid codec_type of output stream");
    }
    OutputStreams.at(slot).back()->KindOrdinal = more.Ordinal;
}

void TFileSet::NewCoverStream(AVFormatContext* oc, int slot) {
    const AVFormatContext* ic = InputFileCount > 0 ? InputFiles[0].get() : nullptr;
    const AVStream* cover = nullptr;
    for (unsigned i = 0; ic && i < ic->nb_streams && !cover; ++i)
        if ((ic->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC) &&
            ic->streams[i]->attached_pic.size > 0)
            cover = ic->streams[i];
    if (!cover) return;
    AVStream* st = NewStreamWithId(oc, StreamIdMap);
    TOutputStream& ost = NewOutputStreamRecord(oc, slot);
    OutputCodecs.push_back(nullptr);
    ost.Encoder.reset(lib().avcodec_alloc_context3(nullptr));
    if (!ost.Encoder) throw FFmpegException("Could not alloc stream");
    ost.Encoder->codec_type = AVMEDIA_TYPE_VIDEO;
    ost.StreamCopy = true;
    ost.Cover = true;
    if (std::strcmp(oc->oformat->name, "matroska") == 0) {
        // Matroska keeps pictures as attached files; its reader shows an
        // image attachment as cover art again.
        const AVPacket& picture = cover->attached_pic;
        AVCodecParameters* par = st->codecpar;
        par->codec_type = AVMEDIA_TYPE_ATTACHMENT;
        par->codec_id = cover->codecpar->codec_id;
        par->extradata = static_cast<uint8_t*>(
            lib().av_mallocz(size_t(picture.size) + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!par->extradata) throw FFmpegException("Could not alloc stream");
        std::memcpy(par->extradata, picture.data, size_t(picture.size));
        par->extradata_size = picture.size;
        const bool png = par->codec_id == AV_CODEC_ID_PNG;
        lib().av_dict_set(&st->metadata, "filename", png ? "cover.png" : "cover.jpg", 0);
        lib().av_dict_set(&st->metadata, "mimetype", png ? "image/png" : "image/jpeg", 0);
        return;
    }
    if (lib().avcodec_parameters_copy(st->codecpar, cover->codecpar) < 0)
        throw FFmpegException("Could not alloc stream");
    st->codecpar->codec_tag = 0;
    st->disposition = AV_DISPOSITION_ATTACHED_PIC;
    st->time_base = cover->time_base;
}

int TFileSet::OpenOutputFile(const std::string& fileName, bool join, const std::string& shownName) {
    try {
        OpenOutput(fileName, join, shownName.empty() ? fileName : shownName);
    } catch (const TOpenRefused& e) {
        LastError = e.what();
        return -1;
    }
    return OutputFileCount;
}

void TFileSet::OpenOutput(const std::string& fileName, bool join, const std::string& shownName) {
    if (JoinMode) throw TOpenRefused("Cannot join more than one output file.");
    if (OutputFileCount >= MaxFiles)
        throw TOpenRefused("Cannot open more than " + std::to_string(MaxFiles) + " output files");
    UseVideoFilters = !VideoFilters.empty();

    const std::string libraryName = ToLibraryFileName(fileName);
    const AVOutputFormat* format;
    if (!ForcedFormatName.empty()) {
        format = lib().av_guess_format(ForcedFormatName.c_str(), nullptr, nullptr);
        if (!format)
            throw TOpenRefused("Requested output format '" + ForcedFormatName +
                               "' is not a suitable output format");
        ForcedFormatName.clear();
    } else {
        // Guess from the name itself: the protocol prefix would hide its extension.
        format = lib().av_guess_format(nullptr, fileName.c_str(), nullptr);
        if (!format)
            throw TOpenRefused("Unable to find a suitable output format for '" + shownName + "'");
    }
    // Allocated for its muxer, so that the muxer's private options exist with
    // their defaults and the options given for it can reach it.
    AVFormatContext* raw = nullptr;
    if (lib().avformat_alloc_output_context2(&raw, format, nullptr, nullptr) < 0 || !raw)
        throw FFmpegException("avformat_alloc_context failed");
    std::shared_ptr<AVFormatContext> oc(raw, OutputFormatClose());
    oc->url = lib().av_strdup(libraryName.c_str());
    if (!oc->url) throw FFmpegException("avformat_alloc_context failed");
    // The muxers' second passes (the MP4 index in front, the FLV key-frame
    // index) reopen the file by its URL: names of our own protocol must
    // reach our own I/O there too.
    oc->io_open = ReopenOutputIO;
    oc->io_close2 = CloseReopenedOutputIO;

    if (std::strcmp(format->name, "ffm") == 0)
        throw TOpenRefused("The ffm output format is not available in this library version");

    bool useVideo =
        VideoStreamCopy || format->video_codec != AV_CODEC_ID_NONE || !VideoCodecName.empty();
    bool useAudio =
        AudioStreamCopy || format->audio_codec != AV_CODEC_ID_NONE || !AudioCodecName.empty();
    bool useSubtitle = SubtitleStreamCopy || format->subtitle_codec != AV_CODEC_ID_NONE ||
                       !SubtitleCodecName.empty();
    if (InputFileCount > 0) {
        bool hasVideo, hasAudio, hasSubtitle;
        try {
            CheckInputStreamTypes(join, hasVideo, hasAudio, hasSubtitle);
        } catch (const std::exception& e) {
            throw TOpenRefused(std::string("check_audio_video_sub_inputs fail: ") + e.what());
        }
        useVideo = useVideo && hasVideo;
        useAudio = useAudio && hasAudio;
        useSubtitle = useSubtitle && hasSubtitle;
    }
    if (AudioDisable) useAudio = false;
    if (VideoDisable) useVideo = false;
    if (SubtitleDisable) useSubtitle = false;

    const int slot = OutputFileCount;
    const auto createStreams = [&](bool use, const char* what,
                                   void (TFileSet::*make)(AVFormatContext*, int)) {
        if (!use) return;
        try {
            (this->*make)(oc.get(), slot);
        } catch (const std::exception& e) {
            OutputStreams[slot].clear();
            throw TOpenRefused(std::string(what) + e.what());
        }
    };
    createStreams(useVideo, "new_video_stream fail: ", &TFileSet::NewVideoStream);
    createStreams(useAudio, "new_audio_stream fail: ", &TFileSet::NewAudioStream);
    createStreams(useSubtitle, "new_subtitle_stream fail: ", &TFileSet::NewSubtitleStream);
    // Created as listed, whatever disables the ordinary streams of a kind.
    for (const TMoreStream& more : MoreStreams) {
        try {
            NewMoreStream(oc.get(), slot, more);
        } catch (const std::exception& e) {
            OutputStreams[slot].clear();
            throw TOpenRefused(std::string(more.Type == AVMEDIA_TYPE_AUDIO
                                               ? "new_audio_stream fail: "
                                               : "new_subtitle_stream fail: ") +
                               e.what());
        }
    }

    if (KeepCover) {
        try {
            NewCoverStream(oc.get(), slot);
        } catch (const std::exception& e) {
            OutputStreams[slot].clear();
            throw TOpenRefused(std::string("new_video_stream fail: ") + e.what());
        }
    }

    oc->metadata = nullptr;
    lib().av_dict_copy(&oc->metadata, Metadata.Get(), 0);
    Metadata.Clear();
    // The creation time of the muxers that write one ("timestamp"), in the
    // ISO 8601 form they read.
    if (RecordingTimestamp)
        lib().av_dict_set(&oc->metadata, "creation_time",
                          CreationTimeText(RecordingTimestamp).c_str(), 0);

    OutputFiles[slot] = oc;
    ++OutputFileCount;
    // Until the file is open and set up, a failure forgets the slot again.
    struct TUnrecord {
        TFileSet& Files;
        int Slot;
        bool Keep = false;
        ~TUnrecord() {
            if (Keep) return;
            --Files.OutputFileCount;
            Files.OutputFiles[Slot].reset();
            Files.OutputStreams[Slot].clear();
        }
    } unrecord{*this, slot};

    if ((format->flags & AVFMT_NEEDNUMBER) && !lib().av_filename_number_test(oc->url))
        throw TOpenRefused(ErrorText(shownName, -33));

    if (!(format->flags & AVFMT_NOFILE)) {
        const uint32_t thread = CurrentThreadID();
        IOStartTime = INT64_MAX;
        InterruptCB()->Register(thread, this, CheckIOTimeout);
        IOStartTime = lib().av_gettime();
        AVIOContext* pb = nullptr;
        const AVIOInterruptCB interrupt{OutputOpenInterrupt, this};
        const int ret = OpenLibraryIO(libraryName, AVIO_FLAG_WRITE, &pb, nullptr, &interrupt);
        IOStartTime = INT64_MAX;
        InterruptCB()->Unregister(thread, this, CheckIOTimeout);
        if (ret < 0) throw TOpenRefused(ErrorText(shownName, ret));
        oc->pb = pb;
    }

    // Muxer settings: the preload is the muxers' own "preload" option (MPEG
    // program streams have it), the output loop their "loop" option.
    oc->max_delay = static_cast<int>(1000000 * MuxMaxDelay);
    if (oc->priv_data) {
        if (lib().av_opt_find(oc->priv_data, "preload", nullptr, 0, 0))
            lib().av_opt_set_int(oc->priv_data, "preload",
                                 static_cast<int64_t>(1000000 * MuxPreload), 0);
        if (LoopOutput >= 0 && lib().av_opt_find(oc->priv_data, "loop", nullptr, 0, 0))
            lib().av_opt_set_int(oc->priv_data, "loop", LoopOutput, 0);
    }
    oc->flags |= AVFMT_FLAG_NONBLOCK;
    oc->interrupt_callback = AVIOInterruptCB{OutputOpenInterrupt, this};
    try {
        ApplyContextOptions(oc.get(), OptionContexts->Format(), AV_OPT_FLAG_ENCODING_PARAM);
    } catch (const std::exception& e) {
        throw TOpenRefused(e.what());
    }
    unrecord.Keep = true;

    StreamIdMap.clear();
    ForcedKeyFrames.clear();
    if (join && InputFileCount > 1) JoinMode = true;
}

}  // namespace tw
