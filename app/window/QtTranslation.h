// app/window/QtTranslation.h — Qt's own texts (file dialogs, standard
// buttons) in the interface language, so that they match the window's.
#pragma once

#include <memory>
#include <string>

class QTranslator;

namespace tw {

/// Installs Qt's translation of its own widgets (the "qtbase" catalogue from
/// Qt's translations folder, Debian's qt6-translations-l10n) for a language
/// of InterfaceLanguage(), and removes it again when destroyed. English needs
/// none. Main thread, with the application object alive throughout.
class TQtTranslation {
  public:
    /// For InterfaceLanguage() of this process.
    TQtTranslation();
    explicit TQtTranslation(const std::string& language);
    ~TQtTranslation();
    TQtTranslation(const TQtTranslation&) = delete;
    TQtTranslation& operator=(const TQtTranslation&) = delete;

    /// False when the language needs a catalogue that is not installed (Qt's
    /// widgets then stay English).
    bool Loaded() const { return FLoaded; }

  private:
    std::unique_ptr<QTranslator> FTranslator;
    bool FLoaded = true;
};

}  // namespace tw
