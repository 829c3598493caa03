// app/PendingOutput.h — the file a merge writes before it becomes the
// output: an existing output is only replaced by a merge the user keeps.
#pragma once

#include <string>

namespace tw {

/// A hidden file beside the output (same folder, so the move is a rename on
/// one file system). Removed by the destructor unless committed. Main thread
/// only; not copyable.
class TPendingOutput {
  public:
    TPendingOutput() = default;
    ~TPendingOutput();
    TPendingOutput(const TPendingOutput&) = delete;
    TPendingOutput& operator=(const TPendingOutput&) = delete;

    /// Creates a new empty file beside target (the target's permissions when
    /// it exists, else the user's defaults). False with why (errno text) when
    /// the folder is missing or not writable.
    bool Create(const std::string& target, std::string& why);
    /// The file to write to; empty before Create.
    const std::string& Path() const { return FPath; }
    /// Moves the file over the target in one step. False with why; the file
    /// is then still there (and removed by the destructor).
    bool Commit(std::string& why);

    /// Removes every file of a TPendingOutput that is neither committed nor
    /// destroyed yet, and makes every later Create fail: for a program that
    /// ends at once (a second Ctrl-C) and must leave no half-written file
    /// behind. Any thread.
    static void RemoveAllNow();
    /// True while a file of a TPendingOutput exists (a merge is being
    /// written). Any thread.
    static bool AnyLive();

  private:
    std::string FPath, FTarget;
    bool FCommitted = false;
};

}  // namespace tw
