// tests/window/XFormMerge_test.cpp — merges through the window: refused merges,
// the merging state and its progress, real merges of generated clips, stopping,
// closing mid-merge and the question about differing sources.
#include <dirent.h>

#include "app/window/OutputName.h"
#include "tests/window/WindowFixture.h"

namespace tw {
namespace {

using test::Drop;
using test::Exists;
using test::Window;

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
    // A report before anything has a media time: the start, not a huge time.
    info.TotalDuration = 167000000;
    info.CurrentTime.reset();
    Form->FFEncoderProgress(&Form->FFEncoder, &info);
    EXPECT_EQ(Form->LblState->text().toStdString(), "0% 00:00:00 4882kb");
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

// Catches: a Join click that returns only when the merge has ended (the
// window's thread held by the merge, its timers and queued calls served only
// by a loop of the merge's own), and a merge that then does not end well.
TEST_F(Window, MergeRunsBesideTheWindowsEvents) {
    ASSERT_TRUE(Form->FormCreate());
    const std::string a = Clip("a.flv", {"--duration", "2"});
    SetList({a, a});
    Form->EtF4vOutput->setText(QString::fromStdString(Dir.File("out.flv")));
    int ticksWhileMerging = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (Form->BtJoin->property("Tag").toInt() == 1) ++ticksWhileMerging;
    });
    timer.start(1);
    Form->BtJoin->click();
    EXPECT_TRUE(Form->Merging());  // the click is back before the merge has ended
    test::AwaitIdle(*Form);
    EXPECT_GT(ticksWhileMerging, 0);
    EXPECT_EQ(Dlg->Told, std::vector<std::string>{"合并成功"});
    ExpectIdle();
    EXPECT_EQ(test::ReadMediaInfo(Dir.File("out.flv")).Video()->packets, 100);
}

// Catches: a stop click that does not stop, a stop reported with a message,
// an output without its ending, and the window left in the merging state.
TEST_F(Window, StopClick) {
    ASSERT_TRUE(Form->FormCreate());
    const std::string a = Clip("long.flv", {"--duration", "6", "--size", "640x360"});
    const std::string out = Dir.File("stopped.flv");
    OnceMediaIsWritten([&] { Form->BtJoin->click(); });
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
    OnceMediaIsWritten([&] { Form->close(); });
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

// Catches: the window writing FLV whatever the output is called (an .mp4 or
// .mkv name holding FLV, which players and sites that trust the name
// misread), also for the name 自动设定 proposes from an .mp4 source, and a
// .flv, .f4v or unknown name not written as FLV.
TEST_F(Window, OutputContainerFollowsTheName) {
    ASSERT_TRUE(Form->FormCreate());
    const std::string a = Clip("a.mp4", {"--duration", "1"});
    const std::string b = Clip("b.flv", {"--duration", "1", "--pattern", "1"});
    const std::pair<const char*, const char*> cases[] = {{"o.mp4", "mov,mp4,m4a,3gp,3g2,mj2"},
                                                         {"o.MKV", "matroska,webm"},
                                                         {"o.flv", "flv"},
                                                         {"o.f4v", "flv"},
                                                         {"o.video", "flv"},
                                                         {"o.mov", "mov,mp4,m4a,3gp,3g2,mj2"},
                                                         {"o.ts", "mpegts"}};
    for (const auto& [name, format] : cases) {
        Merge({a, b}, Dir.File(name), true);
        const test::MediaInfo m = test::ReadMediaInfo(Dir.File(name));
        ASSERT_TRUE(m.Ok()) << name << ": " << m.error;
        EXPECT_EQ(m.format, format) << name;
    }
    SetList({a, b});
    Form->SbAutoSet->click();
    const std::string proposed = Form->EtF4vOutput->text().toStdString();
    ASSERT_EQ(proposed, Dir.File("a-joined.mp4"));
    Form->BtJoin->click();
    test::AwaitIdle(*Form);
    EXPECT_EQ(test::ReadMediaInfo(proposed).format, "mov,mp4,m4a,3gp,3g2,mj2");
    EXPECT_EQ(Dlg->Told, std::vector<std::string>(std::size(cases) + 1, "合并成功"));
}

// Catches: a relative output name written into the process's working folder
// (a desktop launcher's $HOME or /) instead of beside the first source, the
// name not shown in full, a name without an extension written without one,
// and "~" or "~/x.flv" taken literally.
TEST_F(Window, RelativeAndHomeOutputNames) {
    ASSERT_TRUE(Form->FormCreate());
    ASSERT_EQ(::mkdir(Dir.File("src").c_str(), 0755), 0);
    const std::string a = Clip("src/a.flv", {"--duration", "1"});
    const std::string src = Dir.File("src/");
    ASSERT_EQ(::mkdir(Dir.File("src/sub").c_str(), 0755), 0);
    const std::string home = Dir.File("home");
    ASSERT_EQ(::mkdir(home.c_str(), 0755), 0);
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    setenv("HOME", home.c_str(), 1);
    const std::pair<const char*, std::string> cases[] = {{"out", src + "out.flv"},
                                                         {"./sub/x.mkv", src + "sub/x.mkv"},
                                                         {"~/h.flv", home + "/h.flv"},
                                                         {"~/clip", home + "/clip.flv"}};
    for (const auto& [typed, written] : cases) {
        Merge({a}, typed, true);
        EXPECT_EQ(Form->EtF4vOutput->text().toStdString(), written) << typed;
        EXPECT_TRUE(Exists(written)) << typed;
        EXPECT_EQ(test::ReadMediaInfo(written).format,
                  written.ends_with(".mkv") ? "matroska,webm" : "flv")
            << typed;
        EXPECT_FALSE(Exists(typed)) << typed;  // nothing in the working folder
    }
    EXPECT_FALSE(Exists("out.flv"));
    EXPECT_EQ(Dlg->Told, std::vector<std::string>(std::size(cases), "合并成功"));
    Dlg->Told.clear();
    Merge({a}, "~", true);  // the home folder itself: no file to write
    EXPECT_EQ(Form->EtF4vOutput->text().toStdString(), home);
    EXPECT_EQ(Dlg->Told, std::vector<std::string>{home + "不是普通文件，不能作为合并到文件"});
    if (oldHome)
        setenv("HOME", savedHome.c_str(), 1);
    else
        unsetenv("HOME");

    EXPECT_EQ(ResolveOutputName("/v/x", "/a/b.flv"), "/v/x.flv");
    EXPECT_EQ(ResolveOutputName("/v/.hidden", "/a/b.flv"), "/v/.hidden.flv");
    EXPECT_EQ(ResolveOutputName("/v/", "/a/b.flv"), "/v/");
    EXPECT_EQ(ResolveOutputName("..", "/a/b.flv"), "/a/..");
    EXPECT_EQ(ResolveOutputName("x.y.z", "/a/b.flv"), "/a/x.y.z");
    EXPECT_EQ(ResolveOutputName("~root/r.flv", "/a/b.flv"), "/root/r.flv");
    EXPECT_EQ(ResolveOutputName("~no-such-user-tw/r.flv", "/a/b.flv"), "/a/~no-such-user-tw/r.flv");
    EXPECT_EQ(ResolveOutputName("", "/a/b.flv"), "");
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
    EXPECT_NE(q.find(b + "："), std::string::npos) << q;
    EXPECT_NE(q.find("尺寸 640x360 / "), std::string::npos) << q;
    EXPECT_NE(q.find("采样率 48000 / "), std::string::npos) << q;
    EXPECT_EQ(q.find(a + "："), std::string::npos) << q;  // the same file is no difference
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
              std::vector<std::string>{"/b：流 视频+音频 / 视频，旋转 90 / 0"});
    SetMessagesLanguage("en");
    EXPECT_EQ(SourceDifferences(facts),
              std::vector<std::string>{"/b: streams video+audio / video, rotation 90 / 0"});
    SetMessagesLanguage("zh_CN");
}

// Catches: a yes to the question over differing sources copying them as
// they are (a part at its own size and frame rate) instead of re-encoding
// only the one that differs, and its hidden part left behind.
TEST_F(Window, DifferingSourcesMergedSmartlyAfterTheQuestion) {
    ASSERT_TRUE(Form->FormCreate());
    const std::string a = Clip("a.flv", {"--duration", "1"});
    const std::string b = Clip("b.flv", {"--duration", "1", "--seed", "1"});
    const std::string big =
        Clip("big.flv", {"--duration", "1", "--size", "640x360", "--fps", "30"});
    const std::string out = Dir.File("out.flv");
    Dlg->Answers = {true};
    Merge({a, big, b}, out, true);
    ASSERT_EQ(Dlg->Asked.size(), 1u);
    EXPECT_EQ(Dlg->Told, std::vector<std::string>{"合并成功"});
    ExpectIdle();
    const test::MediaInfo m = test::ReadMediaInfo(out, {.decode = true});
    ASSERT_TRUE(m.Ok()) << m.error;
    EXPECT_EQ(m.Video()->decodeErrors, 0);
    // 3 x 1 s at the first's 25 frames per second (the frame-rate change
    // may round up by one picture); a copy of big's 30 would give 80.
    EXPECT_GE(m.Video()->packets, 75);
    EXPECT_LE(m.Video()->packets, 76);
    EXPECT_EQ(m.Video()->width, 320);
    EXPECT_EQ(m.Audio()->decodeErrors, 0);
    DIR* d = ::opendir(Dir.Path().c_str());
    ASSERT_NE(d, nullptr);
    int hidden = 0;
    while (const dirent* e = ::readdir(d)) hidden += e->d_name[0] == '.' && e->d_name[1] > '.';
    ::closedir(d);
    EXPECT_EQ(hidden, 0);
}

}  // namespace
}  // namespace tw
