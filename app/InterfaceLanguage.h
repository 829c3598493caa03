// app/InterfaceLanguage.h — the language the user interface speaks, chosen
// from the environment the way gettext chooses a message catalogue.
#pragma once

#include <string>

namespace tw {

/// The interface language for the given environment values (null or empty
/// = unset): the locale is LC_ALL, else LC_MESSAGES, else LANG; unless that
/// locale is C or POSIX (or unset), LANGUAGE, a colon-separated list, comes
/// before it (also before C.UTF-8, as in gettext). The first entry that names
/// a language the program speaks wins (a LANGUAGE list stands instead of the
/// locale, as in gettext): "zh_CN" (Chinese; "zh_TW" for zh_TW, zh_HK and
/// zh_MO) or "en". No locale, C, POSIX and C.<codeset> without LANGUAGE give
/// the program's own language, "zh_CN"; a language it does not speak gives
/// "en". Whether the locale is installed on the machine does not matter.
std::string InterfaceLanguageFor(const char* language, const char* lcAll, const char* lcMessages,
                                 const char* lang);

/// InterfaceLanguageFor with this process's LANGUAGE, LC_ALL, LC_MESSAGES
/// and LANG.
std::string InterfaceLanguage();

}  // namespace tw
