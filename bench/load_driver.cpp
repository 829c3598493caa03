// bench/load_driver.cpp — load and soak runs through the product's own
// components, each output checked with the probing component:
//   load_driver merges N OUTPUT INPUT...   N fast merges of the inputs in a
//                                          row in this process (the join driver)
//   load_driver tasks T K DIR INPUT...     T tasks of K inputs each (taken in
//                                          turn) through the encoder, two at a time
// Prints the resident memory after each merge (or at the end), the peak and
// the wall time, and "verified N of N outputs". Exit 1 when an output fails
// its check.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/JoinDriver.h"
#include "binding/Entries.h"
#include "diag/FFLog.h"
#include "diag/MainThread.h"
#include "encoder/FFEncode.h"
#include "probe/FFDecode.h"

using namespace tw;

namespace {

// A line of /proc/self/status in kB ("VmRSS", "VmHWM").
long StatusKb(const char* key) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(std::string(key) + ":", 0) == 0)
            return std::atol(line.c_str() + line.find(':') + 1);
    return -1;
}

// Seconds of a file by the probing component, -1 when it does not open;
// packets counts what can be read of it.
double Probe(const std::string& file, long& packets) {
    TFFDecoder d;
    packets = 0;
    if (!d.LoadFile(file)) return -1;
    AVPacket* pkt = lib().av_packet_alloc();
    while (lib().av_read_frame(d.FormatContext(), pkt) >= 0) {
        ++packets;
        lib().av_packet_unref(pkt);
    }
    lib().av_packet_free(&pkt);
    return d.FormatContext()->duration / 1e6;
}

// The output lasts as long as its sources together and holds as many
// packets (a copy) or about as many (re-encoded).
bool Verify(const std::string& out, const std::vector<std::string>& sources, bool copy) {
    double sum = 0;
    long sourcePackets = 0, p = 0;
    for (const auto& s : sources) {
        sum += Probe(s, p);
        sourcePackets += p;
    }
    const double d = Probe(out, p);
    const bool ok =
        d > 0 && std::fabs(d - sum) <= 0.1 * double(sources.size()) + 0.1 &&
        (copy ? p == sourcePackets : std::labs(p - sourcePackets) < sourcePackets / 50 + 8);
    if (!ok)
        std::fprintf(stderr, "%s: %.3f s, %ld packets; the sources %.3f s, %ld packets\n",
                     out.c_str(), d, p, sum, sourcePackets);
    return ok;
}

double Since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

int Merges(int n, const std::string& out, const std::vector<std::string>& inputs) {
    TFFEncoder encoder;
    const auto start = std::chrono::steady_clock::now();
    int verified = 0;
    for (int i = 1; i <= n; ++i) {
        std::string message;
        TJoinSettings settings;
        settings.FastJoin = true;
        if (JoinFiles(encoder, inputs, out, message, settings) != jrDone) {
            std::fprintf(stderr, "merge %d: %s\n", i, message.c_str());
            return 1;
        }
        verified += Verify(out, inputs, true);
        std::printf("merge %d rss %ld kB\n", i, StatusKb("VmRSS"));
        std::fflush(stdout);
    }
    std::printf("peak %ld kB, wall %.1f s, verified %d of %d outputs\n", StatusKb("VmHWM"),
                Since(start), verified, n);
    return verified == n ? 0 : 1;
}

int Tasks(int tasks, int per, const std::string& dir, const std::vector<std::string>& inputs) {
    TFFEncoder encoder;
    encoder.TaskVerbose = -1;
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::vector<std::string>> sources(tasks);
    for (int t = 0; t < tasks; ++t) {
        for (int k = 0; k < per; ++k) sources[t].push_back(inputs[(t * per + k) % inputs.size()]);
        const std::string out = dir + "/task" + std::to_string(t + 1) + ".flv";
        TJoinSettings settings;
        TInputOptions in = MergeInputOptions(settings);
        const int index = encoder.AddTask(sources[t][0], &in);
        if (index < 0) {
            std::fprintf(stderr, "AddTask: %s\n", encoder.LastError.c_str());
            return 1;
        }
        for (int k = 1; k < per; ++k) {
            TInputOptions more = MergeInputOptions(settings);
            if (!encoder.AddInputFile(index, sources[t][k], &more)) {
                std::fprintf(stderr, "AddInputFile: %s\n", encoder.LastError.c_str());
                return 1;
            }
        }
        TFFDecoder first;
        if (!first.LoadFile(sources[t][0])) return 1;
        if (!encoder.SetOutputPlan(index, out, MergeOutputPlan(first, false, 0))) {
            std::fprintf(stderr, "SetOutputFile: %s\n", encoder.LastError.c_str());
            return 1;
        }
    }
    encoder.Start(2);
    while (!encoder.Done) WaitAndDrainMainThreadCalls(std::chrono::milliseconds(100));
    int verified = 0;
    for (int t = 0; t < tasks; ++t) {
        const TFFmpeg& task = encoder.Tasks(t);
        if (task.ErrorRaised)
            std::fprintf(stderr, "task %d: %s\n", t + 1, task.ErrorMessage.c_str());
        verified += task.Finished && !task.ErrorRaised &&
                    Verify(dir + "/task" + std::to_string(t + 1) + ".flv", sources[t], false);
    }
    std::printf("rss at the end %ld kB, peak %ld kB, wall %.1f s, verified %d of %d outputs\n",
                StatusKb("VmRSS"), StatusKb("VmHWM"), Since(start), verified, tasks);
    return verified == tasks ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    SetMainThread();
    const std::string mode = argc > 1 ? argv[1] : "";
    TFFEncoder loader;
    if (!loader.LibrariesLoaded() && !loader.LoadLibraries(GetLibraryFolder())) {
        std::fprintf(stderr, "%s\n", loader.LastError.c_str());
        return 1;
    }
    FFLogger()->TriggerEventInMainThread = false;
    FFLogger()->SetLogLevel(llError);
    if (mode == "merges" && argc >= 5)
        return Merges(std::atoi(argv[2]), argv[3], std::vector<std::string>(argv + 4, argv + argc));
    if (mode == "tasks" && argc >= 6)
        return Tasks(std::atoi(argv[2]), std::atoi(argv[3]), argv[4],
                     std::vector<std::string>(argv + 5, argv + argc));
    std::fprintf(stderr,
                 "usage: load_driver merges N OUTPUT INPUT...\n"
                 "       load_driver tasks T K DIR INPUT...\n");
    return 2;
}
