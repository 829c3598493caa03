// bench/fast_join_driver.cpp — joins its inputs into one FLV by stream copy
// with the engine, the way a fast merge does, and prints how long it took.
//   fast_join_driver [--reencode] [--threads N] OUTPUT INPUT...
#include <chrono>
#include <cstdio>
#include <string>

#include "binding/FFLoad.h"
#include "diag/FFLog.h"
#include "transcoder/CustomFFmpeg.h"

int main(int argc, char** argv) {
    using namespace tw;
    bool reencode = false;
    std::string threads;
    int first = 1;
    while (first < argc && argv[first][0] == '-') {
        const std::string a = argv[first++];
        if (a == "--reencode") reencode = true;
        if (a == "--threads" && first < argc) threads = argv[first++];
    }
    if (argc - first < 2) {
        std::fprintf(stderr, "usage: %s [--reencode] [--threads N] OUTPUT INPUT...\n", argv[0]);
        return 2;
    }
    const auto t0 = std::chrono::steady_clock::now();
    if (!FFLoader().Load(WorkLibraryKinds)) {
        std::fprintf(stderr, "%s\n", FFLoader().LastErrMsg().c_str());
        return 1;
    }
    FFLogger()->TriggerEventInMainThread = false;
    const auto t1 = std::chrono::steady_clock::now();
    TCustomFFmpeg engine(20);
    engine.SetVerbose(-1);
    if (!threads.empty()) engine.SetOption("threads", threads);
    for (int i = first + 1; i < argc; ++i)
        if (!engine.OpenInputFile(argv[i])) {
            std::fprintf(stderr, "%s\n", engine.LastError.c_str());
            return 1;
        }
    if (reencode) {
        // The merge's own settings: H.264 with the default preset, AAC.
        engine.SetOption("vcodec", "libx264");
        engine.SetOption("acodec", "aac");
        engine.SetOption("vpre", "libx264-default");
        if (!threads.empty()) engine.SetOption("threads", threads);
    } else {
        engine.SetOption("vcodec", "copy");
        engine.SetOption("acodec", "copy");
    }
    if (engine.OpenOutputFile(argv[first], true) < 0) {
        std::fprintf(stderr, "%s\n", engine.LastError.c_str());
        return 1;
    }
    engine.ExpandJoinedOutput();
    const auto t2 = std::chrono::steady_clock::now();
    engine.Start(false);
    const auto t3 = std::chrono::steady_clock::now();
    if (engine.ErrorRaised || !engine.Finished) {
        std::fprintf(stderr, "join failed: %s\n", engine.ErrorMessage.c_str());
        return 1;
    }
    auto ms = [](auto a, auto b) {
        return std::chrono::duration<double, std::milli>(b - a).count();
    };
    std::printf("load %.1f ms, open %.1f ms, join %.1f ms\n", ms(t0, t1), ms(t1, t2), ms(t2, t3));
    return 0;
}
