// tests/window/WindowFixture.h — the merge window with scripted dialogs,
// shared by the window's test files: the fixture, a merge through the Join
// button, and dropping files on the list.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFileDialog>
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
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <atomic>
#include <deque>
#include <fstream>
#include <functional>
#include <thread>

#include "app/Messages.h"
#include "app/window/NaturalOrder.h"
#include "app/window/PublisherServices.h"
#include "app/window/SourceDifferences.h"
#include "app/window/XForm.h"
#include "binding/FFLoad.h"
#include "diag/FFLog.h"
#include "diag/MainThread.h"
#include "tests/support/Media.h"
#include "tests/support/TempDir.h"
#include "tests/window/OffscreenApp.h"

namespace tw::test {

// Dialogs whose answers are scripted and whose texts are kept.
struct ScriptedDialogs : TWindowDialogs {
    ScriptedDialogs() : TWindowDialogs(nullptr) {}
    std::vector<std::string> Told, Asked;
    std::vector<TNoticeKind> Kinds;  // of each message told
    std::deque<bool> Answers;        // an empty script answers No
    std::vector<std::string> Open;
    std::string Save;
    void Tell(const std::string& text, TNoticeKind kind) override {
        Told.push_back(text);
        Kinds.push_back(kind);
    }
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

inline void AwaitIdle(TXForm& form);

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
    // A click on a row (it alone selected and focused) or a Ctrl+click
    // (added to the selection, focused).
    void Click(int row, bool ctrl = false) {
        Form->LbF4vInputFiles->setCurrentRow(
            row, ctrl ? QItemSelectionModel::Select : QItemSelectionModel::ClearAndSelect);
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
    // Runs fn on the main thread once ready() holds, looking every 5 ms.
    void Once(std::function<bool()> ready, std::function<void()> fn) {
        auto* timer = new QTimer(Form.get());
        QObject::connect(timer, &QTimer::timeout, Form.get(), [timer, ready, fn] {
            if (!ready()) return;
            timer->stop();
            timer->deleteLater();
            fn();
        });
        timer->start(5);
    }
    // Runs fn once the merge runs (the window in its merging state).
    void DuringMerge(std::function<void()> fn) {
        Once([this] { return Form->BtJoin->property("Tag").toInt() == 1; }, fn);
    }
    // Runs fn once the running merge has written media (a stop before that
    // keeps nothing).
    void OnceMediaIsWritten(std::function<void()> fn) {
        Once(
            [this] {
                // Its task is set up once the window shows the merging state.
                return Form->BtJoin->property("Tag").toInt() == 1 &&
                       Form->FFEncoder.TaskWroteMedia(0);
            },
            fn);
    }
    // Starts a merge of files into out and returns when it has ended.
    void Merge(const std::vector<std::string>& files, const std::string& out, bool fast) {
        SetList(files);
        Form->EtF4vOutput->setText(QString::fromStdString(out));
        Form->CkFastJoin->setChecked(fast);
        Form->BtJoin->click();
        AwaitIdle(*Form);
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

// Serves the window's events until no merge runs (a merge started by a
// click runs on its own thread).
inline void AwaitIdle(TXForm& form) {
    while (form.Merging()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// Drags urls over the list and drops them there; true when both the
// drag and the drop were accepted.
inline bool Drop(TXForm& form, const QList<QUrl>& urls, Qt::DropActions actions) {
    QMimeData mime;
    mime.setUrls(urls);
    const QPointF at = form.LbF4vInputFiles->geometry().center();
    QDragEnterEvent enter(at.toPoint(), actions, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &enter);
    QDropEvent dropped(at, actions, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &dropped);
    return enter.isAccepted() && dropped.isAccepted();
}

inline bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace tw::test
