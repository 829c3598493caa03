// app/window/XForm.h — the merge window TXForm: the source list, the output
// name, fast merge and source deletion, and the Join button that runs the
// join driver.
#pragma once

#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/JoinDriver.h"
#include "app/window/WindowDialogs.h"

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTimer;
class QToolButton;

namespace tw {

class TAnchors;

/// The main window. Main thread only. Every control carries its name as
/// object name. Messages and questions go through Dialogs() (replaceable by
/// tests); all texts are UTF-8.
///
/// A merge runs on a thread of its own (the join driver with its checks,
/// questions and source deletion): BtJoinClick returns at once and the
/// window keeps serving its events. The driver's questions and messages,
/// the encoder's progress and the merge's result reach this window as calls
/// on the main thread (the main-thread call queue, a queued call at the
/// end). While it runs, the Join button stops the merge; closing the window
/// asks first and closes once the merge has ended.
class TXForm : public QWidget {
  public:
    TXForm();
    ~TXForm() override;

    /// Loads the media libraries from LibraryFolder() unless they are loaded,
    /// sets the caption and empties the state label. When loading fails it
    /// shows the loader's text, queues the window's close and returns false
    /// (caption and state label then stay as they are).
    bool FormCreate();
    /// True after FormCreate failed to load the libraries.
    bool LoadFailed() const { return FLoadFailed; }
    /// Where FormCreate loads the libraries from (GetLibraryFolder).
    std::function<std::string()> LibraryFolder = GetLibraryFolder;

    TWindowDialogs& Dialogs() { return *FDialogs; }
    void SetDialogs(std::unique_ptr<TWindowDialogs> dialogs) { FDialogs = std::move(dialogs); }

    // Handlers.
    void BtAddClick();
    void BtRemoveClick();
    void BtClearClick();
    void BtUpClick();
    void BtDownClick();
    void BtCheckDupClick();
    void BtAutoSortClick();
    void SbSetOutFileNameClick();
    void SbAutoSetClick();
    void CkFastJoinClick();
    void BtJoinClick();
    void FFEncoderProgress(TCustomEncoder* sender, PProgressInfo info);

    void EnableControls(bool enabled);
    void SetStateText(const std::string& text);
    void SetTitle(const std::string& name);
    void MoveItem(int index, int delta);
    std::vector<std::string> StringsToArray() const;
    /// Appends files to the end of the list, in order, as far as one merge
    /// takes them (FFEncoder.TaskCapacity in all); the rest are left out
    /// with the message "max input files 20 reached". Returns how many were
    /// added.
    size_t AppendFiles(const std::vector<std::string>& files);
    /// True from a Join click that starts a merge until the window is idle
    /// again after it.
    bool Merging() const { return FMerging; }

    TFFEncoder FFEncoder;

    QFrame *pnlNotice, *PnlMain, *Panel2, *pnlMenu;
    QLabel *Label1, *Label2, *Label3, *LblState;
    QLineEdit* EtF4vOutput;
    QToolButton *SbSetOutFileName, *SbAutoSet;
    QListWidget* LbF4vInputFiles;
    QPushButton *BtAdd, *BtRemove, *BtClear, *BtUp, *BtDown, *BtJoin, *BtCheckDup, *BtAutoSort;
    QCheckBox *CbAutoDel, *CkFastJoin;

    /// The client size the window is laid out for (pixels at 96 dpi).
    static constexpr int kClientWidth = 472, kClientHeight = 448;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    class TUser;
    void CreateControls();
    void CheckDuplicates();
    /// Asks before a fast merge of sources that are encoded differently;
    /// true to go on, then with settings.SmartJoin set when the sources that
    /// differ can be re-encoded to the first one's encoding.
    bool ConfirmFastMerge(const std::vector<std::string>& files, TJoinSettings& settings);
    std::vector<std::string> DroppedFiles(const QDropEvent* event) const;
    /// The merge thread's body: the driver, then MergeEnded queued.
    void RunMerge(std::vector<std::string> files, std::string output);
    /// Main thread, after the merge thread: the idle state and the outcome.
    void MergeEnded();

    std::unique_ptr<TWindowDialogs> FDialogs;
    std::unique_ptr<TUser> FUser;
    TAnchors *FMainAnchors = nullptr, *FBottomAnchors = nullptr;
    QTimer* FCallPump = nullptr;
    bool FLoadFailed = false;
    bool FMerging = false;
    bool FCloseAfterMerge = false;
    /// The running merge's settings, read by the merge thread.
    TJoinSettings FRunSettings;
    int FJoinTag = 0;
    std::thread FMergeThread;
    // --- shared with the merge thread
    /// A stop asked for (the Join button, closing the window); the merge
    /// thread stops the encoder when it sees it.
    std::atomic<bool> FStopAsked = false;
    /// The window is going: the driver's questions are answered No and its
    /// messages dropped.
    std::atomic<bool> FGoing = false;
    // --- written by the merge thread before MergeEnded is queued
    TJoinResult FResult = jrError;
    std::string FFailure;
    bool FSourcesDeleted = false;
    std::atomic<bool> FMergeThreadDone = false;
};

}  // namespace tw
