// probe/FileNames.h — what a file's name and kind mean to the libraries, for
// callers above the binding layer. Any thread.
#pragma once

#include <string>

namespace tw {

/// True when the name is a FIFO, a pipe (/dev/fd/N), a device or a socket:
/// a source that can be read only once, from start to end, and whose open
/// may wait for a writer.
bool IsReadOnceSource(const std::string& name);

/// True when the libraries could not take the name as it is (it is no UTF-8,
/// or a colon would make its start a protocol name): the libraries are then
/// handed it through the wide-name protocol.
bool NeedsWideName(const std::string& name);

}  // namespace tw
