// tests/support/TempDir.h — a scratch folder that removes itself.
#pragma once

#include <string>

namespace tw::test {

/// Creates a fresh, empty folder under the system's temporary folder on
/// construction and removes it with everything in it on destruction. Throws
/// std::runtime_error when the folder cannot be created. Not copyable; the
/// folder belongs to exactly one object.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    /// The folder's absolute path, without a trailing separator.
    const std::string& Path() const { return path_; }

    /// Path() joined with a file name; the file itself is not created.
    std::string File(const std::string& name) const;

  private:
    std::string path_;
};

}  // namespace tw::test
