// tests/support/Pictures.h — reading back what the pictures of a file look
// like.
#pragma once

#include <string>
#include <vector>

namespace tw::test {

/// The mean of the first plane (the luma of YUV video) of each of the first
/// maxFrames decoded pictures of the file's first video stream. Empty when
/// the file cannot be read.
std::vector<double> MeanLumas(const std::string& path, int maxFrames);

}  // namespace tw::test
