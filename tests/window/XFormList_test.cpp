// tests/window/XFormList_test.cpp — the merge window's source list and output
// name: moving, removing, duplicates, natural sort, naming the output and
// dropped files.
#include "tests/window/WindowFixture.h"

namespace tw {
namespace {

using test::Drop;
using test::Window;

// Catches: Up/Down moving only the selected item and leaving its neighbour,
// the selection not travelling with the text, a block not moving as one,
// Remove deleting the focused item instead of every selected one, and
// missing messages when nothing is selected.
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
    Form->BtRemove->click();  // nothing selected
    EXPECT_EQ(Dlg->Told, std::vector<std::string>{"请选择要去除的文件"});
    Form->LbF4vInputFiles->setCurrentRow(2);
    Form->LbF4vInputFiles->item(0)->setSelected(true);
    Form->LbF4vInputFiles->item(3)->setSelected(true);
    ASSERT_EQ(Selected().size(), 3u);
    Form->BtRemove->click();
    EXPECT_EQ(Form->StringsToArray(), (std::vector<std::string>{"b"}));
    Form->BtClear->click();
    EXPECT_EQ(Form->LbF4vInputFiles->count(), 0);

    Dlg->Open = {"/v/上 海.flv", "/v/it's \"x\".mp4"};
    Form->BtAdd->click();
    Form->BtAdd->click();
    EXPECT_EQ(Form->StringsToArray(),
              (std::vector<std::string>{"/v/上 海.flv", "/v/it's \"x\".mp4", "/v/上 海.flv",
                                        "/v/it's \"x\".mp4"}));
}

// Catches: Remove after Up/Down taking the row the focus stayed on (an
// unselected neighbour: the merge then silently lacks a part) instead of the
// selected items, the focus not travelling with its item, and a second
// Remove taking whatever is left where the removed items were.
TEST_F(Window, RemoveAfterMovingTakesTheSelection) {
    SetList({"a", "b", "c"});
    Click(1);
    Form->BtUp->click();
    EXPECT_EQ(Form->LbF4vInputFiles->currentRow(), 0);
    Form->BtRemove->click();
    EXPECT_EQ(Form->StringsToArray(), (std::vector<std::string>{"a", "c"}));
    EXPECT_TRUE(Selected().empty());
    Form->BtRemove->click();
    EXPECT_EQ(Form->StringsToArray(), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(Dlg->Told, std::vector<std::string>{"请选择要去除的文件"});

    SetList({"a", "b", "c", "d", "e"});
    Click(1);
    Click(3, true);
    Form->BtUp->click();  // b and d up: b a d c e
    Form->BtDown->click();
    Form->BtDown->click();  // a c b e d
    ASSERT_EQ(Form->StringsToArray(), (std::vector<std::string>{"a", "c", "b", "e", "d"}));
    EXPECT_EQ(Selected(), (std::vector<int>{2, 4}));
    EXPECT_EQ(Form->LbF4vInputFiles->currentItem()->text().toStdString(), "d");
    Form->BtRemove->click();
    EXPECT_EQ(Form->StringsToArray(), (std::vector<std::string>{"a", "c", "e"}));

    // The focus on an unselected row after a move does not count.
    SetList({"a", "b", "c", "d"});
    Click(3);
    Click(0, true);
    Form->LbF4vInputFiles->setCurrentRow(2, QItemSelectionModel::NoUpdate);
    Form->BtDown->click();  // d stays at the bottom, a goes down: b a c d
    Form->BtRemove->click();
    EXPECT_EQ(Form->StringsToArray(), (std::vector<std::string>{"b", "c"}));
}

// Catches: a 21st file taken into the list (the merge then fails only when
// it is started), files beyond the limit added without a word, a message
// other than the engine's, and drops or the add dialog getting round it.
TEST_F(Window, AddingBeyondTwentyFilesIsRefusedAtOnce) {
    std::vector<std::string> files;
    for (int i = 0; i < 15; ++i) files.push_back("/v/" + std::to_string(i) + ".flv");
    Dlg->Open = files;
    Form->BtAdd->click();
    EXPECT_TRUE(Dlg->Told.empty());
    Form->BtAdd->click();
    EXPECT_EQ(Form->LbF4vInputFiles->count(), 20);
    EXPECT_EQ(Form->StringsToArray().back(), "/v/4.flv");  // the first ones, in order
    EXPECT_EQ(Dlg->Told, std::vector<std::string>{"最多只能增加 20 个源文件"});
    EXPECT_EQ(Dlg->Kinds, std::vector<TNoticeKind>{nkError});

    const std::string a = Dir.File("a.flv");
    std::ofstream(a) << "x";
    test::Drop(*Form, {QUrl::fromLocalFile(QString::fromStdString(a))}, Qt::CopyAction);
    EXPECT_EQ(Form->LbF4vInputFiles->count(), 20);
    EXPECT_EQ(Dlg->Told.size(), 2u);
    delete Form->LbF4vInputFiles->takeItem(0);  // a taken row is ours
    EXPECT_EQ(Form->AppendFiles({a, a}), 1u);
    EXPECT_EQ(Form->StringsToArray().back(), a);
}

// Catches: rows cut off at the bottom of the list (at the window's size, when
// it grows, and with a horizontal scroll bar), and rows of another height.
TEST_F(Window, ListShowsWholeRows) {
    Form->show();
    std::vector<std::string> files;
    for (int i = 0; i < 40; ++i) files.push_back("/v/" + std::to_string(i) + ".flv");
    SetList(files);
    QListWidget* list = Form->LbF4vInputFiles;
    auto check = [&](const char* when) {
        QApplication::processEvents();
        EXPECT_EQ(list->viewport()->height() % 13, 0)
            << when << ": view " << list->viewport()->height() << " high";
        EXPECT_EQ(list->visualItemRect(list->item(0)).height(), 13) << when;
        EXPECT_GE(list->viewport()->height(), list->height() - 2 * list->frameWidth() - 12 -
                                                  (list->horizontalScrollBar()->isVisible()
                                                       ? list->horizontalScrollBar()->height()
                                                       : 0))
            << when;
    };
    check("at the window's size");
    Form->resize(572, 503);
    check("grown");
    Form->resize(472, 448);
    list->addItem(QString(300, QChar('x')));
    check("with a horizontal scroll bar");
    EXPECT_TRUE(list->horizontalScrollBar()->isVisible());
    delete list->takeItem(list->count() - 1);
    check("without it again");
}

// Catches: the add dialog hiding the camera, phone and web containers
// (.mts, .m2ts, .3gp, .webm ...) or upper-case names, and no all-files
// choice for the rest.
TEST_F(Window, AddDialogOffersEveryVideoType) {
    TWindowDialogs dialogs(Form.get());
    QStringList filters;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        filters = dialog->nameFilters();
        dialog->reject();
    });
    EXPECT_TRUE(dialogs.OpenFiles().empty());
    ASSERT_EQ(filters.size(), 2);
    EXPECT_TRUE(filters[0].startsWith(QStringLiteral("全部视频文件 (")))
        << filters[0].toStdString();
    EXPECT_EQ(filters[1].toStdString(), "所有文件 (*)");
    const QStringList patterns = filters[0].mid(filters[0].indexOf('(') + 1).chopped(1).split(' ');
    auto offered = [&](const char* name) {
        for (const QString& p : patterns)
            if (QRegularExpression(QRegularExpression::wildcardToRegularExpression(p))
                    .match(QString::fromUtf8(name))
                    .hasMatch())
                return true;
        return false;
    };
    for (const char* name :
         {"a.mts", "a.MTS", "a.m2ts", "a.3gp", "a.3G2", "a.m4v", "a.webm", "a.OGV", "a.mxf",
          "a.divx", "a.f4v", "a.F4V", "a.flv", "a.rmvb", "a.Tp", "a.wmv", "a.mpeg", "a.avm"})
        EXPECT_TRUE(offered(name)) << name;
    EXPECT_FALSE(offered("a.txt"));
    EXPECT_FALSE(offered("a.mp3"));
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

}  // namespace
}  // namespace tw
