// tests/support/Mp4Boxes.h — the top-level boxes of an MP4/MOV file, read
// from its bytes (where the index lies against the media data).
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/JoinProgram.h"

namespace tw::test {

/// The four-letter types of the file's first (at most 16) top-level boxes,
/// in file order; stops at a box whose size cannot be right.
inline std::vector<std::string> TopLevelBoxes(const std::string& path) {
    const std::string bytes = FileContents(path);
    std::vector<std::string> boxes;
    for (size_t at = 0; at + 8 <= bytes.size() && boxes.size() < 16;) {
        const auto u = [&](size_t i) { return uint64_t(static_cast<unsigned char>(bytes[i])); };
        uint64_t size = (u(at) << 24) | (u(at + 1) << 16) | (u(at + 2) << 8) | u(at + 3);
        boxes.push_back(bytes.substr(at + 4, 4));
        if (size == 1 && at + 16 <= bytes.size()) {
            size = 0;
            for (int k = 0; k < 8; ++k) size = (size << 8) | u(at + 8 + k);
        }
        if (size < 8) break;
        at += size;
    }
    return boxes;
}

/// Where the file's index lies against its media data: "front" when the
/// "moov" box comes before "mdat", "back" when after, "" when either is
/// missing.
inline std::string IndexPlace(const std::string& path) {
    const std::vector<std::string> boxes = TopLevelBoxes(path);
    const auto moov = std::find(boxes.begin(), boxes.end(), "moov");
    const auto mdat = std::find(boxes.begin(), boxes.end(), "mdat");
    if (moov == boxes.end() || mdat == boxes.end()) return "";
    return moov < mdat ? "front" : "back";
}

}  // namespace tw::test
