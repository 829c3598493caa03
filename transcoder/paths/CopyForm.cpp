// transcoder/paths/CopyForm.cpp — converting copied H.264 and AAC packets between
// their start-code and length-prefixed (ADTS and raw) forms.
#include "transcoder/paths/CopyForm.h"

#include <cstring>
#include <memory>
#include <utility>

#include "binding/Entries.h"
#include "binding/LibPtr.h"
#include "media/Bitstream.h"
#include "transcoder/FFmpegException.h"

namespace tw {
namespace {

void SetExtradata(AVCodecParameters* par, const Bytes& data) {
    auto* buffer =
        static_cast<uint8_t*>(lib().av_mallocz(data.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!buffer) throw FFmpegException("av_mallocz fail");
    std::memcpy(buffer, data.data(), data.size());
    lib().av_freep(&par->extradata);
    par->extradata = buffer;
    par->extradata_size = static_cast<int>(data.size());
}

// New payload for pkt; its times, flags and side data stay.
void ReplaceData(AVPacket* pkt, const Bytes& data) {
    PacketPtr fresh(lib().av_packet_alloc());
    if (!fresh || lib().av_new_packet(fresh.get(), static_cast<int>(data.size())) < 0 ||
        lib().av_packet_copy_props(fresh.get(), pkt) < 0)
        throw FFmpegException("av_mallocz fail");
    std::memcpy(fresh->data, data.data(), data.size());
    fresh->stream_index = pkt->stream_index;
    lib().av_packet_unref(pkt);
    lib().av_packet_move_ref(pkt, fresh.get());
}

ByteSpan ExtradataOf(const AVCodecParameters* par) {
    if (!par->extradata || par->extradata_size <= 0) return {};
    return ByteSpan(par->extradata, size_t(par->extradata_size));
}

ByteSpan PacketBytes(const AVPacket* pkt) {
    if (!pkt->data || pkt->size <= 0) return {};
    return ByteSpan(pkt->data, size_t(pkt->size));
}

// Rewrites pkt's prefixes from one form into the other where both take
// four bytes (outLengthSize 0: start codes); false when the sizes do not
// allow it and nothing was changed.
bool ConvertInPlace(AVPacket* pkt, const UnitList& nals, bool startCodes, int inLengthSize,
                    int outLengthSize) {
    // Four-byte start codes and four-byte lengths take the same room: the
    // packet keeps its bytes when every one of them belongs to a unit and
    // its prefix (nothing dropped between units, no empty units).
    if (outLengthSize != 0 && outLengthSize != 4) return false;
    if (!startCodes && inLengthSize != 4) return false;
    if (nals.empty()) return false;
    size_t at = 0;
    for (const ByteSpan unit : nals) {
        const uint8_t* nal = unit.data();
        const size_t len = unit.size();
        if (nal != pkt->data + at + 4 || len == 0) return false;
        if (startCodes && (nal[-4] != 0 || nal[-3] != 0 || nal[-2] != 0 || nal[-1] != 1))
            return false;
        at += 4 + len;
    }
    if (at != size_t(pkt->size)) return false;
    // Only the packet's own bytes are rewritten (a shared buffer is copied
    // first).
    if (lib().av_packet_make_writable(pkt) < 0) throw FFmpegException("av_mallocz fail");
    at = 0;
    for (const ByteSpan unit : nals) {
        const size_t len = unit.size();
        uint8_t* prefix = pkt->data + at;
        if (outLengthSize == 0) {
            prefix[0] = prefix[1] = prefix[2] = 0;
            prefix[3] = 1;
        } else {
            for (int b = 0; b < 4; ++b) prefix[b] = static_cast<uint8_t>(len >> (8 * (3 - b)));
        }
        at += 4 + len;
    }
    return true;
}

}  // namespace

void TCopyForm::PrepareHeader(AVCodecParameters* out, const std::vector<const AVPacket*>& first) {
    const ByteSpan extradata = ExtradataOf(out);
    if (out->codec_id == AV_CODEC_ID_H264) {
        if (!extradata.empty() && extradata[0] == 1) return;
        std::vector<Bytes> sets = H264ParameterSets(extradata);
        if (sets.empty()) {
            UnitList nals;
            for (const AVPacket* p : first) {
                if (!StartsWithStartCode(PacketBytes(p))) continue;
                SplitStartCodes(PacketBytes(p), nals);
                for (const ByteSpan nal : nals)
                    if (IsH264ParameterSet(H264UnitType(nal)))
                        sets.emplace_back(nal.begin(), nal.end());
                if (!sets.empty()) break;
            }
        }
        const Bytes avcc = WriteAvcC(sets);
        if (!avcc.empty()) SetExtradata(out, avcc);
    } else if (out->codec_id == AV_CODEC_ID_AAC && extradata.empty()) {
        for (const AVPacket* p : first) {
            const Bytes config = AacConfigFromAdts(PacketBytes(p));
            if (config.empty()) continue;
            SetExtradata(out, config);
            break;
        }
    }
}

TCopyForm::TCopyForm(const AVCodecParameters* in, const AVCodecParameters* out,
                     std::shared_ptr<TCopyStreamState> state)
    : FCodec(in->codec_id), FState(std::move(state)) {
    const ByteSpan inExtra = ExtradataOf(in);
    const ByteSpan outExtra = ExtradataOf(out);
    if (FCodec == AV_CODEC_ID_H264) {
        FInAvcC = IsAvcC(inExtra);
        if (FInAvcC) FInLengthSize = AvcCLengthSize(inExtra);
        FOutLengthSize = AvcCLengthSize(outExtra);
        FInParameterSets = H264ParameterSets(inExtra);
        // The header's parameter sets serve only inputs that have the same.
        FDiffersFromHeader =
            !FInParameterSets.empty() && FInParameterSets != H264ParameterSets(outExtra);
        // An output with start codes has no header to take them from.
        if (FOutLengthSize == 0 && FInAvcC) FInsertParameterSets = !FInParameterSets.empty();
    } else if (FCodec == AV_CODEC_ID_AAC) {
        FOutRaw = !outExtra.empty();
        FInConfig.assign(inExtra.begin(), inExtra.end());
    }
}

void TCopyForm::Convert(AVPacket* pkt) {
    if (!pkt->data || pkt->size <= 0) return;
    if (!FStarted) {
        // Decided when the input begins: the inputs before it have run.
        FStarted = true;
        if (FCodec == AV_CODEC_ID_H264) {
            if (FDiffersFromHeader || FState->ParameterSetsChanged)
                FInsertParameterSets = !FInParameterSets.empty();
            if (FDiffersFromHeader) FState->ParameterSetsChanged = true;
        } else if (FCodec == AV_CODEC_ID_AAC) {
            if (FInConfig.empty()) FInConfig = AacConfigFromAdts(PacketBytes(pkt));
            if (FOutRaw && !FInConfig.empty() && !SameAacConfig(FInConfig, FState->AacConfig)) {
                // The muxer writes the new configuration where this input begins.
                uint8_t* side =
                    lib().av_packet_new_side_data(pkt, AV_PKT_DATA_NEW_EXTRADATA, FInConfig.size());
                if (!side) throw FFmpegException("av_mallocz fail");
                std::memcpy(side, FInConfig.data(), FInConfig.size());
                FState->AacConfig = FInConfig;
            }
        }
    }
    if (FCodec == AV_CODEC_ID_H264) {
        ConvertH264(pkt);
    } else if (FCodec == AV_CODEC_ID_AAC) {
        ConvertAac(pkt);
    }
}

void TCopyForm::ConvertH264(AVPacket* pkt) {
    const ByteSpan data = PacketBytes(pkt);
    // A length of 256..511 bytes begins like a start code: an input with
    // avcC has length-prefixed packets unless they do not parse as such.
    UnitList& nals = FUnits;
    const bool looksStartCoded = StartsWithStartCode(data);
    const bool prefixed =
        looksStartCoded && FInAvcC && SplitLengthPrefixed(data, FInLengthSize, nals);
    const bool startCodes = looksStartCoded && !prefixed;
    const bool key = pkt->flags & AV_PKT_FLAG_KEY;
    const bool mayInsert = FInsertParameterSets && key;
    if (!mayInsert) {
        if (FOutLengthSize > 0 && !startCodes && FInLengthSize == FOutLengthSize) return;
        if (FOutLengthSize == 0 && startCodes) return;
    }
    if (startCodes) {
        SplitStartCodes(data, nals);
    } else if (!prefixed && !SplitLengthPrefixed(data, FInLengthSize, nals)) {
        return;
    }
    if (!mayInsert && ConvertInPlace(pkt, nals, startCodes, FInLengthSize, FOutLengthSize)) return;
    bool hasSps = false;
    for (const ByteSpan nal : nals) hasSps = hasSps || H264UnitType(nal) == kH264Sps;
    Bytes out;
    out.reserve(data.size() + 64);
    auto put = [&](ByteSpan nal) {
        if (FOutLengthSize == 0) {
            out.insert(out.end(), {0, 0, 0, 1});
        } else {
            for (int b = FOutLengthSize - 1; b >= 0; --b)
                out.push_back(static_cast<uint8_t>(nal.size() >> (8 * b)));
        }
        out.insert(out.end(), nal.begin(), nal.end());
    };
    if (mayInsert && !hasSps)
        for (const Bytes& s : FInParameterSets) put(s);
    for (const ByteSpan nal : nals) put(nal);
    ReplaceData(pkt, out);
}

void TCopyForm::ConvertAac(AVPacket* pkt) {
    if (!FOutRaw) return;
    // The raw frame is the end of the ADTS one: the packet starts past the
    // header, its buffer (and the padding after it) unchanged.
    const int header = AdtsHeaderSize(PacketBytes(pkt));
    if (header == 0) return;
    pkt->data += header;
    pkt->size -= header;
}

}  // namespace tw
