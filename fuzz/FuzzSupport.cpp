// fuzz/FuzzSupport.cpp
#include "fuzz/FuzzSupport.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "binding/Entries.h"
#include "binding/FFLoad.h"
#include "diag/FFLog.h"

namespace tw::fuzz {

void LoadLibrariesOnce() {
    static const bool loaded = [] {
        if (!FFLoader().Load(WorkLibraryKinds)) {
            std::fprintf(stderr, "%s\n", FFLoader().LastErrMsg().c_str());
            std::abort();
        }
        FFLogger()->TriggerEventInMainThread = false;
        FFLogger()->SetLogLevel(llQuiet);
        lib().av_log_set_level(AV_LOG_QUIET);
        return true;
    }();
    (void)loaded;
}

TMemoryFile::TMemoryFile(const uint8_t* data, size_t size) {
    FFd = ::memfd_create("tarnwick-fuzz", MFD_CLOEXEC);
    if (FFd < 0) std::abort();
    for (size_t done = 0; done < size;) {
        const ssize_t n = ::write(FFd, data + done, size - done);
        if (n <= 0) std::abort();
        done += size_t(n);
    }
    FName = "/proc/self/fd/" + std::to_string(FFd);
}

TMemoryFile::~TMemoryFile() {
    if (FFd >= 0) ::close(FFd);
}

}  // namespace tw::fuzz
