// tools/gen_media/TimeEdits.cpp — editing the timing of a finished clip in
// its bytes: MP4 edit lists, FLV tag times, MPEG-TS PES times and PCRs.
#include "TimeEdits.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <vector>

namespace tw::gen {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read '" + path + "'");
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const Bytes& b) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    if (!out) throw std::runtime_error("cannot write '" + path + "'");
}

uint64_t Get(const Bytes& b, size_t at, int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | b.at(at + i);
    return v;
}

void Put(Bytes& b, size_t at, int n, uint64_t v) {
    for (int i = n - 1; i >= 0; --i, v >>= 8) b.at(at + i) = static_cast<uint8_t>(v);
}

// --- MP4 boxes

struct Box {
    size_t start = 0, body = 0, end = 0;  // box, its contents, one past it
    std::string type;
};

std::vector<Box> Children(const Bytes& b, size_t from, size_t to) {
    std::vector<Box> boxes;
    for (size_t at = from; at + 8 <= to;) {
        Box x;
        x.start = at;
        uint64_t size = Get(b, at, 4);
        x.type.assign(reinterpret_cast<const char*>(&b[at + 4]), 4);
        x.body = at + 8;
        if (size == 1) {
            size = Get(b, at + 8, 8);
            x.body = at + 16;
        } else if (size == 0) {
            size = to - at;
        }
        if (size < 8 || at + size > to) break;
        x.end = at + size;
        boxes.push_back(x);
        at = x.end;
    }
    return boxes;
}

std::optional<Box> Find(const std::vector<Box>& boxes, const std::string& type) {
    for (const Box& x : boxes)
        if (x.type == type) return x;
    return std::nullopt;
}

}  // namespace

void LimitEditLists(const std::string& path, double shownSeconds) {
    Bytes b = ReadAll(path);
    const std::optional<Box> moov = Find(Children(b, 0, b.size()), "moov");
    if (!moov) throw std::runtime_error("no moov box in '" + path + "'");
    const std::vector<Box> inMoov = Children(b, moov->body, moov->end);
    const std::optional<Box> mvhd = Find(inMoov, "mvhd");
    if (!mvhd) throw std::runtime_error("no mvhd box in '" + path + "'");
    // Edit durations count in the movie's time scale.
    const bool v1 = b.at(mvhd->body) == 1;
    const size_t scaleAt = mvhd->body + 4 + (v1 ? 16 : 8);
    const uint64_t shown = std::llround(shownSeconds * double(Get(b, scaleAt, 4)));
    const int durationSize = v1 ? 8 : 4;
    if (Get(b, scaleAt + 4, durationSize) > shown) Put(b, scaleAt + 4, durationSize, shown);
    int lists = 0;
    for (const Box& trak : inMoov) {
        if (trak.type != "trak") continue;
        const std::vector<Box> inTrak = Children(b, trak.body, trak.end);
        const std::optional<Box> edts = Find(inTrak, "edts");
        const std::optional<Box> elst =
            edts ? Find(Children(b, edts->body, edts->end), "elst") : std::nullopt;
        if (!elst) continue;
        ++lists;
        const bool e1 = b.at(elst->body) == 1;
        const int n = e1 ? 8 : 4;
        const uint64_t count = Get(b, elst->body + 4, 4);
        uint64_t left = shown;  // what the edits may still show
        for (uint64_t i = 0; i < count; ++i) {
            const size_t entry = elst->body + 8 + i * (2 * n + 4);
            const uint64_t duration = Get(b, entry, n);
            const bool empty = Get(b, entry + n, n) == (e1 ? UINT64_MAX : UINT32_MAX);
            const uint64_t now = empty ? duration : std::min(duration, left);
            Put(b, entry, n, now);
            left -= std::min(left, now);
        }
        // The track's own duration follows what its edits show.
        if (const std::optional<Box> tkhd = Find(inTrak, "tkhd")) {
            const bool t1 = b.at(tkhd->body) == 1;
            const size_t at = tkhd->body + 4 + (t1 ? 24 : 16);
            const int size = t1 ? 8 : 4;
            if (Get(b, at, size) > shown) Put(b, at, size, shown);
        }
    }
    if (lists == 0) throw std::runtime_error("no edit list in '" + path + "'");
    WriteAll(path, b);
}

namespace {

// FLV: the tags follow the header; each has an 11-byte head with its time in
// milliseconds (24 bits and an 8-bit extension above them).
void ShiftFlv(Bytes& b, double at, double delta) {
    const int64_t atMs = std::llround(at * 1000), deltaMs = std::llround(delta * 1000);
    int64_t base = -1;
    for (size_t pos = Get(b, 5, 4) + 4; pos + 11 <= b.size();) {
        const size_t size = Get(b, pos + 1, 3);
        if (b[pos] == 8 || b[pos] == 9) {
            const int64_t t = int64_t(Get(b, pos + 4, 3)) | (int64_t(b[pos + 7]) << 24);
            if (base < 0) base = t;
            if (t - base >= atMs) {
                const int64_t moved = t + deltaMs;
                if (moved < 0) throw std::runtime_error("the jump takes times below 0");
                Put(b, pos + 4, 3, uint64_t(moved) & 0xffffff);
                b[pos + 7] = static_cast<uint8_t>(uint64_t(moved) >> 24);
            }
        }
        pos += 11 + size + 4;
    }
}

// MPEG-TS: 33-bit PES times in 90 kHz units (five bytes with marker bits) and
// the PCR of the adaptation field (33-bit base, same units).
uint64_t GetPesTime(const Bytes& b, size_t at) {
    return (uint64_t((b[at] >> 1) & 7) << 30) | (uint64_t(b[at + 1]) << 22) |
           (uint64_t(b[at + 2] >> 1) << 15) | (uint64_t(b[at + 3]) << 7) | (b[at + 4] >> 1);
}

void PutPesTime(Bytes& b, size_t at, uint64_t v) {
    b[at] = static_cast<uint8_t>((b[at] & 0xf1) | ((v >> 29) & 0x0e));
    b[at + 1] = static_cast<uint8_t>(v >> 22);
    b[at + 2] = static_cast<uint8_t>(((v >> 14) & 0xfe) | 1);
    b[at + 3] = static_cast<uint8_t>(v >> 7);
    b[at + 4] = static_cast<uint8_t>(((v << 1) & 0xfe) | 1);
}

void ShiftTs(Bytes& b, double at, double delta) {
    const int64_t atTicks = std::llround(at * 90000), deltaTicks = std::llround(delta * 90000);
    int64_t pesBase = -1, pcrBase = -1;
    auto moved = [&](int64_t t) {
        if (t + deltaTicks < 0) throw std::runtime_error("the jump takes times below 0");
        return uint64_t(t + deltaTicks) & ((uint64_t(1) << 33) - 1);
    };
    for (size_t pos = 0; pos + 188 <= b.size(); pos += 188) {
        if (b[pos] != 0x47) throw std::runtime_error("not an MPEG-TS file");
        const bool start = b[pos + 1] & 0x40;
        const int control = (b[pos + 3] >> 4) & 3;
        size_t payload = pos + 4;
        if (control & 2) {
            const size_t length = b[pos + 4];
            if (length > 0 && (b[pos + 5] & 0x10)) {
                const size_t p = pos + 6;
                const int64_t pcr = int64_t(Get(b, p, 4) << 1) | (b[p + 4] >> 7);
                if (pcrBase < 0) pcrBase = pcr;
                if (pcr - pcrBase >= atTicks) {
                    const uint64_t v = moved(pcr);
                    Put(b, p, 4, v >> 1);
                    b[p + 4] = static_cast<uint8_t>((b[p + 4] & 0x7f) | ((v & 1) << 7));
                }
            }
            payload = pos + 5 + length;
        }
        if (!start || !(control & 1) || payload + 19 > pos + 188) continue;
        if (b[payload] != 0 || b[payload + 1] != 0 || b[payload + 2] != 1) continue;
        const int flags = b[payload + 7] >> 6;
        if (!(flags & 2)) continue;
        const size_t ptsAt = payload + 9, dtsAt = payload + 14;
        const int64_t pts = GetPesTime(b, ptsAt);
        const int64_t dts = flags == 3 ? GetPesTime(b, dtsAt) : pts;
        if (pesBase < 0) pesBase = dts;
        if (dts - pesBase < atTicks) continue;
        PutPesTime(b, ptsAt, moved(pts));
        if (flags == 3) PutPesTime(b, dtsAt, moved(dts));
    }
}

}  // namespace

void ShiftTimestampsFrom(const std::string& path, const std::string& format, double at,
                         double delta) {
    Bytes b = ReadAll(path);
    if (format == "flv")
        ShiftFlv(b, at, delta);
    else if (format == "mpegts")
        ShiftTs(b, at, delta);
    else
        throw std::runtime_error("timestamp jumps are made in flv and mpegts only");
    WriteAll(path, b);
}

}  // namespace tw::gen
