// app/window/WindowDialogs.cpp — the window's dialogs.
#include "app/window/WindowDialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QString>
#include <QStringList>

#include "app/Messages.h"
#include "app/window/PublisherServices.h"

namespace tw {

const std::vector<std::string>& VideoExtensions() {
    // The open dialog's classic list, then what cameras, phones, discs and
    // the web write.
    static const std::vector<std::string> extensions = {
        "3GP",    "ASF", "AVI",  "AVM", "AVS",  "DAT",  "FLV",  "MKV", "MOV", "MP4",
        "MPEG",   "MPG", "NSV",  "OGM", "RM",   "RMVB", "TP",   "TS",  "VOB", "WMV",
        "F4V",    "MTS", "M2TS", "M2T", "3G2",  "M4V",  "WEBM", "OGV", "MXF", "DIVX",
        "XVID",   "QT",  "DV",   "MPE", "M1V",  "M2V",  "MOD",  "TOD", "VRO", "WTV",
        "DVR-MS", "NUT", "Y4M",  "IVF", "H264", "264",  "HEVC", "265"};
    return extensions;
}

namespace {

QString Shown(const std::string& text) {
    return QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

}  // namespace

std::string AnyCasePattern(const std::string& ext) {
    // Linux names are case-sensitive: every letter gets both cases.
    std::string p = "*.";
    for (char c : ext) {
        const char lower = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
        const char upper = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
        if (lower == upper)
            p += c;
        else
            p += std::string("[") + lower + upper + "]";
    }
    return p;
}

void TWindowDialogs::Tell(const std::string& text, TNoticeKind kind) {
    const QMessageBox::Icon icon = kind == nkInformation ? QMessageBox::Information
                                   : kind == nkWarning   ? QMessageBox::Warning
                                                         : QMessageBox::Critical;
    QMessageBox box(icon, QString::fromStdString(ApplicationTitle()), Shown(text), QMessageBox::Ok,
                    FOwner);
    box.setTextFormat(Qt::PlainText);  // file names may hold '<'
    box.exec();
}

bool TWindowDialogs::AskYesNo(const std::string& text) {
    QMessageBox box(QMessageBox::Warning, QString(), Shown(text),
                    QMessageBox::Yes | QMessageBox::No, FOwner);
    box.setTextFormat(Qt::PlainText);
    // Every question risks something (an old output, a clean merge, a
    // running merge): an Enter pressed in passing must not say Yes.
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

std::vector<std::string> TWindowDialogs::OpenFiles() {
    QStringList patterns;
    for (const std::string& ext : VideoExtensions())
        patterns << QString::fromStdString(AnyCasePattern(ext));
    QFileDialog dialog(FOwner);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Any other file the libraries read is one choice away.
    dialog.setNameFilters({QString::fromUtf8(Tr("全部视频文件")) + " (" + patterns.join(' ') + ")",
                           QString::fromUtf8(Tr("所有文件")) + " (*)"});
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    std::vector<std::string> files;
    if (dialog.exec() != QDialog::Accepted) return files;
    for (const QString& f : dialog.selectedFiles()) files.push_back(f.toStdString());
    return files;
}

std::string TWindowDialogs::SaveFile() {
    QFileDialog dialog(FOwner);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("f4v"));
    dialog.setNameFilters({QString::fromUtf8(Tr("F4v视频文件")) + " (*.f4v)",
                           QString::fromUtf8(Tr("所有文件")) + " (*)"});
    // The Join button asks before an existing file is replaced.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().front().toStdString();
}

}  // namespace tw
