// tests/base/AsyncFileWriter_test.cpp — output files written on a thread of
// their own: every byte in place after seeks and flushes, and write failures
// reported instead of lost.
#include "binding/AsyncFileWriter.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
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

// Rebuilds the file from what it is shown: each write at its position.
class TImage : public TAsyncFileObserver {
  public:
    explicit TImage(std::string& image) : FImage(image) {}
    void Written(int64_t pos, const uint8_t* data, size_t size) override {
        if (FImage.size() < size_t(pos) + size) FImage.resize(size_t(pos) + size);
        FImage.replace(size_t(pos), size, reinterpret_cast<const char*>(data), size);
    }

  private:
    std::string& FImage;
};

// Catches: an observer shown writes at the wrong position after a seek (the
// muxer's corrections of its header and trailer), or shown bytes of which
// some never reach it; a tail moved over itself or by the wrong amount; an
// observer taken for a file nothing can be written back into; bytes read
// back before they were written.
TEST_F(AsyncFile, ObserverSeesEveryWriteAndTailsMove) {
    const std::string path = Dir + "/seen.bin";
    AVIOContext* pb = nullptr;
    ASSERT_EQ(OpenAsyncFile(path, &pb), 0);
    std::string seen;
    ASSERT_EQ(WatchAsyncFile(pb, std::make_unique<TImage>(seen)), 0);
    EXPECT_NE(AsyncFileObserver(pb), nullptr);
    EXPECT_EQ(WatchAsyncFile(pb, std::make_unique<TImage>(seen)), AVERROR(EINVAL));
    std::string expected;
    for (int i = 0; i < 200000; ++i) expected += char('a' + (i * 7) % 26);
    const auto put = [&](const std::string& s) {
        lib().avio_write(pb, reinterpret_cast<const unsigned char*>(s.data()), int(s.size()));
    };
    put(expected.substr(0, 150000));
    lib().avio_seek(pb, 10, SEEK_SET);  // out of the buffer: through the seek
    put("0123");
    lib().avio_seek(pb, 150000, SEEK_SET);
    put(expected.substr(150000));
    expected.replace(10, 4, "0123");
    ASSERT_EQ(DrainAsyncFile(pb), 0);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(ReadAll(path), expected);

    // Moved on by 1000 bytes from 5000; then the gap written.
    ASSERT_EQ(MoveAsyncFileTail(pb, 5000, 1000), 0);
    lib().avio_seek(pb, 5000, SEEK_SET);
    put(std::string(1000, '#'));
    // Read back through the same file, the last bytes still in the context.
    uint8_t back[8] = {};
    EXPECT_EQ(ReadAsyncFile(pb, 4996, back, sizeof back), 8);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(back), 8), expected.substr(4996, 4) + "####");
    ASSERT_EQ(CloseAsyncFile(&pb), 0);
    EXPECT_EQ(ReadAll(path),
              expected.substr(0, 5000) + std::string(1000, '#') + expected.substr(5000));

    ASSERT_EQ(OpenAsyncFile("/dev/null", &pb), 0);
    EXPECT_EQ(WatchAsyncFile(pb, std::make_unique<TImage>(seen)), AVERROR(ESPIPE));
    EXPECT_EQ(AsyncFileObserver(pb), nullptr);
    EXPECT_EQ(CloseAsyncFile(&pb), 0);
}

}  // namespace
}  // namespace tw
