#include "platform/av/picturescaler.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#define VARNO_SCALER_X86 1
#include <immintrin.h>
#endif

namespace varno::av {

namespace {

constexpr int kMaxSide = 16384;
constexpr int kPad = 32; // bytes after every working row that wide loads may touch

// Colour coefficients: a multiplier m applied to (x << 7) by a rounding
// high multiply gives x * m / 256, i.e. the coefficient in 1/64 when m is the
// coefficient times 2^14.
constexpr int16_t kLuma = 19077;   // 1.164383
constexpr int16_t kRedV = 26149;   // 1.596027
constexpr int16_t kGreenU = 6419;  // 0.391762
constexpr int16_t kGreenV = 13320; // 0.812968
constexpr int16_t kBlueU = 282;    // 2.017232 - 2 (the 2 is added as a shift)

// --- portable kernels (the reference the x86 ones match bit for bit) ---------

inline int16_t sat16(int v)
{
    return int16_t(std::clamp(v, -32768, 32767));
}

// _mm_mulhrs_epi16 for one lane.
inline int16_t mulhrs(int16_t a, int16_t b)
{
    return int16_t((((int32_t(a) * int32_t(b)) >> 14) + 1) >> 1);
}

inline uint8_t sat8(int v)
{
    return uint8_t(std::clamp(v, 0, 255));
}

inline uint8_t avg8(uint8_t a, uint8_t b)
{
    return uint8_t((a + b + 1) >> 1);
}

inline uint8_t lerp8(uint8_t a, uint8_t b, int wa, int wb)
{
    return uint8_t((a * wa + b * wb + 32) >> 6);
}

// Mean of n rows (n a power of two) as a tree of rounded pair averages.
uint8_t meanOfRows(const uint8_t *const *rows, int n, int i)
{
    if (n == 1)
        return rows[0][i];
    return avg8(meanOfRows(rows, n / 2, i), meanOfRows(rows + n / 2, n / 2, i));
}

void reduceRowsPortable(const uint8_t *const *rows, int n, int width, int from, uint8_t *out)
{
    for (int i = from; i < width; ++i)
        out[i] = meanOfRows(rows, n, i);
}

void reduceRowsPortable(const uint8_t *const *rows, int n, int width, int from, bool halve, uint8_t *out)
{
    if (!halve) {
        reduceRowsPortable(rows, n, width, from, out);
        return;
    }
    for (int i = from; i < width / 2; ++i)
        out[i] = avg8(meanOfRows(rows, n, 2 * i), meanOfRows(rows, n, 2 * i + 1));
}

void halveColumnsPortable(uint8_t *row, int width, int from)
{
    for (int i = from; i < width / 2; ++i)
        row[i] = avg8(row[2 * i], row[2 * i + 1]);
}

void blendPortable(const uint8_t *a, const uint8_t *b, int width, int f, int from, uint8_t *out)
{
    for (int i = from; i < width; ++i)
        out[i] = lerp8(a[i], b[i], 64 - f, f);
}

void sampleGroupPortable(const uint8_t *in, int base, const uint8_t *shuffle, const int8_t *weights,
                         uint8_t *out)
{
    for (int t = 0; t < 8; ++t)
        out[t] = lerp8(in[base + shuffle[2 * t]], in[base + shuffle[2 * t + 1]], weights[2 * t],
                       weights[2 * t + 1]);
}

inline void convertPixel(uint8_t y, uint8_t u, uint8_t v, uint8_t *bgra)
{
    const int16_t yy = mulhrs(int16_t((int(y) - 16) << 7), kLuma);
    const int16_t d = int16_t((int(u) - 128) << 7);
    const int16_t e = int16_t((int(v) - 128) << 7);
    const int16_t rv = mulhrs(e, kRedV);
    const int16_t gu = mulhrs(d, kGreenU);
    const int16_t gv = mulhrs(e, kGreenV);
    const int16_t bu = int16_t(d + mulhrs(d, kBlueU));
    const int r = sat16(sat16(yy + rv) + 32) >> 6;
    const int g = sat16(sat16(yy - int16_t(gu + gv)) + 32) >> 6;
    const int b = sat16(sat16(yy + bu) + 32) >> 6;
    bgra[0] = sat8(b);
    bgra[1] = sat8(g);
    bgra[2] = sat8(r);
    bgra[3] = 0xff;
}

void convertRowPortable(const uint8_t *y, const uint8_t *u, const uint8_t *v, int width, int from,
                        uint8_t *dst)
{
    for (int x = from; x < width; ++x)
        convertPixel(y[x], u[x / 2], v[x / 2], dst + 4 * x);
}

#ifdef VARNO_SCALER_X86

// --- AVX2 kernels: whole blocks, then the portable code for the rest -----------

#define VARNO_AVX2 __attribute__((target("avx2")))

VARNO_AVX2 inline __m256i load256(const uint8_t *p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

VARNO_AVX2 inline void store256(uint8_t *p, __m256i v)
{
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v);
}

VARNO_AVX2 __m256i meanOfRowsAvx(const uint8_t *const *rows, int n, int i)
{
    if (n == 1)
        return load256(rows[0] + i);
    return _mm256_avg_epu8(meanOfRowsAvx(rows, n / 2, i), meanOfRowsAvx(rows + n / 2, n / 2, i));
}

// Means of pairs of neighbours of 64 bytes, in order.
VARNO_AVX2 inline __m256i halvePairs(__m256i v0, __m256i v1)
{
    const __m256i low = _mm256_set1_epi16(0x00ff);
    const __m256i even = _mm256_packus_epi16(_mm256_and_si256(v0, low), _mm256_and_si256(v1, low));
    const __m256i odd = _mm256_packus_epi16(_mm256_srli_epi16(v0, 8), _mm256_srli_epi16(v1, 8));
    // The packs work per 128-bit lane: put the quarters back in order.
    return _mm256_permute4x64_epi64(_mm256_avg_epu8(even, odd), 0xd8);
}

VARNO_AVX2 inline __m256i meanAt(const uint8_t *const *rows, int n, const uint8_t *r0, const uint8_t *r1, int i)
{
    if (n == 1)
        return load256(r0 + i);
    if (n == 2)
        return _mm256_avg_epu8(load256(r0 + i), load256(r1 + i));
    return meanOfRowsAvx(rows, n, i);
}

// The mean of n rows, and with halve also of each pair of columns.
VARNO_AVX2 void reduceRowsAvx(const uint8_t *const *rows, int n, int width, bool halve, uint8_t *out)
{
    // Local copies: the compiler cannot know out does not alias the table.
    const uint8_t *r0 = rows[0];
    const uint8_t *r1 = n > 1 ? rows[1] : rows[0];
    int i = 0;
    if (halve) {
        for (; 2 * i + 64 <= width; i += 32)
            store256(out + i, halvePairs(meanAt(rows, n, r0, r1, 2 * i), meanAt(rows, n, r0, r1, 2 * i + 32)));
        for (; i < width / 2; ++i)
            out[i] = avg8(meanOfRows(rows, n, 2 * i), meanOfRows(rows, n, 2 * i + 1));
        return;
    }
    for (; i + 32 <= width; i += 32)
        store256(out + i, meanAt(rows, n, r0, r1, i));
    reduceRowsPortable(rows, n, width, i, out);
}

VARNO_AVX2 void halveColumnsAvx(uint8_t *row, int width)
{
    int i = 0;
    // Reads 64 bytes at 2i and writes 32 at i: never ahead of what is read.
    for (; 2 * i + 64 <= width; i += 32)
        store256(row + i, halvePairs(load256(row + 2 * i), load256(row + 2 * i + 32)));
    halveColumnsPortable(row, width, i);
}

VARNO_AVX2 void blendAvx(const uint8_t *a, const uint8_t *b, int width, int f, uint8_t *out)
{
    const __m256i w = _mm256_set1_epi16(int16_t(((f & 0xff) << 8) | (64 - f)));
    const __m256i round = _mm256_set1_epi16(512); // mulhrs by 512: (x + 32) >> 6
    int i = 0;
    for (; i + 32 <= width; i += 32) {
        const __m256i va = load256(a + i);
        const __m256i vb = load256(b + i);
        const __m256i lo = _mm256_mulhrs_epi16(_mm256_maddubs_epi16(_mm256_unpacklo_epi8(va, vb), w), round);
        const __m256i hi = _mm256_mulhrs_epi16(_mm256_maddubs_epi16(_mm256_unpackhi_epi8(va, vb), w), round);
        store256(out + i, _mm256_packus_epi16(lo, hi));
    }
    blendPortable(a, b, width, f, i, out);
}

// Two groups of eight columns at a time, one per 128-bit lane.
VARNO_AVX2 void sampleRowAvx(const uint8_t *in, const int32_t *bases, const uint8_t *shuffles,
                             const int8_t *weights, int groups, uint8_t *out)
{
    const __m256i round = _mm256_set1_epi16(512);
    int g = 0;
    for (; g + 2 <= groups; g += 2) {
        const __m256i v = _mm256_loadu2_m128i(reinterpret_cast<const __m128i *>(in + bases[g + 1]),
                                              reinterpret_cast<const __m128i *>(in + bases[g]));
        const __m256i pairs = _mm256_shuffle_epi8(v, load256(shuffles + 16 * g));
        const __m256i sums = _mm256_maddubs_epi16(pairs, load256(reinterpret_cast<const uint8_t *>(weights + 16 * g)));
        const __m256i px = _mm256_mulhrs_epi16(sums, round);
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(px, px), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 8 * g), _mm256_castsi256_si128(packed));
    }
    if (g < groups) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + bases[g]));
        const __m128i pairs = _mm_shuffle_epi8(v, _mm_loadu_si128(reinterpret_cast<const __m128i *>(shuffles + 16 * g)));
        const __m128i sums = _mm_maddubs_epi16(pairs, _mm_loadu_si128(reinterpret_cast<const __m128i *>(weights + 16 * g)));
        const __m128i px = _mm_mulhrs_epi16(sums, _mm256_castsi256_si128(round));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + 8 * g), _mm_packus_epi16(px, px));
    }
}

// Eight chroma terms for sixteen pixels: each used twice, in order.
VARNO_AVX2 inline __m256i twice(__m128i t)
{
    return _mm256_set_m128i(_mm_unpackhi_epi16(t, t), _mm_unpacklo_epi16(t, t));
}

// Sixteen pixels.
VARNO_AVX2 inline void convertBlockAvx(const uint8_t *y, const uint8_t *u, const uint8_t *v, uint8_t *dst)
{
    const __m256i c32 = _mm256_set1_epi16(32);
    const __m128i c128 = _mm_set1_epi16(128);
    const __m256i y16 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(y)));
    const __m256i yy = _mm256_mulhrs_epi16(_mm256_slli_epi16(_mm256_sub_epi16(y16, _mm256_set1_epi16(16)), 7),
                                           _mm256_set1_epi16(kLuma));
    const __m128i d = _mm_slli_epi16(
        _mm_sub_epi16(_mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(u))), c128), 7);
    const __m128i e = _mm_slli_epi16(
        _mm_sub_epi16(_mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(v))), c128), 7);
    const __m256i rv = twice(_mm_mulhrs_epi16(e, _mm_set1_epi16(kRedV)));
    const __m256i guv = twice(_mm_add_epi16(_mm_mulhrs_epi16(d, _mm_set1_epi16(kGreenU)),
                                            _mm_mulhrs_epi16(e, _mm_set1_epi16(kGreenV))));
    const __m256i bu = twice(_mm_add_epi16(d, _mm_mulhrs_epi16(d, _mm_set1_epi16(kBlueU))));
    const __m256i r = _mm256_srai_epi16(_mm256_adds_epi16(_mm256_adds_epi16(yy, rv), c32), 6);
    const __m256i g = _mm256_srai_epi16(_mm256_adds_epi16(_mm256_subs_epi16(yy, guv), c32), 6);
    const __m256i b = _mm256_srai_epi16(_mm256_adds_epi16(_mm256_adds_epi16(yy, bu), c32), 6);
    // Per lane: eight pixels' B G R 0xff from the packed bytes.
    const __m256i bg = _mm256_unpacklo_epi8(_mm256_packus_epi16(b, b), _mm256_packus_epi16(g, g));
    const __m256i ra = _mm256_unpacklo_epi8(_mm256_packus_epi16(r, r), _mm256_set1_epi8(char(0xff)));
    const __m256i lo = _mm256_unpacklo_epi16(bg, ra); // pixels 0-3 | 8-11
    const __m256i hi = _mm256_unpackhi_epi16(bg, ra); // pixels 4-7 | 12-15
    store256(dst, _mm256_permute2x128_si256(lo, hi, 0x20));
    store256(dst + 32, _mm256_permute2x128_si256(lo, hi, 0x31));
}

// The source rows are working rows with room after them: the last partial
// block is converted whole into a scratch block and only its pixels copied.
VARNO_AVX2 void convertRowAvx(const uint8_t *y, const uint8_t *u, const uint8_t *v, int width, uint8_t *dst)
{
    int x = 0;
    for (; x + 16 <= width; x += 16)
        convertBlockAvx(y + x, u + x / 2, v + x / 2, dst + 4 * x);
    if (x < width) {
        alignas(32) uint8_t block[64];
        convertBlockAvx(y + x, u + x / 2, v + x / 2, block);
        std::memcpy(dst + 4 * x, block, size_t(width - x) * 4);
    }
}

// A row of the picture itself (full size): whole blocks straight from the
// decoder's rows, the rest pixel by pixel so that nothing past the row's
// width is read.
VARNO_AVX2 void convertSourceRowAvx(const uint8_t *y, const uint8_t *u, const uint8_t *v, int width, uint8_t *dst)
{
    int x = 0;
    for (; x + 16 <= width; x += 16)
        convertBlockAvx(y + x, u + x / 2, v + x / 2, dst + 4 * x);
    convertRowPortable(y, u, v, width, x, dst);
}

bool haveAvx2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

#endif

// Position of target sample i (of dst) in a line of red samples, as a first
// sample and the next one's weight in 1/64.
void samplePosition(int i, int red, int dst, int *first, int *weight)
{
    const int64_t pos = ((int64_t(2 * i + 1) * red) << 16) / (2 * int64_t(dst)) - 32768;
    int k = 0, f = 0;
    if (pos > 0) {
        k = int(pos >> 16);
        f = int(((pos & 0xffff) + 512) >> 10);
        if (f == 64) {
            ++k;
            f = 0;
        }
    }
    if (k >= red - 1) {
        k = red - 1;
        f = 0;
    }
    *first = k;
    *weight = f;
}

} // namespace

PictureScaler::PictureScaler() : PictureScaler(Kernels::Best) {}

PictureScaler::PictureScaler(Kernels kernels)
{
#ifdef VARNO_SCALER_X86
    m_simd = kernels == Kernels::Best && haveAvx2();
#else
    (void)kernels;
#endif
}

bool PictureScaler::handles(int srcWidth, int srcHeight, int dstWidth, int dstHeight)
{
    return srcWidth >= 2 && srcHeight >= 2 && dstWidth >= 1 && dstHeight >= 1 && srcWidth <= kMaxSide
        && srcHeight <= kMaxSide && dstWidth <= srcWidth && dstHeight <= srcHeight;
}

void PictureScaler::plan(Plan &p, int srcW, int srcH, int dstW, int dstH)
{
    if (p.srcW == srcW && p.srcH == srcH && p.dstW == dstW && p.dstH == dstH)
        return;
    p.srcW = srcW;
    p.srcH = srcH;
    p.dstW = dstW;
    p.dstH = dstH;
    p.shiftX = 0;
    while (dstW * 2 <= (srcW >> p.shiftX))
        ++p.shiftX;
    p.shiftY = 0;
    while (dstH * 2 <= (srcH >> p.shiftY))
        ++p.shiftY;
    p.redW = srcW >> p.shiftX;
    p.redH = srcH >> p.shiftY;

    p.rowIndex.resize(size_t(dstH));
    p.rowWeight.resize(size_t(dstH));
    for (int j = 0; j < dstH; ++j) {
        int k, f;
        samplePosition(j, p.redH, dstH, &k, &f);
        p.rowIndex[size_t(j)] = k;
        p.rowWeight[size_t(j)] = uint8_t(f);
    }

    // After the halvings the step between target columns is below two
    // reduced columns, so eight columns and their right neighbours span at
    // most 16 bytes from the first one's left neighbour.
    const int groups = (dstW + 7) / 8;
    p.groupBase.assign(size_t(groups), 0);
    p.groupShuffle.assign(size_t(groups) * 16, 0);
    p.groupWeights.assign(size_t(groups) * 16, 0);
    for (int g = 0; g < groups; ++g) {
        int base = 0, f = 0;
        samplePosition(8 * g, p.redW, dstW, &base, &f);
        p.groupBase[size_t(g)] = base;
        for (int t = 0; t < 8; ++t) {
            const int x = std::min(8 * g + t, dstW - 1); // the last group repeats its last column
            int k = 0;
            samplePosition(x, p.redW, dstW, &k, &f);
            const int next = f ? k + 1 : k;
            p.groupShuffle[size_t(16 * g + 2 * t)] = uint8_t(k - base);
            p.groupShuffle[size_t(16 * g + 2 * t + 1)] = uint8_t(next - base);
            p.groupWeights[size_t(16 * g + 2 * t)] = int8_t(64 - f);
            p.groupWeights[size_t(16 * g + 2 * t + 1)] = int8_t(f);
        }
    }
    p.groupsFit = true;
    for (size_t i = 0; i < p.groupShuffle.size(); ++i)
        p.groupsFit = p.groupsFit && p.groupShuffle[i] < 16;
}

const uint8_t *PictureScaler::scaledRow(const Plan &p, Rows &r, const uint8_t *plane, int stride, int row)
{
    const int k0 = p.rowIndex[size_t(row)];
    const int f = p.rowWeight[size_t(row)];

    // The two reduced rows are cached: successive target rows mostly share them.
    auto fill = [&](int index, int avoid) -> int {
        for (int s = 0; s < 2; ++s)
            if (r.tag[s] == index)
                return s;
        const int s = avoid >= 0 ? 1 - avoid : (r.tag[0] <= r.tag[1] ? 0 : 1);
        std::vector<uint8_t> &buf = r.reduced[s];
        if (buf.size() < size_t(p.srcW) + kPad)
            buf.assign(size_t(p.srcW) + kPad, 0);
        const int n = 1 << p.shiftY;
        m_rowPointers.resize(size_t(n));
        const uint8_t **rows = m_rowPointers.data();
        for (int i = 0; i < n; ++i)
            rows[i] = plane + std::ptrdiff_t((index << p.shiftY) + i) * stride;
        // The first halving of columns goes with the rows' mean.
        const bool halve = p.shiftX > 0;
#ifdef VARNO_SCALER_X86
        if (m_simd)
            reduceRowsAvx(rows, n, p.srcW, halve, buf.data());
        else
#endif
            reduceRowsPortable(rows, n, p.srcW, 0, halve, buf.data());
        int w = p.srcW / (halve ? 2 : 1);
        for (int h = 1; h < p.shiftX; ++h) {
#ifdef VARNO_SCALER_X86
            if (m_simd)
                halveColumnsAvx(buf.data(), w);
            else
#endif
                halveColumnsPortable(buf.data(), w, 0);
            w /= 2;
        }
        r.tag[s] = index;
        return s;
    };

    const int s0 = fill(k0, -1);
    const uint8_t *line = r.reduced[s0].data();
    if (f) {
        const int s1 = fill(k0 + 1, s0);
        if (r.blended.size() < size_t(p.redW) + kPad)
            r.blended.assign(size_t(p.redW) + kPad, 0);
#ifdef VARNO_SCALER_X86
        if (m_simd)
            blendAvx(r.reduced[s0].data(), r.reduced[s1].data(), p.redW, f, r.blended.data());
        else
#endif
            blendPortable(r.reduced[s0].data(), r.reduced[s1].data(), p.redW, f, 0, r.blended.data());
        line = r.blended.data();
    }

    const int groups = int(p.groupBase.size());
    if (r.scaled.size() < size_t(groups) * 8 + kPad)
        r.scaled.assign(size_t(groups) * 8 + kPad, 0);
#ifdef VARNO_SCALER_X86
    if (m_simd && p.groupsFit) {
        sampleRowAvx(line, p.groupBase.data(), p.groupShuffle.data(), p.groupWeights.data(), groups,
                     r.scaled.data());
        return r.scaled.data();
    }
#endif
    for (int g = 0; g < groups; ++g)
        sampleGroupPortable(line, p.groupBase[size_t(g)], p.groupShuffle.data() + 16 * g,
                            p.groupWeights.data() + 16 * g, r.scaled.data() + 8 * g);
    return r.scaled.data();
}

bool PictureScaler::scale(const uint8_t *y, int yStride, const uint8_t *u, int uStride, const uint8_t *v,
                          int vStride, int srcWidth, int srcHeight, uint8_t *dst, int dstStride,
                          int dstWidth, int dstHeight)
{
    if (!y || !u || !v || !dst || !handles(srcWidth, srcHeight, dstWidth, dstHeight))
        return false;
    if (dstWidth == srcWidth && dstHeight == srcHeight && srcWidth % 2 == 0 && srcHeight % 2 == 0) {
        convertFullSize(y, yStride, u, uStride, v, vStride, srcWidth, srcHeight, dst, dstStride);
        return true;
    }
    plan(m_plans[0], srcWidth, srcHeight, dstWidth, dstHeight);
    plan(m_plans[1], srcWidth / 2, srcHeight / 2, (dstWidth + 1) / 2, (dstHeight + 1) / 2);
    // Rows cached from the previous picture are stale.
    for (Rows &r : m_rows)
        r.tag[0] = r.tag[1] = -1;

    const uint8_t *uRow = nullptr;
    const uint8_t *vRow = nullptr;
    for (int j = 0; j < dstHeight; ++j) {
        const uint8_t *yRow = scaledRow(m_plans[0], m_rows[0], y, yStride, j);
        if ((j & 1) == 0) {
            uRow = scaledRow(m_plans[1], m_rows[1], u, uStride, j / 2);
            vRow = scaledRow(m_plans[1], m_rows[2], v, vStride, j / 2);
        }
        uint8_t *out = dst + std::ptrdiff_t(j) * dstStride;
#ifdef VARNO_SCALER_X86
        if (m_simd) {
            convertRowAvx(yRow, uRow, vRow, dstWidth, out);
            continue;
        }
#endif
        convertRowPortable(yRow, uRow, vRow, dstWidth, 0, out);
    }
    return true;
}

void PictureScaler::convertFullSize(const uint8_t *y, int yStride, const uint8_t *u, int uStride, const uint8_t *v,
                                    int vStride, int width, int height, uint8_t *dst, int dstStride) const
{
    // Sampling at the picture's own size picks every sample as it is: the
    // colours are converted straight from the planes, one pass, the same
    // pixels the general path gives.
    for (int j = 0; j < height; ++j) {
        const uint8_t *yRow = y + std::ptrdiff_t(j) * yStride;
        const uint8_t *uRow = u + std::ptrdiff_t(j / 2) * uStride;
        const uint8_t *vRow = v + std::ptrdiff_t(j / 2) * vStride;
        uint8_t *out = dst + std::ptrdiff_t(j) * dstStride;
#ifdef VARNO_SCALER_X86
        if (m_simd) {
            convertSourceRowAvx(yRow, uRow, vRow, width, out);
            continue;
        }
#endif
        convertRowPortable(yRow, uRow, vRow, width, 0, out);
    }
}

} // namespace varno::av
