// diag/ThreadName.h — names for the system's threads, so that a debugger,
// `top -H` and /proc show which part of the program a thread belongs to.
#pragma once

#include <string>

namespace tw {

/// Names the calling thread. The system keeps at most 15 bytes: a longer
/// name is cut at a character boundary. Failures are ignored (a name is an
/// aid, never a reason to stop).
void NameThisThread(const std::string& name);

/// The calling thread's name as the system keeps it ("" when unavailable).
std::string ThisThreadName();

}  // namespace tw
