// media/Bitstream.cpp — splitting and reading H.264/HEVC/AAC bitstream forms.
#include "media/Bitstream.h"

#include <algorithm>

namespace tw {

namespace {

// Reads count units, each behind a 16-bit big-endian length, from d[at]
// (the inner form of avcC and hvcC records); false when the record ends
// early.
bool ReadRecordUnits(ByteSpan d, size_t& at, unsigned count, UnitList& units) {
    for (unsigned k = 0; k < count; ++k) {
        if (d.size() - at < 2) return false;
        const size_t len = (size_t(d[at]) << 8) | d[at + 1];
        at += 2;
        if (len > d.size() - at) return false;
        units.push_back(d.subspan(at, len));
        at += len;
    }
    return true;
}

const int kAacRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                         22050, 16000, 12000, 11025, 8000,  7350};

}  // namespace

bool StartsWithStartCode(ByteSpan d) {
    return (d.size() >= 3 && d[0] == 0 && d[1] == 0 && d[2] == 1) ||
           (d.size() >= 4 && d[0] == 0 && d[1] == 0 && d[2] == 0 && d[3] == 1);
}

bool SplitStartCodes(ByteSpan d, UnitList& units) {
    units.clear();
    return VisitStartCodeUnits(d, [&units](ByteSpan u) { units.push_back(u); });
}

bool SplitLengthPrefixed(ByteSpan d, int lengthSize, UnitList& units) {
    units.clear();
    return VisitLengthPrefixedUnits(d, lengthSize, [&units](ByteSpan u) { units.push_back(u); });
}

int H264UnitType(ByteSpan unit) { return unit.empty() ? -1 : unit[0] & 0x1f; }

int HevcUnitType(ByteSpan unit) { return unit.empty() ? -1 : (unit[0] >> 1) & 0x3f; }

bool IsH264ParameterSet(int type) {
    return type == kH264Sps || type == kH264Pps || type == kH264SpsExtension;
}

bool IsAvcC(ByteSpan d) { return d.size() >= 7 && d[0] == 1; }

int AvcCLengthSize(ByteSpan d) { return IsAvcC(d) ? (d[4] & 3) + 1 : 0; }

bool ReadAvcC(ByteSpan d, UnitList& units) {
    if (!IsAvcC(d)) return false;
    size_t at = 6;
    if (!ReadRecordUnits(d, at, d[5] & 0x1f, units) || at >= d.size()) return false;
    const unsigned pps = d[at++];
    return ReadRecordUnits(d, at, pps, units);
}

Bytes WriteAvcC(const std::vector<Bytes>& sets) {
    std::vector<const Bytes*> sps, pps;
    for (const Bytes& s : sets) {
        // A record states at most 31 SPS, 255 PPS, 65535 bytes each.
        if (s.size() > 0xffff) return {};
        const int type = H264UnitType(s);
        if (type == kH264Sps && s.size() >= 4 && sps.size() < 31) sps.push_back(&s);
        if (type == kH264Pps && pps.size() < 255) pps.push_back(&s);
    }
    if (sps.empty() || pps.empty()) return {};
    const Bytes& first = *sps[0];
    Bytes out = {1, first[1], first[2], first[3], 0xff, static_cast<uint8_t>(0xe0 | sps.size())};
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

bool ReadHvcC(ByteSpan d, UnitList& units) {
    if (d.size() < 23 || d[0] != 1) return false;
    size_t at = 23;
    for (unsigned a = 0; a < d[22]; ++a) {
        if (d.size() - at < 3) return false;
        const unsigned count = (unsigned(d[at + 1]) << 8) | d[at + 2];
        at += 3;
        if (!ReadRecordUnits(d, at, count, units)) return false;
    }
    return true;
}

bool ConfigurationUnits(ByteSpan d, AVCodecID codec, UnitList& units) {
    units.clear();
    if (StartsWithStartCode(d)) return SplitStartCodes(d, units) && !units.empty();
    if (codec == AV_CODEC_ID_H264) return ReadAvcC(d, units);
    if (codec == AV_CODEC_ID_HEVC) return ReadHvcC(d, units);
    return false;
}

std::vector<Bytes> H264ParameterSets(ByteSpan d) {
    UnitList units;
    if (IsAvcC(d)) {
        ReadAvcC(d, units);
    } else {
        SplitStartCodes(d, units);
        std::erase_if(units, [](ByteSpan u) { return !IsH264ParameterSet(H264UnitType(u)); });
    }
    std::vector<Bytes> sets;
    for (ByteSpan u : units) sets.emplace_back(u.begin(), u.end());
    return sets;
}

std::vector<std::string> ParameterSets(const uint8_t* data, int size, AVCodecID codec) {
    std::vector<std::string> key;
    if (!data || size <= 0) return key;
    const ByteSpan d(data, static_cast<size_t>(size));
    UnitList units;
    if (!ConfigurationUnits(d, codec, units)) units.assign(1, d);
    for (ByteSpan u : units) key.emplace_back(reinterpret_cast<const char*>(u.data()), u.size());
    // The order of the sets within each form is free.
    std::sort(key.begin(), key.end());
    return key;
}

bool IsAdts(ByteSpan d) { return d.size() >= 7 && d[0] == 0xff && (d[1] & 0xf6) == 0xf0; }

int AdtsHeaderSize(ByteSpan d) {
    if (!IsAdts(d)) return 0;
    const int header = (d[1] & 1) ? 7 : 9;  // protection absent: no CRC
    return d.size() > size_t(header) ? header : 0;
}

Bytes AacConfigFromAdts(ByteSpan d) {
    if (!IsAdts(d)) return {};
    const int objectType = ((d[2] >> 6) & 3) + 1;
    const int rateIndex = (d[2] >> 2) & 0xf;
    const int channels = ((d[2] & 1) << 2) | (d[3] >> 6);
    const int config = (objectType << 11) | (rateIndex << 7) | (channels << 3);
    return {static_cast<uint8_t>(config >> 8), static_cast<uint8_t>(config)};
}

bool ReadAudioSpecificConfig(ByteSpan d, int& objectType, int& sampleRate, int& channels) {
    if (d.size() < 2) return false;
    objectType = d[0] >> 3;
    const int index = ((d[0] & 7) << 1) | (d[1] >> 7);
    const int config = (d[1] >> 3) & 15;
    if (index < 13) sampleRate = kAacRates[index];
    if (config > 0 && config < 7) channels = config;
    if (config == 7) channels = 8;
    return true;
}

bool SameAacConfig(ByteSpan a, ByteSpan b) {
    const auto same = [&] { return std::equal(a.begin(), a.end(), b.begin(), b.end()); };
    if (a.size() < 2 || b.size() < 2) return same();
    const int rateIndex = ((a[0] & 7) << 1) | (a[1] >> 7);
    if (rateIndex == 15 || (a[0] >> 3) == 31) return same();  // explicit rate, long object type
    return a[0] == b[0] && (a[1] & 0xf8) == (b[1] & 0xf8);
}

}  // namespace tw
