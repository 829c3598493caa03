// app/window/QtTranslation.cpp — Qt's own texts in the interface language.
#include "app/window/QtTranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "app/InterfaceLanguage.h"

namespace tw {

TQtTranslation::TQtTranslation() : TQtTranslation(InterfaceLanguage()) {}

TQtTranslation::TQtTranslation(const std::string& language) {
    // Qt's own texts are English.
    if (language == "en" || language.rfind("en_", 0) == 0) return;
    auto translator = std::make_unique<QTranslator>();
    FLoaded =
        translator->load(QLocale(QString::fromStdString(language)), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    if (FLoaded && QCoreApplication::installTranslator(translator.get()))
        FTranslator = std::move(translator);
}

TQtTranslation::~TQtTranslation() {
    if (FTranslator) QCoreApplication::removeTranslator(FTranslator.get());
}

}  // namespace tw
