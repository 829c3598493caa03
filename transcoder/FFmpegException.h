// transcoder/FFmpegException.h — the one error type of the transcoder engine.
#pragma once

#include <stdexcept>
#include <string>

namespace tw {

/// Every failure inside the engine (option handling, file opening, the run)
/// is raised as an FFmpegException whose what() is the user-facing message.
/// The encoder component catches it at its boundary and turns it into its
/// own error text.
class FFmpegException : public std::runtime_error {
  public:
    explicit FFmpegException(const std::string& message) : std::runtime_error(message) {}
    explicit FFmpegException(const char* message) : std::runtime_error(message) {}
};

}  // namespace tw
