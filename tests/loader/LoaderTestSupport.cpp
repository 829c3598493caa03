// tests/loader/LoaderTestSupport.cpp — see LoaderTestSupport.h.
#include "tests/loader/LoaderTestSupport.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "binding/Entries.h"

extern "C" {
#include <libavcodec/version_major.h>
#include <libavdevice/version_major.h>
#include <libavfilter/version_major.h>
#include <libavformat/version_major.h>
#include <libavutil/version.h>
#include <libswresample/version_major.h>
#include <libswscale/version_major.h>
}

#include <gnu/lib-names.h>

namespace fs = std::filesystem;

namespace tw::test {

TTempFolder::TTempFolder() {
    std::string pattern = (fs::temp_directory_path() / "tw-loader-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
}

TTempFolder::~TTempFolder() {
    std::error_code ignored;
    fs::remove_all(FPath, ignored);
}

std::string SystemFileName(TLibraryKind kind) {
    auto name = [](const char* base, int major) {
        return std::string("lib") + base + ".so." + std::to_string(major);
    };
    switch (kind) {
        case lkAVCodec:
            return name("avcodec", LIBAVCODEC_VERSION_MAJOR);
        case lkAVCore:
            return name("swresample", LIBSWRESAMPLE_VERSION_MAJOR);
        case lkAVDevice:
            return name("avdevice", LIBAVDEVICE_VERSION_MAJOR);
        case lkAVFilter:
            return name("avfilter", LIBAVFILTER_VERSION_MAJOR);
        case lkAVFormat:
            return name("avformat", LIBAVFORMAT_VERSION_MAJOR);
        case lkAVUtil:
            return name("avutil", LIBAVUTIL_VERSION_MAJOR);
        case lkSwScale:
            return name("swscale", LIBSWSCALE_VERSION_MAJOR);
        case lkMSVCRT:
            return LIBC_SO;
    }
    return {};
}

std::string SystemLibraryFolder() {
    // The C library lies in the multiarch folder; with merged /usr the media
    // libraries are in the same folder seen from /usr.
    Dl_info info{};
    dladdr(reinterpret_cast<void*>(&::fopen), &info);
    std::vector<std::string> candidates;
    if (info.dli_fname) {
        std::string folder = fs::path(info.dli_fname).parent_path().string() + "/";
        candidates.push_back(folder);
        candidates.push_back("/usr" + folder);
    }
    candidates.push_back("/usr/lib/x86_64-linux-gnu/");
    for (const std::string& folder : candidates)
        if (fs::exists(folder + SystemFileName(lkAVCodec))) return folder;
    throw std::runtime_error("the system's media libraries were not found");
}

void LinkMediaLibraries(const TTempFolder& folder) {
    const std::string system = SystemLibraryFolder();
    for (TLibraryKind kind :
         {lkAVCodec, lkAVCore, lkAVDevice, lkAVFilter, lkAVFormat, lkAVUtil, lkSwScale})
        fs::create_symlink(system + SystemFileName(kind), folder.File(SystemFileName(kind)));
}

std::string StubPath(const std::string& stub) {
    const char* build = std::getenv("TW_BUILD_DIR");
    if (!build) throw std::runtime_error("TW_BUILD_DIR is not set");
    return std::string(build) + "/stubs/lib" + stub + ".so";
}

void CopyStub(const std::string& stub, const TTempFolder& folder, const std::string& name) {
    fs::copy_file(StubPath(stub), folder.File(name));
}

namespace {

#define TW_COUNT_ONE(name) ++count;
#define TW_COUNT_FILLED_F(name) count += lib().name != nullptr;
#define TW_COUNT_FILLED_V(name) count += lib().name##_ptr != nullptr;

template <bool Filled>
int CountSlots(TLibraryKind kind) {
    int count = 0;
#define TW_COUNT(LIST)                                                \
    if constexpr (Filled) {                                           \
        LIST(TW_COUNT_FILLED_F, TW_COUNT_FILLED_F, TW_COUNT_FILLED_V) \
    } else {                                                          \
        LIST(TW_COUNT_ONE, TW_COUNT_ONE, TW_COUNT_ONE)                \
    }                                                                 \
    break;
    switch (kind) {
        case lkAVCodec:
            TW_COUNT(TW_AVCODEC_ENTRIES)
        case lkAVCore:
            TW_COUNT(TW_AVCORE_ENTRIES)
        case lkAVDevice:
            TW_COUNT(TW_AVDEVICE_ENTRIES)
        case lkAVFilter:
            TW_COUNT(TW_AVFILTER_ENTRIES)
        case lkAVFormat:
            TW_COUNT(TW_AVFORMAT_ENTRIES)
        case lkAVUtil:
            TW_COUNT(TW_AVUTIL_ENTRIES)
        case lkSwScale:
            TW_COUNT(TW_SWSCALE_ENTRIES)
        case lkMSVCRT:
            TW_COUNT(TW_LIBC_ENTRIES)
    }
#undef TW_COUNT
    return count;
}

}  // namespace

int SlotCount(TLibraryKind kind) { return CountSlots<false>(kind); }
int FilledSlots(TLibraryKind kind) { return CountSlots<true>(kind); }

std::string ObjectFileOf(const void* address) {
    Dl_info info{};
    if (!address || !dladdr(address, &info) || !info.dli_fname) return {};
    return info.dli_fname;
}

bool ObjectLoadedAs(const std::string& path) {
    struct TSearch {
        const std::string* Path;
        bool Found;
    } search{&path, false};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto* s = static_cast<TSearch*>(data);
            if (info->dlpi_name && *s->Path == info->dlpi_name) s->Found = true;
            return 0;
        },
        &search);
    return search.Found;
}

std::string CurrentDirectory() { return fs::current_path().string(); }

}  // namespace tw::test
