// tests/base/AsyncFileWriter_test.cpp — output files written on a thread of
// their own: every byte in place after seeks and flushes, and write failures
// reported instead of lost.
#include "binding/AsyncFileWriter.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "binding/Entries.h"
#include "binding/FFLoad.h"
#include "binding/UnicodeProtocol.h"

namespace tw {
namespace {

class AsyncFile : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds)) << FFLoader().LastErrMsg();
        char tmpl[] = "/tmp/tw-async-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        Dir = tmpl;
    }
    void TearDown() override {
        std::error_code ignored;
        if (!Dir.empty()) std::filesystem::remove_all(Dir, ignored);
    }
    static std::string ReadAll(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string Dir;
};

// Catches: queued buffers written out of order, a seek or size query that
// does not wait for them, or a flush that returns before the data is in the
// file (the muxers reopen their output to read it back).
TEST_F(AsyncFile, EveryByteInPlaceAfterSeeksAndFlushes) {
    const std::string path = Dir + "/out.bin";
    AVIOContext* pb = nullptr;
    ASSERT_EQ(OpenLibraryIO(path, AVIO_FLAG_WRITE, &pb), 0);
    ASSERT_TRUE(IsAsyncFileIO(pb));
    // Twenty whole buffers go to the writer thread; the size query waits for
    // them.
    std::string expected(20 * 256 * 1024, 'q');
    lib().avio_write(pb, reinterpret_cast<const unsigned char*>(expected.data()),
                     static_cast<int>(expected.size()));
    EXPECT_EQ(lib().avio_size(pb), static_cast<int64_t>(expected.size()));
    for (int i = 0; i < 3000; ++i) {
        const std::string piece = std::to_string(i) + std::string(i % 1000 + 1, char('a' + i % 26));
        lib().avio_write(pb, reinterpret_cast<const unsigned char*>(piece.data()),
                         static_cast<int>(piece.size()));
        expected += piece;
    }
    lib().avio_seek(pb, 2, SEEK_SET);
    lib().avio_write(pb, reinterpret_cast<const unsigned char*>("XYZ"), 3);
    expected.replace(2, 3, "XYZ");
    lib().avio_seek(pb, static_cast<int64_t>(expected.size()), SEEK_SET);
    lib().avio_write(pb, reinterpret_cast<const unsigned char*>("end"), 3);
    expected += "end";
    EXPECT_EQ(FlushLibraryIO(pb), 0);
    EXPECT_EQ(ReadAll(path), expected);  // visible before the close
    EXPECT_EQ(CloseLibraryIO(&pb), 0);
    EXPECT_EQ(pb, nullptr);
    EXPECT_EQ(ReadAll(path), expected);
}

// Catches: a full disk noticed by the writer thread but never reported.
TEST_F(AsyncFile, AFullDiskIsReported) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    AVIOContext* pb = nullptr;
    ASSERT_EQ(OpenAsyncFile("/dev/full", &pb), 0);
    std::string block(1 << 20, 'x');
    lib().avio_write(pb, reinterpret_cast<const unsigned char*>(block.data()),
                     static_cast<int>(block.size()));
    EXPECT_EQ(DrainAsyncFile(pb), AVERROR(ENOSPC));
    EXPECT_EQ(CloseAsyncFile(&pb), AVERROR(ENOSPC));
    EXPECT_EQ(pb, nullptr);

    // Also when nothing is flushed before the close.
    ASSERT_EQ(OpenAsyncFile("/dev/full", &pb), 0);
    lib().avio_write(pb, reinterpret_cast<const unsigned char*>("abc"), 3);
    EXPECT_LT(CloseLibraryIO(&pb), 0);

    EXPECT_EQ(OpenAsyncFile(Dir + "/no/such/folder/x", &pb), AVERROR(ENOENT));
    EXPECT_EQ(pb, nullptr);
}

}  // namespace
}  // namespace tw
