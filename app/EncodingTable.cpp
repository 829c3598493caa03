// app/EncodingTable.cpp — the encoding table's values, widths and layout.
#include "app/EncodingTable.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "app/Messages.h"
#include "probe/MediaNames.h"

namespace tw {

namespace {

constexpr int kGap = 2;  // columns between two columns of the table
constexpr size_t kRotationColumn = 4;

// Decodes one UTF-8 character at text[at]; advances at. A broken sequence
// yields its first byte alone (as U+FFFD's stand-in, width one).
char32_t NextChar(const std::string& text, size_t& at, bool& broken) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    const int extra = lead < 0x80             ? 0
                      : (lead & 0xe0) == 0xc0 ? 1
                      : (lead & 0xf0) == 0xe0 ? 2
                      : (lead & 0xf8) == 0xf0 ? 3
                                              : -1;
    broken = extra < 0;
    char32_t c = extra <= 0 ? lead : lead & (0x7f >> (extra + 1));
    for (int k = 1; k <= extra && !broken; ++k) {
        if (at + k >= text.size() || (byte(at + k) & 0xc0) != 0x80)
            broken = true;
        else
            c = (c << 6) | (byte(at + k) & 0x3f);
    }
    if (broken) {
        ++at;
        return 0xfffd;
    }
    at += static_cast<size_t>(extra) + 1;
    return c;
}

int CharWidth(char32_t c) {
    if (c == 0) return 0;
    // Combining marks and zero-width characters.
    if ((c >= 0x0300 && c <= 0x036f) || (c >= 0x1ab0 && c <= 0x1aff) ||
        (c >= 0x1dc0 && c <= 0x1dff) || (c >= 0x200b && c <= 0x200f) ||
        (c >= 0x20d0 && c <= 0x20ff) || (c >= 0xfe00 && c <= 0xfe0f) ||
        (c >= 0xfe20 && c <= 0xfe2f))
        return 0;
    // East Asian wide and full-width characters.
    if ((c >= 0x1100 && c <= 0x115f) || (c >= 0x2e80 && c <= 0x303e) ||
        (c >= 0x3041 && c <= 0x33ff) || (c >= 0x3400 && c <= 0x4dbf) ||
        (c >= 0x4e00 && c <= 0x9fff) || (c >= 0xa000 && c <= 0xa4cf) ||
        (c >= 0xac00 && c <= 0xd7a3) || (c >= 0xf900 && c <= 0xfaff) ||
        (c >= 0xfe30 && c <= 0xfe4f) || (c >= 0xff00 && c <= 0xff60) ||
        (c >= 0xffe0 && c <= 0xffe6) || (c >= 0x1f300 && c <= 0x1f64f) ||
        (c >= 0x1f900 && c <= 0x1f9ff) || (c >= 0x20000 && c <= 0x3fffd))
        return 2;
    return 1;
}

// The characters of text, each with its bytes and its width.
struct TChar {
    std::string Bytes;
    int Width;
};

std::vector<TChar> Chars(const std::string& text) {
    std::vector<TChar> chars;
    for (size_t at = 0; at < text.size();) {
        const size_t begin = at;
        bool broken = false;
        const char32_t c = NextChar(text, at, broken);
        // A broken byte is shown as the replacement character, never cut
        // into the bytes that follow.
        chars.push_back(broken ? TChar{"\xef\xbf\xbd", 1}
                               : TChar{text.substr(begin, at - begin), CharWidth(c)});
    }
    return chars;
}

// text cut at its end, at a character boundary, to at most width columns.
std::string CutToWidth(const std::string& text, int width) {
    if (DisplayWidth(text) <= width) return text;
    std::string head;
    int used = 0;
    for (const TChar& c : Chars(text)) {
        if (used + c.Width > width - 3) break;
        used += c.Width;
        head += c.Bytes;
    }
    return head + "...";
}

std::string Digest(const std::string& content) {
    if (content.empty()) return "-";
    uint32_t h = 2166136261u;
    for (unsigned char c : content) h = (h ^ c) * 16777619u;
    char text[16];
    std::snprintf(text, sizeof text, "%08x", h);
    return text;
}

std::string ProfileText(AVCodecID codec, int profile) {
    if (profile < 0) return "-";
    const char* name = ProfileName(codec, profile);
    return name ? name : std::to_string(profile);
}

std::string Rational(AVRational r, const char* separator) {
    if (r.num <= 0 || r.den <= 0) return "-";
    return std::to_string(r.num) + separator + std::to_string(r.den);
}

std::string Pad(const std::string& text, int width) {
    return text + std::string(std::max(0, width - DisplayWidth(text)), ' ');
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash + 1 == path.size() ? path : path.substr(slash + 1);
}

}  // namespace

int DisplayWidth(const std::string& text) {
    int width = 0;
    for (const TChar& c : Chars(text)) width += c.Width;
    return width;
}

std::string FitToWidth(const std::string& text, int width) {
    const std::vector<TChar> chars = Chars(text);
    int total = 0;
    for (const TChar& c : chars) total += c.Width;
    if (total <= width) {
        std::string whole;
        for (const TChar& c : chars) whole += c.Bytes;
        return whole;
    }
    if (width <= 3) return std::string(std::max(0, width), '.');
    // A third of the room for the tail, which carries the extension.
    const int room = width - 3;
    int tailRoom = room / 3, headRoom = room - tailRoom;
    std::string head, tail;
    size_t i = 0;
    for (int used = 0; i < chars.size() && used + chars[i].Width <= headRoom; ++i) {
        used += chars[i].Width;
        head += chars[i].Bytes;
    }
    // What the head left unused (a wide character that did not fit) goes to the tail.
    tailRoom = room - DisplayWidth(head);
    size_t j = chars.size();
    for (int used = 0; j > i && used + chars[j - 1].Width <= tailRoom; --j) {
        used += chars[j - 1].Width;
        tail = chars[j - 1].Bytes + tail;
    }
    return head + "..." + tail;
}

std::vector<std::string> EncodingHeads() {
    static const char* const kHeads[] = {
        NoTr("视频"),     NoTr("档次"), NoTr("尺寸"),    NoTr("像素比"), NoTr("旋转"),
        NoTr("像素格式"), NoTr("帧率"), NoTr("参数集"),  NoTr("音频"),   NoTr("音频档次"),
        NoTr("采样率"),   NoTr("声道"), NoTr("音频配置")};
    std::vector<std::string> heads;
    for (const char* head : kHeads) heads.push_back(Tr(head));
    return heads;
}

std::vector<std::string> EncodingValues(const TSourceFacts& f) {
    std::vector<std::string> v;
    if (f.HasVideo) {
        const char* pix = PixelFormatName(f.PixFmt);
        char fps[32] = "-";
        if (f.FrameRate.num > 0 && f.FrameRate.den > 0)
            std::snprintf(fps, sizeof fps, "%.5g", double(f.FrameRate.num) / f.FrameRate.den);
        v = {CodecName(f.VideoCodec),
             ProfileText(f.VideoCodec, f.VideoProfile),
             f.Width > 0 && f.Height > 0 ? std::to_string(f.Width) + "x" + std::to_string(f.Height)
                                         : "-",
             Rational(f.SampleAspect, ":"),
             std::to_string(f.Rotation),
             pix ? pix : "-",
             fps,
             Digest(f.VideoConfig)};
    } else {
        v.assign(8, "-");
    }
    if (f.HasAudio) {
        v.insert(v.end(),
                 {CodecName(f.AudioCodec), ProfileText(f.AudioCodec, f.AudioProfile),
                  f.SampleRate > 0 ? std::to_string(f.SampleRate) : "-",
                  f.Channels > 0 ? std::to_string(f.Channels) : "-", Digest(f.AudioConfig)});
    } else {
        v.insert(v.end(), 5, "-");
    }
    return v;
}

std::string EncodingTableText(const std::vector<TEncodingSource>& sources, int width, bool& same,
                              bool configsInWords) {
    width = std::max(width, 40);
    const std::vector<std::string> heads = EncodingHeads();
    std::vector<std::vector<std::string>> values(sources.size());
    const TEncodingSource* first = nullptr;
    same = true;
    for (size_t r = 0; r < sources.size(); ++r) {
        if (!sources[r].Error.empty()) {
            same = false;
            continue;
        }
        values[r] = EncodingValues(sources[r].Facts);
        if (!first) first = &sources[r];
    }
    const std::vector<std::string>* reference =
        first ? &values[static_cast<size_t>(first - sources.data())] : nullptr;
    // Digests compare; in words they read: the first row's, and the others
    // the same or not.
    const auto inWords = [&](size_t c) {
        return configsInWords && (c == kParamsColumn || c == kAudioConfigColumn);
    };
    const auto shown = [&](size_t r, size_t c) -> std::string {
        if (!inWords(c) || values[r][c] == "-") return values[r][c];
        if (&values[r] == reference) return Tr("第一个");
        return Tr(values[r][c] == (*reference)[c] ? NoTr("相同") : NoTr("不同"));
    };

    // Columns whose value is the same in every readable row.
    std::vector<size_t> shared, differing;
    for (size_t c = 0; c < heads.size(); ++c) {
        bool all = true;
        for (size_t r = 0; r < sources.size() && reference; ++r)
            if (sources[r].Error.empty() && values[r][c] != (*reference)[c]) all = false;
        // Upright pictures in every file are nothing to tell.
        if (all && reference && c == kRotationColumn && (*reference)[c] == "0") continue;
        (all ? shared : differing).push_back(c);
    }
    if (!differing.empty()) same = false;

    std::string text;
    if (reference && !shared.empty()) {
        std::string line = Tr("所有文件相同：");
        for (size_t c : shared) {
            const std::string item =
                " " + heads[c] + " " + (inWords(c) ? std::string(Tr("相同")) : (*reference)[c]);
            if (DisplayWidth(line) + DisplayWidth(item) + 1 > width) {
                text += line + "\n";
                line = " ";
            }
            line += item + (c == shared.back() ? "" : ",");
        }
        text += line + "\n";
    }

    std::vector<int> colWidth(heads.size(), 0);
    for (size_t c : differing) {
        colWidth[c] = DisplayWidth(heads[c]);
        for (size_t r = 0; r < sources.size(); ++r)
            if (sources[r].Error.empty())
                colWidth[c] = std::max(colWidth[c], DisplayWidth(shown(r, c)) + 1);
    }
    const std::string fileHead = Tr("文件");
    int nameWidth = DisplayWidth(fileHead);
    for (const TEncodingSource& s : sources)
        nameWidth = std::max(nameWidth, DisplayWidth(BaseName(s.Facts.File)));
    // The names get at most half the screen when values need the rest.
    int valuesWidth = 0;
    for (size_t c : differing) valuesWidth += kGap + colWidth[c];
    for (const TEncodingSource& s : sources)
        if (!s.Error.empty()) valuesWidth = std::max(valuesWidth, kGap + DisplayWidth(s.Error));
    // Long names give way to the values: when the values need several blocks
    // anyway the names keep a quarter of the screen.
    if (nameWidth + valuesWidth > width)
        nameWidth = std::min(nameWidth, std::max(width / 4, width - valuesWidth));
    nameWidth = std::min(nameWidth, width - 12);

    // The differing columns in blocks that each fit beside the names.
    std::vector<std::vector<size_t>> blocks;
    for (size_t c : differing) {
        int used = nameWidth;
        for (size_t k : blocks.empty() ? std::vector<size_t>{} : blocks.back())
            used += kGap + colWidth[k];
        if (blocks.empty() || used + kGap + colWidth[c] > width) blocks.emplace_back();
        blocks.back().push_back(c);
    }
    if (blocks.empty()) blocks.emplace_back();

    for (size_t b = 0; b < blocks.size(); ++b) {
        if (b > 0) text += "\n";
        std::string line = Pad(fileHead, nameWidth);
        for (size_t c : blocks[b]) line += std::string(kGap, ' ') + Pad(heads[c], colWidth[c]);
        while (!line.empty() && line.back() == ' ') line.pop_back();
        text += line + "\n";
        for (size_t r = 0; r < sources.size(); ++r) {
            line = Pad(FitToWidth(BaseName(sources[r].Facts.File), nameWidth), nameWidth);
            if (!sources[r].Error.empty()) {
                // Unreadable: the error stands where the values would be.
                if (b == 0)
                    line += std::string(kGap, ' ') +
                            CutToWidth(sources[r].Error, width - nameWidth - kGap);
            } else {
                for (size_t c : blocks[b]) {
                    const bool differs = values[r][c] != (*reference)[c];
                    line += std::string(kGap, ' ') +
                            Pad(shown(r, c) + (differs ? "*" : ""), colWidth[c]);
                }
            }
            while (!line.empty() && line.back() == ' ') line.pop_back();
            text += line + "\n";
        }
    }
    return text;
}

}  // namespace tw
