// app/cli/JsonText.cpp — JSON strings and numbers.
#include "app/cli/JsonText.h"

#include <cmath>
#include <cstdio>

namespace tw::cli {

namespace {

// Length of the well-formed UTF-8 sequence at text[at], 0 when it is not one
// (overlong forms, surrogates and values past U+10FFFF included).
size_t Utf8Length(const std::string& text, size_t at) {
    const auto b = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = b(at);
    size_t n = 0;
    uint32_t c = 0;
    if (lead < 0x80) return 1;
    if (lead >= 0xc2 && lead <= 0xdf)
        n = 2, c = lead & 0x1f;
    else if (lead >= 0xe0 && lead <= 0xef)
        n = 3, c = lead & 0x0f;
    else if (lead >= 0xf0 && lead <= 0xf4)
        n = 4, c = lead & 0x07;
    else
        return 0;
    if (at + n > text.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((b(at + k) & 0xc0) != 0x80) return 0;
        c = (c << 6) | (b(at + k) & 0x3f);
    }
    if ((n == 3 && (c < 0x800 || (c >= 0xd800 && c <= 0xdfff))) ||
        (n == 4 && (c < 0x10000 || c > 0x10ffff)))
        return 0;
    return n;
}

}  // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (size_t at = 0; at < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        const size_t n = Utf8Length(text, at);
        if (n == 0) {
            out += "\xef\xbf\xbd";
            ++at;
            continue;
        }
        if (n > 1) {
            out.append(text, at, n);
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7f) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
        at += n;
    }
    return out + "\"";
}

std::string JsonNumber(double value, int decimals) {
    if (!std::isfinite(value)) return "null";
    // What rounds to zero is written without a sign ("-0.0" reads oddly).
    if (std::fabs(value) < 0.5 * std::pow(10.0, -decimals)) value = 0;
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string JsonSeconds(int64_t us) { return us < 0 ? "null" : JsonNumber(us / 1e6, 3); }

}  // namespace tw::cli
