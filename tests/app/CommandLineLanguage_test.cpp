// tests/app/CommandLineLanguage_test.cpp — tarnwick-join speaks one language
// per run: Chinese under a Chinese locale, C, POSIX or none, English under
// an English one (whether that locale is generated or not), as gettext
// reads LANGUAGE, LC_ALL, LC_MESSAGES and LANG.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/JoinProgram.h"
#include "tests/support/Media.h"
#include "tests/support/TempDir.h"

namespace tw {
namespace {

using Locale = std::vector<std::pair<std::string, std::string>>;

// Runs tarnwick-join under locale; standard output and error together.
int JoinUnder(const std::vector<std::string>& args, const Locale& locale, std::string& text,
              const std::string& folder) {
    return test::RunJoin(args, &text, {.folder = folder, .fileLimit = 0, .locale = locale});
}

bool HasCjk(const std::string& text) {
    // UTF-8 lead bytes E3..E9 start U+3000..U+9FFF (CJK punctuation, kana,
    // ideographs); EF BC/BD the full-width forms.
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        const unsigned char c = text[i], d = text[i + 1];
        if ((c >= 0xe3 && c <= 0xe9) || (c == 0xef && (d == 0xbc || d == 0xbd))) return true;
    }
    return false;
}

// A word of an English sentence in text, outside option names ("--force"),
// file names (given) and the values of the libraries (codec and profile
// names): "" when there is none.
std::string EnglishWord(std::string text, const std::vector<std::string>& names) {
    for (const std::string& name : names)
        for (size_t at; (at = text.find(name)) != std::string::npos;) text.erase(at, name.size());
    static const std::regex kOption("--?[A-Za-z][-A-Za-z]*");
    text = std::regex_replace(text, kOption, " ");
    static const char* const kWords[] = {"the",     "and",       "of",
                                         "to",      "is",        "a",
                                         "or",      "not",       "no",
                                         "with",    "without",   "file",
                                         "files",   "merge",     "merged",
                                         "source",  "sources",   "error",
                                         "warning", "option",    "stopped",
                                         "already", "exists",    "refusing",
                                         "copy",    "use",       "add",
                                         "replace", "needs",     "for",
                                         "more",    "try",       "usage",
                                         "bytes",   "encoded",   "differently",
                                         "same",    "every",     "unrecognized",
                                         "such",    "directory", "invalid",
                                         "data",    "found",     "input",
                                         "output",  "exit",      "status",
                                         "fast",    "LoadFile",  "SetOutputFile",
                                         "AddTask", "Error"};
    // Whole tokens: "a6331c54" (a digest) holds no word "a".
    static const std::regex kWord("[A-Za-z0-9_]+");
    for (std::sregex_iterator i(text.begin(), text.end(), kWord), end; i != end; ++i)
        for (const char* w : kWords)
            if (i->str() == w) return i->str();
    return {};
}

class CommandLineLanguage : public ::testing::Test {
  protected:
    void SetUp() override {
        A = test::GenerateClip(Dir.File("a.flv"), {"--duration", "1"});
        Wide = test::GenerateClip(Dir.File("w.flv"), {"--duration", "1", "--size", "480x270"});
        Mute = test::GenerateClip(Dir.File("m.flv"), {"--duration", "1", "--no-audio"});
        std::ofstream(Dir.File("old.flv")) << "old";
    }
    // What each run a user may meet says under locale.
    struct Said {
        std::string Help, Mistake, Missing, Overwrite, Merged, Differ, Unfit;
    };
    Said RunAll(const Locale& locale) {
        Said s;
        const std::string d = Dir.Path();
        EXPECT_EQ(JoinUnder({"--help"}, locale, s.Help, d), 0);
        EXPECT_EQ(JoinUnder({"--bogus", "-o", "o.flv", "a.flv"}, locale, s.Mistake, d), 2);
        EXPECT_EQ(JoinUnder({"-o", "o.flv", "a.flv", "missing.flv"}, locale, s.Missing, d), 1);
        EXPECT_EQ(JoinUnder({"-f", "-o", "old.flv", "a.flv", "a.flv"}, locale, s.Overwrite, d), 1);
        EXPECT_EQ(JoinUnder({"-f", "-y", "-o", "new.flv", "a.flv", "a.flv"}, locale, s.Merged, d),
                  0);
        EXPECT_EQ(JoinUnder({"-f", "-o", "x.flv", "a.flv", "w.flv"}, locale, s.Differ, d), 1);
        EXPECT_EQ(JoinUnder({"-f", "-o", "y.flv", "a.flv", "m.flv"}, locale, s.Unfit, d), 1);
        EXPECT_EQ(test::FileContents(Dir.File("old.flv")), "old");
        EXPECT_FALSE(test::PathExists(Dir.File("x.flv")));
        EXPECT_FALSE(test::PathExists(Dir.File("y.flv")));
        return s;
    }
    static std::string LastLine(const std::string& text) {
        std::string t = text;
        while (!t.empty() && t.back() == '\n') t.pop_back();
        return t.substr(t.rfind('\n') == std::string::npos ? 0 : t.rfind('\n') + 1);
    }
    static std::string Describe(const Locale& locale) {
        std::string d;
        for (const auto& [name, value] : locale) d += name + "=" + value + " ";
        return d.empty() ? "(no locale)" : d;
    }
    test::TempDir Dir;
    std::string A, Wide, Mute;
    const std::vector<std::string> Names = {"missing.flv", "old.flv", "new.flv", "a.flv",
                                            "w.flv",       "m.flv",   "o.flv"};
};

// Catches: messages Chinese or English by accident whatever the locale
// says ("合并成功" under English, "out.mp4已经存在，是否覆盖？ no: use -y ..."
// in two languages), English usage and errors under C, the window's advice
// to untick "快速合并" and internal prefixes ("LoadFile Error:") shown on
// the command line, and an error line without the program's name.
TEST_F(CommandLineLanguage, ChineseUnderCPosixChineseOrNoLocale) {
    for (const Locale& locale : std::vector<Locale>{{{"LANG", "C"}},
                                                    {},
                                                    {{"LC_ALL", "POSIX"}},
                                                    {{"LANG", "zh_CN.UTF-8"}},
                                                    {{"LC_ALL", "C"}, {"LANG", "en_US.UTF-8"}},
                                                    {{"LANGUAGE", "en"}, {"LANG", "C"}}}) {
        SCOPED_TRACE(Describe(locale));
        const Said s = RunAll(locale);
        for (const std::string* text :
             {&s.Help, &s.Mistake, &s.Missing, &s.Overwrite, &s.Merged, &s.Differ, &s.Unfit}) {
            EXPECT_TRUE(HasCjk(*text)) << *text;
            EXPECT_EQ(EnglishWord(*text, Names), "") << *text;
        }
        EXPECT_NE(s.Help.find("用法：tarnwick-join"), std::string::npos) << s.Help;
        EXPECT_NE(s.Help.find("-o, --output"), std::string::npos) << s.Help;
        EXPECT_NE(s.Mistake.find("tarnwick-join: 无法识别的选项“--bogus”"), std::string::npos)
            << s.Mistake;
        EXPECT_EQ(LastLine(s.Missing), "tarnwick-join: missing.flv：没有那个文件或目录");
        EXPECT_EQ(LastLine(s.Overwrite),
                  "tarnwick-join: old.flv已经存在；加上 -y（--overwrite）即可覆盖");
        // The window's own text of a merge that succeeded.
        EXPECT_NE(s.Merged.find("合并成功\n"), std::string::npos) << s.Merged;
        EXPECT_NE(s.Differ.find("所有文件相同："), std::string::npos) << s.Differ;
        EXPECT_EQ(LastLine(s.Differ).rfind("tarnwick-join: 拒绝快速合并：", 0), 0u) << s.Differ;
        EXPECT_EQ(LastLine(s.Unfit),
                  "tarnwick-join: m.flv：缺少第一个文件有的音频，不能快速合并；请不带 -f "
                  "合并（重新编码）");
    }
}

// Catches: English only where the locale is generated (this machine, like a
// fresh Debian, has only C.UTF-8), LANGUAGE or LC_ALL not read as gettext
// reads them, and Chinese left in English output (the table, the question's
// refusal, a window text without its translation).
TEST_F(CommandLineLanguage, EnglishUnderAnEnglishLocale) {
    for (const Locale& locale :
         std::vector<Locale>{{{"LANG", "en_US.UTF-8"}},
                             {{"LANGUAGE", "en"}, {"LANG", "C.UTF-8"}},
                             {{"LC_ALL", "en_GB.UTF-8"}, {"LANG", "zh_CN.UTF-8"}},
                             {{"LC_MESSAGES", "en_US.UTF-8"}, {"LANG", "C"}},
                             {{"LANG", "de_DE.UTF-8"}}}) {  // a language it does not speak
        SCOPED_TRACE(Describe(locale));
        const Said s = RunAll(locale);
        for (const std::string* text :
             {&s.Help, &s.Mistake, &s.Missing, &s.Overwrite, &s.Merged, &s.Differ, &s.Unfit})
            EXPECT_FALSE(HasCjk(*text)) << *text;
        EXPECT_NE(s.Help.find("Usage: tarnwick-join"), std::string::npos) << s.Help;
        EXPECT_NE(s.Mistake.find("tarnwick-join: unrecognized option '--bogus'"), std::string::npos)
            << s.Mistake;
        EXPECT_EQ(LastLine(s.Missing), "tarnwick-join: missing.flv: No such file or directory");
        EXPECT_EQ(LastLine(s.Overwrite),
                  "tarnwick-join: old.flv already exists; add -y (--overwrite) to replace it");
        EXPECT_NE(s.Merged.find("Merged.\n"), std::string::npos) << s.Merged;
        EXPECT_NE(s.Differ.find("same in every file:"), std::string::npos) << s.Differ;
        EXPECT_EQ(LastLine(s.Differ).rfind("tarnwick-join: refusing a fast merge: ", 0), 0u)
            << s.Differ;
        EXPECT_EQ(LastLine(s.Unfit),
                  "tarnwick-join: m.flv: lacks the audio of the first file: a fast merge cannot "
                  "join it; merge without -f (re-encoding)");
        for (const std::string* text : {&s.Mistake, &s.Missing, &s.Overwrite, &s.Unfit})
            EXPECT_EQ(text->find("Error:"), std::string::npos) << *text;
    }
}

}  // namespace
}  // namespace tw
