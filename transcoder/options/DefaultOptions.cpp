// transcoder/options/DefaultOptions.cpp — the generic option path: options the engine
// does not know itself go to the libraries' option tables, are recorded, and
// are later copied into the codec and format contexts; and codec lookup by name.
#include "transcoder/options/DefaultOptions.h"

#include "binding/Entries.h"
#include "diag/FFLog.h"
#include "transcoder/options/EngineOptions.h"
#include "transcoder/options/LegacyOptions.h"
#include "transcoder/options/Parsers.h"

namespace tw {

bool KnownToPrivateOptions(const std::string& name) {
    void* it = nullptr;
    while (const AVCodec* c = lib().av_codec_iterate(&it)) {
        if (c->priv_class && lib().av_opt_find(const_cast<const AVClass**>(&c->priv_class),
                                               name.c_str(), nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ))
            return true;
    }
    it = nullptr;
    while (const AVOutputFormat* f = lib().av_muxer_iterate(&it)) {
        if (f->priv_class && lib().av_opt_find(const_cast<const AVClass**>(&f->priv_class),
                                               name.c_str(), nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ))
            return true;
    }
    return false;
}

std::string InvalidValueText(const std::string& name, const std::string& value) {
    return "Invalid value \"" + value + "\" for option \"" + name + "\"";
}

std::string UnrecognizedOptionText(const std::string& name) {
    return "Unrecognized option \"" + name + "\"";
}

bool TEngineOptions::SetDefaultOption(const std::string& name, const std::string& value) {
    if (IsBlank(name)) return false;
    try {
        SetGenericOption(name, value, true);
        return true;
    } catch (const FFmpegException& e) {
        FOptionFailure = e.what();
        return false;
    }
}

void TEngineOptions::SetGenericOption(const std::string& name, const std::string& value,
                                      bool translate) {
    if (!OptionContexts) throw FFmpegException("The media libraries are not loaded");

    // Older spellings (from presets and targets) become today's options. A
    // translation may keep the option's own name with the still-valid part
    // of its value ("flags=-loop"): those are set as they are, not translated
    // again. The first refused part ends the translation.
    TLegacyTranslation legacy;
    if (translate && TranslateLegacyOption(name, value, legacy)) {
        if (!legacy.NoEffect.empty())
            FFLogger()->Log(this, llVerbose, legacy.NoEffect + " has no effect any more");
        for (const auto& [n, v] : legacy.Options) SetGenericOption(n, v, false);
        return;
    }

    TOptionContexts& oc = *OptionContexts;
    const char* n = name.c_str();
    const char* val = value.c_str();
    const AVOption* matched = nullptr;
    int ret = 0;

    // Codec options, once per media type whose flag the option carries. The
    // lookup is done in the video context: all codec contexts share one table.
    static constexpr struct {
        AVMediaType Type;
        int Flag;
    } kTypes[] = {{AVMEDIA_TYPE_VIDEO, AV_OPT_FLAG_VIDEO_PARAM},
                  {AVMEDIA_TYPE_AUDIO, AV_OPT_FLAG_AUDIO_PARAM},
                  {AVMEDIA_TYPE_DATA, 0},
                  {AVMEDIA_TYPE_SUBTITLE, AV_OPT_FLAG_SUBTITLE_PARAM},
                  {AVMEDIA_TYPE_ATTACHMENT, 0}};
    for (const auto& t : kTypes) {
        const AVOption* o = lib().av_opt_find(oc.Codec(AVMEDIA_TYPE_VIDEO), n, nullptr, t.Flag, 0);
        if (!o) continue;
        matched = o;
        ret = lib().av_opt_set(oc.Codec(t.Type), n, val, 0);
        if (ret < 0) break;
    }

    if (!matched) {
        for (void* ctx : {static_cast<void*>(oc.Format()), static_cast<void*>(oc.Scaler())}) {
            if ((matched = lib().av_opt_find(ctx, n, nullptr, 0, 0))) {
                ret = lib().av_opt_set(ctx, n, val, 0);
                break;
            }
        }
    }

    // "ab" is the audio "b", "vb" the video "b", "sxxx" a subtitle "xxx".
    if (!matched && name.size() > 1) {
        const char kind = name[0];
        const AVMediaType type = kind == 'a'   ? AVMEDIA_TYPE_AUDIO
                                 : kind == 'v' ? AVMEDIA_TYPE_VIDEO
                                 : kind == 's' ? AVMEDIA_TYPE_SUBTITLE
                                               : AVMEDIA_TYPE_UNKNOWN;
        if (type != AVMEDIA_TYPE_UNKNOWN) {
            AVCodecContext* ctx = oc.Codec(type);
            if ((matched = lib().av_opt_find(ctx, n + 1, nullptr, 0, 0)))
                ret = lib().av_opt_set(ctx, n + 1, val, 0);
        }
    }

    if (matched && ret < 0) {
        lib().av_log(nullptr, AV_LOG_ERROR, "Invalid value \"%s\" for option \"%s\"\n", val, n);
        throw FFmpegException(InvalidValueText(name, value));
    }
    if (!matched && !KnownToPrivateOptions(name)) {
        lib().av_log(nullptr, AV_LOG_ERROR, "Unrecognized option \"%s\"\n", n);
        throw FFmpegException(UnrecognizedOptionText(name));
    }

    if (matched)
        oc.Record(matched->name);
    else
        oc.Record(name, value);

    if (oc.Codec(AVMEDIA_TYPE_VIDEO)->debug || oc.Format()->debug) FFLogger()->SetLogLevel(llDebug);
}

bool TEngineOptions::SetDefaultOptionInt(const std::string& name, int value) {
    return SetDefaultOption(name, std::to_string(value));
}

void TEngineOptions::ApplyContextOptions(AVCodecContext* target, void* optionContext,
                                         int requiredFlags, const AVCodec* codec) {
    void* priv = codec && codec->priv_class && target->priv_data ? target->priv_data : nullptr;
    ApplyRecordedOptions(target, optionContext, requiredFlags, priv);
}

void TEngineOptions::ApplyContextOptions(AVFormatContext* target, void* optionContext,
                                         int requiredFlags) {
    void* priv = target->oformat && target->oformat->priv_class && target->priv_data
                     ? target->priv_data
                     : nullptr;
    ApplyRecordedOptions(target, optionContext, requiredFlags, priv);
}

void TEngineOptions::ApplyRecordedOptions(void* target, void* optionContext, int requiredFlags,
                                          void* privateContext) {
    if (!OptionContexts) return;
    for (const TRecordedOption& rec : OptionContexts->Recorded()) {
        const char* n = rec.Name.c_str();
        const AVOption* o = lib().av_opt_find(optionContext, n, nullptr, 0, 0);
        if (o) {
            if ((o->flags & requiredFlags) != requiredFlags) continue;
            uint8_t* raw = nullptr;
            const int got = lib().av_opt_get(optionContext, n, 0, &raw);
            const LibBufferPtr<uint8_t> text(raw);
            if (got < 0 || !text) continue;
            const std::string current(reinterpret_cast<const char*>(text.get()));
            if (lib().av_opt_set(target, n, current.c_str(), 0) < 0)
                throw FFmpegException(InvalidValueText(rec.Name, current));
        } else if (privateContext && rec.HasValue &&
                   lib().av_opt_find(privateContext, n, nullptr, 0, 0)) {
            // Known only to the private table: the value was not checked when
            // it was given, so a refusal here is the first word on it.
            if (lib().av_opt_set(privateContext, n, rec.Value.c_str(), 0) < 0)
                throw FFmpegException(InvalidValueText(rec.Name, rec.Value));
        }
    }
}

bool TEngineOptions::FindCodec(const std::string& name, AVMediaType type, bool encoder, int strict,
                               AVCodecID& id) {
    id = AV_CODEC_ID_NONE;
    if (name.empty()) return true;
    const std::string kind = encoder ? "encoder" : "decoder";
    const AVCodec* codec = encoder ? lib().avcodec_find_encoder_by_name(name.c_str())
                                   : lib().avcodec_find_decoder_by_name(name.c_str());
    if (!codec) {
        LastError = "Unknown " + kind + " '" + name + "'";
        return false;
    }
    if (codec->type != type) {
        LastError = "Invalid " + kind + " type '" + name + "'";
        return false;
    }
    if ((codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) && strict > FF_COMPLIANCE_EXPERIMENTAL) {
        LastError = kind + " '" + codec->name +
                    "' is experimental and might produce bad results.\r\n"
                    "Add '-strict experimental' if you want to use it.";
        const AVCodec* other =
            encoder ? lib().avcodec_find_encoder(codec->id) : lib().avcodec_find_decoder(codec->id);
        if (other && !(other->capabilities & AV_CODEC_CAP_EXPERIMENTAL))
            LastError += "\r\nOr use the non experimental " + kind + " '" + other->name + "'.";
        return false;
    }
    id = codec->id;
    return true;
}

}  // namespace tw
