// transcoder/files/FlvAmf.h — the AMF0 values of an FLV script tag (onMetaData):
// written as the FLV muxer writes them, and passed over when reading.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tw {

/// AMF0 type markers.
constexpr uint8_t kNumber = 0, kBoolean = 1, kString = 2, kObject = 3, kNull = 5, kUndefined = 6,
                  kEcmaArray = 8, kStrictArray = 10, kDate = 11, kLongString = 12;

/// Big-endian numbers of bytes bytes (1..4), as FLV stores its sizes.
uint32_t AmfBe(const uint8_t* p, int bytes);
void PutAmfBe(uint8_t* p, uint32_t v, int bytes);

/// Appends AMF0 values to Bytes.
class TAmfWriter {
  public:
    std::vector<uint8_t> Bytes;

    /// A property's name (16-bit length, then the bytes).
    void Name(std::string_view name);
    /// A number (type 0, a big-endian double).
    void Number(double v);
    void Boolean(bool v);
    /// The head of a strict array of count values; the values follow.
    void StrictArray(uint32_t count);
    /// The end of an object's or ECMA array's properties.
    void ObjectEnd();
    /// v as a big-endian number of bytes bytes.
    void U(uint32_t v, int bytes);
};

/// Passes over the AMF0 value at b[i] (i moves behind it); false when it
/// runs past end, nests deeper than 16 or is of a type the muxer does not
/// write.
bool SkipAmfValue(const uint8_t* b, size_t end, size_t& i, int depth = 0);

}  // namespace tw
