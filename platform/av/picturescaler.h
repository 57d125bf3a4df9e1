#pragma once

#include <cstdint>
#include <vector>

namespace varno::av {

// Shrinks planar YUV 4:2:0 pictures to 32-bit B, G, R, 0xff pixels (QImage's
// RGB32) in one pass over the picture, for video windows smaller than the
// stream or of its own size (then the colours are converted straight from
// the planes, nothing is sampled). Each plane is first reduced by 2 x 2 (or 2 x 1, 1 x 2) means as
// often as the window stays at most half its size in that direction, then
// sampled bilinearly (weights in 1/64) at the window's pixel centres; chroma
// is scaled at half the window's size and shared by each 2 x 2 block of
// pixels. Colours: ITU-R BT.601 studio range, 6-bit fixed point.
//
// One row of the picture is worked on at a time in small buffers, so the
// cost follows the window more than the source. The x86 kernels (AVX2) give
// exactly the same pixels as the portable ones.
//
// Not thread-safe: one scaler per presenting surface.
class PictureScaler
{
public:
    enum class Kernels { Best, Portable };

    PictureScaler();
    explicit PictureScaler(Kernels kernels);

    // Whether scale() takes these sizes: a picture of at least 2 x 2 and a
    // target of at least 1 x 1 and no larger in either direction.
    static bool handles(int srcWidth, int srcHeight, int dstWidth, int dstHeight);

    // Scales one picture. Chroma planes hold srcWidth / 2 x srcHeight / 2
    // samples (rounded down; an odd last row or column of luma uses the last
    // chroma sample). Reads only the planes' srcWidth (or srcWidth / 2)
    // samples of each row; writes dstWidth x 4 bytes of each destination row.
    // Returns false (and writes nothing) for sizes handles() refuses or null
    // planes.
    bool scale(const uint8_t *y, int yStride, const uint8_t *u, int uStride, const uint8_t *v,
               int vStride, int srcWidth, int srcHeight, uint8_t *dst, int dstStride, int dstWidth,
               int dstHeight);

    // Whether the x86 kernels run (false on other processors, without AVX2,
    // or with Kernels::Portable).
    bool simd() const { return m_simd; }

private:
    // How one plane goes from its source size to its target size.
    struct Plan
    {
        int srcW = 0, srcH = 0, dstW = 0, dstH = 0;
        int shiftX = 0, shiftY = 0; // halvings before sampling
        int redW = 0, redH = 0;     // size after them
        std::vector<int32_t> rowIndex;  // per target row: first reduced row
        std::vector<uint8_t> rowWeight; // per target row: weight of the next one (0 ... 63)
        // Per group of 8 target columns: the reduced column the group's
        // 16-byte window starts at, a byte shuffle picking each column's
        // two neighbours from it, and their weights (64 - f, f).
        std::vector<int32_t> groupBase;
        std::vector<uint8_t> groupShuffle; // 16 per group
        std::vector<int8_t> groupWeights;  // 16 per group
        bool groupsFit = true;             // every shuffle index below 16
    };
    // A plane's working rows: two reduced rows (cached by index), the
    // vertically interpolated row and the scaled row.
    struct Rows
    {
        std::vector<uint8_t> reduced[2];
        int tag[2] = {-1, -1};
        std::vector<uint8_t> blended;
        std::vector<uint8_t> scaled;
    };

    void plan(Plan &p, int srcW, int srcH, int dstW, int dstH);
    void convertFullSize(const uint8_t *y, int yStride, const uint8_t *u, int uStride, const uint8_t *v, int vStride,
                         int width, int height, uint8_t *dst, int dstStride) const;
    const uint8_t *scaledRow(const Plan &p, Rows &r, const uint8_t *plane, int stride, int row);

    bool m_simd = false;
    Plan m_plans[2]; // luma, chroma
    Rows m_rows[3];  // Y, U, V
    std::vector<const uint8_t *> m_rowPointers;
};

} // namespace varno::av
