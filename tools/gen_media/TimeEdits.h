// tools/gen_media/TimeEdits.h — timing faults of real files, made by editing
// a finished clip's bytes: an MP4 edit list that ends before the media does,
// and a clock that jumps in the middle of an FLV or MPEG-TS recording.
#pragma once

#include <string>

namespace tw::gen {

/// Shortens every edit of the MP4/MOV file at path that shows media (not the
/// empty edits of a delayed start) to at most shownSeconds, so that players
/// stop there while the media goes on. Throws std::runtime_error when the
/// file cannot be read or written or holds no edit list.
void LimitEditLists(const std::string& path, double shownSeconds);

/// From media time at (seconds from the first timestamp in the file) on,
/// every timestamp of the FLV (format "flv") or MPEG-TS ("mpegts") file at
/// path moves by delta seconds (negative: the clock goes back), as a live
/// recording whose clock was reset. Throws std::runtime_error when the file
/// cannot be read or written, or for another format.
void ShiftTimestampsFrom(const std::string& path, const std::string& format, double at,
                         double delta);

}  // namespace tw::gen
