// tests/base/UnicodeProtocol_test.cpp — file names for the libraries and the
// "unicode" protocol that serves the ones they cannot open themselves.
#include "binding/UnicodeProtocol.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "binding/Entries.h"
#include "binding/FFLoad.h"

namespace tw {
namespace {

// Catches: protocol URLs turned into file names, or file names with a colon
// (which the libraries would take for a protocol) passed unchanged.
TEST(WideNames, ConversionRules) {
    EXPECT_EQ(ToLibraryFileName("/video/a.flv"), "/video/a.flv");
    EXPECT_EQ(ToLibraryFileName("/video/合并 a.flv"), "/video/合并 a.flv");  // valid UTF-8
    EXPECT_EQ(ToLibraryFileName("/video/a:b.flv"), "unicode:utf8:/video/a:b.flv");
    const std::string invalid = std::string("/video/\xff\xfe.flv");
    EXPECT_EQ(ToLibraryFileName(invalid), "unicode:utf8:" + invalid);
    // Known protocols stay URLs, compared case-sensitively.
    for (const char* url : {"http://host/a\xff.flv", "pipe:0", "udp://1.2.3.4:5", "rtp:x", "tcp:x",
                            "gopher:x", "stream:x"})
        EXPECT_EQ(ToLibraryFileName(url), url) << url;
    EXPECT_TRUE(NeedsWideProtocol("HTTP://host/a.flv"));
    EXPECT_TRUE(NeedsWideProtocol(":a.flv"));
    EXPECT_TRUE(NeedsWideProtocol("C:\\video\\a.flv"));
    // Already in the protocol's form: not converted again.
    EXPECT_EQ(ToLibraryFileName("unicode:utf8:/x:y"), "unicode:utf8:/x:y");
}

TEST(WideNames, DecodingAndRoundTrip) {
    EXPECT_FALSE(IsWideProtocolName("unicode:utf8:"));
    EXPECT_TRUE(IsWideProtocolName("unicode:utf8:a"));
    EXPECT_FALSE(IsWideProtocolName("Unicode:utf8:a"));
    EXPECT_EQ(DecodeWideName("unicode:utf8:a:b"), "a:b");
    EXPECT_EQ(DecodeWideName("nocolon"), "nocolon");
    for (const std::string name : {"/v/a:b.flv", "/v/\xc3\x28.flv", "/v/plain.flv", "/v/a b:c:d"})
        EXPECT_EQ(FromLibraryFileName(ToLibraryFileName(name)), name);
}

class WideProtocol : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds)) << FFLoader().LastErrMsg();
        char tmpl[] = "/tmp/tw-wide-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        Dir = tmpl;
    }
    void TearDown() override {
        std::error_code ignored;
        if (!Dir.empty()) std::filesystem::remove_all(Dir, ignored);
    }
    std::string Dir;
};

TEST_F(WideProtocol, RegisteredOnceWhateverHowOftenItIsCalled) {
    RegisterWideProtocol();
    RegisterWideProtocol();
    EXPECT_EQ(WideProtocolCount(), 1);
}

// Catches: a missing file opened as empty, a write that does not replace,
// and a size request that moves the read position.
TEST_F(WideProtocol, OpenReadWriteSeekAndSize) {
    const std::string path = Dir + "/a:b\xff.bin";
    const std::string url = ToLibraryFileName(path);
    ASSERT_TRUE(IsWideProtocolName(url));

    AVIOContext* pb = nullptr;
    EXPECT_EQ(OpenWideProtocol(url, wideRead, &pb), AVERROR(ENOENT));
    EXPECT_EQ(pb, nullptr);

    ASSERT_EQ(OpenWideProtocol(url, wideWrite, &pb), 0);
    lib().avio_write(pb, reinterpret_cast<const unsigned char*>("hello world"), 11);
    EXPECT_EQ(CloseWideProtocol(&pb), 0);
    EXPECT_EQ(pb, nullptr);

    // Writing again empties the file first.
    ASSERT_EQ(OpenLibraryIO(url, AVIO_FLAG_WRITE, &pb), 0);
    lib().avio_write(pb, reinterpret_cast<const unsigned char*>("12345"), 5);
    EXPECT_EQ(CloseLibraryIO(&pb), 0);
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 5);

    ASSERT_EQ(OpenLibraryIO(url, AVIO_FLAG_READ, &pb), 0);
    EXPECT_TRUE(IsWideProtocolIO(pb));
    unsigned char buf[16] = {};
    EXPECT_EQ(lib().avio_read(pb, buf, 2), 2);
    EXPECT_EQ(lib().avio_size(pb), 5);
    EXPECT_EQ(lib().avio_read(pb, buf, 16), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "345");
    EXPECT_LT(lib().avio_read(pb, buf, 16), 0);  // end of file, not "try again"
    EXPECT_TRUE(lib().avio_feof(pb));
    EXPECT_EQ(lib().avio_seek(pb, 1, SEEK_SET), 1);
    EXPECT_EQ(lib().avio_read(pb, buf, 1), 1);
    EXPECT_EQ(buf[0], '2');
    EXPECT_EQ(CloseLibraryIO(&pb), 0);
}

TEST_F(WideProtocol, PlainNamesGoThroughTheLibrary) {
    const std::string path = Dir + "/plain.bin";
    AVIOContext* pb = nullptr;
    ASSERT_EQ(OpenLibraryIO(ToLibraryFileName(path), AVIO_FLAG_WRITE, &pb), 0);
    EXPECT_FALSE(IsWideProtocolIO(pb));
    EXPECT_EQ(CloseWideProtocol(&pb), AVERROR(EINVAL));  // not ours: left alone
    EXPECT_EQ(CloseLibraryIO(&pb), 0);
    EXPECT_EQ(pb, nullptr);
    EXPECT_LT(OpenLibraryIO(ToLibraryFileName(Dir + "/missing.bin"), AVIO_FLAG_READ, &pb), 0);
}

// Catches: a failed write reported as a clean close (data lost silently).
TEST_F(WideProtocol, AFullDiskIsReportedOnClose) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    AVIOContext* pb = nullptr;
    ASSERT_EQ(OpenWideProtocol("unicode:utf8:/dev/full", wideWrite, &pb), 0);
    std::string block(200000, 'x');
    lib().avio_write(pb, reinterpret_cast<const unsigned char*>(block.data()),
                     static_cast<int>(block.size()));
    EXPECT_LT(CloseWideProtocol(&pb), 0);
    EXPECT_EQ(pb, nullptr);
}

TEST_F(WideProtocol, ReadWriteModeCreatesAndReadsBack) {
    const std::string url = "unicode:utf8:" + Dir + "/rw:file";
    AVIOContext* pb = nullptr;
    ASSERT_EQ(OpenWideProtocol(url, wideReadWrite, &pb), 0);
    lib().avio_write(pb, reinterpret_cast<const unsigned char*>("abc"), 3);
    EXPECT_EQ(CloseWideProtocol(&pb), 0);
    std::ifstream in(Dir + "/rw:file");
    std::string text;
    in >> text;
    EXPECT_EQ(text, "abc");
}

}  // namespace
}  // namespace tw
