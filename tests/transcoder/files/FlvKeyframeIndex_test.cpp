// tests/transcoder/FlvKeyframeIndex_test.cpp — the key-frame index of FLV
// outputs written into the room kept in onMetaData: read back from the
// file's bytes and through the FLV demuxer, against the file's own tags and
// against what the muxer's own way of writing the index gives.
#include "transcoder/files/FlvKeyframeIndex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/support/EngineFixture.h"
#include "tests/support/Media.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace tw {
namespace {

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

uint32_t Be(const std::string& b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | uint8_t(b[at + i]);
    return v;
}

// One AMF value as far as the checks need it.
struct Amf {
    int type = -1;
    double number = 0;
    std::string text;
    std::vector<Amf> items;                               // strict array
    std::vector<std::pair<std::string, Amf>> properties;  // object, ECMA array
    uint32_t count = 0;                                   // ECMA array: the count it states
    const Amf* Find(const std::string& name) const {
        for (const auto& [key, value] : properties)
            if (key == name) return &value;
        return nullptr;
    }
};

// Reads one value at b[i]; false on anything that is not well-formed AMF0.
bool ReadAmf(const std::string& b, size_t end, size_t& i, Amf& v) {
    if (i >= end) return false;
    v.type = uint8_t(b[i++]);
    const auto properties = [&]() {
        while (true) {
            if (end - i < 3) return false;
            const size_t n = Be(b, i, 2);
            if (n == 0 && b[i + 2] == 9) {
                i += 3;
                return true;
            }
            if (end - i < 2 + n) return false;
            std::string key = b.substr(i + 2, n);
            i += 2 + n;
            Amf value;
            if (!ReadAmf(b, end, i, value)) return false;
            v.properties.emplace_back(key, std::move(value));
        }
    };
    switch (v.type) {
        case 0: {
            if (end - i < 8) return false;
            const uint64_t bits = (uint64_t(Be(b, i, 4)) << 32) | Be(b, i + 4, 4);
            std::memcpy(&v.number, &bits, 8);
            i += 8;
            return true;
        }
        case 1:
            if (end - i < 1) return false;
            v.number = uint8_t(b[i++]);
            return true;
        case 2:
            if (end - i < 2 || end - i < 2 + Be(b, i, 2)) return false;
            v.text = b.substr(i + 2, Be(b, i, 2));
            i += 2 + v.text.size();
            return true;
        case 5:
            return true;
        case 3:
            return properties();
        case 8:
            if (end - i < 4) return false;
            v.count = Be(b, i, 4);
            i += 4;
            return properties();
        case 10: {
            if (end - i < 4) return false;
            const uint32_t n = Be(b, i, 4);
            i += 4;
            for (uint32_t k = 0; k < n; ++k) {
                v.items.emplace_back();
                if (!ReadAmf(b, end, i, v.items.back())) return false;
            }
            return true;
        }
        default:
            return false;
    }
}

struct Tag {
    size_t pos = 0;
    int type = 0;
    uint32_t size = 0, time = 0;
    bool videoKey = false;  // a video key frame's picture (no sequence header or end)
};

// An FLV file read from its bytes: its tags and its onMetaData.
struct FlvFile {
    std::string bytes, error;
    std::vector<Tag> tags;
    Amf meta;
    size_t metaEnd = 0;    // the body size of onMetaData
    size_t scriptEnd = 0;  // where the tag after onMetaData starts

    std::vector<std::pair<double, double>> KeyTags() const {
        std::vector<std::pair<double, double>> out;
        for (const Tag& t : tags)
            if (t.videoKey) out.emplace_back(double(t.pos), t.time / 1000.0);
        return out;
    }
    std::vector<std::pair<double, double>> Index() const {
        std::vector<std::pair<double, double>> out;
        const Amf* k = meta.Find("keyframes");
        if (!k || !k->Find("filepositions") || !k->Find("times")) return out;
        const auto& pos = k->Find("filepositions")->items;
        const auto& times = k->Find("times")->items;
        for (size_t i = 0; i < pos.size() && i < times.size(); ++i)
            out.emplace_back(pos[i].number, times[i].number);
        return out;
    }
    double Number(const std::string& name) const {
        const Amf* v = meta.Find(name);
        return v ? v->number : -1;
    }
};

FlvFile ReadFlv(const std::string& path) {
    FlvFile f;
    f.bytes = Contents(path);
    const std::string& b = f.bytes;
    if (b.size() < 13 || b.compare(0, 3, "FLV") != 0) {
        f.error = "no FLV header";
        return f;
    }
    for (size_t p = Be(b, 5, 4) + 4; p < b.size();) {
        if (b.size() - p < 15) {
            f.error = "a torn tag at " + std::to_string(p);
            return f;
        }
        Tag t;
        t.pos = p;
        t.type = uint8_t(b[p]) & 0x1f;
        t.size = Be(b, p + 1, 3);
        t.time = Be(b, p + 4, 3) | (uint32_t(uint8_t(b[p + 7])) << 24);
        if (b.size() - p < 15 + size_t(t.size) || Be(b, p + 11 + t.size, 4) != t.size + 11) {
            f.error = "a bad tag at " + std::to_string(p);
            return f;
        }
        const uint8_t first = uint8_t(b[p + 11]);
        t.videoKey = t.type == 9 && (first >> 4) == 1 && ((first & 15) != 7 || b[p + 12] == 1);
        if (t.type == 18 && f.meta.type < 0) {
            size_t i = p + 11;
            const size_t end = p + 11 + t.size;
            Amf name;
            if (!ReadAmf(b, end, i, name) || name.text != "onMetaData" ||
                !ReadAmf(b, end, i, f.meta)) {
                f.error = "onMetaData is no well-formed AMF";
                return f;
            }
            f.metaEnd = i - (p + 11);
            f.scriptEnd = p + 15 + t.size;
        }
        f.tags.push_back(t);
        p += 15 + t.size;
    }
    if (f.meta.type < 0) f.error = "no onMetaData";
    return f;
}

// The index entries the FLV demuxer makes of a file, as (position, ms).
std::vector<std::pair<int64_t, int64_t>> DemuxerIndex(
    const std::string& path, std::map<std::string, std::string>* tags = nullptr) {
    std::vector<std::pair<int64_t, int64_t>> out;
    AVFormatContext* ic = nullptr;
    if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) return out;
    avformat_find_stream_info(ic, nullptr);
    for (unsigned s = 0; s < ic->nb_streams; ++s) {
        if (ic->streams[s]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
        for (int k = 0; k < avformat_index_get_entries_count(ic->streams[s]); ++k) {
            const AVIndexEntry* e = avformat_index_get_entry(ic->streams[s], k);
            out.emplace_back(e->pos, e->timestamp);
        }
    }
    const AVDictionaryEntry* e = nullptr;
    while (tags && (e = av_dict_get(ic->metadata, "", e, AV_DICT_IGNORE_SUFFIX)))
        (*tags)[e->key] = e->value;
    avformat_close_input(&ic);
    return out;
}

class FlvKeyframeIndexTest : public test::EngineTest {
  protected:
    void TearDown() override {
        TFlvKeyframeIndex::SetRoomEntriesForTesting(0);
        TFlvKeyframeIndex::SetReadBackForTesting(false);
    }

    std::string Join(const std::vector<std::string>& inputs, const std::string& out,
                     bool copy = true) {
        TCustomFFmpeg e(20);
        e.SetVerbose(-1);
        test::EngineOptions o = {{"f", "flv"}};
        if (copy) {
            o.insert(o.end(), {{"vcodec", "copy"}, {"acodec", "copy"}});
        } else {
            o.insert(o.end(), {{"vcodec", "libx264"},
                               {"acodec", "aac"},
                               {"vpre", "libx264-default"},
                               {"g", "12"},
                               {"ar", "44100"}});
        }
        o.emplace_back("flvflags", "add_keyframe_index");
        return test::RunEngine(e, inputs, out, o);
    }

    // Sources as users have them: H.264 with B-frames and AAC in FLV, in MP4
    // (its AAC primed, its key frames 0.52 s apart) and in MPEG-TS.
    std::vector<std::string> Sources() {
        return {
            Clip("a.flv", {"--duration", "2", "--bframes", "2"}),
            Clip("b.mp4", {"--duration", "2", "--bframes", "2", "--gop", "13", "--pattern", "1"}),
            Clip("c.ts", {"--duration", "1.5", "--bframes", "2", "--pattern", "2"})};
    }

    // The index is the file's video key-frame tags, the metadata well-formed
    // to the byte, its sizes those of the file, and no room left behind.
    void ExpectIndexed(const std::string& path, size_t minEntries) {
        const FlvFile f = ReadFlv(path);
        ASSERT_EQ(f.error, "") << path;
        const auto index = f.Index();
        EXPECT_EQ(index, f.KeyTags());
        EXPECT_GE(index.size(), minEntries);
        EXPECT_EQ(f.metaEnd, f.tags[0].size) << "stray bytes after onMetaData's array";
        EXPECT_EQ(f.meta.count, f.meta.properties.size());
        EXPECT_EQ(f.Number("filesize"), double(f.bytes.size()));
        EXPECT_GT(f.Number("duration"), 4.0);
        ASSERT_FALSE(index.empty());
        EXPECT_EQ(f.Number("lastkeyframelocation"), index.back().first);
        EXPECT_EQ(f.Number("lastkeyframetimestamp"), index.back().second);
        double video = 0, audio = 0, last = 0;
        for (const Tag& t : f.tags) {
            const uint8_t first = uint8_t(f.bytes[t.pos + 11]);
            const bool config = (t.type == 9 && (first & 15) == 7 && f.bytes[t.pos + 12] != 1) ||
                                (t.type == 8 && (first >> 4) == 10 && f.bytes[t.pos + 12] == 0);
            if (config || (t.type != 8 && t.type != 9)) continue;
            (t.type == 9 ? video : audio) += t.size + 15;
            last = std::max(last, t.time / 1000.0);
        }
        EXPECT_EQ(f.Number("videosize"), video);
        EXPECT_EQ(f.Number("audiosize"), audio);
        EXPECT_EQ(f.Number("lasttimestamp"), last);
        for (const char* name : {"hasVideo", "hasKeyframes", "hasMetadata"}) {
            ASSERT_NE(f.meta.Find(name), nullptr) << name;
            EXPECT_EQ(f.meta.Find(name)->number, 1) << name;
        }
        int named = 0;
        for (const auto& [key, value] : f.meta.properties) {
            EXPECT_EQ(key.find("twroom"), std::string::npos) << "room left behind";
            if (key == "keyframes" || key == "hasVideo") ++named;
        }
        EXPECT_EQ(named, 2) << "a property written twice";
        // The demuxer reads it: every entry at a key-frame tag, at that tag's
        // time (the demuxer keeps whole seconds of the index's times; the
        // entries it adds itself while probing carry the exact ones).
        std::map<std::string, std::string> tags;
        const auto entries = DemuxerIndex(path, &tags);
        std::map<int64_t, uint32_t> keyAt;
        for (const Tag& t : f.tags)
            if (t.videoKey) keyAt[int64_t(t.pos)] = t.time;
        size_t fromIndex = 0;
        for (const auto& [pos, ms] : entries) {
            ASSERT_TRUE(keyAt.count(pos)) << "entry at " << pos << " is no key-frame tag";
            const int64_t exact = keyAt[pos];
            EXPECT_TRUE(ms == exact || ms == exact / 1000 * 1000) << pos << ": " << ms;
            if (ms == exact / 1000 * 1000) ++fromIndex;
        }
        // Entries of one whole second are one to the demuxer.
        std::set<int64_t> seconds;
        for (const auto& e : index) seconds.insert(int64_t(e.second));
        EXPECT_GE(fromIndex, seconds.size()) << "the demuxer took no index";
        EXPECT_EQ(tags.count("padding"), 0u);
    }
};

// Catches: key-frame positions off by the room (or by the header's own
// tags), sequence-header or end-of-sequence tags indexed, times of the
// muxer's frame count instead of the tags', B-frame sources from MP4 and
// TS indexed wrong, a property count or a filler that leaves onMetaData
// unreadable to its end.
TEST_F(FlvKeyframeIndexTest, IndexOfAMergeIsItsKeyFrameTags) {
    const std::string out = Dir.File("merged.flv");
    ASSERT_EQ(Join(Sources(), out), "");
    ExpectIndexed(out, 7);
}

// Catches: an index larger than the room written over the tags after it,
// cut short, or left out; positions not moved with the tags; the file size
// in the metadata not grown with them.
TEST_F(FlvKeyframeIndexTest, IndexLargerThanItsRoomMovesTheTags) {
    const std::vector<std::string> in = Sources();
    const std::string roomy = Dir.File("roomy.flv"), tight = Dir.File("tight.flv");
    ASSERT_EQ(Join(in, roomy), "");
    TFlvKeyframeIndex::SetRoomEntriesForTesting(1);
    ASSERT_EQ(Join(in, tight), "");
    ExpectIndexed(tight, 7);
    const FlvFile a = ReadFlv(roomy), b = ReadFlv(tight);
    ASSERT_EQ(a.error + b.error, "");
    EXPECT_EQ(a.bytes.substr(a.scriptEnd), b.bytes.substr(b.scriptEnd)) << "the tags changed";
}

// Catches: tags that could not be followed as they were written (a write
// that went back before the trailer) left unindexed, or read back from the
// wrong place.
TEST_F(FlvKeyframeIndexTest, TagsReadBackWhenNotFollowed) {
    const std::vector<std::string> in = Sources();
    const std::string followed = Dir.File("followed.flv"), read = Dir.File("read.flv");
    ASSERT_EQ(Join(in, followed), "");
    TFlvKeyframeIndex::SetReadBackForTesting(true);
    ASSERT_EQ(Join(in, read), "");
    ExpectIndexed(read, 7);
    EXPECT_EQ(ReadFlv(read).bytes, ReadFlv(followed).bytes);
}

// Catches: a header larger than the writer's buffer (a long merge's room),
// whose size the muxer corrects after part of it was written, followed with
// the wrong tag sizes.
TEST_F(FlvKeyframeIndexTest, RoomLargerThanTheWriteBuffer) {
    TFlvKeyframeIndex::SetRoomEntriesForTesting(20000);  // 360 KB
    const std::string out = Dir.File("long.flv");
    ASSERT_EQ(Join(Sources(), out), "");
    ExpectIndexed(out, 7);
    EXPECT_GT(ReadFlv(out).scriptEnd, 256u * 1024);
}

// Catches: the packets written differently from the muxer's own way (which
// outputs not written through our own writer, such as names with a colon,
// keep), or its index positions and ours not the same tags.
TEST_F(FlvKeyframeIndexTest, TagsAsTheMuxersOwnWay) {
    const std::vector<std::string> in = Sources();
    const std::string ours = Dir.File("ours.flv"), theirs = Dir.File("muxer:way.flv");
    ASSERT_EQ(Join(in, ours), "");
    ASSERT_EQ(Join(in, theirs), "");
    const FlvFile a = ReadFlv(ours), b = ReadFlv(theirs);
    ASSERT_EQ(a.error + b.error, "");
    EXPECT_EQ(a.bytes.substr(a.scriptEnd), b.bytes.substr(b.scriptEnd));
    // The muxer's own index: the same tags, each at its place in that file.
    const auto mine = a.Index(), muxer = b.Index();
    ASSERT_EQ(mine.size(), muxer.size());
    for (size_t i = 0; i < mine.size(); ++i)
        EXPECT_EQ(mine[i].first - double(a.scriptEnd), muxer[i].first - double(b.scriptEnd)) << i;
    const auto tags = b.KeyTags();
    ASSERT_EQ(tags.size(), muxer.size());
    for (size_t i = 0; i < muxer.size(); ++i) EXPECT_EQ(muxer[i].first, tags[i].first) << i;
}

// Catches: index fields copied from a merged FLV source (the demuxer shows
// them as metadata) written beside the new ones, telling of the source.
TEST_F(FlvKeyframeIndexTest, SourceIndexFieldsAreNotCarriedOver) {
    const std::vector<std::string> in = Sources();
    const std::string first = Dir.File("first.flv"), again = Dir.File("again.flv");
    ASSERT_EQ(Join(in, first), "");
    ASSERT_EQ(Join({first, in[0]}, again), "");
    ExpectIndexed(again, 9);
}

// Catches: a re-encoding merge into FLV left without its index, or indexed
// at its encoder's key frames wrongly.
TEST_F(FlvKeyframeIndexTest, ReencodingMergeIsIndexed) {
    const std::vector<std::string> in = {Clip("r1.mp4", {"--duration", "2", "--bframes", "2"}),
                                         Clip("r2.flv", {"--duration", "2", "--pattern", "1"})};
    const std::string out = Dir.File("reencoded.flv");
    ASSERT_EQ(Join(in, out, false), "");
    ExpectIndexed(out, 4);
}

}  // namespace
}  // namespace tw
