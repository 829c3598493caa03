// tests/app/OutputFiles_test.cpp — what the command line reports of its
// output file: the size written so far counts what is still buffered, and a
// write that fails gives the system's error whatever the file's name.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "app/JoinDriver.h"
#include "app/OutputContainer.h"
#include "binding/Entries.h"
#include "binding/FFLoad.h"
#include "binding/UnicodeProtocol.h"
#include "tests/support/TempDir.h"

namespace tw {
namespace {

// Catches: the container of an output that names none (no extension, an
// unknown one) drifting apart from the driver's and the window's default, or
// a known extension or format taking the default instead of its own.
TEST(OutputContainer, NamesAndTheOneDefault) {
    EXPECT_STREQ(kDefaultContainer, "flv");
    EXPECT_EQ(ContainerFor("/v/out"), kDefaultContainer);
    EXPECT_EQ(ContainerFor("/v.d/out"), kDefaultContainer);
    EXPECT_EQ(ContainerFor("/v/out.avi"), kDefaultContainer);
    EXPECT_EQ(ContainerFor("/v/out.F4V"), "flv");
    EXPECT_EQ(ContainerFor("/v/out.m4v"), "mp4");
    EXPECT_EQ(ContainerFor("/v/out.mkv"), "matroska");
    EXPECT_EQ(ContainerFor("/v/out.ts"), "mpegts");
    EXPECT_EQ(ContainerFor("/v/out.mp4", "f4v"), "flv");
    EXPECT_EQ(ContainerFor("/v/out.mp4", "avi"), "");
    EXPECT_EQ(TJoinSettings{}.Container, kDefaultContainer);
}

class OutputFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds)) << FFLoader().LastErrMsg();
    }
    test::TempDir Dir;
};

// Catches: the progress size (avio_size of the output) staying 0 until the
// first whole 256 KB buffer went to the writer thread.
TEST_F(OutputFiles, SizeCountsWhatIsBuffered) {
    for (const std::string& name : {Dir.File("plain.flv"), Dir.File("with:colon.flv")}) {
        SCOPED_TRACE(name);
        AVIOContext* raw = nullptr;
        ASSERT_EQ(OpenLibraryIO(ToLibraryFileName(name), AVIO_FLAG_WRITE, &raw, nullptr, nullptr),
                  0);
        std::unique_ptr<AVIOContext, TLibraryIOClose> pb(raw);
        std::vector<uint8_t> data(1000, 7);
        lib().avio_write(pb.get(), data.data(), int(data.size()));
        EXPECT_EQ(lib().avio_size(pb.get()), 1000);
        lib().avio_write(pb.get(), data.data(), int(data.size()));
        EXPECT_EQ(lib().avio_size(pb.get()), 2000);
        EXPECT_EQ(FlushLibraryIO(pb.get()), 0);
        EXPECT_EQ(lib().avio_size(pb.get()), 2000);
    }
}

// Catches: a failed write through the wide-name protocol (a name with a
// colon) reported as -1, "Operation not permitted", instead of the
// system's error. A file-size limit stands in for a full disk.
TEST_F(OutputFiles, FailedWriteGivesTheSystemsError) {
    for (const std::string& name : {Dir.File("plain.flv"), Dir.File("with:colon.flv")}) {
        SCOPED_TRACE(name);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{64 * 1024, 64 * 1024};
            setrlimit(RLIMIT_FSIZE, &limit);
            AVIOContext* pb = nullptr;
            if (OpenLibraryIO(ToLibraryFileName(name), AVIO_FLAG_WRITE, &pb, nullptr, nullptr) != 0)
                _exit(2);
            std::vector<uint8_t> data(1024 * 1024, 7);
            lib().avio_write(pb, data.data(), int(data.size()));
            const int flushed = FlushLibraryIO(pb);
            const int closed = CloseLibraryIO(&pb);
            const int error = flushed < 0 ? flushed : closed;
            _exit(error == AVERROR(EFBIG) ? 0 : error == AVERROR(EPERM) ? 3 : 4);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "3: EPERM, 4: another error";
    }
}

}  // namespace
}  // namespace tw
