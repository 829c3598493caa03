// binding/Entries.cpp — the entry slots and the Bind/Unbind procedures that
// the entry lists generate.
#include "binding/Entries.h"

#include "binding/FFLoad.h"

namespace tw {

TEntries gEntries;

// The stringised name is the unexpanded list argument, so a data entry that
// the C headers define as a macro of itself (stderr) is looked up by its name.
#define TW_BIND_F(name) BindFunction(FileName, Handle, #name, false, gEntries.name);
#define TW_BIND_O(name) BindFunction(FileName, Handle, #name, true, gEntries.name);
#define TW_BIND_V(name) BindVariable(FileName, Handle, #name, false, gEntries.name##_ptr);
#define TW_UNBIND_F(name) gEntries.name = nullptr;
#define TW_UNBIND_V(name) gEntries.name##_ptr = nullptr;

#define TW_BIND_PROCS(Suffix, LIST)                                        \
    void Bind##Suffix(const std::string& FileName, TModuleHandle Handle) { \
        LIST(TW_BIND_F, TW_BIND_O, TW_BIND_V)                              \
    }                                                                      \
    void Unbind##Suffix() { LIST(TW_UNBIND_F, TW_UNBIND_F, TW_UNBIND_V) }

TW_BIND_PROCS(AVCodec, TW_AVCODEC_ENTRIES)
TW_BIND_PROCS(AVCore, TW_AVCORE_ENTRIES)
TW_BIND_PROCS(AVFilter, TW_AVFILTER_ENTRIES)
TW_BIND_PROCS(AVFormat, TW_AVFORMAT_ENTRIES)
TW_BIND_PROCS(AVUtil, TW_AVUTIL_ENTRIES)
TW_BIND_PROCS(SwScale, TW_SWSCALE_ENTRIES)
TW_BIND_PROCS(LibC, TW_LIBC_ENTRIES)

// The other libraries register their parts by themselves now; input and
// output devices still have to be registered so that a bound libavdevice is
// usable at once.
void BindAVDevice(const std::string& FileName, TModuleHandle Handle) {
    TW_AVDEVICE_ENTRIES(TW_BIND_F, TW_BIND_O, TW_BIND_V)
    gEntries.avdevice_register_all();
}
void UnbindAVDevice() { TW_AVDEVICE_ENTRIES(TW_UNBIND_F, TW_UNBIND_F, TW_UNBIND_V) }

#undef TW_BIND_PROCS
#undef TW_BIND_F
#undef TW_BIND_O
#undef TW_BIND_V
#undef TW_UNBIND_F
#undef TW_UNBIND_V

}  // namespace tw
