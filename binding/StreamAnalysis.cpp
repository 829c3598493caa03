// binding/StreamAnalysis.cpp — stream analysis with one decoder thread.
#include "binding/StreamAnalysis.h"

#include <atomic>
#include <vector>

#include "binding/Entries.h"

namespace tw {

namespace {

std::atomic<bool> gSingleThread{true};

// One options dictionary per stream. The analysis may replace each (a
// decoder's open leaves in it what it did not take): freed as they end up.
struct TStreamOptions {
    std::vector<AVDictionary*> List;
    explicit TStreamOptions(unsigned streams) : List(streams, nullptr) {}
    ~TStreamOptions() {
        for (AVDictionary*& d : List) lib().av_dict_free(&d);
    }
    TStreamOptions(const TStreamOptions&) = delete;
    TStreamOptions& operator=(const TStreamOptions&) = delete;
};

}  // namespace

void SetSingleThreadAnalysis(bool on) { gSingleThread = on; }
bool SingleThreadAnalysis() { return gSingleThread; }

int AnalyseStreams(AVFormatContext* ic) {
    if (!gSingleThread || !ic || ic->nb_streams == 0)
        return lib().avformat_find_stream_info(ic, nullptr);
    // Streams the analysis finds later (MPEG-TS, FLV) get the library's
    // defaults: it reads options only for the streams known at the call.
    TStreamOptions options(ic->nb_streams);
    for (AVDictionary*& d : options.List) lib().av_dict_set(&d, "threads", "1", 0);
    return lib().avformat_find_stream_info(ic, options.List.data());
}

}  // namespace tw
