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
