// diag/LibraryErrorCapture.cpp — error lines of the libraries, per thread.
#include "diag/LibraryErrorCapture.h"

namespace tw {

namespace {

thread_local TLibraryErrorCapture* tCurrent = nullptr;

// AV_LOG_ERROR: panic, fatal and error lines are kept.
constexpr int kErrorLevel = 16;

}  // namespace

TLibraryErrorCapture::TLibraryErrorCapture() : FOuter(tCurrent) { tCurrent = this; }

TLibraryErrorCapture::~TLibraryErrorCapture() { tCurrent = FOuter; }

void TLibraryErrorCapture::Offer(int libraryLevel, const std::string& text) noexcept {
    if (!tCurrent || libraryLevel > kErrorLevel || text.empty()) return;
    try {
        tCurrent->FLines.push_back(text);
    } catch (...) {
        // Out of memory: the line is lost, the failure is still reported.
    }
}

}  // namespace tw
