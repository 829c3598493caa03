// app/PendingOutput.h — the file a merge writes before it becomes the
// output: an existing output is only replaced by a merge the user keeps.
#pragma once

#include <string>

namespace tw {

/// A hidden file beside the output (same folder, so the move is a rename on
/// one file system), named ".NAME.XXXXXX.part" where NAME is the output's
/// name with ':' and, in a name that is not UTF-8, every byte beyond ASCII
/// replaced by '_' (a name the libraries take as it is). Removed by the
/// destructor unless committed. While it exists it holds an advisory lock
/// (flock) on the file: a merge that was killed leaves its file unlocked,
/// and the next Create for the same output removes it. Main thread only;
/// not copyable.
class TPendingOutput {
  public:
    TPendingOutput() = default;
    ~TPendingOutput();
    TPendingOutput(const TPendingOutput&) = delete;
    TPendingOutput& operator=(const TPendingOutput&) = delete;

    /// Removes the hidden files of this output that no live merge holds,
    /// then creates a new empty one beside target (the target's permissions
    /// when it exists, else the user's defaults). False with why (errno
    /// text) when the folder is missing or not writable.
    bool Create(const std::string& target, std::string& why);
    /// The file to write to; empty before Create.
    const std::string& Path() const { return FPath; }
    /// Moves the file over the target in one step. False with why; the file
    /// is then still there (and removed by the destructor).
    bool Commit(std::string& why);

    /// Removes every file of a TPendingOutput that is neither committed nor
    /// destroyed yet, and makes every later Create and Commit fail: for a
    /// program that ends at once (a signal) and must leave no half-written
    /// file behind. Returns false and does nothing once a pending output of
    /// this process has been committed (a merge is in place: too late to
    /// undo it). Any thread.
    static bool RemoveAllNow();
    /// True while a file of a TPendingOutput exists (a merge is being
    /// written). Any thread.
    static bool AnyLive();
    /// True once a pending output of this process has been committed. Any
    /// thread.
    static bool AnyCommitted();

  private:
    std::string FPath, FTarget;
    int FLockFd = -1;
    bool FCommitted = false;
};

}  // namespace tw
