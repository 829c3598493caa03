// tests/support/Frames.h — one decoded picture of a file, for checking how it
// looks: which way it is turned, where it is padded black, its format.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tw::test {

/// A decoded picture with its chroma brought to full size (one U and one V
/// sample per pixel), so regions can be judged in picture coordinates.
struct Picture {
    int width = 0, height = 0;
    std::string pixFmt;  ///< the decoder's own pixel format, e.g. "yuv420p"
    int sarNum = 0, sarDen = 1;
    std::vector<uint8_t> y, u, v;  ///< width x height each, row by row

    bool Empty() const { return width == 0; }
    /// Mean luma of the rectangle [x0, x1) x [y0, y1), clipped to the picture.
    double MeanY(int x0, int y0, int x1, int y1) const;
    /// A pixel of black padding: dark and without colour.
    bool Black(int x, int y) const;
    /// Share of black pixels in the column x (or the row y).
    double BlackColumn(int x) const;
    double BlackRow(int y) const;
};

/// Picture number `index` (in presentation order, from 0) of the file's
/// first video stream; Empty() when the file cannot be read or is shorter.
Picture DecodePicture(const std::string& path, int index);

/// The decoded samples of the first channel of the file's first audio
/// stream, as floats in [-1, 1], with the time of the first one.
struct Samples {
    double start = 0;  ///< seconds
    int rate = 0;
    std::vector<float> values;

    /// Root mean square of the samples between the times t0 and t1 (s);
    /// -1 when that range holds none.
    double Rms(double t0, double t1) const;
    /// Time just after the last sample.
    double End() const { return rate ? start + double(values.size()) / rate : start; }
};
Samples DecodeSamples(const std::string& path);

/// The display rotation of the file's first video stream in degrees as the
/// library reports it (counterclockwise; a phone's "turn 90 clockwise" is
/// -90); empty when the stream carries no display matrix.
std::optional<double> DisplayRotation(const std::string& path);

}  // namespace tw::test
