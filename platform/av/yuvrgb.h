#pragma once

#include <cstdint>

namespace varno::av {

// YUV 4:2:0 to 24-bit BGR with ITU-R BT.601 studio-range coefficients in
// 16.16 fixed point, through per-byte product tables and a clamp table:
//   Y' = (Y - 16) * 76309
//   R  = (Y' + (V - 128) * 104597) >> 16
//   G  = (Y' - (U - 128) * 25675 - (V - 128) * 53279) >> 16
//   B  = (Y' + (U - 128) * 132201) >> 16
// each clamped to 0 ... 255.
class YuvToBgrTables
{
public:
    YuvToBgrTables();

    // Converts a picture to rows of 3 x width bytes in B, G, R order, written
    // bottom-up (the first picture row ends up last, as in a BMP file).
    // Chroma planes hold width / 2 x height / 2 samples (rounded down); the
    // last column and row of odd sizes reuse the last chroma sample.
    // Returns false for a picture smaller than 2 x 2 or a null plane.
    bool convertBottomUp(const uint8_t *y, int yStride, const uint8_t *u, int uStride,
                         const uint8_t *v, int vStride, int width, int height,
                         uint8_t *out) const;

    // One pixel (for references and tests).
    void pixel(uint8_t y, uint8_t u, uint8_t v, uint8_t *bgr) const;

private:
    int32_t m_y[256];
    int32_t m_rv[256];
    int32_t m_gu[256];
    int32_t m_gv[256];
    int32_t m_bu[256];
    uint8_t m_clamp[1024]; // index = value + 384, value -384 ... 639
};

// Stages of writeBmp24 that can fail.
enum class BmpStage { None, Create, Head, Info, Data };

// Writes a 24-bit BMP: 14-byte file header, 40-byte information header,
// then height rows of 3 x width bytes as given (bottom-up, not padded).
// Creates or truncates the file. Returns 0, or -1 with *failed set to the
// stage and errno kept from the failing call.
int writeBmp24(const char *path, int width, int height, const uint8_t *bgr,
               BmpStage *failed = nullptr);

} // namespace varno::av
