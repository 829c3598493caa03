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

/// Presentation times (seconds) of every packet of the file's first stream
/// of the type ("video" or "audio"), in file order.
std::vector<double> PacketTimes(const std::string& path, const std::string& type);

/// The first time in times (sorted or not) at or after t - slack; -1 when none.
double FirstAtOrAfter(const std::vector<double>& times, double t, double slack);

}  // namespace tw::test
