// binding/UnicodeProtocol.h — file names as the libraries see them, and the
// "unicode" protocol that serves names the libraries cannot open themselves.
//
// UTF-8 is the system code page here, so a "wide" name is a UTF-8 std::string.
// libavformat cannot register protocols any more: a name of the form
// "unicode:utf8:<name>" is served by an AVIOContext of our own
// (OpenWideProtocol), which the openers set as the context's pb.
#pragma once

#include <string>

extern "C" {
#include <libavformat/avio.h>
}

namespace tw {

using TPathFileName = std::string;

bool NeedsWideProtocol(const TPathFileName& name);
std::string ToLibraryFileName(const TPathFileName& name);
bool IsWideProtocolName(const std::string& name);
TPathFileName DecodeWideName(const std::string& name);
TPathFileName FromLibraryFileName(const std::string& name);

/// Stands for registering the protocol with libavformat: registers it once.
void RegisterWideProtocol();
/// Number of protocols named "unicode" (tests).
int WideProtocolCount();

}  // namespace tw
