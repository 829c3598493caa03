// app/InterfaceLanguage.cpp — the interface language from the environment.
#include "app/InterfaceLanguage.h"

#include <algorithm>
#include <cstdlib>

namespace tw {

namespace {

bool Set(const char* value) { return value && *value; }

// "C", "POSIX" and "C.UTF-8" name no language.
bool NamesNoLanguage(const std::string& locale) {
    return locale.empty() || locale == "C" || locale == "POSIX" || locale.rfind("C.", 0) == 0;
}

// gettext reads LANGUAGE unless the messages locale is exactly C (POSIX is
// the same locale); C.UTF-8 lets it.
bool IgnoresLanguageList(const std::string& locale) {
    return locale.empty() || locale == "C" || locale == "POSIX";
}

// The language of one locale name ("zh_TW.UTF-8@x" -> "zh_TW"), or "" when
// the program does not speak it.
std::string Spoken(const std::string& locale) {
    const std::string name = locale.substr(0, locale.find_first_of(".@"));
    const std::string language = name.substr(0, name.find('_'));
    if (language == "en") return "en";
    if (language != "zh") return {};
    const std::string region = name.size() > 3 ? name.substr(3) : "";
    return region == "TW" || region == "HK" || region == "MO" ? "zh_TW" : "zh_CN";
}

}  // namespace

std::string InterfaceLanguageFor(const char* language, const char* lcAll, const char* lcMessages,
                                 const char* lang) {
    const std::string locale = Set(lcAll)        ? lcAll
                               : Set(lcMessages) ? lcMessages
                               : Set(lang)       ? lang
                                                 : "";
    if (IgnoresLanguageList(locale)) return "zh_CN";
    // As in gettext, a LANGUAGE list replaces the locale's language.
    if (!Set(language) && NamesNoLanguage(locale)) return "zh_CN";
    const std::string list = Set(language) ? language : locale;
    for (size_t from = 0; from <= list.size();) {
        const size_t colon = std::min(list.find(':', from), list.size());
        if (const std::string s = Spoken(list.substr(from, colon - from)); !s.empty()) return s;
        from = colon + 1;
    }
    // A language the program does not speak: English, the language most
    // of its users read after their own.
    return "en";
}

std::string InterfaceLanguage() {
    return InterfaceLanguageFor(std::getenv("LANGUAGE"), std::getenv("LC_ALL"),
                                std::getenv("LC_MESSAGES"), std::getenv("LANG"));
}

}  // namespace tw
