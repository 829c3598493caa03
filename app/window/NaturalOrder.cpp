// app/window/NaturalOrder.cpp — natural order of file names.
#include "app/window/NaturalOrder.h"

namespace tw {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

std::string FileNamePart(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int NaturalCompare(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            // Leading zeros carry no value; then the longer run is larger,
            // and runs of one length compare digit by digit.
            while (i < a.size() && a[i] == '0') ++i;
            while (j < b.size() && b[j] == '0') ++j;
            size_t ei = i, ej = j;
            while (ei < a.size() && IsDigit(a[ei])) ++ei;
            while (ej < b.size() && IsDigit(b[ej])) ++ej;
            if (ei - i != ej - j) return ei - i < ej - j ? -1 : 1;
            for (; i < ei; ++i, ++j)
                if (a[i] != b[j]) return a[i] < b[j] ? -1 : 1;
            continue;
        }
        // Bytes as unsigned: UTF-8 sequences then keep their code point order.
        const unsigned char ca = static_cast<unsigned char>(Lower(a[i]));
        const unsigned char cb = static_cast<unsigned char>(Lower(b[j]));
        if (ca != cb) return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

bool NaturalLess(const std::string& a, const std::string& b) {
    if (const int c = NaturalCompare(FileNamePart(a), FileNamePart(b))) return c < 0;
    if (const int c = NaturalCompare(a, b)) return c < 0;
    return a < b;
}

}  // namespace tw
