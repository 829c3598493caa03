// app/OutputContainer.h — which container an output file is written in,
// shared by the window and the command line.
#pragma once

#include <string>

namespace tw {

/// The container of an output whose name or format asks for none in
/// particular: the muxer name every merge defaults to.
inline constexpr const char* kDefaultContainer = "flv";

/// The muxer name for an output: by format when one is given ("flv", "f4v",
/// "mp4", "m4v", "mov", "mkv", "matroska", "ts", "mpegts", any letter case),
/// else by the extension of output's file name: .mp4, .m4v and .mov give
/// "mp4", .mkv "matroska", .ts "mpegts"; .flv, .f4v, no extension and any
/// other give kDefaultContainer. Returns "" for a format that names no known container.
std::string ContainerFor(const std::string& output, const std::string& format = "");

}  // namespace tw
