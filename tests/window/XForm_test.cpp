// The merge window, driven through its controls' object names with scripted
// dialogs: layout, list editing, naming, sorting, the merge states, real
// merges of generated clips, stopping, closing mid-merge and dropped files.
#include "app/window/XForm.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <atomic>
#include <deque>
#include <fstream>
#include <functional>
#include <thread>

#include "app/window/NaturalOrder.h"
#include "app/window/PublisherServices.h"
#include "app/window/SourceDifferences.h"
#include "binding/FFLoad.h"
#include "diag/FFLog.h"
#include "diag/MainThread.h"
#include "tests/support/Media.h"
#include "tests/support/TempDir.h"
#include "tests/window/OffscreenApp.h"

namespace tw {
namespace {

// Dialogs whose answers are scripted and whose texts are kept.
struct ScriptedDialogs : TWindowDialogs {
    ScriptedDialogs() : TWindowDialogs(nullptr) {}
    std::vector<std::string> Told, Asked;
    std::deque<bool> Answers;  // an empty script answers No
    std::vector<std::string> Open;
    std::string Save;
    void Tell(const std::string& text) override { Told.push_back(text); }
    bool AskYesNo(const std::string& text) override {
        Asked.push_back(text);
        if (Answers.empty()) return false;
        const bool a = Answers.front();
        Answers.pop_front();
        return a;
    }
    std::vector<std::string> OpenFiles() override { return Open; }
    std::string SaveFile() override { return Save; }
};

class Window : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { test::OffscreenApp(); }
    void SetUp() override {
        ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds)) << FFLoader().LastErrMsg();
        FFLogger()->SetLogLevel(llQuiet);
        Form = std::make_unique<TXForm>();
        auto d = std::make_unique<ScriptedDialogs>();
        Dlg = d.get();
        Form->SetDialogs(std::move(d));
        Form->FFEncoder.TaskVerbose = -1;
    }
    void TearDown() override { Form.reset(); }
    void SetList(const std::vector<std::string>& items, const std::vector<int>& selected = {}) {
        Form->LbF4vInputFiles->clear();
        Form->AppendFiles(items);
        for (int i : selected) Form->LbF4vInputFiles->item(i)->setSelected(true);
    }
    std::vector<int> Selected() const {
        std::vector<int> s;
        for (int i = 0; i < Form->LbF4vInputFiles->count(); ++i)
            if (Form->LbF4vInputFiles->item(i)->isSelected()) s.push_back(i);
        return s;
    }
    std::string Clip(const std::string& name, const std::vector<std::string>& args = {}) {
        return test::GenerateClip(Dir.File(name), args);
    }
    // Runs fn once the merge's wait serves the window's events.
    void DuringMerge(std::function<void()> fn) { QTimer::singleShot(0, Form.get(), fn); }
    // Starts a merge of files into out and returns when it has ended.
    void Merge(const std::vector<std::string>& files, const std::string& out, bool fast) {
        SetList(files);
        Form->EtF4vOutput->setText(QString::fromStdString(out));
        Form->CkFastJoin->setChecked(fast);
        Form->BtJoin->click();
    }
    void ExpectIdle() {
        EXPECT_TRUE(Form->LbF4vInputFiles->isEnabled());
        EXPECT_EQ(Form->BtJoin->text().toStdString(), "合　并");
        EXPECT_EQ(Form->BtJoin->property("Tag").toInt(), 0);
        EXPECT_EQ(Form->LblState->text().toStdString(), "");
        EXPECT_FALSE(Form->Merging());
    }
    test::TempDir Dir;
    std::unique_ptr<TXForm> Form;
    ScriptedDialogs* Dlg = nullptr;
};

// Drags urls over the list and drops them there; true when both the
// drag and the drop were accepted.
bool Drop(TXForm& form, const QList<QUrl>& urls, Qt::DropActions actions) {
    QMimeData mime;
    mime.setUrls(urls);
    const QPointF at = form.LbF4vInputFiles->geometry().center();
    QDragEnterEvent enter(at.toPoint(), actions, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &enter);
    QDropEvent dropped(at, actions, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &dropped);
    return enter.isAccepted() && dropped.isAccepted();
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// Catches: a control missing, misnamed, of the wrong caption (U+3000 gaps),
// position or size, a side that does not keep its distance on resize, the
// panels not at the top and bottom, a window off centre, and a font that has
// no Chinese glyphs (empty boxes).
TEST_F(Window, ControlsCaptionsGeometryAndAnchoring) {
    EXPECT_EQ(Form->LblState->text().toStdString(), "1111");
    ASSERT_TRUE(Form->FormCreate());
    EXPECT_EQ(Form->windowTitle().toStdString(), "Tarnwick");
    EXPECT_EQ(Form->LblState->text().toStdString(), "");
    Form->SetTitle("片");
    EXPECT_EQ(Form->windowTitle().toStdString(), "Tarnwick - 片");
    Form->SetTitle("");
    Form->show();
    QApplication::processEvents();
    EXPECT_EQ(Form->size(), QSize(472, 448));
    EXPECT_EQ(Form->minimumSize(), QSize(472, 448));
    if (QScreen* s = QGuiApplication::primaryScreen()) {
        EXPECT_LE((Form->geometry().center() - s->availableGeometry().center()).manhattanLength(),
                  8);  // a frame's margins at most
    }

    struct Row {
        const char* name;
        const char* kind;     // the widget class
        const char* caption;  // nullptr: no caption to check
        QRect at;             // with the window at 472 x 448
        QRect grown;          // with the window 100 wider and 50 higher
    };
    const Row rows[] = {
        {"Label2", "QLabel", "合并到文件", {8, 11, 60, 13}, {8, 11, 60, 13}},
        {"EtF4vOutput", "QLineEdit", "", {74, 8, 304, 21}, {74, 8, 404, 21}},
        {"SbSetOutFileName", "QToolButton", "设定", {380, 8, 31, 21}, {480, 8, 31, 21}},
        {"SbAutoSet", "QToolButton", "自动设定", {411, 8, 53, 21}, {511, 8, 53, 21}},
        {"Label3",
         "QLabel",
         "注: 增加视频文件的时候支持框选",
         {211, 35, 175, 13},
         {311, 35, 175, 13}},
        {"Label1", "QLabel", "源文件组", {8, 52, 48, 13}, {8, 52, 48, 13}},
        {"LbF4vInputFiles", "QListWidget", nullptr, {8, 71, 370, 258}, {8, 71, 470, 308}},
        {"BtAdd", "QPushButton", "增　加", {392, 59, 72, 25}, {492, 59, 72, 25}},
        {"BtRemove", "QPushButton", "去　除", {392, 90, 72, 25}, {492, 90, 72, 25}},
        {"BtClear", "QPushButton", "清　空", {392, 121, 72, 25}, {492, 121, 72, 25}},
        {"BtUp", "QPushButton", "上　移", {392, 156, 72, 25}, {492, 156, 72, 25}},
        {"BtDown", "QPushButton", "下　移", {392, 187, 72, 25}, {492, 187, 72, 25}},
        {"BtJoin", "QPushButton", "合　并", {392, 222, 72, 25}, {492, 222, 72, 25}},
        {"LblState", "QLabel", "", {8, 338, 178, 13}, {8, 388, 178, 13}},
        {"BtCheckDup", "QPushButton", "检查重复", {192, 333, 86, 25}, {292, 383, 86, 25}},
        {"BtAutoSort", "QPushButton", "自动排序", {284, 333, 86, 25}, {384, 383, 86, 25}},
        {"pnlMenu", "QFrame", nullptr, {8, 2, 49, 20}, {8, 2, 49, 20}},
        {"CbAutoDel", "QCheckBox", "合并完成后删除源文件组", {200, 3, 155, 17}, {200, 3, 155, 17}},
        {"CkFastJoin", "QCheckBox", "快速合并", {380, 3, 71, 17}, {380, 3, 71, 17}},
    };
    auto caption = [](QWidget* w) -> std::string {
        if (auto* l = qobject_cast<QLabel*>(w)) return l->text().toStdString();
        if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text().toStdString();
        if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text().toStdString();
        return "?";
    };
    const QFontMetrics metrics(Form->font());
    for (const Row& r : rows) {
        QWidget* w = Form->findChild<QWidget*>(r.name);
        ASSERT_NE(w, nullptr) << r.name;
        EXPECT_STREQ(w->metaObject()->className(), r.kind) << r.name;
        if (r.caption) {
            EXPECT_EQ(caption(w), r.caption) << r.name;
            for (QChar c : QString::fromUtf8(r.caption))
                EXPECT_TRUE(metrics.inFont(c))
                    << r.name << " has no glyph for U+" << std::hex << int(c.unicode());
        }
        EXPECT_EQ(w->geometry(), r.at) << r.name;
    }
    EXPECT_EQ(Form->pnlNotice->geometry(), QRect(0, 0, 472, 60));
    EXPECT_EQ(Form->PnlMain->geometry(), QRect(0, 60, 472, 364));
    EXPECT_EQ(Form->Panel2->geometry(), QRect(0, 424, 472, 24));
    EXPECT_EQ(Form->Panel2->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(Form->PnlMain->frameShape(), QFrame::NoFrame);
    EXPECT_EQ(Form->LblState->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
    EXPECT_EQ(Form->LbF4vInputFiles->selectionMode(), QAbstractItemView::ExtendedSelection);

    Form->resize(572, 498);
    QApplication::processEvents();
    for (const Row& r : rows)
        EXPECT_EQ(Form->findChild<QWidget*>(r.name)->geometry(), r.grown) << r.name;
    EXPECT_EQ(Form->Panel2->geometry(), QRect(0, 474, 572, 24));
    Form->resize(472, 448);
    QApplication::processEvents();
    for (const Row& r : rows)
        EXPECT_EQ(Form->findChild<QWidget*>(r.name)->geometry(), r.at) << r.name;
}

// Catches: a tab order other than the window's fixed one (focusable controls only; the
// flat buttons take no focus).
TEST_F(Window, TabOrder) {
    const std::vector<std::string> expected = {
        "BtAdd",       "BtClear",         "BtDown",     "BtJoin",     "BtRemove",  "BtUp",
        "EtF4vOutput", "LbF4vInputFiles", "BtAutoSort", "BtCheckDup", "CbAutoDel", "CkFastJoin"};
    std::vector<std::string> seen;
    QWidget* w = Form->BtAdd;
    do {
        if ((w->focusPolicy() & Qt::TabFocus) && !w->objectName().isEmpty() && w != Form.get())
            seen.push_back(w->objectName().toStdString());
        w = w->nextInFocusChain();
    } while (w != Form->BtAdd && seen.size() < 40);
    seen.resize(std::min(seen.size(), expected.size()));
    EXPECT_EQ(seen, expected);
    // The publisher's menu button comes after the last check box.
    FillPublisherPanels(Form->pnlNotice, Form->pnlMenu);
    w = Form->CkFastJoin->nextInFocusChain();
    while (w != Form->BtAdd && !(w->focusPolicy() & Qt::TabFocus)) w = w->nextInFocusChain();
    EXPECT_EQ(w->objectName().toStdString(), "btnMenu");
}

// Catches: a merge started without an output name, without sources or with a
// source that cannot be opened, a failure reported as success, and the window
// left in the merging state after a refusal.
TEST_F(Window, RefusedMerges) {
    ASSERT_TRUE(Form->FormCreate());
    const std::string out = Dir.File("out.flv");
    Merge({Dir.File("a.flv")}, "", false);
    Merge({}, out, false);
    Merge({Dir.File("missing.flv")}, out, false);
    ASSERT_EQ(Dlg->Told.size(), 3u);
    EXPECT_EQ(Dlg->Told[0], "请设定“合并到文件”");
    EXPECT_EQ(Dlg->Told[1], "请增加视频文件");
    EXPECT_EQ(Dlg->Told[2].rfind("LoadFile Error: ", 0), 0u) << Dlg->Told[2];
    EXPECT_FALSE(Exists(out));
    ExpectIdle();
}

// Catches: Up/Down moving only the selected item and leaving its neighbour,
// the selection not travelling with the text, a block not moving as one,
// Remove deleting every selected item instead of the focused one, and
// missing messages when nothing is selected or focused.
TEST_F(Window, MovingAndRemovingItems) {
    SetList({"a", "b", "c"}, {0, 1});
    Form->BtUp->click();
    EXPECT_EQ(Form->StringsToArray(), (std::vector<std::string>{"b", "a", "c"}));
    EXPECT_EQ(Selected(), (std::vector<int>{0, 1}));
    SetList({"a", "b", "c"}, {0});
    Form->BtUp->click();
    EXPECT_EQ(Form->StringsToArray(), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(Selected(), (std::vector<int>{0}));

    SetList({"a", "b", "c", "d", "e"}, {2, 3});
    Form->BtDown->click();
    EXPECT_EQ(Form->StringsToArray(), (std::vector<std::string>{"a", "b", "e", "c", "d"}));
    EXPECT_EQ(Selected(), (std::vector<int>{3, 4}));
    Form->BtDown->click();  // at the bottom: the two are swapped
    EXPECT_EQ(Form->StringsToArray(), (std::vector<std::string>{"a", "b", "e", "d", "c"}));
    EXPECT_TRUE(Dlg->Told.empty());

    SetList({"a", "b", "c", "d"});
    Form->BtUp->click();
    Form->BtDown->click();
    EXPECT_EQ(Dlg->Told, (std::vector<std::string>(2, "请选择要移动位置的文件")));
    Dlg->Told.clear();
    Form->BtRemove->click();  // no focused item
    EXPECT_EQ(Dlg->Told, std::vector<std::string>{"请选择要去除的文件"});
    Form->LbF4vInputFiles->setCurrentRow(2);
    Form->LbF4vInputFiles->item(0)->setSelected(true);
    Form->LbF4vInputFiles->item(3)->setSelected(true);
    ASSERT_EQ(Selected().size(), 3u);
    Form->BtRemove->click();
    EXPECT_EQ(Form->StringsToArray(), (std::vector<std::string>{"a", "b", "d"}));
    Form->BtClear->click();
    EXPECT_EQ(Form->LbF4vInputFiles->count(), 0);

    Dlg->Open = {"/v/上 海.flv", "/v/it's \"x\".mp4"};
    Form->BtAdd->click();
    Form->BtAdd->click();
    EXPECT_EQ(Form->StringsToArray(),
              (std::vector<std::string>{"/v/上 海.flv", "/v/it's \"x\".mp4", "/v/上 海.flv",
                                        "/v/it's \"x\".mp4"}));
}

// Catches: duplicates missed by letter case, a pair reported out of the
// order (0,1), (0,2), ..., (1,2), a wrong text, and a sort that is not natural or loses the
// selection.
TEST_F(Window, DuplicateCheckAndNaturalSort) {
    SetList({"/x/ABC.FLV", "/y/b.flv", "/x/abc.flv", "/Y/B.flv", "/y/B.FLV"});
    Form->BtCheckDup->click();
    EXPECT_EQ(Dlg->Told, std::vector<std::string>{"/x/ABC.FLV\r\n与\r\n/x/abc.flv\r\n重复！"});
    Dlg->Told.clear();
    SetList({"/a", "/b"});
    Form->BtCheckDup->click();
    SetList({"/a"});
    Form->BtCheckDup->click();
    EXPECT_TRUE(Dlg->Told.empty());

    EXPECT_TRUE(NaturalLess("/d/part2.flv", "/d/part10.flv"));
    EXPECT_FALSE(NaturalLess("/d/part10.flv", "/d/part2.flv"));
    EXPECT_TRUE(NaturalLess("/z/Part1.flv", "/a/part2.flv"));  // file name first
    EXPECT_TRUE(NaturalLess("/a/clip.flv", "/b/CLIP.flv"));    // then the path
    EXPECT_TRUE(NaturalLess("/a/x.flv", "/a/x1.flv"));
    EXPECT_TRUE(NaturalLess("/a/第2集.flv", "/a/第10集.flv"));
    EXPECT_TRUE(NaturalLess("/a/x99999999999999999999999.flv", "/a/x100000000000000000000000.flv"));
    EXPECT_NE(NaturalLess("/a/X.flv", "/a/x.flv"), NaturalLess("/a/x.flv", "/a/X.flv"));

    SetList({"/d/part10.flv", "/d/part2.flv", "/e/Part2.flv", "/d/part1.flv", "/d/PART2.flv"},
            {3, 0});
    Form->BtAutoSort->click();
    EXPECT_EQ(Form->StringsToArray(),
              (std::vector<std::string>{"/d/part1.flv", "/d/PART2.flv", "/d/part2.flv",
                                        "/e/Part2.flv", "/d/part10.flv"}));
    EXPECT_EQ(Selected(), (std::vector<int>{0, 4}));
    EXPECT_EQ(Dlg->Told, std::vector<std::string>{"/d/PART2.flv\r\n与\r\n/d/part2.flv\r\n重复！"});
}

// Catches: the base name cut at the first dot or at a dot of the folder, an
// extension invented for a name without one, a message missing for an empty
// list, and the save dialog's choice not reaching the edit.
TEST_F(Window, OutputNames) {
    SetList({"/v/part.1.flv", "/v/other.flv"});
    Form->SbAutoSet->click();
    EXPECT_EQ(Form->EtF4vOutput->text().toStdString(), "/v/part.1-joined.flv");
    SetList({"/a.b/clip"});
    Form->SbAutoSet->click();
    EXPECT_EQ(Form->EtF4vOutput->text().toStdString(), "/a.b/clip-joined");
    SetList({"/视频/第 1 集.mp4"});
    Form->SbAutoSet->click();
    EXPECT_EQ(Form->EtF4vOutput->text().toStdString(), "/视频/第 1 集-joined.mp4");
    EXPECT_TRUE(Dlg->Told.empty());
    SetList({});
    Form->SbAutoSet->click();
    EXPECT_EQ(Dlg->Told, std::vector<std::string>{"请先增加源文件组"});
    EXPECT_EQ(Form->EtF4vOutput->text().toStdString(), "/视频/第 1 集-joined.mp4");

    Dlg->Save = "/out/new.f4v";
    Form->SbSetOutFileName->click();
    EXPECT_EQ(Form->EtF4vOutput->text().toStdString(), "/out/new.f4v");
    Dlg->Save = "";  // cancelled
    Form->SbSetOutFileName->click();
    EXPECT_EQ(Form->EtF4vOutput->text().toStdString(), "/out/new.f4v");
    EXPECT_EQ(AnyCasePattern("MP4"), "*.[mM][pP]4");
    const QRegularExpression mp4(QRegularExpression::wildcardToRegularExpression(
        QString::fromStdString(AnyCasePattern("MP4"))));
    EXPECT_TRUE(mp4.match(QStringLiteral("clip.Mp4")).hasMatch());
    EXPECT_TRUE(mp4.match(QStringLiteral("CLIP.MP4")).hasMatch());
    EXPECT_FALSE(mp4.match(QStringLiteral("clip.mp3")).hasMatch());
}

// Catches: the note shown on unticking too, or with other text.
TEST_F(Window, FastJoinNote) {
    Form->CkFastJoin->click();
    ASSERT_EQ(Dlg->Told.size(), 1u);
    const std::string& t = Dlg->Told[0];
    EXPECT_EQ(t.rfind("　　如果源文件组的所有视频都是FLV/F4V，", 0), 0u);
    EXPECT_NE(t.find("音频位数，勾选“快速合并”将极大加快合并速度。\r\n\r\n　　如果并非完全相同，"),
              std::string::npos);
    EXPECT_NE(t.find("无声等异常现象。\r\n\r\n　　建议在快速合并生成视频后，"), std::string::npos);
    EXPECT_EQ(t.substr(t.size() - std::string("检查各个部分能否正常播放。").size()),
              "检查各个部分能否正常播放。");
    Form->CkFastJoin->click();
    EXPECT_EQ(Dlg->Told.size(), 1u);
}

// Catches: a control left enabled while merging (or disabled when idle), the
// stop caption or Tag missing, the progress text wrong, and an unknown total
// clearing the label.
TEST_F(Window, ControlStatesAndProgress) {
    Form->EnableControls(false);
    for (QWidget* w :
         {(QWidget*)Form->EtF4vOutput, (QWidget*)Form->SbSetOutFileName, (QWidget*)Form->SbAutoSet,
          (QWidget*)Form->LbF4vInputFiles, (QWidget*)Form->BtAdd, (QWidget*)Form->BtRemove,
          (QWidget*)Form->BtClear, (QWidget*)Form->BtUp, (QWidget*)Form->BtDown})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    for (QWidget* w :
         {(QWidget*)Form->BtJoin, (QWidget*)Form->BtCheckDup, (QWidget*)Form->BtAutoSort,
          (QWidget*)Form->CkFastJoin, (QWidget*)Form->CbAutoDel})
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_EQ(Form->BtJoin->text().toStdString(), "停　止");
    EXPECT_EQ(Form->BtJoin->property("Tag").toInt(), 1);
    Form->EnableControls(true);
    EXPECT_TRUE(Form->BtDown->isEnabled() && Form->EtF4vOutput->isEnabled());
    EXPECT_EQ(Form->BtJoin->property("Tag").toInt(), 0);

    TProgressInfo info;
    info.CurrentTime = 83500000;
    info.TotalDuration = 167000000;
    info.TotalSize = 5000000;
    Form->FFEncoder.OnProgress(&Form->FFEncoder, &info);  // the encoder's handler
    EXPECT_EQ(Form->LblState->text().toStdString(), "50% 00:01:23 4882kb");
    info.TotalDuration = 0;
    Form->FFEncoderProgress(&Form->FFEncoder, &info);
    EXPECT_EQ(Form->LblState->text().toStdString(), "50% 00:01:23 4882kb");
}

// Catches: the merge not reaching the driver (or with the wrong switch), no
// merging state while it runs, the list changed by a drop or a sort while
// merging, a success message missing, the label left filled, and deleted
// sources left in the list.
TEST_F(Window, FastMergeThroughTheWindow) {
    ASSERT_TRUE(Form->FormCreate());
    const std::vector<std::string> files = {Clip("b'2.flv", {"--duration", "1", "--pattern", "1"}),
                                            Clip("a 1.flv", {"--duration", "1"}),
                                            Clip("片3.flv", {"--duration", "1", "--pattern", "2"})};
    int64_t video = 0, audio = 0;
    for (const auto& f : files) {
        const test::MediaInfo m = test::ReadMediaInfo(f);
        video += m.Video()->packets;
        audio += m.Audio()->packets;
    }
    const std::string out = Dir.File("合并 out.flv");
    std::string stateCaption;
    bool listEnabled = true, sortEnabled = false, dropped = true;
    std::vector<std::string> sortedDuring;
    DuringMerge([&] {
        dropped =
            Drop(*Form, {QUrl::fromLocalFile(QString::fromStdString(files[0]))}, Qt::CopyAction);
        Form->BtAutoSort->click();  // the list is locked while it is merged
        sortedDuring = Form->StringsToArray();
        stateCaption = Form->BtJoin->text().toStdString();
        listEnabled = Form->LbF4vInputFiles->isEnabled();
        sortEnabled = Form->BtAutoSort->isEnabled();
    });
    Form->CbAutoDel->setChecked(true);
    Merge(files, out, true);
    EXPECT_EQ(stateCaption, "停　止");
    EXPECT_FALSE(listEnabled);
    EXPECT_TRUE(sortEnabled);
    EXPECT_FALSE(dropped);            // the list is not changed while it is merged
    EXPECT_TRUE(Dlg->Asked.empty());  // one encoding: no question
    EXPECT_EQ(Dlg->Told, (std::vector<std::string>{"合并成功", "合并后删除源文件组，成功"}));
    ExpectIdle();
    EXPECT_EQ(Form->LbF4vInputFiles->count(), 0);
    for (const auto& f : files) EXPECT_FALSE(Exists(f)) << f;
    const test::MediaInfo m = test::ReadMediaInfo(out);
    ASSERT_TRUE(m.Ok()) << m.error;
    EXPECT_EQ(m.format, "flv");
    EXPECT_EQ(m.Video()->packets, video);  // copied: every packet of every source
    EXPECT_EQ(m.Audio()->packets, audio);
}

// Catches: the re-encoding switch not reaching the driver, a result other
// than H.264 + AAC of every source picture, and sources deleted although the
// box was unticked during the merge.
TEST_F(Window, ReencodingMergeThroughTheWindow) {
    ASSERT_TRUE(Form->FormCreate());
    const std::vector<std::string> files = {Clip("a.mp4", {"--duration", "1", "--bframes", "2"}),
                                            Clip("b.ts", {"--duration", "1", "--size", "320x180"})};
    int64_t frames = 0;
    for (const auto& f : files) frames += test::ReadMediaInfo(f, {true}).Video()->decodedFrames;
    const std::string out = Dir.File("re.flv");
    // Unticked while merging: the sources stay.
    Form->CbAutoDel->setChecked(true);
    DuringMerge([&] { Form->CbAutoDel->setChecked(false); });
    Merge(files, out, false);
    EXPECT_EQ(Dlg->Told, std::vector<std::string>{"合并成功"});
    ExpectIdle();
    EXPECT_EQ(Form->LbF4vInputFiles->count(), 2);
    for (const auto& f : files) EXPECT_TRUE(Exists(f)) << f;
    const test::MediaInfo m = test::ReadMediaInfo(out, {true});
    ASSERT_TRUE(m.Ok()) << m.error;
    ASSERT_NE(m.Video(), nullptr);
    ASSERT_NE(m.Audio(), nullptr);
    EXPECT_EQ(m.Video()->codec, "h264");
    EXPECT_EQ(m.Audio()->codec, "aac");
    EXPECT_EQ(m.Video()->decodedFrames, frames);
    EXPECT_EQ(m.Video()->decodeErrors, 0);
}

// Catches: a stop click that does not stop, a stop reported with a message,
// an output without its ending, and the window left in the merging state.
TEST_F(Window, StopClick) {
    ASSERT_TRUE(Form->FormCreate());
    const std::string a = Clip("long.flv", {"--duration", "6", "--size", "640x360"});
    const std::string out = Dir.File("stopped.flv");
    DuringMerge([&] { Form->BtJoin->click(); });
    Merge({a, a}, out, false);
    EXPECT_TRUE(Dlg->Told.empty()) << Dlg->Told[0];
    ExpectIdle();
    const test::MediaInfo m = test::ReadMediaInfo(out);
    ASSERT_TRUE(m.Ok()) << m.error;
    EXPECT_TRUE(m.readError.empty()) << m.readError;
    ASSERT_NE(m.Video(), nullptr);
    EXPECT_LT(m.Video()->packets, 300);  // not the whole merge
}

// Catches: closing mid-merge without a question, destroying the running
// encoder or leaving a file without its ending (Yes), and a No that stops
// or closes anyway.
TEST_F(Window, ClosingDuringAMerge) {
    ASSERT_TRUE(Form->FormCreate());
    Form->show();
    const std::string a = Clip("a.flv", {"--duration", "2"});
    Dlg->Answers = {false};
    DuringMerge([&] { Form->close(); });
    Merge({a, a}, Dir.File("kept.flv"), false);
    EXPECT_EQ(Dlg->Asked, std::vector<std::string>{"正在合并，是否停止合并并退出？"});
    EXPECT_EQ(Dlg->Told, std::vector<std::string>{"合并成功"});
    EXPECT_TRUE(Form->isVisible());
    EXPECT_EQ(test::ReadMediaInfo(Dir.File("kept.flv")).Video()->packets, 100);

    Dlg->Asked.clear();
    Dlg->Told.clear();
    Dlg->Answers = {true};
    const std::string b = Clip("long.flv", {"--duration", "6", "--size", "640x360"});
    DuringMerge([&] { Form->close(); });
    Merge({b, b}, Dir.File("partial.flv"), false);
    EXPECT_EQ(Dlg->Asked, std::vector<std::string>{"正在合并，是否停止合并并退出？"});
    EXPECT_TRUE(Dlg->Told.empty());
    EXPECT_FALSE(Form->isVisible());
    EXPECT_FALSE(Form->Merging());
    const test::MediaInfo m = test::ReadMediaInfo(Dir.File("partial.flv"));
    ASSERT_TRUE(m.Ok()) << m.error;
    EXPECT_TRUE(m.readError.empty()) << m.readError;
    EXPECT_LT(m.Video()->packets, 300);
}

// Catches: folders, remote URLs or missing files taken from a drop, files
// appended out of order, a move accepted, and drops while a merge runs.
TEST_F(Window, DroppingFiles) {
    const std::string a = Dir.File("a clip.flv"), b = Dir.File("b片.mp4");
    std::ofstream(a) << "x";
    std::ofstream(b) << "x";
    Form->AppendFiles({"/first"});
    auto drop = [&](Qt::DropActions actions) {
        return Drop(*Form,
                    {QUrl::fromLocalFile(QString::fromStdString(b)),
                     QUrl::fromLocalFile(QString::fromStdString(Dir.Path())),
                     QUrl(QStringLiteral("https://example.com/c.flv")),
                     QUrl::fromLocalFile(QString::fromStdString(Dir.File("gone.flv"))),
                     QUrl::fromLocalFile(QString::fromStdString(a))},
                    actions);
    };
    EXPECT_FALSE(drop(Qt::MoveAction));
    EXPECT_EQ(Form->LbF4vInputFiles->count(), 1);
    EXPECT_TRUE(drop(Qt::CopyAction | Qt::MoveAction));
    EXPECT_EQ(Form->StringsToArray(), (std::vector<std::string>{"/first", b, a}));
    EXPECT_TRUE(Form->acceptDrops());
}

// Catches: a worker's call for the main thread left waiting while no merge
// runs (the window's own event loop must serve the queue).
TEST_F(Window, ServesMainThreadCallsWhenIdle) {
    std::atomic<bool> ran = false;
    std::thread worker([&] { RunOnMainThread([&] { ran = true; }); });
    QEventLoop loop;
    QTimer::singleShot(300, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_TRUE(ran);
    while (!ran) DrainMainThreadCalls();
    worker.join();
}

// Catches: a fast merge of differently encoded sources started without a
// word, a question that does not name the files and every differing value,
// and a No that merges anyway.
TEST_F(Window, DifferingSourcesQuestion) {
    ASSERT_TRUE(Form->FormCreate());
    const std::string a = Clip("a.flv", {"--duration", "1"});
    const std::string b =
        Clip("big.flv", {"--duration", "1", "--size", "640x360", "--sample-rate", "48000"});
    const std::string out = Dir.File("out.flv");
    Merge({a, a, b}, out, true);
    ASSERT_EQ(Dlg->Asked.size(), 1u);
    const std::string& q = Dlg->Asked[0];
    EXPECT_NE(q.find(a), std::string::npos) << q;
    EXPECT_NE(q.find(b + ": "), std::string::npos) << q;
    EXPECT_NE(q.find("size 640x360 / "), std::string::npos) << q;
    EXPECT_NE(q.find("rate 48000 / "), std::string::npos) << q;
    EXPECT_EQ(q.find(a + ": "), std::string::npos) << q;  // the same file is no difference
    EXPECT_EQ(q.substr(q.size() - std::string("是否仍然快速合并？").size()), "是否仍然快速合并？");
    EXPECT_TRUE(Dlg->Told.empty());
    EXPECT_FALSE(Exists(out));
    ExpectIdle();

    std::vector<TSourceFacts> facts(2);
    facts[0].File = "/a";
    facts[1].File = "/b";
    facts[0].HasVideo = facts[1].HasVideo = true;
    facts[0].SampleAspect = {0, 1};  // unknown is square
    facts[1].SampleAspect = {1, 1};
    EXPECT_TRUE(SourceDifferences(facts).empty());
    facts[1].HasAudio = true;
    facts[1].Rotation = 90;
    EXPECT_EQ(SourceDifferences(facts),
              std::vector<std::string>{"/b: streams video+audio / video, rotation 90 / 0"});
}

// Catches: a message box with an icon, other buttons or another caption, a
// question without Yes and No, and No taken for Yes.
TEST_F(Window, RealMessageAndQuestionBoxes) {
    TWindowDialogs dialogs(Form.get());
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::Warning;
    QMessageBox::StandardButtons buttons;
    auto answer = [&](QMessageBox::StandardButton press) {
        QTimer::singleShot(0, [&, press] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            buttons = box->standardButtons();
            box->button(press)->click();
        });
    };
    answer(QMessageBox::Ok);
    dialogs.Tell("a\r\nb <i>");
    EXPECT_EQ(title.toStdString(), "Tarnwick");
    EXPECT_EQ(text.toStdString(), "a\nb <i>");
    EXPECT_EQ(icon, QMessageBox::NoIcon);
    EXPECT_EQ(buttons, QMessageBox::Ok);
    answer(QMessageBox::No);
    EXPECT_FALSE(dialogs.AskYesNo("覆盖？"));
    EXPECT_EQ(icon, QMessageBox::Question);
    EXPECT_EQ(buttons, QMessageBox::Yes | QMessageBox::No);
    answer(QMessageBox::Yes);
    EXPECT_TRUE(dialogs.AskYesNo("覆盖？"));
}

// Catches: an About box without the version, the libraries' versions or the
// folder, and panels the stand-in leaves empty.
TEST_F(Window, PublisherStandIn) {
    EXPECT_FALSE(InitPublisherServices("qelmo", "Tarnwick"));
    EXPECT_EQ(ApplicationTitle(), "Tarnwick");
    FillPublisherPanels(Form->pnlNotice, Form->pnlMenu);
    EXPECT_NE(Form->pnlMenu->findChild<QToolButton*>("btnMenu"), nullptr);
    auto* banner = Form->pnlNotice->findChild<QLabel*>("lblNotice");
    ASSERT_NE(banner, nullptr);
    EXPECT_TRUE(banner->text().contains("Tarnwick"));
    const std::string about = AboutText();
    EXPECT_EQ(about.rfind("Tarnwick " TARNWICK_VERSION "\n", 0), 0u) << about;
    EXPECT_NE(about.find("libavcodec " + std::to_string(LIBAVCODEC_VERSION_MAJOR) + "."),
              std::string::npos)
        << about;
    EXPECT_NE(about.find("库文件夹: system"), std::string::npos) << about;
}

// Catches: the program not starting on its own or ending before it is closed.
TEST_F(Window, ProgramStaysUpUntilClosed) {
    const std::string exe = std::string(TW_BUILD_DIR) + "/app/tarnwick";
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    sleep(2);
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << "ended with " << status;
    kill(pid, SIGTERM);
    waitpid(pid, &status, 0);
}

// Catches: a failed library load that leaves the window open, says nothing,
// or still sets the caption. Runs last: it unloads the libraries.
TEST_F(Window, ZLibraryFolderThatFailsToLoad) {
    const std::string folder = Dir.File("LibAV");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    std::ofstream(folder + "/libavcodec.so.59") << "not a library";
    Form->show();
    Form->LibraryFolder = [&] { return folder; };
    FFLoader().Unload(WorkLibraryKinds);
    ASSERT_FALSE(Form->FFEncoder.LibrariesLoaded());
    EXPECT_FALSE(Form->FormCreate());
    EXPECT_TRUE(Form->LoadFailed());
    ASSERT_EQ(Dlg->Told.size(), 1u);
    EXPECT_EQ(Dlg->Told[0].rfind("Load library " + folder + "/libavcodec.so.59 error: ", 0), 0u)
        << Dlg->Told[0];
    EXPECT_EQ(Form->LblState->text().toStdString(), "1111");
    EXPECT_NE(Form->windowTitle().toStdString(), "Tarnwick");
    QApplication::processEvents();
    EXPECT_FALSE(Form->isVisible());
    FFLoader().SetLibraryPath("");
    EXPECT_TRUE(FFLoader().Load(WorkLibraryKinds)) << FFLoader().LastErrMsg();
}

}  // namespace
}  // namespace tw
