// transcoder/options/Parsers.cpp — value parsers of the engine's options.
#include "transcoder/options/Parsers.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "binding/Entries.h"
#include "transcoder/FFmpegException.h"

namespace tw {

namespace {

std::string Format(const char* fmt, auto... args) {
    char buf[1024];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

/// strtol with base 0 from *p, leaving *p after the number.
int ReadInt(const char*& p) {
    char* end = nullptr;
    long v = std::strtol(p, &end, 0);
    p = end;
    return int(v);
}

/// Skips one separator character, whatever it is.
void SkipOne(const char*& p) {
    if (*p) ++p;
}

/// The kind part of one side of a metadata map, read at p (a ',' followed by
/// the kind letter and, for 's', 'c' and 'p', its index).
void ReadMetaKind(const char*& p, TMetadataMapSide& side) {
    if (*p != ',') {
        side.Kind = 'g';
        return;
    }
    side.Kind = p[1];
    switch (side.Kind) {
        case 'g':
            // Move past ",g" so that the separator skip lands on the next part.
            p += 2;
            break;
        case 's':
        case 'c':
        case 'p':
            p += 2;
            side.Index = ReadInt(p);
            break;
        default:
            throw FFmpegException(Format("Invalid metadata type %c.", side.Kind));
    }
}

/// text without the spaces and tabs a number may carry around it.
std::string_view WithoutSpaces(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

}  // namespace

// --- texts

std::string Trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return std::string(s.substr(b, e - b));
}

bool IsBlank(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) > ' ') return false;
    return true;
}

std::string ToLineFeeds(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r') {
            out += '\n';
            if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
        } else {
            out += s[i];
        }
    }
    return out;
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// --- plain conversions

bool ToFlag(const std::string& text) { return text != "0"; }

bool TryParseInt64(std::string_view text, int64_t& v) {
    const std::string t(WithoutSpaces(text));
    if (t.empty()) return false;
    size_t i = 0;
    bool negative = false;
    if (t[i] == '+' || t[i] == '-') negative = t[i++] == '-';
    int base = 10;
    // "$" is the old run-time library's hexadecimal prefix; "0x" is read too.
    if (i < t.size() && t[i] == '$') {
        base = 16;
        ++i;
    } else if (t.size() - i > 2 && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= t.size() || !std::isxdigit(static_cast<unsigned char>(t[i]))) return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long u = std::strtoull(t.c_str() + i, &end, base);
    if (errno == ERANGE || *end != '\0') return false;
    if (negative) {
        if (u > uint64_t(INT64_MAX) + 1) return false;
        v = int64_t(0 - u);
    } else {
        if (u > uint64_t(INT64_MAX)) return false;
        v = int64_t(u);
    }
    return true;
}

bool TryParseInt(std::string_view text, int& v) {
    int64_t w = 0;
    if (!TryParseInt64(text, w) || w < INT_MIN || w > INT_MAX) return false;
    v = int(w);
    return true;
}

bool TryParseFloat(std::string_view text, double& v) {
    const std::string t(WithoutSpaces(text));
    if (t.empty() || t.find_first_not_of("+-.0123456789eE") != std::string::npos) return false;
    char* end = nullptr;
    errno = 0;
    const double d = std::strtod(t.c_str(), &end);
    if (*end != '\0' || errno == ERANGE || !std::isfinite(d)) return false;
    v = d;
    return true;
}

int64_t ToInt64(const std::string& text) {
    int64_t v = 0;
    if (!TryParseInt64(text, v))
        throw FFmpegException("'" + text + "' is not a valid integer value");
    return v;
}

int ToInt(const std::string& text) {
    int v = 0;
    if (!TryParseInt(text, v)) throw FFmpegException("'" + text + "' is not a valid integer value");
    return v;
}

double ToFloat(const std::string& text) {
    double v = 0;
    if (!TryParseFloat(text, v))
        throw FFmpegException("'" + text + "' is not a valid floating point value");
    return v;
}

// --- parsers of single options

int64_t ParseTimeValue(const std::string& option, const std::string& value, bool isDuration) {
    int64_t us = 0;
    if (lib().av_parse_time(&us, value.c_str(), isDuration ? 1 : 0) < 0 || us == INT64_MIN)
        throw FFmpegException(Format("Invalid %s specification for %s: %s",
                                     isDuration ? "duration" : "date", option.c_str(),
                                     value.c_str()));
    return us;
}

double ParseAspectRatioText(const std::string& text) {
    const size_t colon = text.find(':');
    if (colon != std::string::npos) {
        int w = 0, h = 0;
        if (!TryParseInt(std::string_view(text).substr(0, colon), w)) w = 0;
        if (!TryParseInt(std::string_view(text).substr(colon + 1), h)) h = 0;
        return h > 0 ? double(w) / double(h) : 0.0;
    }
    double v = 0;
    return TryParseFloat(text, v) ? v : 0.0;
}

uint32_t ParseCodecTagText(const std::string& text) {
    int64_t v = 0;
    if (TryParseInt64(text, v)) return uint32_t(uint64_t(v) & 0xFFFFFFFFu);
    if (text.size() != 4) throw FFmpegException("tag parameter must be 4 chars or int value");
    return uint32_t(uint8_t(text[0])) | uint32_t(uint8_t(text[1])) << 8 |
           uint32_t(uint8_t(text[2])) << 16 | uint32_t(uint8_t(text[3])) << 24;
}

TStreamMap ParseStreamMapText(const std::string& text) {
    TStreamMap m;
    const char* p = text.c_str();
    m.File = ReadInt(p);
    SkipOne(p);
    m.Stream = ReadInt(p);
    if (*p) {
        SkipOne(p);
        m.SyncFile = ReadInt(p);
        SkipOne(p);
        m.SyncStream = ReadInt(p);
    } else {
        m.SyncFile = m.File;
        m.SyncStream = m.Stream;
    }
    return m;
}

TMetadataMap ParseMetadataMapText(const std::string& text) {
    TMetadataMapSide out, in;
    const char* p = text.c_str();
    out.File = ReadInt(p);
    ReadMetaKind(p, out);
    SkipOne(p);
    in.File = ReadInt(p);
    ReadMetaKind(p, in);
    return {out, in};
}

std::pair<int, int> ParseChapterMapText(const std::string& text) {
    const char* p = text.c_str();
    const int out = ReadInt(p);
    SkipOne(p);
    const int in = ReadInt(p);
    return {out, in};
}

std::pair<int, double> ParseTsScaleText(const std::string& text) {
    const char* p = text.c_str();
    char* end = nullptr;
    const long index = std::strtol(p, &end, 0);
    p = end;
    SkipOne(p);
    const double scale = std::strtod(p, nullptr);
    if (index < 0 || index >= MaxStreams)
        throw FFmpegException(Format("stream index over MAX_STREAMS(%d)", MaxStreams));
    return {int(index), scale};
}

std::pair<int, int> ParseStreamIdText(const std::string& option, const std::string& value) {
    const size_t colon = value.find(':');
    int index = 0, id = 0;
    // A negative index would address no stream; it is refused like bad syntax.
    if (colon == std::string::npos || !TryParseInt(value.substr(0, colon), index) ||
        !TryParseInt(value.substr(colon + 1), id) || index < 0)
        throw FFmpegException(
            Format("Invalid value \"%s\" for option \"%s\", required syntax is \"index:value\"",
                   value.c_str(), option.c_str()));
    return {index, id};
}

std::array<uint16_t, 64> ParseMatrixText(const std::string& text) {
    std::array<uint16_t, 64> m{};
    const char* p = text.c_str();
    for (int i = 0; i < 64; ++i) {
        m[i] = uint16_t(std::atoi(p));
        if (i == 63) break;
        p = std::strchr(p, ',');
        if (!p)
            throw FFmpegException(
                Format("Syntax error in matrix \"%s\" at coeff %d", text.c_str(), i));
        ++p;
    }
    return m;
}

std::string BitstreamFilterNameOf(const std::string& value) {
    if (value.empty() || value[0] == '=') return {};
    const size_t eq = value.find('=');
    return eq == std::string::npos ? value : value.substr(0, eq);
}

std::vector<std::string> SplitHookArguments(const std::string& value) {
    const char* separators = value.find('|') != std::string::npos ? "|" : " \t";
    std::vector<std::string> args;
    size_t pos = 0;
    while (pos <= value.size()) {
        const size_t next = value.find_first_of(separators, pos);
        const std::string piece =
            value.substr(pos, next == std::string::npos ? std::string::npos : next - pos);
        if (!piece.empty()) args.push_back(piece);
        if (next == std::string::npos) break;
        pos = next + 1;
    }
    return args;
}

std::string VstatsFileNameFor(const std::string& folder, std::time_t now) {
    std::tm local{};
    localtime_r(&now, &local);
    char hhnnss[16];
    std::snprintf(hhnnss, sizeof hhnnss, "%02d%02d%02d", local.tm_hour, local.tm_min, local.tm_sec);
    return Format("%svstats_%s.log", folder.c_str(), hhnnss);
}

std::string ExecutableFolder() {
    // The running executable as the kernel names it for this process.
    std::string path(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (n <= 0) return {};
    path.resize(size_t(n));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::vector<std::string> PixelFormatListLines() {
    std::vector<std::string> lines;
    char buf[128];
    lines.push_back(Trim(lib().av_get_pix_fmt_string(buf, sizeof buf, AV_PIX_FMT_NONE)));
    for (const AVPixFmtDescriptor* d = lib().av_pix_fmt_desc_next(nullptr); d;
         d = lib().av_pix_fmt_desc_next(d)) {
        lines.push_back(
            Trim(lib().av_get_pix_fmt_string(buf, sizeof buf, lib().av_pix_fmt_desc_get_id(d))));
    }
    return lines;
}

std::vector<std::string> SampleFormatListLines() {
    std::vector<std::string> lines;
    char buf[128];
    for (int i = -1; i < AV_SAMPLE_FMT_NB; ++i)
        lines.push_back(Trim(lib().av_get_sample_fmt_string(buf, sizeof buf, AVSampleFormat(i))));
    return lines;
}

}  // namespace tw
