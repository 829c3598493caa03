// app/window/WindowDialogs.cpp — the window's dialogs.
#include "app/window/WindowDialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QString>
#include <QStringList>

#include "app/window/PublisherServices.h"

namespace tw {

const char* const kVideoExtensions[21] = {"3GP", "ASF",  "AVI", "AVM",  "AVS", "DAT", "FLV",
                                          "MKV", "MOV",  "MP4", "MPEG", "MPG", "NSV", "OGM",
                                          "RM",  "RMVB", "TP",  "TS",   "VOB", "WMV", "F4V"};

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

void TWindowDialogs::Tell(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(ApplicationTitle()), Shown(text),
                    QMessageBox::Ok, FOwner);
    box.setTextFormat(Qt::PlainText);  // file names may hold '<'
    box.exec();
}

bool TWindowDialogs::AskYesNo(const std::string& text) {
    QMessageBox box(QMessageBox::Question, QString(), Shown(text),
                    QMessageBox::Yes | QMessageBox::No, FOwner);
    box.setTextFormat(Qt::PlainText);
    return box.exec() == QMessageBox::Yes;
}

std::vector<std::string> TWindowDialogs::OpenFiles() {
    QStringList patterns;
    for (const char* ext : kVideoExtensions)
        patterns << QString::fromStdString(AnyCasePattern(ext));
    QFileDialog dialog(FOwner);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilter(QStringLiteral("全部视频文件 (") + patterns.join(' ') + ")");
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
    dialog.setNameFilters({QStringLiteral("F4v视频文件 (*.f4v)"), QStringLiteral("所有文件 (*)")});
    // The Join button asks before an existing file is replaced.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().front().toStdString();
}

}  // namespace tw
