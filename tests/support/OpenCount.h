// tests/support/OpenCount.h — counts, per file, how often the product opens
// it (avformat_open_input) and analyses its streams
// (avformat_find_stream_info), by wrapping the binding layer's entry slots
// while a counter lives.
//
// Header only: the suites that use it link the binding layer; the support
// library does not.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "binding/Entries.h"

namespace tw::test {

/// One at a time, on the main thread of a test; the wrapped calls may come
/// from any thread (an engine's worker opens its inputs again). Files are
/// named as the library was given them (plain paths for plain names).
class OpenCount {
  public:
    OpenCount() {
        Saved().Open = lib().avformat_open_input;
        Saved().Analyse = lib().avformat_find_stream_info;
        lib().avformat_open_input = &CountedOpen;
        lib().avformat_find_stream_info = &CountedAnalyse;
        Reset();
    }
    ~OpenCount() {
        lib().avformat_open_input = Saved().Open;
        lib().avformat_find_stream_info = Saved().Analyse;
    }
    OpenCount(const OpenCount&) = delete;
    OpenCount& operator=(const OpenCount&) = delete;

    /// Opens and analyses of file since the counter was made or reset.
    int Opens(const std::string& file) const { return Get(Saved().Opens, file); }
    int Analyses(const std::string& file) const { return Get(Saved().Analyses, file); }
    void Reset() {
        std::lock_guard<std::mutex> lock(Saved().Lock);
        Saved().Opens.clear();
        Saved().Analyses.clear();
    }

  private:
    struct State {
        decltype(lib().avformat_open_input) Open = nullptr;
        decltype(lib().avformat_find_stream_info) Analyse = nullptr;
        std::mutex Lock;
        std::map<std::string, int> Opens, Analyses;
    };
    static State& Saved() {
        static State state;
        return state;
    }
    static int Get(const std::map<std::string, int>& counts, const std::string& file) {
        std::lock_guard<std::mutex> lock(Saved().Lock);
        const auto it = counts.find(file);
        return it == counts.end() ? 0 : it->second;
    }
    static int CountedOpen(AVFormatContext** ic, const char* url, const AVInputFormat* format,
                           AVDictionary** options) {
        {
            std::lock_guard<std::mutex> lock(Saved().Lock);
            ++Saved().Opens[url ? url : ""];
        }
        return Saved().Open(ic, url, format, options);
    }
    static int CountedAnalyse(AVFormatContext* ic, AVDictionary** options) {
        {
            std::lock_guard<std::mutex> lock(Saved().Lock);
            ++Saved().Analyses[ic && ic->url ? ic->url : ""];
        }
        return Saved().Analyse(ic, options);
    }
};

}  // namespace tw::test
