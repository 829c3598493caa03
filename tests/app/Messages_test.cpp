// tests/app/Messages_test.cpp — the message catalogue: every text the
// programs look up has its English, English is found without the locale
// generated, and the command line's wording of what others report.
#include "app/Messages.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

#include "app/FastMergeChecks.h"
#include "app/cli/CommandLineText.h"
#include "tests/support/TempDir.h"

namespace tw {
namespace {

// Runs a shell command; its standard output and error, and its status.
int Shell(const std::string& command, std::string& output) {
    output.clear();
    FILE* p = ::popen(("(" + command + ") 2>&1").c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) output.append(buf, n);
    return ::pclose(p);
}

// The msgid -> msgstr pairs of a .po file (continuation lines joined, the
// escapes left as they are: both sides alike).
std::map<std::string, std::string> ReadPo(const std::string& path) {
    std::map<std::string, std::string> entries;
    std::ifstream in(path);
    std::string id, str, *into = nullptr;
    const auto flush = [&] {
        if (!id.empty()) entries[id] = str;
        id.clear();
        str.clear();
    };
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("msgid ", 0) == 0) {
            flush();
            into = &id;
            line.erase(0, 6);
        } else if (line.rfind("msgstr ", 0) == 0) {
            into = &str;
            line.erase(0, 7);
        } else if (line.empty() || line[0] != '"') {
            into = nullptr;
            continue;
        }
        if (into && line.size() >= 2) *into += line.substr(1, line.size() - 2);
    }
    flush();
    return entries;
}

std::multiset<std::string> Placeholders(const std::string& text) {
    std::multiset<std::string> found;
    static const std::regex kPlaceholder("\\{[0-9]+\\}");
    for (std::sregex_iterator i(text.begin(), text.end(), kPlaceholder), end; i != end; ++i)
        found.insert(i->str());
    return found;
}

// Catches: a text looked up in the code that the English catalogue lacks,
// or has only empty or fuzzy (shown as Chinese to an English user), and a
// translation that drops or doubles a placeholder (the file name lost).
TEST(Messages, EveryTextHasItsEnglish) {
    test::TempDir dir;
    const std::string source = TW_SOURCE_DIR;
    const std::string pot = dir.File("tarnwick.pot"), merged = dir.File("merged.po");
    std::string out;
    ASSERT_EQ(Shell(source + "/po/make-pot > " + pot, out), 0) << out;
    ASSERT_EQ(Shell("msgmerge --quiet --no-fuzzy-matching -o " + merged + " " + source +
                        "/po/en.po " + pot,
                    out),
              0)
        << out;
    ASSERT_EQ(Shell("msgfmt --check --statistics -o /dev/null " + merged, out), 0) << out;
    EXPECT_NE(out.find("translated message"), std::string::npos) << out;
    EXPECT_EQ(out.find("untranslated"), std::string::npos) << out;
    EXPECT_EQ(out.find("fuzzy"), std::string::npos) << out;
    // Every text of the template is in the catalogue (and the catalogue's
    // statistics counted them).
    const auto looked = ReadPo(pot), english = ReadPo(merged);
    EXPECT_GT(looked.size(), 100u);
    for (const auto& [id, str] : english) {
        if (id.empty() || str.empty()) continue;
        EXPECT_EQ(Placeholders(id), Placeholders(str)) << id;
    }
}

// Catches: English looked up only when the locale the environment names is
// generated (a fresh Debian has only C.UTF-8: gettext then sits in "C" and
// ignores the catalogue), the language stuck once gettext cached a
// translation, and Chinese texts that changed on their way through.
TEST(Messages, EnglishWithoutItsLocaleAndBack) {
    RecordProperty("en_US generated", std::setlocale(LC_MESSAGES, "en_US.UTF-8") ? "yes" : "no");
    std::setlocale(LC_MESSAGES, "C");
    EXPECT_EQ(MessagesLanguage(), "zh_CN");
    EXPECT_STREQ(Tr("合并成功"), "合并成功");
    SetMessagesLanguage("en");
    EXPECT_EQ(MessagesLanguage(), "en");
    EXPECT_STREQ(Tr("合并成功"), "Merged.");
    EXPECT_EQ(TrF("{1}已经存在，是否覆盖？", {"/v/out.flv"}),
              "/v/out.flv already exists. Replace it?");
    SetMessagesLanguage("zh_CN");
    EXPECT_STREQ(Tr("合并成功"), "合并成功");
    EXPECT_EQ(TrF("{1}已经存在，是否覆盖？", {"/v/out.flv"}), "/v/out.flv已经存在，是否覆盖？");
    SetMessagesLanguage("de");  // a language the program does not speak
    EXPECT_STREQ(Tr("合并成功"), "Merged.");
    SetMessagesLanguage("zh_CN");
}

// Catches: placeholders filled in the msgid's order only, so that a
// translation cannot place them differently; braces that are no
// placeholder eaten.
TEST(Messages, PlaceholdersByNumber) {
    EXPECT_EQ(TrF("{2} / {1} {3}", {"a", "b"}), "b / a {3}");
    EXPECT_EQ(TrF("{x} {} {1}", {"a"}), "{x} {} a");
}

// Catches: the command line showing the driver's internal prefixes
// ("tarnwick-join: t.sh: LoadFile Error: t.sh: Invalid data..."), the file
// named twice, and the window's advice to untick a check box.
TEST(Messages, CommandLineWordsWhatItShows) {
    SetMessagesLanguage("en");
    EXPECT_EQ(CommandLineMessage("LoadFile Error: t.sh: Invalid data found when processing input"),
              "t.sh: Invalid data found when processing input");
    EXPECT_EQ(CommandLineMessage("SetOutputFile Error: o.flv: o.flv: Permission denied"),
              "o.flv: Permission denied");
    EXPECT_EQ(CommandLineMessage("AddTask Error: max input files 20 reached"),
              "max input files 20 reached");
    const std::string problem = "b.flv: has audio, which the first file lacks" + FastModeAdvice();
    EXPECT_NE(FastModeAdvice().find("untick"), std::string::npos);
    EXPECT_EQ(CommandLineMessage(problem),
              "b.flv: has audio, which the first file lacks: a fast merge cannot join it; merge "
              "without -f (re-encoding)");
    EXPECT_EQ(SystemErrorText(ENOENT), "No such file or directory");

    SetMessagesLanguage("zh_CN");
    EXPECT_EQ(CommandLineMessage("LoadFile Error: t.sh: Invalid data found when processing input"),
              "t.sh: 数据无效，不是能读取的视频文件");
    EXPECT_EQ(CommandLineMessage("b.flv：有第一个文件没有的音频" + FastModeAdvice()),
              "b.flv：有第一个文件没有的音频，不能快速合并；请不带 -f 合并（重新编码）");
    EXPECT_EQ(FastMergeReason("b.flv：有第一个文件没有的音频" + FastModeAdvice()),
              "b.flv：有第一个文件没有的音频");
    EXPECT_EQ(SystemErrorText(ENOENT), "没有那个文件或目录");
}

}  // namespace
}  // namespace tw
