// tests/window/XFormLanguage_test.cpp — the window's language: which one the
// environment asks for, and Qt's own dialogs and buttons speaking it.
#include "app/InterfaceLanguage.h"
#include "app/Messages.h"
#include "app/window/QtTranslation.h"
#include "tests/window/WindowFixture.h"

namespace tw {
namespace {

using test::Window;

// Catches: a language taken from the wrong variable (LANG before LC_ALL or
// LC_MESSAGES, LANGUAGE when the locale is C, but not under C.UTF-8), a
// LANGUAGE list read only at its first entry or falling through to the
// locale, anything but the window's Chinese for no locale, C or POSIX, and
// anything but English for a language it does not speak.
TEST(InterfaceLanguage, ChosenAsGettextChooses) {
    struct Case {
        const char *language, *lcAll, *lcMessages, *lang, *expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, nullptr, "zh_CN"},
        {nullptr, nullptr, nullptr, "C", "zh_CN"},
        {nullptr, nullptr, nullptr, "POSIX", "zh_CN"},
        {"en", nullptr, nullptr, "C.UTF-8", "en"},  // gettext ignores LANGUAGE only under C
        {"en", nullptr, nullptr, "C", "zh_CN"},
        {"en", "POSIX", nullptr, "en_US.UTF-8", "zh_CN"},
        {nullptr, nullptr, nullptr, "C.UTF-8", "zh_CN"},
        {nullptr, nullptr, nullptr, "en_US.UTF-8", "en"},
        {nullptr, nullptr, nullptr, "en_GB", "en"},
        {"", "", "", "en_US.UTF-8", "en"},
        {nullptr, nullptr, "en_US.UTF-8", "zh_CN.UTF-8", "en"},
        {nullptr, "zh_CN.UTF-8", "en_US.UTF-8", "en_US.UTF-8", "zh_CN"},
        {nullptr, "C", nullptr, "en_US.UTF-8", "zh_CN"},
        {"de:en_US:zh_CN", nullptr, nullptr, "de_DE.UTF-8", "en"},
        {"de", nullptr, nullptr, "en_US.UTF-8", "en"},  // languages it lacks: English
        {nullptr, nullptr, nullptr, "de_DE.UTF-8", "en"},
        {nullptr, nullptr, nullptr, "zh_TW.UTF-8", "zh_TW"},
        {nullptr, nullptr, nullptr, "zh_HK", "zh_TW"},
        {nullptr, nullptr, nullptr, "zh_SG.GB2312", "zh_CN"},
        {"zh", nullptr, nullptr, "en_US.UTF-8", "zh_CN"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(InterfaceLanguageFor(c.language, c.lcAll, c.lcMessages, c.lang), c.expected)
            << (c.language ? c.language : "-") << " " << (c.lcAll ? c.lcAll : "-") << " "
            << (c.lcMessages ? c.lcMessages : "-") << " " << (c.lang ? c.lang : "-");
}

// The process's locale variables, restored when it goes.
class Environment {
  public:
    Environment() {
        for (const char* name : kNames)
            if (const char* v = std::getenv(name)) FSaved.emplace_back(name, v);
    }
    ~Environment() {
        Set({});
        for (const auto& [name, value] : FSaved) setenv(name.c_str(), value.c_str(), 1);
    }
    void Set(const std::vector<std::pair<const char*, const char*>>& values) {
        for (const char* name : kNames) unsetenv(name);
        for (const auto& [name, value] : values) setenv(name, value, 1);
    }

  private:
    static constexpr const char* kNames[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
    std::vector<std::pair<std::string, std::string>> FSaved;
};

std::string Describe(const std::vector<std::pair<const char*, const char*>>& values) {
    std::string d = "[";
    for (const auto& [name, value] : values) d += std::string(name) + "=" + value + " ";
    return d + "] ";
}

struct QtTexts {
    std::string Yes, No, Ok, Cancel, Open, LookIn;
};

// The texts of Qt's standard buttons and of its own file dialog, as built now.
QtTexts ReadQtTexts() {
    QtTexts t;
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok |
                           QMessageBox::Cancel);
    t.Yes = box.button(QMessageBox::Yes)->text().toStdString();
    t.No = box.button(QMessageBox::No)->text().toStdString();
    t.Ok = box.button(QMessageBox::Ok)->text().toStdString();
    t.Cancel = box.button(QMessageBox::Cancel)->text().toStdString();
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (auto* buttons = dialog.findChild<QDialogButtonBox*>("buttonBox"))
        if (QPushButton* open = buttons->button(QDialogButtonBox::Open))
            t.Open = open->text().toStdString();
    if (auto* label = dialog.findChild<QLabel*>("lookInLabel"))
        t.LookIn = label->text().toStdString();
    return t;
}

// Catches: Qt's dialogs and buttons left English in the Chinese window (no Qt
// translation loaded) under the default locale and under C, and not English
// under LANG=en_US.UTF-8 or LC_MESSAGES naming English.
TEST_F(Window, QtTextsSpeakTheWindowsLanguage) {
    Environment env;
    for (const auto& chinese : std::vector<std::vector<std::pair<const char*, const char*>>>{
             {}, {{"LANG", "C"}}, {{"LC_ALL", "POSIX"}}, {{"LANG", "zh_CN.UTF-8"}}}) {
        env.Set(chinese);
        const TQtTranslation translation;
        EXPECT_TRUE(translation.Loaded());
        const QtTexts t = ReadQtTexts();
        const std::string where = Describe(chinese);
        EXPECT_NE(t.Yes.find("是"), std::string::npos) << where << t.Yes;
        EXPECT_NE(t.No.find("否"), std::string::npos) << where << t.No;
        EXPECT_NE(t.Ok.find("确定"), std::string::npos) << where << t.Ok;
        EXPECT_NE(t.Cancel.find("取消"), std::string::npos) << where << t.Cancel;
        EXPECT_NE(t.Open.find("打开"), std::string::npos) << where << t.Open;
        EXPECT_NE(t.LookIn.find("查找范围"), std::string::npos) << where << t.LookIn;
    }
    for (const auto& english : std::vector<std::vector<std::pair<const char*, const char*>>>{
             {{"LANG", "en_US.UTF-8"}},
             {{"LC_MESSAGES", "en_GB.UTF-8"}, {"LANG", "zh_CN.UTF-8"}}}) {
        env.Set(english);
        const TQtTranslation translation;
        const QtTexts t = ReadQtTexts();
        const std::string where = Describe(english);
        EXPECT_EQ(t.Yes, "&Yes") << where;
        EXPECT_EQ(t.No, "&No") << where;
        EXPECT_EQ(t.Ok, "OK") << where;
        EXPECT_EQ(t.Cancel, "Cancel") << where;
        EXPECT_EQ(t.Open, "&Open") << where;
        EXPECT_EQ(t.LookIn, "Look in:") << where;
    }
    // Removed with the object: the next window starts from Qt's own texts.
    env.Set({});
    { const TQtTranslation translation; }
    EXPECT_EQ(ReadQtTexts().Yes, "&Yes");
}

// Every caption of the window and the width it has, for the fit check.
std::vector<std::pair<QWidget*, std::string>> Captions(TXForm& form) {
    std::vector<std::pair<QWidget*, std::string>> captions;
    for (QWidget* w : form.findChildren<QWidget*>()) {
        std::string text;
        if (auto* b = qobject_cast<QAbstractButton*>(w)) text = b->text().toStdString();
        if (auto* l = qobject_cast<QLabel*>(w); l && l != form.LblState)
            text = l->text().toStdString();
        if (!text.empty()) captions.emplace_back(w, text);
    }
    return captions;
}

// The room a caption needs in its control.
int Needed(QWidget* w) {
    const QString text = qobject_cast<QAbstractButton*>(w)
                             ? qobject_cast<QAbstractButton*>(w)->text()
                             : qobject_cast<QLabel*>(w)->text();
    if (auto* box = qobject_cast<QCheckBox*>(w)) return box->sizeHint().width();
    const int advance = w->fontMetrics().horizontalAdvance(text);
    // A push button's frame and a little air; a flat button's frame.
    if (qobject_cast<QPushButton*>(w)) return advance + 8;
    if (qobject_cast<QToolButton*>(w)) return advance + 4;
    return advance;
}

// Catches: the window's own captions and messages staying Chinese while
// Qt's buttons speak English (or the other way round), a Chinese caption of
// the window changed on its way through the catalogue, and English captions
// too wide for the controls the window's layout gives them.
TEST_F(Window, OwnTextsSpeakTheLanguageOfQtsDialogs) {
    Environment env;
    for (const bool english : {false, true}) {
        if (english)
            env.Set({{"LANG", "en_US.UTF-8"}});
        else
            env.Set({});
        SCOPED_TRACE(english ? "LANG=en_US.UTF-8" : "no locale");
        SetUpMessages();
        const TQtTranslation translation;
        TXForm form;
        auto dialogs = std::make_unique<test::ScriptedDialogs>();
        test::ScriptedDialogs& told = *dialogs;
        form.SetDialogs(std::move(dialogs));
        const QtTexts qt = ReadQtTexts();
        const auto caption = [](QAbstractButton* b) { return b->text().toStdString(); };
        if (english) {
            EXPECT_EQ(qt.Yes, "&Yes");
            EXPECT_EQ(caption(form.BtAdd), "Add");
            EXPECT_EQ(caption(form.BtJoin), "Merge");
            EXPECT_EQ(caption(form.CkFastJoin), "Fast");
            EXPECT_EQ(form.Label2->text().toStdString(), "Output");
        } else {
            EXPECT_NE(qt.Yes.find("是"), std::string::npos) << qt.Yes;
            EXPECT_EQ(caption(form.BtAdd), "增　加");
            EXPECT_EQ(caption(form.BtJoin), "合　并");
            EXPECT_EQ(caption(form.CkFastJoin), "快速合并");
            EXPECT_EQ(caption(form.CbAutoDel), "合并完成后删除源文件组");
            EXPECT_EQ(form.Label2->text().toStdString(), "合并到文件");
        }
        // A message of the window and one of the driver.
        form.BtRemove->click();
        form.EtF4vOutput->setText(QStringLiteral("/tmp/never.flv"));
        form.BtJoin->click();
        test::AwaitIdle(form);
        ASSERT_EQ(told.Told.size(), 2u);
        EXPECT_EQ(told.Told[0], english ? "Select the files to remove" : "请选择要去除的文件");
        EXPECT_EQ(told.Told[1], english ? "Add video files first" : "请增加视频文件");
        form.EnableControls(false);
        EXPECT_EQ(caption(form.BtJoin), english ? "Stop" : "停　止");
        form.EnableControls(true);
        for (const auto& [widget, text] : Captions(form))
            EXPECT_LE(Needed(widget), widget->width())
                << text << " in " << widget->objectName().toStdString();
    }
    SetMessagesLanguage("zh_CN");
}

}  // namespace
}  // namespace tw
