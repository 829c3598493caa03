// app/window/PublisherServices.cpp — the publisher services' stand-in.
#include "app/window/PublisherServices.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QToolButton>

#include "app/Messages.h"
#include "encoder/FFEncode.h"

namespace tw {

namespace {

std::string& Title() {
    static std::string title = "Tarnwick";
    return title;
}

std::string Version(const TLibraryVersion& library) {
    if (library.Version == 0) return library.Name + " -";
    const unsigned v = library.Version;
    return library.Name + " " + std::to_string(v >> 16) + "." + std::to_string((v >> 8) & 0xff) +
           "." + std::to_string(v & 0xff);
}

}  // namespace

bool InitPublisherServices(const std::string& /*appKey*/, const std::string& title) {
    Title() = title;
    QCoreApplication::setApplicationName(QString::fromStdString(title));
    return false;
}

const std::string& ApplicationTitle() { return Title(); }

std::string AboutText() {
    std::string text = Title() + " " TARNWICK_VERSION "\n";
    for (const TLibraryVersion& library : TCustomEncoder::LibraryVersions())
        text += Version(library) + "\n";
    const std::string folder = TCustomEncoder::LibraryFolder();
    text += TrF("库文件夹: {1}", {folder.empty() ? std::string(Tr("系统")) : folder});
    return text;
}

void FillPublisherPanels(QWidget* notice, QWidget* menu) {
    auto* banner =
        new QLabel(QString::fromUtf8(Tr("<b>Tarnwick</b>　把多个视频文件合并成一个 FLV 文件。"
                                        "提示：可以把文件直接拖到列表里。")),
                   notice);
    banner->setObjectName(QStringLiteral("lblNotice"));
    auto* noticeLayout = new QHBoxLayout(notice);
    noticeLayout->setContentsMargins(8, 0, 8, 0);
    noticeLayout->addWidget(banner);

    auto* button = new QToolButton(menu);
    button->setObjectName(QStringLiteral("btnMenu"));
    button->setText(QString::fromUtf8(Tr("菜单")));
    button->setPopupMode(QToolButton::InstantPopup);
    button->setAutoRaise(true);
    auto* popup = new QMenu(button);
    QAction* about = popup->addAction(QString::fromUtf8(Tr("关于")));
    about->setObjectName(QStringLiteral("actAbout"));
    QObject::connect(about, &QAction::triggered, menu, [menu] {
        QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(Title()),
                        QString::fromStdString(AboutText()), QMessageBox::Ok, menu->window());
        box.setTextFormat(Qt::PlainText);
        box.exec();
    });
    button->setMenu(popup);
    auto* menuLayout = new QHBoxLayout(menu);
    menuLayout->setContentsMargins(0, 0, 0, 0);
    menuLayout->addWidget(button);
}

}  // namespace tw
