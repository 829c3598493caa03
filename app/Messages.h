// app/Messages.h — the program's texts in the user's language: one gettext
// text domain ("tarnwick") for both programs and the join driver. Every
// gettext call of the program is in Messages.cpp.
//
// A text is looked up by the Chinese text the program shows under a Chinese
// locale, C, POSIX or no locale at all: those need no catalogue. English
// comes from the catalogue po/en.po, compiled to
// <locale folder>/en/LC_MESSAGES/tarnwick.mo. The locale folder is, in this
// order: TARNWICK_LOCALEDIR when set (tests may point it anywhere);
// share/locale beside the executable's folder (an installed program, under
// any prefix); locale in the folder above the executable's (the build tree:
// build/app/tarnwick-join and build/tests/* find build/locale); the folder
// compiled in from the install prefix.
#pragma once

#include <initializer_list>
#include <string>

namespace tw {

/// Chooses the language of the texts from the environment
/// (InterfaceLanguage(): LANGUAGE, LC_ALL, LC_MESSAGES, LANG as gettext
/// reads them; languages the program does not speak give English) and sets
/// the messages locale up for it, also when the locale the environment names
/// is not generated on the machine. Returns the language ("en", "zh_CN" or
/// "zh_TW"). Main thread, at start, before other threads look texts up;
/// after QApplication is made in the window (which sets the locale itself).
std::string SetUpMessages();

/// Switches the texts to language ("en" or a Chinese one; anything else is
/// English) without reading the environment. Main thread, no other thread
/// looking texts up. For tests, and for SetUpMessages.
void SetMessagesLanguage(const std::string& language);

/// The language the texts are shown in, "en" or "zh_CN" (also for
/// zh_TW, whose texts are the same): "zh_CN" until set up.
std::string MessagesLanguage();

/// True when the texts are Chinese (no catalogue is read then).
bool ChineseMessages();

/// The text in the language set up: msgid is the Chinese text; its English
/// translation when the language is English and the catalogue has one, else
/// msgid itself. The result lives as long as the program (gettext's memory
/// or msgid). Any thread once set up.
const char* Tr(const char* msgid);

/// Tr(msgid) with "{1}", "{2}", ... replaced by the arguments in order of
/// their numbers (a translation may place them differently).
std::string TrF(const char* msgid, std::initializer_list<std::string> args);

/// Marks a text for the catalogue where it is defined; looked up later
/// with Tr.
constexpr const char* NoTr(const char* msgid) { return msgid; }

/// The folder the catalogues are read from (see the top of this file).
std::string CatalogueFolder();

}  // namespace tw
