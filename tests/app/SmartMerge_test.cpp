// tests/app/SmartMerge_test.cpp — a merge that copies the sources encoded as
// the first one and re-encodes only the others, read back packet by packet.
#include "app/SmartMerge.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "tests/support/EncoderFixture.h"
#include "tests/support/JoinProgram.h"
#include "tests/support/ScriptedUser.h"

namespace tw {
namespace {

// One packet as read back: its time, and a digest of its payload in a form
// that does not depend on the container (H.264 NAL units without parameter
// sets and delimiters, AAC without ADTS headers).
struct Packet {
    double time = 0;
    uint64_t digest = 0;
};

// What a strict decode of a stream gave.
struct Picture {
    double time;
    int width, height, profile;
};
struct Sound {
    double time;
    int rate, channels;
};

struct ReadBack {
    std::string error;
    std::vector<Packet> video, audio;
    std::vector<Picture> pictures;
    std::vector<Sound> sounds;
    int decodeErrors = 0;
};

uint64_t Fnv(uint64_t h, const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

// lengthPrefixed: the stream's header is avcC (NAL units after 4-byte
// lengths), else start codes.
uint64_t VideoDigest(const uint8_t* p, int size, bool lengthPrefixed) {
    uint64_t h = 1469598103934665603ull;
    const auto take = [&](const uint8_t* nal, size_t n) {
        const int type = n > 0 ? nal[0] & 0x1f : 0;
        if (type != 7 && type != 8 && type != 9) h = Fnv(h, nal, n);
    };
    if (lengthPrefixed) {
        for (int at = 0; at + 4 <= size;) {
            const size_t n = size_t(p[at]) << 24 | p[at + 1] << 16 | p[at + 2] << 8 | p[at + 3];
            if (at + 4 + int(n) > size) break;
            take(p + at + 4, n);
            at += 4 + int(n);
        }
        return h;
    }
    std::vector<int> starts;  // first byte after each start code
    for (int i = 0; i + 2 < size; ++i)
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) {
            starts.push_back(i + 3);
            i += 2;
        }
    for (size_t k = 0; k < starts.size(); ++k) {
        int end = k + 1 < starts.size() ? starts[k + 1] - 3 : size;
        while (end > starts[k] && p[end - 1] == 0) --end;  // the next code's leading zero
        take(p + starts[k], size_t(end - starts[k]));
    }
    return h;
}

uint64_t AudioDigest(const uint8_t* p, int size) {
    if (size >= 7 && p[0] == 0xff && (p[1] & 0xf0) == 0xf0) {
        const int header = (p[1] & 1) ? 7 : 9;
        p += header;
        size -= header;
    }
    return Fnv(1469598103934665603ull, p, size_t(std::max(size, 0)));
}

// Reads every packet of the first video and audio stream; with decode, also
// decodes them with errors made fatal (AV_EF_EXPLODE).
ReadBack Read(const std::string& file, bool decode) {
    ReadBack r;
    AVFormatContext* ic = nullptr;
    if (avformat_open_input(&ic, file.c_str(), nullptr, nullptr) < 0) {
        r.error = "cannot open " + file;
        return r;
    }
    avformat_find_stream_info(ic, nullptr);
    const int vi = av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const int ai = av_find_best_stream(ic, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    const AVCodecParameters* vpar = vi >= 0 ? ic->streams[vi]->codecpar : nullptr;
    const bool avcC = vpar && vpar->extradata_size > 0 && vpar->extradata[0] == 1;
    AVCodecContext* dec[2] = {nullptr, nullptr};
    for (int k = 0; k < 2 && decode; ++k) {
        const int idx = k == 0 ? vi : ai;
        if (idx < 0) continue;
        const AVCodecParameters* par = ic->streams[idx]->codecpar;
        dec[k] = avcodec_alloc_context3(avcodec_find_decoder(par->codec_id));
        avcodec_parameters_to_context(dec[k], par);
        dec[k]->err_recognition |= AV_EF_EXPLODE;
        dec[k]->thread_count = 1;
        avcodec_open2(dec[k], nullptr, nullptr);
    }
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    const auto drain = [&](int k, AVRational tb) {
        int got;
        while ((got = avcodec_receive_frame(dec[k], frame)) >= 0) {
            if (frame->decode_error_flags || (frame->flags & AV_FRAME_FLAG_CORRUPT))
                ++r.decodeErrors;
            const double t = frame->best_effort_timestamp * av_q2d(tb);
            if (k == 0)
                r.pictures.push_back({t, frame->width, frame->height, dec[0]->profile});
            else
                r.sounds.push_back({t, frame->sample_rate, frame->ch_layout.nb_channels});
            av_frame_unref(frame);
        }
        if (got != AVERROR(EAGAIN) && got != AVERROR_EOF) ++r.decodeErrors;
    };
    while (av_read_frame(ic, pkt) >= 0) {
        const int k = pkt->stream_index == vi ? 0 : pkt->stream_index == ai ? 1 : -1;
        if (k >= 0) {
            const AVRational tb = ic->streams[pkt->stream_index]->time_base;
            const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
            Packet p{ts * av_q2d(tb), k == 0 ? VideoDigest(pkt->data, pkt->size, avcC)
                                             : AudioDigest(pkt->data, pkt->size)};
            (k == 0 ? r.video : r.audio).push_back(p);
            if (dec[k]) {
                if (avcodec_send_packet(dec[k], pkt) < 0) ++r.decodeErrors;
                drain(k, tb);
            }
        }
        av_packet_unref(pkt);
    }
    for (int k = 0; k < 2; ++k)
        if (dec[k]) {
            avcodec_send_packet(dec[k], nullptr);
            drain(k, ic->streams[k == 0 ? vi : ai]->time_base);
            avcodec_free_context(&dec[k]);
        }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avformat_close_input(&ic);
    return r;
}

// Where each source's packets lie in the output's: a copied source's as a
// run equal to its own (checked here), a re-encoded one's between them.
// Returns [begin, end) per source.
std::vector<std::pair<size_t, size_t>> Runs(const std::vector<Packet>& out,
                                            const std::vector<std::vector<Packet>>& sources,
                                            const std::vector<bool>& copied, const char* kind) {
    std::vector<std::pair<size_t, size_t>> runs;
    size_t at = 0;
    for (size_t i = 0; i < sources.size(); ++i) {
        size_t end = out.size();
        if (copied[i]) {
            end = at + sources[i].size();
            EXPECT_LE(end, out.size()) << kind << " of source " << i;
            for (size_t k = 0; k < sources[i].size() && at + k < out.size(); ++k)
                if (out[at + k].digest != sources[i][k].digest) {
                    ADD_FAILURE() << kind << " packet " << k << " of source " << i
                                  << " differs from the source's";
                    break;
                }
        } else {
            // Up to the first packet of the next copied source.
            for (size_t j = i + 1; j < sources.size(); ++j)
                if (copied[j] && !sources[j].empty()) {
                    end = at;
                    while (end < out.size() && out[end].digest != sources[j][0].digest) ++end;
                    break;
                }
        }
        runs.emplace_back(at, std::min(end, out.size()));
        at = std::min(end, out.size());
    }
    EXPECT_EQ(at, out.size()) << kind << ": packets after the last source's";
    return runs;
}

class SmartMerge : public test::EncoderTest {
  protected:
    // Five sources with B-frames: the first's encoding as MP4, MKV and TS,
    // one of another size and frame rate, one of another sound.
    std::vector<std::string> Sources() {
        const std::vector<std::string> common = {"--duration", "1.5", "--bframes", "2"};
        const auto clip = [&](const std::string& name, std::vector<std::string> more) {
            more.insert(more.begin(), common.begin(), common.end());
            return Clip(name, more);
        };
        return {clip("a.mp4", {}),
                clip("big.mp4", {"--size", "480x272", "--fps", "30", "--seed", "1"}),
                clip("c.mkv", {"--seed", "2"}),
                clip("mono.mp4", {"--sample-rate", "48000", "--channels", "1", "--seed", "3"}),
                clip("e.ts", {"--seed", "4"})};
    }
    std::vector<TSourceFacts> Facts(const std::vector<std::string>& files) {
        std::vector<TSourceFacts> facts;
        for (const std::string& f : files) {
            TFFDecoder d;
            EXPECT_TRUE(d.LoadFile(f)) << f;
            facts.push_back(SurveySource(d.FormatContext(), f));
        }
        return facts;
    }
    // Hidden files left in the test's folder.
    std::vector<std::string> HiddenFiles() {
        std::vector<std::string> found;
        DIR* d = ::opendir(Dir.Path().c_str());
        while (dirent* e = d ? ::readdir(d) : nullptr)
            if (e->d_name[0] == '.' && std::string(e->d_name) != "." &&
                std::string(e->d_name) != "..")
                found.push_back(e->d_name);
        if (d) ::closedir(d);
        return found;
    }
    test::ScriptedUser User;
};

class SmartMergeInto : public SmartMerge, public ::testing::WithParamInterface<const char*> {};

// Catches: a differing source copied (garbage after its join) or a matching
// one re-encoded, a copied packet changed on its way, a re-encoded part in
// another profile, size, frame rate, sample rate or channel count than the
// first source's, parameter sets missing where a part's differ (decode
// errors at the join), sound and picture drifting apart at a join, a
// progress bar that starts over for each step, and parts left behind.
TEST_P(SmartMergeInto, CopiesMatchingSourcesAndReencodesTheOthersToTheFirst) {
    const std::vector<std::string> files = Sources();
    const std::string container = GetParam();
    const std::vector<TSourceFacts> facts = Facts(files);
    const TSmartPlan plan = PlanSmartMerge(facts, container);
    ASSERT_EQ(plan.Problem, "");
    EXPECT_EQ(plan.Reencode, (std::vector<bool>{false, true, false, true, false}));

    const std::string ext = container == "matroska" ? "mkv"
                            : container == "mpegts" ? "ts"
                                                    : container;
    const std::string out = Dir.File("out." + ext);
    TJoinSettings settings;
    settings.SmartJoin = true;
    settings.Container = container;
    std::vector<int64_t> times, totals;
    Enc.OnProgress = [&](TCustomEncoder*, PProgressInfo info) {
        times.push_back(info->CurrentOrZero());
        totals.push_back(info->TotalDuration);
    };
    std::vector<std::string> list = files;
    ASSERT_EQ(MergeWithChecks(User, Enc, list, out, settings), jrDone) << User.Last();
    EXPECT_EQ(User.Last(), "合并成功");
    EXPECT_EQ(HiddenFiles(), std::vector<std::string>{});

    // One bar: the same total throughout, never going back.
    ASSERT_FALSE(times.empty());
    for (size_t k = 1; k < times.size(); ++k) {
        EXPECT_EQ(totals[k], totals[0]);
        EXPECT_GE(times[k], times[k - 1]) << "report " << k;
    }
    EXPECT_GT(totals[0], 0);

    const ReadBack o = Read(out, true);
    ASSERT_EQ(o.error, "");
    EXPECT_EQ(o.decodeErrors, 0);
    std::vector<std::vector<Packet>> video, audio;
    std::vector<bool> copied;
    for (size_t i = 0; i < files.size(); ++i) {
        // What the source shows: an MP4's AAC priming (before its start,
        // cut by its edit list) is no part of it.
        ReadBack s = Read(files[i], false);
        for (auto* packets : {&s.video, &s.audio})
            std::erase_if(*packets, [](const Packet& p) { return p.time < -1e-6; });
        video.push_back(s.video);
        audio.push_back(s.audio);
        copied.push_back(!plan.Reencode[i]);
    }
    const auto vruns = Runs(o.video, video, copied, "video");
    const auto aruns = Runs(o.audio, audio, copied, "audio");
    const TSourceFacts& first = facts[0];
    const double fps = av_q2d(first.FrameRate);
    for (size_t i = 0; i < files.size(); ++i) {
        const auto [vb, ve] = vruns[i];
        const auto [ab, ae] = aruns[i];
        ASSERT_LT(vb, ve) << "no pictures of source " << i;
        ASSERT_LT(ab, ae) << "no sound of source " << i;
        // Every source plays its length: 1.5 s at the first's frame rate.
        EXPECT_NEAR(double(ve - vb), 1.5 * (copied[i] ? av_q2d(facts[i].FrameRate) : fps), 1.0)
            << "source " << i;
        // Picture and sound start together at every join.
        double vstart = 1e9, astart = 1e9;
        for (size_t k = vb; k < ve; ++k) vstart = std::min(vstart, o.video[k].time);
        for (size_t k = ab; k < ae; ++k) astart = std::min(astart, o.audio[k].time);
        EXPECT_LE(std::abs(vstart - astart), 1024.0 / first.SampleRate + 1e-3) << "source " << i;
        if (copied[i]) continue;
        // A re-encoded part is in the first source's encoding.
        int pictures = 0;
        for (const Picture& p : o.pictures) {
            if (p.time < vstart - 1e-3 ||
                (i + 1 < files.size() && p.time >= o.video[ve].time - 1e-3))
                continue;
            ++pictures;
            EXPECT_EQ(p.width, first.Width);
            EXPECT_EQ(p.height, first.Height);
            EXPECT_EQ(p.profile, first.VideoProfile);
        }
        EXPECT_NEAR(pictures, 1.5 * fps, 1.0) << "source " << i;
        std::vector<double> shown;
        for (size_t k = vb; k < ve; ++k) shown.push_back(o.video[k].time);
        std::sort(shown.begin(), shown.end());
        for (size_t k = 1; k < shown.size(); ++k)
            EXPECT_NEAR(shown[k] - shown[k - 1], 1 / fps, 1.5e-3) << "source " << i;
        for (const Sound& s : o.sounds)
            if (s.time >= astart - 1e-3 && s.time < astart + 1.4) {
                EXPECT_EQ(s.rate, first.SampleRate);
                EXPECT_EQ(s.channels, first.Channels);
            }
    }
}

INSTANTIATE_TEST_SUITE_P(Containers, SmartMergeInto, ::testing::Values("mp4", "flv", "mpegts"));

// Catches: a smart merge offered for a first source whose encoding cannot
// be made here (not H.264, not AAC, turned), or for sources whose streams a
// re-encode would have to invent or drop; and one re-encoding what matches.
TEST_F(SmartMerge, PlanNamesWhyItCannotBeDone) {
    TSourceFacts a;
    a.File = "/a.mp4";
    a.HasVideo = a.HasAudio = true;
    a.VideoCodec = AV_CODEC_ID_H264;
    a.AudioCodec = AV_CODEC_ID_AAC;
    a.Width = 320;
    a.Height = 240;
    a.FrameRate = {25, 1};
    a.SampleRate = 44100;
    a.Channels = 2;
    TSourceFacts b = a;
    b.File = "/b.mp4";
    EXPECT_EQ(PlanSmartMerge({a, b, a}, "mp4").ReencodeCount(), 0u);
    b.Width = 640;
    TSmartPlan plan = PlanSmartMerge({a, b, a}, "mp4");
    EXPECT_EQ(plan.Problem, "");
    EXPECT_EQ(plan.Reencode, (std::vector<bool>{false, true, false}));

    TSourceFacts first = a;
    first.VideoCodec = AV_CODEC_ID_VP8;
    EXPECT_NE(PlanSmartMerge({first, b}, "mkv").Problem.find("vp8"), std::string::npos);
    first = a;
    first.AudioCodec = AV_CODEC_ID_MP3;
    EXPECT_NE(PlanSmartMerge({first, b}, "mkv").Problem.find("mp3"), std::string::npos);
    first = a;
    first.AudioProfile = FF_PROFILE_AAC_HE;
    EXPECT_NE(PlanSmartMerge({first, b}, "mkv").Problem.find("AAC-LC"), std::string::npos);
    first = a;
    first.Rotation = 90;
    EXPECT_NE(PlanSmartMerge({first, b}, "mp4").Problem, "");
    TSourceFacts silent = b;
    silent.HasAudio = false;
    EXPECT_NE(PlanSmartMerge({a, silent}, "mp4").Problem.find("/b.mp4"), std::string::npos);
    // A first source without sound takes parts without sound.
    first = a;
    first.HasAudio = false;
    EXPECT_EQ(PlanSmartMerge({first, silent}, "mp4").Problem, "");
}

// Catches: a stop while a part is re-encoded that replaces the old output,
// says nothing was stopped, or leaves a part behind.
TEST_F(SmartMerge, StopWhileReencodingKeepsTheOldOutputAndNoParts) {
    const std::string a = Clip("a.flv", {"--duration", "1"});
    const std::string b = Clip("b.flv", {"--duration", "3", "--size", "640x480", "--fps", "30"});
    const std::string out = Dir.File("out.flv");
    { std::ofstream(out) << "old"; }
    TJoinSettings settings;
    settings.SmartJoin = true;
    User.Answer = true;  // replace the old output
    bool stopped = false;
    std::vector<std::string> list = {a, b, a};
    const TJoinResult r = MergeWithChecks(User, Enc, list, out, settings, [&] {
        // The re-encoding of b: a task of one source.
        if (stopped || Enc.TaskCount() == 0) return;
        const auto& inputs = Enc.Tasks(0).InputFiles;
        if (std::count_if(inputs.begin(), inputs.end(), [](const auto& f) { return !!f; }) == 1) {
            stopped = true;
            Enc.Stop(true);
        }
    });
    EXPECT_TRUE(stopped);
    EXPECT_EQ(r, jrStoppedEmpty);
    EXPECT_TRUE(test::FileContents(out) == "old");
    EXPECT_EQ(HiddenFiles(), std::vector<std::string>{});
}

// Catches: --auto not choosing a copy for one encoding, a smart merge for
// sources it can bridge and a re-encoding merge when the first source's
// encoding cannot be made here, or not saying which and why; --smart
// merging what it cannot; -f not pointing to --smart.
TEST_F(SmartMerge, CommandLineChoosesCopySmartOrReencode) {
    const std::string a = Clip("a.mp4", {"--duration", "1", "--bframes", "2"});
    const std::string a2 = Clip("a2.mkv", {"--duration", "1", "--bframes", "2", "--seed", "1"});
    const std::string big =
        Clip("big.mp4", {"--duration", "1", "--bframes", "2", "--size", "480x272"});
    const std::string vp8 = Clip("v.mkv", {"--duration", "1", "--video-codec", "libvpx"});
    const std::string mp4v = Clip("m.mp4", {"--duration", "1", "--video-codec", "mpeg4"});
    const std::string out = Dir.File("out.mkv");
    std::string text;
    EXPECT_EQ(test::RunJoin({"--auto", "-y", "-o", out, a, a2}, &text), 0) << text;
    EXPECT_NE(text.find("--auto: fast merge"), std::string::npos) << text;
    EXPECT_EQ(test::RunJoin({"--auto", "-y", "-o", out, a, big, a2}, &text), 0) << text;
    EXPECT_NE(text.find("--auto: smart merge, re-encoding 1 of 3 sources: the sources are "
                        "encoded differently: size 480x272 / 320x240"),
              std::string::npos)
        << text;
    EXPECT_EQ(Read(out, false).video.size(), 75u);  // 3 x 1 s at 25 frames per second
    for (const std::string& first : {vp8, mp4v}) {
        EXPECT_EQ(test::RunJoin({"--auto", "-y", "-o", out, first, a}, &text), 0) << text;
        EXPECT_NE(text.find("--auto: re-encoding: the sources are encoded differently"),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find("not H.264: no smart merge"), std::string::npos) << text;
        EXPECT_EQ(test::RunJoin({"--smart", "-y", "-o", out, first, a}, &text), 1) << text;
        EXPECT_NE(text.find("refusing a smart merge"), std::string::npos) << text;
    }
    EXPECT_EQ(test::RunJoin({"--smart", "-y", "-o", out, big, a, a2}, &text), 0) << text;
    EXPECT_NE(text.find("smart merge: re-encoding 2 of 3 sources"), std::string::npos) << text;
    EXPECT_EQ(test::RunJoin({"-f", "-y", "-o", out, a, big}, &text), 1) << text;
    EXPECT_NE(text.find("use --smart to re-encode only the sources that differ"), std::string::npos)
        << text;
    EXPECT_EQ(test::RunJoin({"--smart", "--auto", "-o", out, a}, &text), 2) << text;
}

}  // namespace
}  // namespace tw
