// transcoder/files/FlvKeyframeIndex.cpp — following an FLV output's tags and
// writing its key-frame index into the room kept for it.
#include "transcoder/files/FlvKeyframeIndex.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>

#include "binding/Entries.h"
#include "diag/FFUtils.h"
#include "transcoder/FFmpegException.h"
#include "transcoder/files/FlvAmf.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace tw {
namespace {

constexpr char kRoomPrefix[] = "twroom";  // + three digits
constexpr size_t kRoomNameLength = sizeof kRoomPrefix - 1 + 3;
constexpr size_t kMaxString = 65535;   // an AMF string's length is 16 bits
constexpr size_t kBytesPerEntry = 18;  // a position and a time, both numbers
constexpr int kMinEntries = 64;
constexpr int kMaxEntries = 1 << 17;      // 2.4 MB of room
constexpr size_t kMaxTagSize = 0xFFFFFF;  // an FLV tag's size is 24 bits
// The properties IndexAmf writes, in its order.
const char* const kOwnNames[] = {"hasVideo",
                                 "hasKeyframes",
                                 "hasAudio",
                                 "hasMetadata",
                                 "canSeekToEnd",
                                 "datasize",
                                 "videosize",
                                 "audiosize",
                                 "lasttimestamp",
                                 "lastkeyframetimestamp",
                                 "lastkeyframelocation",
                                 "keyframes"};

std::atomic<int> gRoomEntriesForTesting{0};
std::atomic<bool> gReadBackForTesting{false};
constexpr size_t kReadChunk = 1 << 20;

// What the index properties say.
struct TIndexFacts {
    bool HasAudio = false;
    int64_t DataSize = 0, VideoSize = 0, AudioSize = 0;
    double LastTime = 0;
    std::vector<std::pair<double, double>> Entries;  // position, seconds
};

// Its size depends only on the number of entries.
std::vector<uint8_t> IndexAmf(const TIndexFacts& f) {
    TAmfWriter w;
    const auto flag = [&](const char* name, bool v) {
        w.Name(name);
        w.Boolean(v);
    };
    const auto number = [&](const char* name, double v) {
        w.Name(name);
        w.Number(v);
    };
    flag("hasVideo", true);
    flag("hasKeyframes", true);
    flag("hasAudio", f.HasAudio);
    flag("hasMetadata", true);
    flag("canSeekToEnd", true);
    number("datasize", double(f.DataSize));
    number("videosize", double(f.VideoSize));
    number("audiosize", double(f.AudioSize));
    number("lasttimestamp", f.LastTime);
    number("lastkeyframetimestamp", f.Entries.empty() ? 0 : f.Entries.back().second);
    number("lastkeyframelocation", f.Entries.empty() ? 0 : f.Entries.back().first);
    w.Name("keyframes");
    w.Bytes.push_back(kObject);
    w.Name("filepositions");
    w.StrictArray(static_cast<uint32_t>(f.Entries.size()));
    for (const auto& e : f.Entries) w.Number(e.first);
    w.Name("times");
    w.StrictArray(static_cast<uint32_t>(f.Entries.size()));
    for (const auto& e : f.Entries) w.Number(e.second);
    w.ObjectEnd();
    return std::move(w.Bytes);
}

constexpr size_t kPaddingOverhead = 2 + 7 + 1 + 4;  // "padding", a strict array's count

// Exactly size bytes (0, or at least kPaddingOverhead): "padding", nulls.
void AppendPadding(std::vector<uint8_t>& out, size_t size) {
    if (size == 0) return;
    TAmfWriter w;
    w.Name("padding");
    w.StrictArray(static_cast<uint32_t>(size - kPaddingOverhead));
    w.Bytes.resize(size, kNull);
    out.insert(out.end(), w.Bytes.begin(), w.Bytes.end());
}

// IndexAmf(no entries) + entries * kBytesPerEntry, so that whatever is left
// over after the index is a whole number of entries, never less than
// "padding" needs.
void AddRoom(AVDictionary** metadata, bool hasAudio, int entries) {
    TIndexFacts none;
    none.HasAudio = hasAudio;
    size_t room = IndexAmf(none).size() + size_t(entries) * kBytesPerEntry;
    constexpr size_t overhead = 2 + kRoomNameLength + 1 + 2;
    for (int k = 0; room > 0; ++k) {
        size_t take = std::min(room, overhead + kMaxString);
        if (room - take > 0 && room - take < overhead) take = room - overhead;
        char name[32];
        std::snprintf(name, sizeof name, "%s%03d", kRoomPrefix, k % 1000);
        lib().av_dict_set(metadata, name, std::string(take - overhead, ' ').c_str(), 0);
        room -= take;
    }
}

int RoomEntries(int64_t expectedDuration) {
    if (const int forced = gRoomEntriesForTesting.load(); forced > 0) return forced;
    if (expectedDuration <= 0) return kMinEntries;
    // Two entries a second: key frames closer than that are rare; the
    // index of a file that has them is fitted by moving its tags.
    const double entries = std::ceil(double(expectedDuration) / 500000.0) + 16;
    return int(std::clamp(entries, double(kMinEntries), double(kMaxEntries)));
}

}  // namespace

void TFlvKeyframeIndex::SetRoomEntriesForTesting(int entries) {
    gRoomEntriesForTesting.store(std::max(entries, 0));
}

void TFlvKeyframeIndex::SetReadBackForTesting(bool readBack) {
    gReadBackForTesting.store(readBack);
}

bool TFlvKeyframeIndex::TakeOver(AVFormatContext* oc, int64_t expectedDuration) {
    if (!oc || !oc->oformat || std::strcmp(oc->oformat->name, "flv") != 0 || !oc->priv_data ||
        !IsAsyncFileIO(oc->pb))
        return false;
    // Only a file of which nothing is written yet can be followed.
    if (oc->pb->pos != 0 || oc->pb->buf_ptr != oc->pb->buffer) return false;
    int64_t flags = 0;
    if (lib().av_opt_get_int(oc->priv_data, "flvflags", 0, &flags) < 0) return false;
    const AVOption* index =
        lib().av_opt_find(oc->priv_data, "add_keyframe_index", "flvflags", 0, 0);
    const AVOption* noMetadata = lib().av_opt_find(oc->priv_data, "no_metadata", "flvflags", 0, 0);
    if (!index || !(flags & index->default_val.i64)) return false;
    if (!noMetadata || (flags & noMetadata->default_val.i64)) return false;
    bool hasVideo = false, hasAudio = false;
    for (unsigned i = 0; i < oc->nb_streams; ++i) {
        hasVideo = hasVideo || oc->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        hasAudio = hasAudio || oc->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
    }
    if (!hasVideo) return false;
    if (WatchAsyncFile(oc->pb,
                       std::unique_ptr<TFlvKeyframeIndex>(new TFlvKeyframeIndex(hasAudio))) < 0)
        return false;
    lib().av_opt_set_int(oc->priv_data, "flvflags", flags & ~index->default_val.i64, 0);
    // Entries of the names written here, copied from a source (a merged FLV
    // shows them as metadata), would describe that source.
    std::vector<std::string> drop(std::begin(kOwnNames), std::end(kOwnNames));
    const AVDictionaryEntry* e = nullptr;
    while ((e = lib().av_dict_get(oc->metadata, "", e, AV_DICT_IGNORE_SUFFIX)))
        if (std::strncmp(e->key, kRoomPrefix, sizeof kRoomPrefix - 1) == 0) drop.push_back(e->key);
    for (const std::string& key : drop) lib().av_dict_set(&oc->metadata, key.c_str(), nullptr, 0);
    AddRoom(&oc->metadata, hasAudio, RoomEntries(expectedDuration));
    return true;
}

void TFlvKeyframeIndex::Written(int64_t pos, const uint8_t* data, size_t size) {
    try {
        const int64_t end = pos + int64_t(size);
        if (!FHeaderDone) {
            if (size_t(end) > FImage.size()) FImage.resize(size_t(end));
            std::memcpy(FImage.data() + pos, data, size);
        } else if (pos < int64_t(FImage.size())) {
            // The trailer's corrections of duration and size.
            const size_t n = std::min(size, FImage.size() - size_t(pos));
            std::memcpy(FImage.data() + pos, data, n);
        }
        FEnd = std::max(FEnd, end);
        if (FHeaderDone && FFollowing) {
            if (pos == FCursor && !gReadBackForTesting.load())
                Feed(data, size);
            else
                FFollowing = false;  // the trailer goes back to its corrections
        }
    } catch (...) {
        FBroken = true;  // out of memory: Finish says so
    }
}

void TFlvKeyframeIndex::Feed(const uint8_t* p, size_t n) {
    while (n > 0 && !FBroken) {
        size_t take = 0;
        if (FPart == TPart::Head) {
            take = std::min(n, FHeadNeed - FHeadHave);
            std::memcpy(FHead + FHeadHave, p, take);
            FHeadHave += take;
        } else if (FPart == TPart::Body) {
            take = size_t(std::min<int64_t>(int64_t(n), FSkip));
            FSkip -= int64_t(take);
        } else {
            take = std::min(n, sizeof FPrev - FPrevHave);
            std::memcpy(FPrev + FPrevHave, p, take);
            FPrevHave += take;
        }
        p += take;
        n -= take;
        FCursor += int64_t(take);
        if (FPart == TPart::Head && FHeadHave == FHeadNeed) {
            const uint32_t bodySize = AmfBe(FHead + 1, 3);
            const size_t need = 11 + std::min<size_t>(bodySize, 2);
            if (FHeadNeed < need) {
                FHeadNeed = need;  // the first body bytes say what the tag holds
                continue;
            }
            FSkip = int64_t(bodySize) - int64_t(FHeadNeed - 11);
            FPart = TPart::Body;
        }
        if (FPart == TPart::Body && FSkip == 0) FPart = TPart::Previous;
        if (FPart == TPart::Previous && FPrevHave == sizeof FPrev) TagDone();
    }
}

void TFlvKeyframeIndex::TagDone() {
    const uint32_t bodySize = AmfBe(FHead + 1, 3);
    if (AmfBe(FPrev, 4) != bodySize + 11) {
        FBroken = true;
        return;
    }
    const uint8_t type = FHead[0] & 0x1f;
    const uint32_t time = AmfBe(FHead + 4, 3) | (uint32_t(FHead[7]) << 24);
    const int64_t tagSize = 11 + int64_t(bodySize) + 4;
    if (type == 9 && bodySize >= 1) {
        // H.264 (7) and HEVC (12) tags carry a packet type: 1 is a picture,
        // 0 the sequence header and 2 the end of the sequence.
        const uint8_t frame = FHead[11] >> 4, codec = FHead[11] & 0x0f;
        const bool avc = codec == 7 || codec == 12;
        if (!avc || (bodySize >= 2 && FHead[12] == 1)) {
            FVideoSize += tagSize;
            FLastTime = std::max(FLastTime, time);
            if (frame == 1) FEntries.push_back({FTagStart, time});
        }
    } else if (type == 8 && bodySize >= 1) {
        // AAC's packet type 0 is its configuration.
        if (!((FHead[11] >> 4) == 10 && bodySize >= 2 && FHead[12] == 0)) {
            FAudioSize += tagSize;
            FLastTime = std::max(FLastTime, time);
        }
    } else if (type == 18 && FScriptPos < 0) {
        FScriptPos = FTagStart;
        FScriptSize = bodySize;
    }
    FTagStart = FCursor;
    FPart = TPart::Head;
    FHeadHave = FPrevHave = 0;
    FHeadNeed = 11;
}

void TFlvKeyframeIndex::HeaderWritten(AVFormatContext* oc) {
    auto* self = oc ? dynamic_cast<TFlvKeyframeIndex*>(AsyncFileObserver(oc->pb)) : nullptr;
    if (!self) return;
    lib().avio_flush(oc->pb);  // the header's last bytes through Written
    self->FHeaderDone = true;
    const std::vector<uint8_t>& b = self->FImage;
    if (b.size() < 13 || std::memcmp(b.data(), "FLV", 3) != 0 ||
        AmfBe(b.data() + 5, 4) + 4 > b.size())
        throw FFmpegException("The FLV header was not written as expected");
    self->FFirstTag = AmfBe(b.data() + 5, 4) + 4;
    self->RestartTags();
    self->Feed(b.data() + self->FCursor, b.size() - size_t(self->FCursor));
    self->FindRoom();
}

void TFlvKeyframeIndex::FindRoom() {
    const char* const missing = "The FLV header lacks its onMetaData tag";
    if (FBroken || FScriptPos < 0 || size_t(FScriptPos + 11 + FScriptSize) > FImage.size())
        throw FFmpegException(missing);
    const uint8_t* b = FImage.data() + FScriptPos + 11;
    const size_t end = size_t(FScriptSize);
    const std::string_view name = "onMetaData";
    size_t i = 1 + 2 + name.size();
    if (end < i + 5 || b[0] != kString || AmfBe(b + 1, 2) != name.size() ||
        std::memcmp(b + 3, name.data(), name.size()) != 0 || b[i] != kEcmaArray)
        throw FFmpegException(missing);
    FCountAt = i + 1;
    i += 5;
    bool inRoom = false, roomDone = false;
    while (true) {
        if (end - i < 3) throw FFmpegException(missing);
        const size_t start = i, length = AmfBe(b + i, 2);
        if (length == 0 && b[i + 2] == 9) break;
        if (end - i < 2 + length) throw FFmpegException(missing);
        const std::string_view key(reinterpret_cast<const char*>(b + i + 2), length);
        i += 2 + length;
        const size_t value = i;
        if (!SkipAmfValue(b, end, i)) throw FFmpegException(missing);
        const bool room =
            key.size() == kRoomNameLength && key.substr(0, sizeof kRoomPrefix - 1) == kRoomPrefix;
        if (room) {
            // One stretch: a gap would leave stray room behind.
            if (roomDone) throw FFmpegException("The room for the FLV key-frame index is split");
            if (!inRoom) FRoomStart = start;
            FRoomEnd = i;
            inRoom = true;
            continue;
        }
        roomDone = inRoom;
        ++FOtherProperties;
        if (key == "filesize" && b[value] == kNumber) FFileSizeAt = value + 1;
    }
    // No room at all: the index goes in before the array's end.
    if (!inRoom) FRoomStart = FRoomEnd = i;
}

std::vector<uint8_t> TFlvKeyframeIndex::IndexProperties(int64_t shift,
                                                        int64_t scriptTagSize) const {
    TIndexFacts f;
    f.HasAudio = FHasAudio;
    f.VideoSize = FVideoSize;
    f.AudioSize = FAudioSize;
    f.DataSize = FVideoSize + FAudioSize + scriptTagSize;
    f.LastTime = FLastTime / 1000.0;
    f.Entries.reserve(FEntries.size());
    for (const TEntry& e : FEntries)
        f.Entries.emplace_back(double(e.Position + shift), e.Time / 1000.0);
    return IndexAmf(f);
}

int TFlvKeyframeIndex::Finish(AVFormatContext* oc) {
    auto* self = oc ? dynamic_cast<TFlvKeyframeIndex*>(AsyncFileObserver(oc->pb)) : nullptr;
    return self ? self->Write(oc->pb) : 0;
}

void TFlvKeyframeIndex::RestartTags() {
    FBroken = false;
    FCursor = FTagStart = FFirstTag;
    FPart = TPart::Head;
    FHeadHave = FPrevHave = 0;
    FHeadNeed = 11;
    FSkip = 0;
    FEntries.clear();
    FVideoSize = FAudioSize = 0;
    FLastTime = 0;
    FScriptPos = -1;
    FScriptSize = 0;
}

void TFlvKeyframeIndex::ReadTagsBack(AVIOContext* pb) {
    RestartTags();
    std::vector<uint8_t> chunk(kReadChunk);
    while (FCursor < FEnd && !FBroken) {
        const int n = ReadAsyncFile(pb, FCursor, chunk.data(),
                                    size_t(std::min<int64_t>(FEnd - FCursor, kReadChunk)));
        if (n < 0) throw FFmpegException(ErrorText("Read back the FLV tags", n));
        if (n == 0) break;
        Feed(chunk.data(), size_t(n));
    }
}

int TFlvKeyframeIndex::Write(AVIOContext* pb) {
    lib().avio_flush(pb);  // the trailer's corrections through Written
    if (pb->error < 0) return pb->error;
    const auto complete = [this] {
        return !FBroken && FPart == TPart::Head && FHeadHave == 0 && FCursor == FEnd;
    };
    if (!FHeaderDone) throw FFmpegException("The FLV header was not written as expected");
    // Followed to the end, or else read back.
    if (!complete()) ReadTagsBack(pb);
    if (!complete() || FScriptPos < 0)
        throw FFmpegException("The key-frame index could not be made: the FLV tags are damaged");
    int seekError = 0;
    const auto writeAt = [&](int64_t pos, const uint8_t* data, size_t size) {
        const int64_t r = lib().avio_seek(pb, pos, SEEK_SET);
        if (r < 0 && seekError == 0) seekError = int(r);
        if (r >= 0) lib().avio_write(pb, data, int(size));
    };
    const size_t room = FRoomEnd - FRoomStart;
    // Those outside the room, the index's own, and "padding".
    const uint32_t count = FOtherProperties + uint32_t(std::size(kOwnNames)) + 1;
    uint8_t countBytes[4];
    const int64_t body = FScriptPos + 11;
    const int64_t tagSize = 11 + FScriptSize + 4;
    std::vector<uint8_t> props = IndexProperties(0, tagSize);
    const size_t left = room >= props.size() ? room - props.size() : 0;
    if (room >= props.size() && (left == 0 || left >= kPaddingOverhead)) {
        // In place: the file keeps its size and every tag its position.
        AppendPadding(props, left);
        PutAmfBe(countBytes, left ? count : count - 1, 4);
        writeAt(body + int64_t(FRoomStart), props.data(), props.size());
        writeAt(body + int64_t(FCountAt), countBytes, sizeof countBytes);
    } else {
        // Too little room: the tags after onMetaData move on by what is missing.
        // Exactly the index, or (when less than "padding" would be left)
        // the index and the smallest padding.
        const size_t newRoom = props.size() > room ? props.size() : props.size() + kPaddingOverhead;
        const int64_t shift = int64_t(newRoom - room);
        const size_t newSize = size_t(FScriptSize + shift);
        if (newSize > kMaxTagSize)
            throw FFmpegException("The key-frame index does not fit into the FLV metadata tag");
        props = IndexProperties(shift, tagSize + shift);
        const bool padded = newRoom > props.size();
        AppendPadding(props, newRoom - props.size());
        const uint8_t* old = FImage.data() + body;
        std::vector<uint8_t> tag(FImage.begin() + FScriptPos, FImage.begin() + body);
        PutAmfBe(tag.data() + 1, uint32_t(newSize), 3);
        tag.insert(tag.end(), old, old + FRoomStart);
        tag.insert(tag.end(), props.begin(), props.end());
        tag.insert(tag.end(), old + FRoomEnd, old + FScriptSize);
        PutAmfBe(tag.data() + 11 + FCountAt, padded ? count : count - 1, 4);
        if (FFileSizeAt) {
            uint8_t* value = tag.data() + 11 + FFileSizeAt + (FFileSizeAt > FRoomStart ? shift : 0);
            uint64_t bits = (uint64_t(AmfBe(value, 4)) << 32) | AmfBe(value + 4, 4);
            double size;
            std::memcpy(&size, &bits, sizeof size);
            if (size > 0) {
                size += double(shift);
                std::memcpy(&bits, &size, sizeof bits);
                PutAmfBe(value, uint32_t(bits >> 32), 4);
                PutAmfBe(value + 4, uint32_t(bits), 4);
            }
        }
        tag.resize(tag.size() + 4);
        PutAmfBe(tag.data() + tag.size() - 4, uint32_t(11 + newSize), 4);
        if (const int error = MoveAsyncFileTail(pb, FScriptPos + tagSize, shift); error < 0)
            return error;
        writeAt(FScriptPos, tag.data(), tag.size());
        FEnd += shift;
    }
    lib().avio_seek(pb, FEnd, SEEK_SET);
    lib().avio_flush(pb);
    return seekError < 0 ? seekError : pb->error;
}

}  // namespace tw
