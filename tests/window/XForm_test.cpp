// tests/window/XForm_test.cpp — the merge window as a program: serving the
// main-thread queue while idle, staying up until closed, and a library folder
// that fails to load.
#include "tests/window/WindowFixture.h"

namespace tw {
namespace {

using test::Window;

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
