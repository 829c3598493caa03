// fuzz/preset_fuzz.cpp — preset-file text ("fpre", and "vpre" by file
// name) on a fresh engine. The text is a file in memory.
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzSupport.h"
#include "transcoder/CustomFFmpeg.h"
#include "transcoder/FFmpegException.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tw::fuzz::LoadLibrariesOnce();
    if (size > 8192) return 0;
    const tw::fuzz::TMemoryFile file(data, size);
    for (const char* kind : {"fpre", "vpre"}) {
        tw::TCustomFFmpeg engine(2);
        engine.SetVerbose(-1);
        try {
            engine.SetOption(kind, file.Name());
        } catch (const tw::FFmpegException&) {
        }
    }
    return 0;
}
