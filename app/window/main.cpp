// app/window/main.cpp — tarnwick: the merge window.
#include <QApplication>
#include <QFileInfo>
#include <QFont>
#include <QFrame>
#include <QStringList>
#include <string>
#include <vector>

#include "app/Messages.h"
#include "app/window/PreviewWindow.h"
#include "app/window/PublisherServices.h"
#include "app/window/QtTranslation.h"
#include "app/window/XForm.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // After the application object, which sets the locale from the
    // environment; the window's own texts then follow the same language.
    tw::SetUpMessages();
    // Qt's own dialogs and buttons in the language of the window's texts.
    const tw::TQtTranslation qtTexts;
    if (tw::InitPublisherServices("qelmo", "Tarnwick")) return 0;
    // The window's 8-pt font for the message dialogs too.
    QFont font = QApplication::font();
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("WenQuanYi Micro Hei"),
                      QStringLiteral("Noto Sans CJK SC"), QStringLiteral("DejaVu Sans")});
    font.setPointSize(8);
    QApplication::setFont(font);
    tw::InstallWindowPreviewer();

    tw::TXForm form;
    const bool loaded = form.FormCreate();
    if (loaded) {
        tw::FillPublisherPanels(form.pnlNotice, form.pnlMenu);
        // Files named on the command line (a file manager's "open with")
        // start the list; anything else there is ignored.
        std::vector<std::string> files;
        const QStringList args = QApplication::arguments();
        for (qsizetype i = 1; i < args.size(); ++i)
            if (QFileInfo(args[i]).isFile())
                files.push_back(QFileInfo(args[i]).absoluteFilePath().toStdString());
        form.AppendFiles(files);
    }
    form.show();
    const int status = app.exec();
    return form.LoadFailed() ? 1 : status;
}
