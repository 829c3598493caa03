// tests/engine/CopyPath_test.cpp — the packets of a fast merge, byte for
// byte: every source's audio and video payloads in the output, in order,
// whatever form (start codes or length prefixes, ADTS or raw) each source
// and the output store them in.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/EngineFixture.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace tw {
namespace {

// The payload of a packet independent of its form: H.264 as its NAL units
// without access-unit delimiters and parameter sets (which muxers add and
// move) and without trailing zeros, AAC without an ADTS header.
// lengthPrefixed: the stream's header is avcC (a length of 256..511 bytes
// begins like a start code, so the form cannot be told from the packet).
std::vector<uint8_t> Payload(AVCodecID codec, bool lengthPrefixed, const uint8_t* d, size_t size) {
    std::vector<uint8_t> out;
    if (codec == AV_CODEC_ID_AAC) {
        size_t skip = 0;
        if (size >= 7 && d[0] == 0xff && (d[1] & 0xf6) == 0xf0) skip = (d[1] & 1) ? 7 : 9;
        out.assign(d + skip, d + size);
        return out;
    }
    // Trailing zero bytes of a unit cannot be told from the next start code
    // in the start-code form: compared without them in both forms.
    auto add = [&](const uint8_t* nal, size_t len) {
        while (len > 0 && nal[len - 1] == 0) --len;
        if (len == 0) return;
        const int type = nal[0] & 0x1f;
        if (type == 9 || type == 7 || type == 8) return;
        out.insert(out.end(), nal, nal + len);
    };
    if (!lengthPrefixed) {
        size_t i = 0, begin = SIZE_MAX;
        while (i + 3 <= size) {
            if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
                if (begin != SIZE_MAX) {
                    size_t end = i;
                    while (end > begin && d[end - 1] == 0) --end;
                    add(d + begin, end - begin);
                }
                i += 3;
                begin = i;
            } else {
                ++i;
            }
        }
        if (begin != SIZE_MAX && begin < size) add(d + begin, size - begin);
    } else {
        for (size_t i = 0; i + 4 <= size;) {
            const size_t len = (size_t(d[i]) << 24) | (d[i + 1] << 16) | (d[i + 2] << 8) | d[i + 3];
            i += 4;
            if (len > size - i) break;
            add(d + i, len);
            i += len;
        }
    }
    return out;
}

// FNV-1a over the payload bytes.
uint64_t Checksum(const std::vector<uint8_t>& bytes) {
    uint64_t h = 1469598103934665603ull;
    for (uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
    return h;
}

// The checksums of a file's video and audio payloads, in file order; the
// audio an MP4 marks as not to be played (its priming) left out, as a merge
// leaves it out.
struct PacketSums {
    std::vector<uint64_t> video, audio;
    std::string error;
};

PacketSums ReadSums(const std::string& path) {
    PacketSums s;
    AVFormatContext* ic = nullptr;
    if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0 ||
        avformat_find_stream_info(ic, nullptr) < 0) {
        avformat_close_input(&ic);
        s.error = "cannot open " + path;
        return s;
    }
    AVPacket* pkt = av_packet_alloc();
    while (av_read_frame(ic, pkt) >= 0) {
        const AVCodecParameters* par = ic->streams[pkt->stream_index]->codecpar;
        const bool avcC = par->extradata_size > 0 && par->extradata[0] == 1;
        const std::vector<uint8_t> p = Payload(par->codec_id, avcC, pkt->data, size_t(pkt->size));
        if (par->codec_type == AVMEDIA_TYPE_VIDEO) s.video.push_back(Checksum(p));
        if (par->codec_type == AVMEDIA_TYPE_AUDIO && !(pkt->flags & AV_PKT_FLAG_DISCARD))
            s.audio.push_back(Checksum(p));
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&ic);
    return s;
}

class CopyPath : public test::EngineTest {};

// Catches: a packet lost, repeated or altered on its way from the demuxer to
// the muxer — a form conversion done in place that writes a wrong prefix or
// keeps a header byte, a packet handed on (moved) before every record bound
// to its stream had it — over ten sources alternating between MP4 (length
// prefixes, raw AAC with priming) and MPEG-TS (start codes, ADTS), into
// each container.
TEST_F(CopyPath, TenSourcesArriveByteForByteInEveryContainer) {
    ClipDefaults = {"--duration", "1", "--bframes", "2"};
    std::vector<std::string> in;
    for (int i = 0; i < 10; ++i)
        in.push_back(Clip("s" + std::to_string(i) + (i % 2 ? ".ts" : ".mp4"),
                          {"--pattern", std::to_string(i % 4)}));
    PacketSums expected;
    std::vector<size_t> videoPerSource;
    for (const std::string& f : in) {
        const PacketSums s = ReadSums(f);
        ASSERT_EQ(s.error, "");
        ASSERT_FALSE(s.video.empty());
        ASSERT_FALSE(s.audio.empty());
        videoPerSource.push_back(s.video.size());
        expected.video.insert(expected.video.end(), s.video.begin(), s.video.end());
        expected.audio.insert(expected.audio.end(), s.audio.begin(), s.audio.end());
    }
    for (const std::string ext : {"mkv", "mp4", "flv", "ts"}) {
        SCOPED_TRACE(ext);
        TCustomFFmpeg engine(20);
        engine.SetVerbose(-1);
        const std::string out = Dir.File("out." + ext);
        ASSERT_EQ(test::RunEngine(engine, in, out, {{"vcodec", "copy"}, {"acodec", "copy"}}), "");
        const PacketSums got = ReadSums(out);
        ASSERT_EQ(got.error, "");
        ASSERT_EQ(got.video.size(), expected.video.size());
        ASSERT_EQ(got.audio.size(), expected.audio.size());
        // Per source, so that a failure names the part.
        size_t at = 0;
        for (size_t k = 0; k < in.size(); ++k) {
            for (size_t i = 0; i < videoPerSource[k]; ++i)
                ASSERT_EQ(got.video[at + i], expected.video[at + i])
                    << "video packet " << i << " of " << in[k];
            at += videoPerSource[k];
        }
        EXPECT_EQ(got.audio, expected.audio);
    }
}

// Catches: the packet handed on (moved) to the first of two outputs that
// copy the same stream, leaving the second an empty packet or none.
TEST_F(CopyPath, TwoOutputsCopyingOneSourceBothGetEveryPacket) {
    const std::string in = Clip("one.ts", {"--duration", "1", "--bframes", "2"});
    const PacketSums expected = ReadSums(in);
    ASSERT_EQ(expected.error, "");
    TCustomFFmpeg engine(20);
    engine.SetVerbose(-1);
    ASSERT_TRUE(engine.OpenInputFile(in)) << engine.LastError;
    const std::string first = Dir.File("first.mkv"), second = Dir.File("second.flv");
    for (const std::string& out : {first, second}) {
        engine.SetOption("vcodec", "copy");
        engine.SetOption("acodec", "copy");
        ASSERT_GT(engine.OpenOutputFile(out, false), 0) << engine.LastError;
    }
    engine.Start(false);
    ASSERT_FALSE(engine.ErrorRaised) << engine.ErrorMessage;
    ASSERT_TRUE(engine.Finished);
    for (const std::string& out : {first, second}) {
        SCOPED_TRACE(out);
        const PacketSums got = ReadSums(out);
        ASSERT_EQ(got.error, "");
        EXPECT_EQ(got.video, expected.video);
        EXPECT_EQ(got.audio, expected.audio);
    }
}

}  // namespace
}  // namespace tw
