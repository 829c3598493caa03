// app/window/WindowDialogs.h — the dialogs of the merge window: the open and
// save dialogs, the message dialog and the yes/no question. The window asks
// and tells the user only through this class, so tests can replace it.
#pragma once

#include <string>
#include <vector>

#include "app/JoinDriver.h"

class QWidget;

namespace tw {

/// The video file extensions the open dialog offers, upper case: the
/// containers the media libraries read under their usual names.
const std::vector<std::string>& VideoExtensions();

/// Real dialogs (Qt), modal to the owner window. Main thread. Texts are
/// UTF-8; CR LF line breaks show as line breaks.
class TWindowDialogs {
  public:
    explicit TWindowDialogs(QWidget* owner) : FOwner(owner) {}
    virtual ~TWindowDialogs() = default;
    /// The message dialog: the text, an OK button, the application title as
    /// caption, and the icon of its kind (information, warning, critical).
    virtual void Tell(const std::string& text, TNoticeKind kind);
    /// The question box: Yes and No, a warning icon, No the default (Enter)
    /// and the answer to Escape. True only for Yes.
    virtual bool AskYesNo(const std::string& text);
    /// The open dialog: existing files only, several at once, the video
    /// filter (extensions in any letter case) and an all-files filter. The
    /// chosen files in the dialog's order; empty when cancelled.
    virtual std::vector<std::string> OpenFiles();
    /// The save dialog: default extension "f4v", the F4V and all-files
    /// filters, no overwrite prompt. The chosen name; empty when cancelled.
    virtual std::string SaveFile();

  protected:
    QWidget* FOwner;
};

/// A name filter matching ext in any letter case ("*.[fF][lL][vV]").
std::string AnyCasePattern(const std::string& ext);

}  // namespace tw
