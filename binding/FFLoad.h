// binding/FFLoad.h — the loader: opens the media libraries and the C library
// at run time and binds their entry slots (binding/Entries.h).
#pragma once

#include <cstdint>
#include <string>

namespace tw {

/// The eight kinds, in load and unload order. lkAVCore stands for the library
/// that now holds audio resampling and sample-format conversion
/// (libswresample); lkMSVCRT stands for the platform run-time library, the C
/// library.
enum TLibraryKind : uint8_t {
    lkAVCodec,
    lkAVCore,
    lkAVDevice,
    lkAVFilter,
    lkAVFormat,
    lkAVUtil,
    lkSwScale,
    lkMSVCRT
};

/// A set of kinds (one bit per kind).
using TLibraryKinds = uint8_t;
constexpr TLibraryKinds KindBit(TLibraryKind k) { return TLibraryKinds(1u << k); }
constexpr TLibraryKinds AllLibraryKinds = 0xFF;
/// What the encoder loads and checks before any work: all but libavdevice.
constexpr TLibraryKinds WorkLibraryKinds = AllLibraryKinds & ~KindBit(lkAVDevice);

class TFFLoader;

/// The one loader of the process.
TFFLoader& FFLoader();

/// True once process shutdown has begun (read by the codec lock callback).
bool LoaderShuttingDown();

}  // namespace tw
