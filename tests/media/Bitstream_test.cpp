// tests/media/Bitstream_test.cpp — the bitstream parsers against the inputs
// untrusted files bring: truncated units and records, lengths past the end,
// empty units, both start-code sizes, ADTS with and without CRC. Every
// buffer is a vector of exactly its bytes, so that a read past the end is an
// address error under the sanitizer build.
#include "media/Bitstream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace tw {
namespace {

Bytes Of(ByteSpan s) { return Bytes(s.begin(), s.end()); }

std::vector<Bytes> Copies(const UnitList& units) {
    std::vector<Bytes> out;
    for (ByteSpan u : units) out.push_back(Of(u));
    return out;
}

const Bytes kSps = {0x67, 0x64, 0x00, 0x1f, 0xac, 0xd9};
const Bytes kPps = {0x68, 0xeb, 0xe3, 0xcb};
const Bytes kIdr = {0x65, 0x88, 0x84, 0x21};

Bytes AvcC(const std::vector<Bytes>& sps, const std::vector<Bytes>& pps) {
    Bytes out = {1, 0x64, 0x00, 0x1f, 0xff, uint8_t(0xe0 | sps.size())};
    auto put = [&out](const Bytes& s) {
        out.push_back(uint8_t(s.size() >> 8));
        out.push_back(uint8_t(s.size()));
        out.insert(out.end(), s.begin(), s.end());
    };
    for (const Bytes& s : sps) put(s);
    out.push_back(uint8_t(pps.size()));
    for (const Bytes& p : pps) put(p);
    return out;
}

// Catches: the zero byte of a four-byte start code kept at the end of the
// unit before it, a three-byte start code missed, trailing padding taken
// into the last unit, and empty units between adjacent start codes.
TEST(MediaBitstream, StartCodesOfBothSizesSplitIntoTheUnitsAlone) {
    const Bytes data = {0x00, 0x00, 0x00, 0x01, 0x67, 0x64, 0x00, 0x00, 0x01, 0x68, 0xeb,
                        0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x65, 0x88, 0x00, 0x00};
    UnitList units;
    ASSERT_TRUE(SplitStartCodes(data, units));
    EXPECT_EQ(Copies(units), (std::vector<Bytes>{{0x67, 0x64}, {0x68, 0xeb}, {0x65, 0x88}}));
    EXPECT_TRUE(StartsWithStartCode(data));
    EXPECT_TRUE(StartsWithStartCode(Bytes{0, 0, 1}));
    EXPECT_FALSE(StartsWithStartCode(Bytes{0, 0, 0}));
    EXPECT_FALSE(StartsWithStartCode(Bytes{0, 1}));
}

// Catches: a scan that reads past a buffer ending inside a start code, or
// reports units where there is no start code at all.
TEST(MediaBitstream, TruncatedStartCodeStreamsStayInside) {
    UnitList units;
    for (const Bytes& d : {Bytes{}, Bytes{0}, Bytes{0, 0}, Bytes{0, 0, 1}, Bytes{0, 0, 0, 1},
                           Bytes{0x65, 0x88, 0x00, 0x00}, Bytes{0x01, 0x02, 0x03}}) {
        SplitStartCodes(d, units);
        EXPECT_TRUE(units.empty()) << d.size();
    }
    EXPECT_FALSE(SplitStartCodes(Bytes{0x65, 0x88, 0x00, 0x00}, units));
    EXPECT_TRUE(SplitStartCodes(Bytes{0, 0, 1}, units));
    // A unit cut short by the end of the data is the unit's bytes up to it.
    const Bytes cut = {0, 0, 1, 0x65};
    ASSERT_TRUE(SplitStartCodes(cut, units));
    EXPECT_EQ(Copies(units), std::vector<Bytes>{{0x65}});
}

// Catches: a length prefix past the end read as a unit (a read past the
// buffer), bytes left over that cannot hold a prefix accepted, zero-length
// units handed on, and prefixes of one, two and three bytes read wrong.
TEST(MediaBitstream, LengthPrefixedUnitsRefuseLengthsPastTheEnd) {
    UnitList units;
    // The units point into the buffer: it must outlive them.
    const Bytes good = {0, 0, 0, 2, 0x65, 0x88, 0, 0, 0, 0, 0, 0, 0, 1, 0x09};
    ASSERT_TRUE(SplitLengthPrefixed(good, 4, units));
    EXPECT_EQ(Copies(units), (std::vector<Bytes>{{0x65, 0x88}, {0x09}}));

    const Bytes pastTheEnd = {0, 0, 0, 2, 0x65, 0x88, 0, 0, 0, 9, 0x41};
    EXPECT_FALSE(SplitLengthPrefixed(pastTheEnd, 4, units));
    EXPECT_EQ(Copies(units), (std::vector<Bytes>{{0x65, 0x88}}));  // those before the fault
    EXPECT_FALSE(SplitLengthPrefixed(Bytes{0xff, 0xff, 0xff, 0xff, 0x65}, 4, units));
    EXPECT_FALSE(SplitLengthPrefixed(Bytes{0, 0, 0, 1, 0x65, 0, 0}, 4, units));  // 2 bytes left

    ASSERT_TRUE(SplitLengthPrefixed(Bytes{2, 0x65, 0x88, 1, 0x09}, 1, units));
    EXPECT_EQ(units.size(), 2u);
    const Bytes two = {0, 1, 0x65, 0, 2, 0x09, 0xf0};
    ASSERT_TRUE(SplitLengthPrefixed(two, 2, units));
    EXPECT_EQ(Copies(units), (std::vector<Bytes>{{0x65}, {0x09, 0xf0}}));
    const Bytes three = {0, 0, 1, 0x65};
    ASSERT_TRUE(SplitLengthPrefixed(three, 3, units));
    EXPECT_EQ(Copies(units), std::vector<Bytes>{{0x65}});
    EXPECT_FALSE(SplitLengthPrefixed(Bytes{0, 1, 0x65}, 0, units));
    EXPECT_FALSE(SplitLengthPrefixed(Bytes{0, 1, 0x65}, 5, units));
    EXPECT_TRUE(SplitLengthPrefixed(Bytes{}, 4, units));
    EXPECT_TRUE(units.empty());
}

// Catches: a packet whose first unit is 256..511 bytes long (its four-byte
// length 00 00 01 xx looks like a start code) split as start codes, which
// cuts the unit apart.
TEST(MediaBitstream, ALengthOf256To511BytesIsNoStartCode) {
    Bytes unit(300, 0x5a);
    unit[0] = 0x65;
    Bytes packet(4 + unit.size());
    packet[2] = 1;  // 300 = 00 00 01 2c
    packet[3] = 44;
    std::copy(unit.begin(), unit.end(), packet.begin() + 4);
    ASSERT_TRUE(StartsWithStartCode(packet));
    UnitList units;
    ASSERT_TRUE(SplitLengthPrefixed(packet, 4, units));
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(Of(units[0]), unit);
    // Its avcC decides: the length size of the stream's record.
    EXPECT_EQ(AvcCLengthSize(AvcC({kSps}, {kPps})), 4);
    EXPECT_EQ(AvcCLengthSize(Bytes{0, 0, 0, 1, 0x67, 0x64, 0x00}), 0);
}

// Catches: an avcC whose SPS or PPS count promises more sets than it
// holds read past its end, or taken whole; and the Annex-B form of the
// same sets giving another key (an FLV and a TS of one encoding differ).
TEST(MediaBitstream, AvcCCountsAreCheckedAgainstTheRecord) {
    const Bytes good = AvcC({kSps}, {kPps});
    UnitList units;
    ASSERT_TRUE(ReadAvcC(good, units));
    EXPECT_EQ(Copies(units), (std::vector<Bytes>{kSps, kPps}));

    Bytes moreSps = good;
    moreSps[5] = 0xe3;  // three SPS
    units.clear();
    EXPECT_FALSE(ReadAvcC(moreSps, units));
    Bytes morePps = good;
    morePps[6 + 2 + kSps.size()] = 4;  // four PPS
    units.clear();
    EXPECT_FALSE(ReadAvcC(morePps, units));
    EXPECT_EQ(Copies(units), (std::vector<Bytes>{kSps, kPps}));  // read before the fault
    const Bytes cut(good.begin(), good.end() - 2);
    units.clear();
    EXPECT_FALSE(ReadAvcC(cut, units));
    units.clear();
    EXPECT_FALSE(ReadAvcC(Bytes(good.begin(), good.begin() + 6), units));
    const Bytes noPpsCount(good.begin(), good.begin() + 6 + 2 + kSps.size());
    units.clear();
    EXPECT_FALSE(ReadAvcC(noPpsCount, units));

    // A damaged record is compared as it stands; a good one by its sets.
    EXPECT_EQ(ParameterSets(cut.data(), int(cut.size()), AV_CODEC_ID_H264).size(), 1u);
    Bytes annexB = {0, 0, 0, 1};
    annexB.insert(annexB.end(), kPps.begin(), kPps.end());
    annexB.insert(annexB.end(), {0, 0, 1});
    annexB.insert(annexB.end(), kSps.begin(), kSps.end());
    EXPECT_EQ(ParameterSets(good.data(), int(good.size()), AV_CODEC_ID_H264),
              ParameterSets(annexB.data(), int(annexB.size()), AV_CODEC_ID_H264));
    EXPECT_EQ(H264ParameterSets(annexB), (std::vector<Bytes>{kPps, kSps}));
    EXPECT_EQ(H264ParameterSets(good), (std::vector<Bytes>{kSps, kPps}));
    EXPECT_TRUE(ParameterSets(nullptr, 0, AV_CODEC_ID_H264).empty());
}

// Catches: an avcC written with a count that wraps (32 SPS), a length that
// does not fit its two bytes, or from a too short SPS (its profile bytes
// read past it).
TEST(MediaBitstream, AvcCWrittenOnlyWhenItCanStateTheSets) {
    const Bytes written = WriteAvcC({kSps, kIdr, kPps});
    EXPECT_EQ(written, AvcC({kSps}, {kPps}));  // other units left out
    UnitList units;
    ASSERT_TRUE(ReadAvcC(written, units));
    EXPECT_EQ(AvcCLengthSize(written), 4);

    EXPECT_TRUE(WriteAvcC({kSps}).empty());
    EXPECT_TRUE(WriteAvcC({kPps}).empty());
    EXPECT_TRUE(WriteAvcC({Bytes{0x67, 0x64}, kPps}).empty());
    Bytes huge(70000, 0x11);
    huge[0] = 0x68;
    EXPECT_TRUE(WriteAvcC({kSps, huge}).empty());
    const std::vector<Bytes> many(40, kSps);
    std::vector<Bytes> sets = many;
    sets.push_back(kPps);
    const Bytes capped = WriteAvcC(sets);
    units.clear();
    ASSERT_TRUE(ReadAvcC(capped, units));
    EXPECT_EQ(units.size(), 32u);  // 31 SPS and the PPS
}

// Catches: hvcC arrays read with the wrong field for their count, a count
// past the record's end read, and the start-code form of the same sets
// comparing different.
TEST(MediaBitstream, HevcArraysOfTheRecord) {
    const Bytes vps = {0x40, 0x01, 0x0c}, sps = {0x42, 0x01, 0x01}, pps = {0x44, 0x01, 0xc1};
    Bytes hvcc(22, 0);
    hvcc[0] = 1;
    hvcc.push_back(3);  // arrays
    for (const Bytes* u : {&vps, &sps, &pps}) {
        hvcc.insert(hvcc.end(), {uint8_t(0x80 | ((*u)[0] >> 1)), 0, 1, 0, uint8_t(u->size())});
        hvcc.insert(hvcc.end(), u->begin(), u->end());
    }
    UnitList units;
    ASSERT_TRUE(ReadHvcC(hvcc, units));
    EXPECT_EQ(Copies(units), (std::vector<Bytes>{vps, sps, pps}));
    EXPECT_EQ(HevcUnitType(units[0]), 32);
    EXPECT_EQ(HevcUnitType(units[2]), 34);

    Bytes annexB;
    for (const Bytes* u : {&pps, &vps, &sps}) {
        annexB.insert(annexB.end(), {0, 0, 0, 1});
        annexB.insert(annexB.end(), u->begin(), u->end());
    }
    EXPECT_EQ(ParameterSets(hvcc.data(), int(hvcc.size()), AV_CODEC_ID_HEVC),
              ParameterSets(annexB.data(), int(annexB.size()), AV_CODEC_ID_HEVC));

    Bytes moreArrays = hvcc;
    moreArrays[22] = 4;
    units.clear();
    EXPECT_FALSE(ReadHvcC(moreArrays, units));
    Bytes moreUnits = hvcc;
    moreUnits[24] = 9;  // the VPS array's count
    units.clear();
    EXPECT_FALSE(ReadHvcC(moreUnits, units));
    units.clear();
    EXPECT_FALSE(ReadHvcC(Bytes(hvcc.begin(), hvcc.begin() + 22), units));
    EXPECT_FALSE(ConfigurationUnits(moreUnits, AV_CODEC_ID_HEVC, units));
}

// Catches: the CRC of an ADTS header (protection absent = 0) left in the
// raw frame, a header longer than its packet stripped, and the
// AudioSpecificConfig built from the wrong ADTS fields.
TEST(MediaBitstream, AdtsHeadersWithAndWithoutCrc) {
    // AAC LC (profile 1), 44100 Hz (index 4), two channels.
    const Bytes noCrc = {0xff, 0xf1, 0x50, 0x80, 0x02, 0x1f, 0xfc, 0x21};
    const Bytes crc = {0xff, 0xf0, 0x50, 0x80, 0x02, 0x1f, 0xfc, 0xab, 0xcd, 0x21};
    EXPECT_EQ(AdtsHeaderSize(noCrc), 7);
    EXPECT_EQ(AdtsHeaderSize(crc), 9);
    EXPECT_EQ(AdtsHeaderSize(Bytes(crc.begin(), crc.begin() + 9)), 0);  // nothing behind it
    EXPECT_EQ(AdtsHeaderSize(Bytes(noCrc.begin(), noCrc.begin() + 6)), 0);
    EXPECT_EQ(AdtsHeaderSize(Bytes{0x21, 0x10, 0x04, 0x60, 0x8c, 0x1c, 0x00, 0x00}), 0);
    EXPECT_EQ(AacConfigFromAdts(crc), (Bytes{0x12, 0x10}));
    EXPECT_TRUE(AacConfigFromAdts(Bytes{0xff, 0xf1, 0x50}).empty());

    int type = 0, rate = 0, channels = 0;
    ASSERT_TRUE(ReadAudioSpecificConfig(AacConfigFromAdts(noCrc), type, rate, channels));
    EXPECT_EQ(type, 2);
    EXPECT_EQ(rate, 44100);
    EXPECT_EQ(channels, 2);
    rate = channels = -1;
    EXPECT_FALSE(ReadAudioSpecificConfig(Bytes{0x12}, type, rate, channels));
    EXPECT_EQ(rate, -1);
    ASSERT_TRUE(ReadAudioSpecificConfig(Bytes{0x11, 0xb8}, type, rate, channels));  // 7.1
    EXPECT_EQ(rate, 48000);
    EXPECT_EQ(channels, 8);
    rate = -1;
    ASSERT_TRUE(ReadAudioSpecificConfig(Bytes{0x17, 0x80, 0, 0, 0}, type, rate, channels));
    EXPECT_EQ(rate, -1);  // an explicit rate is not guessed
}

// Catches: AAC configurations compared byte for byte (an explicit "no SBR"
// tail makes one encoding differ), or compared loosely where the rate is
// explicit or the object type long.
TEST(MediaBitstream, AacConfigurationsCompareByWhatDecodes) {
    EXPECT_TRUE(SameAacConfig(Bytes{0x12, 0x10}, Bytes{0x12, 0x10, 0x56, 0xe5, 0x00}));
    EXPECT_FALSE(SameAacConfig(Bytes{0x12, 0x10}, Bytes{0x11, 0x90}));  // 48000 Hz
    EXPECT_FALSE(SameAacConfig(Bytes{0x12, 0x10}, Bytes{0x12, 0x08}));  // mono
    EXPECT_FALSE(SameAacConfig(Bytes{0x12}, Bytes{0x12, 0x10}));
    EXPECT_TRUE(SameAacConfig(Bytes{}, Bytes{}));
    const Bytes explicitRate = {0x17, 0x80, 0x01, 0x02, 0x03};
    EXPECT_FALSE(SameAacConfig(explicitRate, Bytes{0x17, 0x80, 0x01, 0x02, 0x04}));
    EXPECT_TRUE(SameAacConfig(explicitRate, explicitRate));
}

}  // namespace
}  // namespace tw
