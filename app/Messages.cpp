// app/Messages.cpp — the message catalogue: language set-up and look-up.
#include "app/Messages.h"

#include <libintl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>

#include "app/InterfaceLanguage.h"

namespace tw {

namespace {

constexpr const char* kDomain = "tarnwick";

std::atomic<bool> gEnglish{false};

bool HasCatalogue(const std::string& folder) {
    struct stat st;
    return ::stat((folder + "/en/LC_MESSAGES/tarnwick.mo").c_str(), &st) == 0;
}

bool NoLanguage(const char* locale) {
    return !locale || std::strcmp(locale, "C") == 0 || std::strcmp(locale, "POSIX") == 0;
}

}  // namespace

std::string CatalogueFolder() {
    if (const char* dir = std::getenv("TARNWICK_LOCALEDIR"); dir && *dir) return dir;
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n > 0) {
        const std::string exe(path, static_cast<size_t>(n));
        const std::string up = exe.substr(0, exe.rfind('/')) + "/..";
        for (const std::string& folder : {up + "/share/locale", up + "/locale"})
            if (HasCatalogue(folder)) return folder;
    }
    return TW_LOCALEDIR;
}

void SetMessagesLanguage(const std::string& language) {
    const bool english = language.rfind("zh", 0) != 0;
    if (english) {
        // gettext reads no catalogue while the messages locale is "C", and a
        // locale the machine has not generated leaves it there: the C
        // library's own UTF-8 locale stands in, and LANGUAGE names the
        // catalogue (this process only).
        if (NoLanguage(std::setlocale(LC_MESSAGES, nullptr)) &&
            NoLanguage(std::setlocale(LC_MESSAGES, "")))
            std::setlocale(LC_MESSAGES, "C.UTF-8");
        ::setenv("LANGUAGE", "en", 1);
        ::bindtextdomain(kDomain, CatalogueFolder().c_str());
        // The catalogue is UTF-8, whatever the character set of LC_CTYPE.
        ::bind_textdomain_codeset(kDomain, "UTF-8");
        // Forgets the translations gettext has cached for another language.
        ::textdomain(::textdomain(nullptr));
    }
    gEnglish = english;
}

std::string SetUpMessages() {
    const std::string language = InterfaceLanguage();
    SetMessagesLanguage(language);
    return language;
}

std::string MessagesLanguage() { return gEnglish ? "en" : "zh_CN"; }

bool ChineseMessages() { return !gEnglish; }

const char* Tr(const char* msgid) {
    if (!gEnglish || !msgid || !*msgid) return msgid;
    return ::dgettext(kDomain, msgid);
}

std::string TrF(const char* msgid, std::initializer_list<std::string> args) {
    const std::string format = Tr(msgid);
    std::string text;
    for (size_t at = 0; at < format.size();) {
        if (format[at] == '{') {
            const size_t close = format.find('}', at);
            if (close != std::string::npos && close > at + 1 && close - at <= 3) {
                const std::string number = format.substr(at + 1, close - at - 1);
                if (number.find_first_not_of("0123456789") == std::string::npos) {
                    const size_t k = std::stoul(number);
                    if (k >= 1 && k <= args.size()) {
                        text += *(args.begin() + (k - 1));
                        at = close + 1;
                        continue;
                    }
                }
            }
        }
        text += format[at++];
    }
    return text;
}

}  // namespace tw
