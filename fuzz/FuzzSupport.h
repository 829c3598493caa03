// fuzz/FuzzSupport.h — what every harness needs: the libraries loaded once
// and quiet, and byte buffers handed to the product as files that exist
// only in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tw::fuzz {

/// Loads the media libraries through the product's loader (aborts when
/// they cannot be loaded: nothing could be fuzzed) and silences every log.
void LoadLibrariesOnce();

/// A file in memory (memfd) holding a copy of the bytes; Name() opens it
/// like a file on disk. Closed with the object. Aborts when the system has
/// no memory file for it.
class TMemoryFile {
  public:
    TMemoryFile(const uint8_t* data, size_t size);
    ~TMemoryFile();
    TMemoryFile(const TMemoryFile&) = delete;
    TMemoryFile& operator=(const TMemoryFile&) = delete;
    /// "/proc/self/fd/N".
    const std::string& Name() const { return FName; }

  private:
    int FFd = -1;
    std::string FName;
};

}  // namespace tw::fuzz
