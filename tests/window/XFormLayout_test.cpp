// tests/window/XFormLayout_test.cpp — the merge window's face: controls,
// captions, geometry and anchoring, tab order, the fast-merge note, the real
// message boxes and the publisher's stand-in.
#include "tests/window/WindowFixture.h"

namespace tw {
namespace {

using test::Window;

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

// Catches: a message box without the icon of its kind (an error that looks
// like a success), other buttons or another caption, a question without Yes
// and No, Yes as the default or the answer to Escape, and No taken for Yes.
TEST_F(Window, RealMessageAndQuestionBoxes) {
    TWindowDialogs dialogs(Form.get());
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton,
                                escape = QMessageBox::NoButton;
    auto answer = [&](QMessageBox::StandardButton press) {
        QTimer::singleShot(0, [&, press] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            buttons = box->standardButtons();
            defaultButton = box->defaultButton() ? box->standardButton(box->defaultButton())
                                                 : QMessageBox::NoButton;
            escape = box->escapeButton()
                         ? box->standardButton(qobject_cast<QAbstractButton*>(box->escapeButton()))
                         : QMessageBox::NoButton;
            box->button(press)->click();
        });
    };
    answer(QMessageBox::Ok);
    dialogs.Tell("a\r\nb <i>", nkInformation);
    EXPECT_EQ(title.toStdString(), "Tarnwick");
    EXPECT_EQ(text.toStdString(), "a\nb <i>");
    EXPECT_EQ(icon, QMessageBox::Information);
    EXPECT_EQ(buttons, QMessageBox::Ok);
    answer(QMessageBox::Ok);
    dialogs.Tell("x", nkWarning);
    EXPECT_EQ(icon, QMessageBox::Warning);
    answer(QMessageBox::Ok);
    dialogs.Tell("x", nkError);
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(buttons, QMessageBox::Ok);

    answer(QMessageBox::No);
    EXPECT_FALSE(dialogs.AskYesNo("覆盖？"));
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(defaultButton, QMessageBox::No);
    EXPECT_EQ(escape, QMessageBox::No);
    answer(QMessageBox::Yes);
    EXPECT_TRUE(dialogs.AskYesNo("覆盖？"));
}

// Catches: the window's own messages and the driver's shown with the wrong
// icon: a refusal or failure as a plain note, a result as an error.
TEST_F(Window, MessageKinds) {
    ASSERT_TRUE(Form->FormCreate());
    Form->BtRemove->click();
    Form->SbAutoSet->click();
    SetList({"/x/a.flv", "/x/A.FLV"});
    Form->BtCheckDup->click();
    Form->CkFastJoin->click();
    Form->CkFastJoin->setChecked(false);
    Form->EtF4vOutput->setText(QString::fromStdString(Dir.File("out.flv")));
    Form->BtJoin->click();  // the sources do not exist
    test::AwaitIdle(*Form);
    const std::string clip = test::GenerateClip(Dir.File("c.flv"), {"--duration", "1"});
    SetList({clip});
    Form->BtJoin->click();
    test::AwaitIdle(*Form);
    EXPECT_EQ(Dlg->Kinds, (std::vector<TNoticeKind>{nkError, nkError, nkWarning, nkInformation,
                                                    nkError, nkInformation}))
        << ::testing::PrintToString(Dlg->Told);
    EXPECT_EQ(Dlg->Told.back(), "合并成功");
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
    EXPECT_NE(about.find("库文件夹: 系统"), std::string::npos) << about;
}

}  // namespace
}  // namespace tw
