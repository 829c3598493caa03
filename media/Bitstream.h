// media/Bitstream.h — the H.264, HEVC and AAC bitstream forms: units
// between start codes (Annex-B) or behind length prefixes, the avcC and hvcC
// configuration records, ADTS headers and the AudioSpecificConfig.
//
// Pure functions over bytes; no library call, no global state, any thread.
// The bytes come from untrusted files: every function reads only inside the
// span it is given, whatever the bytes say. A malformed input gives what was
// read before the fault plus a false result (or an empty one), never a read
// past the end. Spans handed out point into the caller's bytes and live as
// long as those.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/codec_id.h>
}

namespace tw {

using ByteSpan = std::span<const uint8_t>;
using Bytes = std::vector<uint8_t>;
/// Units found in a buffer, each a span into it.
using UnitList = std::vector<ByteSpan>;

// --- units

/// True when data begins with a start code (00 00 01 or 00 00 00 01).
bool StartsWithStartCode(ByteSpan data);

/// Calls visit(unit) for every unit between start codes, in order, as
/// SplitStartCodes lists them; returns whether data holds a start code.
template <class Visit>
bool VisitStartCodeUnits(ByteSpan data, Visit&& visit);

/// Calls visit(unit) for every unit of a length-prefixed buffer, in order,
/// as SplitLengthPrefixed lists them (up to a fault); returns as it does.
template <class Visit>
bool VisitLengthPrefixedUnits(ByteSpan data, int lengthSize, Visit&& visit);

/// Replaces units with the units between start codes (00 00 01; a fourth
/// zero before it is taken as part of the start code). Zero bytes before a
/// start code and at the end of data belong to no unit; bytes before the
/// first start code are skipped; empty units are left out. Returns whether
/// data holds a start code at all. No allocation once units has room.
bool SplitStartCodes(ByteSpan data, UnitList& units);

/// Replaces units with the units of a length-prefixed buffer: each behind a
/// big-endian length of lengthSize bytes (1 to 4). Zero-length units are
/// left out. False when a length runs past the end, when bytes are left
/// that cannot hold a length, or when lengthSize is out of range; units then
/// hold the units before the fault. No allocation once units has room.
bool SplitLengthPrefixed(ByteSpan data, int lengthSize, UnitList& units);

/// The type of an H.264 NAL unit (its first byte's low five bits); -1 for an
/// empty unit.
int H264UnitType(ByteSpan unit);
/// The type of an HEVC NAL unit (bits 1 to 6 of its first byte); -1 for an
/// empty unit.
int HevcUnitType(ByteSpan unit);

constexpr int kH264Sps = 7;
constexpr int kH264Pps = 8;
constexpr int kH264SpsExtension = 13;

/// SPS, PPS or SPS extension.
bool IsH264ParameterSet(int type);

// --- configuration records (codec extra data)

/// True when extra data is an avcC record (version 1, at least its seven
/// fixed bytes): its packets are length-prefixed.
bool IsAvcC(ByteSpan extradata);

/// The length size (1 to 4) of an avcC record's packets; 0 when extradata is
/// no avcC (the packets carry start codes).
int AvcCLengthSize(ByteSpan extradata);

/// Appends the SPS and then the PPS units of an avcC record to units. False
/// when it is none, or a count promises more than the record holds (units
/// then hold those read before).
bool ReadAvcC(ByteSpan extradata, UnitList& units);

/// An avcC record of the parameter sets (SPS, PPS; others are left out):
/// version 1, profile, compatibility and level of the first SPS, four-byte
/// lengths. Empty when there is no SPS of at least four bytes or no PPS, or
/// a set is longer than a record can state (65535 bytes).
Bytes WriteAvcC(const std::vector<Bytes>& sets);

/// Appends the units of every array of an hvcC record (VPS, SPS, PPS, SEI,
/// in record order) to units. False when it is none (version 1, 23 fixed
/// bytes) or an array promises more than the record holds.
bool ReadHvcC(ByteSpan extradata, UnitList& units);

/// Replaces units with the NAL units of H.264 or HEVC extra data in either
/// form: start codes when it begins with one, else an avcC (H.264) or hvcC
/// (HEVC) record. False when it is neither (units then hold what was read).
bool ConfigurationUnits(ByteSpan extradata, AVCodecID codec, UnitList& units);

/// The parameter sets of H.264 extra data in stream order: an avcC record's
/// units (those before a fault), else the SPS, PPS and SPS extensions
/// between start codes.
std::vector<Bytes> H264ParameterSets(ByteSpan extradata);

/// The parameter sets of H.264/HEVC extra data by content, as a key that is
/// the same for the length-prefixed and the start-code form of one encoding:
/// its NAL units, each as raw bytes, sorted; the whole extra data as one
/// unit when it is neither form. Empty for no data.
std::vector<std::string> ParameterSets(const uint8_t* data, int size, AVCodecID codec);

// --- AAC

/// True when data begins with an ADTS header (sync word, layer 0, seven
/// bytes at least).
bool IsAdts(ByteSpan data);

/// The size of the ADTS header data begins with: 7, or 9 with a CRC; 0 when
/// data begins with none or is not longer than its header.
int AdtsHeaderSize(ByteSpan data);

/// The two-byte AudioSpecificConfig the ADTS header at the start of data
/// describes; empty when there is none.
Bytes AacConfigFromAdts(ByteSpan data);

/// The values of an AudioSpecificConfig that decide whether two AAC streams
/// can follow one another. Fields are set only where the config states them
/// (a rate by index, a channel configuration 1 to 7); false, nothing set,
/// for fewer than two bytes.
bool ReadAudioSpecificConfig(ByteSpan config, int& objectType, int& sampleRate, int& channels);

/// Two AudioSpecificConfigs describe the same audio: object type, rate and
/// channels agree (what follows them, such as an explicit "no SBR", does not
/// change the decoding of plain AAC). An explicit rate, a long object type or
/// a config shorter than two bytes must match byte for byte.
bool SameAacConfig(ByteSpan a, ByteSpan b);

// --- the two splitters, here so that visitors inline

template <class Visit>
bool VisitStartCodeUnits(ByteSpan d, Visit&& visit) {
    const size_t n = d.size();
    constexpr size_t kNone = SIZE_MAX;
    size_t i = 0, begin = kNone;
    bool found = false;
    auto close = [&](size_t end) {
        if (begin == kNone) return;
        // A NAL unit never ends in a zero byte: those are the first byte of
        // a four-byte start code or trailing padding.
        while (end > begin && d[end - 1] == 0) --end;
        if (end > begin) visit(d.subspan(begin, end - begin));
    };
    while (n >= 3 && i <= n - 3) {
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
            found = true;
            close(i);
            i += 3;
            begin = i;
        } else {
            ++i;
        }
    }
    close(n);
    return found;
}

template <class Visit>
bool VisitLengthPrefixedUnits(ByteSpan d, int lengthSize, Visit&& visit) {
    if (lengthSize < 1 || lengthSize > 4) return false;
    const size_t prefix = static_cast<size_t>(lengthSize);
    size_t i = 0;
    while (d.size() - i >= prefix) {
        size_t len = 0;
        for (size_t b = 0; b < prefix; ++b) len = (len << 8) | d[i + b];
        i += prefix;
        if (len > d.size() - i) return false;
        if (len > 0) visit(d.subspan(i, len));
        i += len;
    }
    return i == d.size();
}

}  // namespace tw
