// tests/support/KeyFrames.cpp — reading the NAL units of marked key frames.
#include "tests/support/KeyFrames.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace tw::test {

namespace {

using Bytes = std::vector<uint8_t>;

// A NAL unit's payload without its emulation-prevention bytes.
Bytes Unescape(const uint8_t* d, size_t n) {
    Bytes out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        if (i >= 2 && d[i] == 3 && d[i - 1] == 0 && d[i - 2] == 0) continue;
        out.push_back(d[i]);
    }
    return out;
}

struct BitReader {
    const Bytes& b;
    size_t bit = 0;
    int Bit() {
        if (bit / 8 >= b.size()) return 0;
        const int v = (b[bit / 8] >> (7 - bit % 8)) & 1;
        ++bit;
        return v;
    }
    unsigned Ue() {
        int zeros = 0;
        while (Bit() == 0 && zeros < 32) ++zeros;
        unsigned v = 1;
        for (int i = 0; i < zeros; ++i) v = (v << 1) | unsigned(Bit());
        return v - 1;
    }
};

bool HasRecoveryPoint(const uint8_t* nal, size_t n) {
    const Bytes p = Unescape(nal + 1, n - 1);
    size_t i = 0;
    while (i < p.size() && p[i] != 0x80) {  // 0x80: the trailing bits
        unsigned type = 0, size = 0;
        while (i < p.size() && p[i] == 0xff) type += p[i++];
        if (i >= p.size()) break;
        type += p[i++];
        while (i < p.size() && p[i] == 0xff) size += p[i++];
        if (i >= p.size()) break;
        size += p[i++];
        if (type == 6) return true;
        i += size;
    }
    return false;
}

// Looks at one NAL unit of a picture.
void Inspect(const uint8_t* nal, size_t n, KeyFrame& k) {
    if (n < 2) return;
    const int type = nal[0] & 0x1f;
    if (type == 5) k.idr = true;
    if (type == 6 && HasRecoveryPoint(nal, n)) k.recoveryPoint = true;
    if (type == 1 || type == 5) {
        const Bytes head = Unescape(nal + 1, std::min<size_t>(n - 1, 32));
        BitReader r{head};
        r.Ue();  // first_mb_in_slice
        const unsigned slice = r.Ue() % 5;
        if (slice == 2 || slice == 4) k.intra = true;
    }
}

// The NAL units of a packet: length-prefixed (lengthSize > 0) or Annex-B.
KeyFrame Picture(const uint8_t* d, size_t n, int lengthSize) {
    KeyFrame k;
    if (lengthSize > 0) {
        size_t i = 0;
        while (i + lengthSize <= n) {
            size_t len = 0;
            for (int b = 0; b < lengthSize; ++b) len = (len << 8) | d[i + b];
            i += lengthSize;
            if (len > n - i) break;
            Inspect(d + i, len, k);
            i += len;
        }
        return k;
    }
    size_t i = 0, begin = SIZE_MAX;
    while (i + 3 <= n) {
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
            if (begin != SIZE_MAX) Inspect(d + begin, i - begin, k);
            i += 3;
            begin = i;
        } else {
            ++i;
        }
    }
    if (begin != SIZE_MAX && begin < n) Inspect(d + begin, n - begin, k);
    return k;
}

uint32_t Be(const Bytes& b, size_t at, int count) {
    uint32_t v = 0;
    for (int i = 0; i < count; ++i) v = (v << 8) | b[at + i];
    return v;
}

// An AMF strict array of numbers that follows the property name key.
std::vector<double> AmfNumbers(const Bytes& file, size_t from, size_t to, const char* key) {
    std::vector<double> out;
    const size_t len = std::strlen(key);
    for (size_t i = from; i + len + 5 < to; ++i) {
        if (std::memcmp(&file[i], key, len) != 0 || file[i + len] != 0x0a) continue;
        const uint32_t count = Be(file, i + len + 1, 4);
        size_t at = i + len + 5;
        for (uint32_t k = 0; k < count && at + 9 <= file.size() && file[at] == 0; ++k, at += 9) {
            uint64_t bits = 0;
            for (int b = 1; b <= 8; ++b) bits = (bits << 8) | file[at + b];
            double v;
            std::memcpy(&v, &bits, sizeof v);
            out.push_back(v);
        }
        break;
    }
    return out;
}

void ReadFlvIndex(const std::string& path, int lengthSize, KeyFrameList& list) {
    std::ifstream in(path, std::ios::binary);
    const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The first tag after the 9-byte header and the first back-pointer.
    if (file.size() < 13 + 11 || file[13] != 18) return;
    const size_t end = 13 + 11 + Be(file, 14, 3);
    if (end > file.size()) return;
    const std::vector<double> positions = AmfNumbers(file, 24, end, "filepositions");
    const std::vector<double> times = AmfNumbers(file, 24, end, "times");
    list.hasFlvIndex = !positions.empty();
    for (size_t k = 0; k < positions.size(); ++k) {
        const size_t at = static_cast<size_t>(positions[k]);
        if (at + 16 > file.size() || file[at] != 9) {
            list.error = "key-frame index entry " + std::to_string(k) + " is no video tag";
            return;
        }
        const size_t size = Be(file, at + 1, 3);
        if (at + 11 + size > file.size() || size < 5) {
            list.error = "key-frame index entry " + std::to_string(k) + " runs past the file";
            return;
        }
        KeyFrame f = Picture(&file[at + 16], size - 5, lengthSize);
        f.time = k < times.size() ? times[k] : -1;
        list.flvIndex.push_back(f);
    }
}

}  // namespace

int KeyFrameList::WithoutIdr() const {
    int n = 0;
    for (const KeyFrame& k : packets) n += !k.idr;
    for (const KeyFrame& k : flvIndex) n += !k.idr;
    return n;
}

KeyFrameList ReadKeyFrames(const std::string& path) {
    KeyFrameList list;
    AVFormatContext* ic = nullptr;
    if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) {
        list.error = "cannot open " + path;
        return list;
    }
    const int video = avformat_find_stream_info(ic, nullptr) >= 0
                          ? av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0)
                          : -1;
    if (video < 0 || ic->streams[video]->codecpar->codec_id != AV_CODEC_ID_H264) {
        list.error = "no H.264 video in " + path;
        avformat_close_input(&ic);
        return list;
    }
    const AVStream* st = ic->streams[video];
    const AVCodecParameters* par = st->codecpar;
    const int lengthSize =
        par->extradata_size >= 5 && par->extradata[0] == 1 ? (par->extradata[4] & 3) + 1 : 0;
    AVPacket* pkt = av_packet_alloc();
    while (pkt && av_read_frame(ic, pkt) >= 0) {
        if (pkt->stream_index == video) {
            ++list.videoPackets;
            KeyFrame k = Picture(pkt->data, size_t(pkt->size), lengthSize);
            if (k.intra && !k.idr) ++list.nonIdrIntra;
            if (pkt->flags & AV_PKT_FLAG_KEY) {
                const int64_t t = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
                k.time = t == AV_NOPTS_VALUE ? -1 : t * av_q2d(st->time_base);
                list.packets.push_back(k);
            }
        }
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    const bool flv = std::strcmp(ic->iformat->name, "flv") == 0;
    avformat_close_input(&ic);
    if (flv) ReadFlvIndex(path, lengthSize, list);
    return list;
}

}  // namespace tw::test
