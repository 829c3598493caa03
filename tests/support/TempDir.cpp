// tests/support/TempDir.cpp — a scratch folder that removes itself.
#include "tests/support/TempDir.h"

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace tw::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tw-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder from '" + pattern +
                                 "': " + std::strerror(errno));
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;  // a destructor must not throw; a leftover folder is harmless
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::File(const std::string& name) const {
    return (std::filesystem::path(path_) / name).string();
}

}  // namespace tw::test
