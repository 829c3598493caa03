// fuzz/copyjoin_fuzz.cpp — a stream-copy join of two small arbitrary inputs
// into an FLV output on /dev/null, bounded in packets.
//
// Input: a 4-byte little-endian length of the first input, the first
// input, then the second (the length is taken modulo the bytes that
// follow). Both inputs are files in memory.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/FastMergeChecks.h"
#include "fuzz/FuzzSupport.h"
#include "probe/FFDecode.h"
#include "transcoder/CustomFFmpeg.h"
#include "transcoder/FFmpegException.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tw::fuzz::LoadLibrariesOnce();
    if (size < 4 || size > 256 * 1024) return 0;
    const size_t rest = size - 4;
    const uint32_t declared = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
                              uint32_t(data[3]) << 24;
    const size_t first = rest ? declared % (rest + 1) : 0;
    const tw::fuzz::TMemoryFile a(data + 4, first);
    const tw::fuzz::TMemoryFile b(data + 4 + first, rest - first);

    // The driver's look at the sources before a fast merge.
    std::vector<tw::TSourceFacts> facts;
    for (const auto* f : {&a, &b}) {
        tw::TFFDecoder probe;
        if (!probe.LoadFile(f->Name())) return 0;
        facts.push_back(tw::SurveySource(probe.FormatContext(), f->Name()));
    }
    (void)tw::FastMergeProblem(facts, "flv");

    tw::TCustomFFmpeg engine(4);
    engine.SetVerbose(-1);
    engine.IOTimeout = 2000;
    try {
        if (!engine.OpenInputFile(a.Name()) || !engine.OpenInputFile(b.Name())) return 0;
        engine.SetOption("vcodec", "copy");
        engine.SetOption("acodec", "copy");
        engine.SetOption("f", "flv");
        // The bound: so many pictures and audio frames, so many bytes.
        engine.SetOption("vframes", "500");
        engine.SetOption("aframes", "1000");
        engine.SetOption("fs", "4000000");
        if (engine.OpenOutputFile("/dev/null", true) < 0) return 0;
        engine.ExpandJoinedOutput();
        engine.Start(false);
    } catch (const tw::FFmpegException&) {
    }
    return 0;
}
