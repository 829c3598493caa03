// transcoder/CopyForm.cpp — converting copied H.264 and AAC packets between
// their start-code and length-prefixed (ADTS and raw) forms.
#include "transcoder/CopyForm.h"

#include <cstring>
#include <memory>
#include <utility>

#include "binding/Entries.h"
#include "binding/LibPtr.h"
#include "transcoder/FFmpegException.h"

namespace tw {
namespace {

using Bytes = std::vector<uint8_t>;
using NalList = std::vector<std::pair<const uint8_t*, size_t>>;

constexpr int NalSps = 7;
constexpr int NalPps = 8;
constexpr int NalSpsExtension = 13;

int NalType(const uint8_t* nal) { return nal[0] & 0x1f; }

bool IsParameterSet(int type) {
    return type == NalSps || type == NalPps || type == NalSpsExtension;
}

bool StartsWithStartCode(const uint8_t* d, size_t size) {
    return (size >= 3 && d[0] == 0 && d[1] == 0 && d[2] == 1) ||
           (size >= 4 && d[0] == 0 && d[1] == 0 && d[2] == 0 && d[3] == 1);
}

// The NAL units between start codes; the zero byte of a following
// four-byte start code does not belong to the unit before it.
NalList SplitStartCodes(const uint8_t* d, size_t size) {
    NalList nals;
    size_t i = 0, begin = SIZE_MAX;
    while (i + 3 <= size) {
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
            if (begin != SIZE_MAX) {
                size_t end = i;
                while (end > begin && d[end - 1] == 0) --end;
                if (end > begin) nals.emplace_back(d + begin, end - begin);
            }
            i += 3;
            begin = i;
        } else {
            ++i;
        }
    }
    if (begin != SIZE_MAX && begin < size) nals.emplace_back(d + begin, size - begin);
    return nals;
}

// The NAL units of a length-prefixed packet; false when a length runs past
// the end (the packet is then left as it is).
bool SplitLengthPrefixed(const uint8_t* d, size_t size, int lengthSize, NalList& nals) {
    size_t i = 0;
    while (i + lengthSize <= size) {
        size_t len = 0;
        for (int b = 0; b < lengthSize; ++b) len = (len << 8) | d[i + b];
        i += lengthSize;
        if (len > size - i) return false;
        if (len > 0) nals.emplace_back(d + i, len);
        i += len;
    }
    return i == size;
}

// SPS and PPS of H.264 extradata in either form.
std::vector<Bytes> ParameterSets(const uint8_t* d, size_t size) {
    std::vector<Bytes> sets;
    if (size >= 7 && d[0] == 1) {
        size_t i = 6;
        int count = d[5] & 0x1f;
        for (int pass = 0; pass < 2; ++pass) {
            for (int n = 0; n < count && i + 2 <= size; ++n) {
                const size_t len = (size_t(d[i]) << 8) | d[i + 1];
                i += 2;
                if (len > size - i) return sets;
                sets.emplace_back(d + i, d + i + len);
                i += len;
            }
            if (pass == 0) {
                if (i >= size) break;
                count = d[i++];
            }
        }
        return sets;
    }
    for (const auto& [nal, len] : SplitStartCodes(d, size))
        if (IsParameterSet(NalType(nal))) sets.emplace_back(nal, nal + len);
    return sets;
}

// avcC: version 1, profile, compatibility and level of the first SPS,
// four-byte lengths, then the SPS and PPS lists.
Bytes MakeAvcC(const std::vector<Bytes>& sets) {
    std::vector<const Bytes*> sps, pps;
    for (const Bytes& s : sets) {
        if (s.empty()) continue;
        if (NalType(s.data()) == NalSps && s.size() >= 4) sps.push_back(&s);
        if (NalType(s.data()) == NalPps) pps.push_back(&s);
    }
    if (sps.empty() || pps.empty()) return {};
    Bytes out = {1,
                 (*sps[0])[1],
                 (*sps[0])[2],
                 (*sps[0])[3],
                 0xff,
                 static_cast<uint8_t>(0xe0 | (sps.size() & 0x1f))};
    auto put = [&out](const Bytes& s) {
        out.push_back(static_cast<uint8_t>(s.size() >> 8));
        out.push_back(static_cast<uint8_t>(s.size()));
        out.insert(out.end(), s.begin(), s.end());
    };
    for (const Bytes* s : sps) put(*s);
    out.push_back(static_cast<uint8_t>(pps.size()));
    for (const Bytes* p : pps) put(*p);
    return out;
}

bool IsAdts(const uint8_t* d, size_t size) {
    return size >= 7 && d[0] == 0xff && (d[1] & 0xf6) == 0xf0;
}

// The two-byte AudioSpecificConfig an ADTS header describes.
Bytes ConfigFromAdts(const uint8_t* d) {
    const int objectType = ((d[2] >> 6) & 3) + 1;
    const int rateIndex = (d[2] >> 2) & 0xf;
    const int channels = ((d[2] & 1) << 2) | (d[3] >> 6);
    const int config = (objectType << 11) | (rateIndex << 7) | (channels << 3);
    return {static_cast<uint8_t>(config >> 8), static_cast<uint8_t>(config)};
}

// Two AudioSpecificConfigs describe the same audio: object type, rate and
// channels agree (what follows them, such as an explicit "no SBR", does not
// change the decoding of plain AAC).
bool SameAacConfig(const Bytes& a, const Bytes& b) {
    if (a.size() < 2 || b.size() < 2) return a == b;
    const int rateIndex = ((a[0] & 7) << 1) | (a[1] >> 7);
    if (rateIndex == 15 || (a[0] >> 3) == 31) return a == b;  // explicit rate, long object type
    return a[0] == b[0] && (a[1] & 0xf8) == (b[1] & 0xf8);
}

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

Bytes ExtradataOf(const AVCodecParameters* par) {
    if (!par->extradata || par->extradata_size <= 0) return {};
    return Bytes(par->extradata, par->extradata + par->extradata_size);
}

// Rewrites pkt's prefixes from one form into the other where both take
// four bytes (outLengthSize 0: start codes); false when the sizes do not
// allow it and nothing was changed.
bool ConvertInPlace(AVPacket* pkt, const NalList& nals, bool startCodes, int inLengthSize,
                    int outLengthSize) {
    // Four-byte start codes and four-byte lengths take the same room: the
    // packet keeps its bytes when every one of them belongs to a unit and
    // its prefix (nothing dropped between units, no empty units).
    if (outLengthSize != 0 && outLengthSize != 4) return false;
    if (!startCodes && inLengthSize != 4) return false;
    if (nals.empty()) return false;
    size_t at = 0;
    for (const auto& [nal, len] : nals) {
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
    for (const auto& [nal, len] : nals) {
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
    const Bytes extradata = ExtradataOf(out);
    if (out->codec_id == AV_CODEC_ID_H264) {
        if (!extradata.empty() && extradata[0] == 1) return;
        std::vector<Bytes> sets = ParameterSets(extradata.data(), extradata.size());
        if (sets.empty()) {
            for (const AVPacket* p : first) {
                if (!StartsWithStartCode(p->data, p->size)) continue;
                for (const auto& [nal, len] : SplitStartCodes(p->data, p->size))
                    if (IsParameterSet(NalType(nal))) sets.emplace_back(nal, nal + len);
                if (!sets.empty()) break;
            }
        }
        const Bytes avcc = MakeAvcC(sets);
        if (!avcc.empty()) SetExtradata(out, avcc);
    } else if (out->codec_id == AV_CODEC_ID_AAC && extradata.empty()) {
        for (const AVPacket* p : first) {
            if (!IsAdts(p->data, p->size)) continue;
            SetExtradata(out, ConfigFromAdts(p->data));
            break;
        }
    }
}

TCopyForm::TCopyForm(const AVCodecParameters* in, const AVCodecParameters* out,
                     std::shared_ptr<TCopyStreamState> state)
    : FCodec(in->codec_id), FState(std::move(state)) {
    const Bytes inExtra = ExtradataOf(in);
    const Bytes outExtra = ExtradataOf(out);
    if (FCodec == AV_CODEC_ID_H264) {
        FInAvcC = inExtra.size() >= 7 && inExtra[0] == 1;
        if (FInAvcC) FInLengthSize = (inExtra[4] & 3) + 1;
        if (outExtra.size() >= 7 && outExtra[0] == 1) FOutLengthSize = (outExtra[4] & 3) + 1;
        FInParameterSets = ParameterSets(inExtra.data(), inExtra.size());
        // The header's parameter sets serve only inputs that have the same.
        FDiffersFromHeader = !FInParameterSets.empty() &&
                             FInParameterSets != ParameterSets(outExtra.data(), outExtra.size());
        // An output with start codes has no header to take them from.
        if (FOutLengthSize == 0 && FInAvcC) FInsertParameterSets = !FInParameterSets.empty();
    } else if (FCodec == AV_CODEC_ID_AAC) {
        FOutRaw = !outExtra.empty();
        FInConfig = inExtra;
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
            if (FInConfig.empty() && IsAdts(pkt->data, pkt->size))
                FInConfig = ConfigFromAdts(pkt->data);
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
    // A length of 256..511 bytes begins like a start code: an input with
    // avcC has length-prefixed packets unless they do not parse as such.
    NalList prefixed;
    const bool startCodes =
        StartsWithStartCode(pkt->data, pkt->size) &&
        !(FInAvcC && SplitLengthPrefixed(pkt->data, pkt->size, FInLengthSize, prefixed));
    const bool key = pkt->flags & AV_PKT_FLAG_KEY;
    const bool mayInsert = FInsertParameterSets && key;
    if (!mayInsert) {
        if (FOutLengthSize > 0 && !startCodes && FInLengthSize == FOutLengthSize) return;
        if (FOutLengthSize == 0 && startCodes) return;
    }
    NalList nals;
    if (startCodes) {
        nals = SplitStartCodes(pkt->data, pkt->size);
    } else if (!prefixed.empty()) {
        nals = std::move(prefixed);
    } else if (!SplitLengthPrefixed(pkt->data, pkt->size, FInLengthSize, nals)) {
        return;
    }
    if (!mayInsert && ConvertInPlace(pkt, nals, startCodes, FInLengthSize, FOutLengthSize)) return;
    bool hasSps = false;
    for (const auto& nal : nals) hasSps = hasSps || NalType(nal.first) == NalSps;
    Bytes out;
    out.reserve(pkt->size + 64);
    auto put = [&](const uint8_t* nal, size_t len) {
        if (FOutLengthSize == 0) {
            out.insert(out.end(), {0, 0, 0, 1});
        } else {
            for (int b = FOutLengthSize - 1; b >= 0; --b)
                out.push_back(static_cast<uint8_t>(len >> (8 * b)));
        }
        out.insert(out.end(), nal, nal + len);
    };
    if (mayInsert && !hasSps)
        for (const Bytes& s : FInParameterSets) put(s.data(), s.size());
    for (const auto& [nal, len] : nals) put(nal, len);
    ReplaceData(pkt, out);
}

void TCopyForm::ConvertAac(AVPacket* pkt) {
    if (!IsAdts(pkt->data, pkt->size) || !FOutRaw) return;
    const int header = (pkt->data[1] & 1) ? 7 : 9;  // without or with CRC
    if (pkt->size <= header) return;
    // The raw frame is the end of the ADTS one: the packet starts past the
    // header, its buffer (and the padding after it) unchanged.
    pkt->data += header;
    pkt->size -= header;
}

}  // namespace tw
