// probe/FileNames.cpp — the binding layer's answers about file names.
#include "probe/FileNames.h"

#include "binding/UnicodeProtocol.h"

namespace tw {

bool IsReadOnceSource(const std::string& name) { return IsReadOnceFile(name); }

bool NeedsWideName(const std::string& name) { return NeedsWideProtocol(name); }

}  // namespace tw
