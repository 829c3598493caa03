// diag/LibraryErrorCapture.h — collects the error lines the media libraries
// log on one thread while a call runs, so a failure can say why.
#pragma once

#include <string>
#include <vector>

namespace tw {

/// While an object lives, every library line of error level or worse that
/// the calling thread logs (as the logger assembles it, with the speaking
/// object's prefix) is also kept here. Objects nest: the innermost collects.
/// Create and destroy on one thread; not copyable.
class TLibraryErrorCapture {
  public:
    TLibraryErrorCapture();
    ~TLibraryErrorCapture();
    TLibraryErrorCapture(const TLibraryErrorCapture&) = delete;
    TLibraryErrorCapture& operator=(const TLibraryErrorCapture&) = delete;

    const std::vector<std::string>& Lines() const { return FLines; }

    /// Called by the logger for every finished library line, on the thread
    /// that logged it. Never throws.
    static void Offer(int libraryLevel, const std::string& text) noexcept;

  private:
    TLibraryErrorCapture* FOuter;
    std::vector<std::string> FLines;
};

}  // namespace tw
