// diag/ThreadName.cpp — thread names through pthread_setname_np.
#include "diag/ThreadName.h"

#include <pthread.h>

namespace tw {

namespace {
// The kernel's limit without the terminating zero.
constexpr size_t kMaxNameBytes = 15;
}  // namespace

void NameThisThread(const std::string& name) {
    size_t n = name.size() < kMaxNameBytes ? name.size() : kMaxNameBytes;
    // Do not leave half of a UTF-8 sequence at the end.
    while (n > 0 && n < name.size() && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;
    pthread_setname_np(pthread_self(), name.substr(0, n).c_str());
}

std::string ThisThreadName() {
    char buffer[kMaxNameBytes + 1] = {};
    if (pthread_getname_np(pthread_self(), buffer, sizeof buffer) != 0) return {};
    return buffer;
}

}  // namespace tw
