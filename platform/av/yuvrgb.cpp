#include "platform/av/yuvrgb.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace varno::av {

YuvToBgrTables::YuvToBgrTables()
{
    for (int i = 0; i < 256; ++i) {
        m_y[i] = (i - 16) * 76309;
        m_rv[i] = (i - 128) * 104597;
        m_gu[i] = (i - 128) * 25675;
        m_gv[i] = (i - 128) * 53279;
        m_bu[i] = (i - 128) * 132201;
    }
    for (int i = 0; i < 1024; ++i)
        m_clamp[i] = static_cast<uint8_t>(std::clamp(i - 384, 0, 255));
}

void YuvToBgrTables::pixel(uint8_t y, uint8_t u, uint8_t v, uint8_t *bgr) const
{
    const int32_t yy = m_y[y];
    bgr[0] = m_clamp[((yy + m_bu[u]) >> 16) + 384];
    bgr[1] = m_clamp[((yy - m_gu[u] - m_gv[v]) >> 16) + 384];
    bgr[2] = m_clamp[((yy + m_rv[v]) >> 16) + 384];
}

bool YuvToBgrTables::convertBottomUp(const uint8_t *y, int yStride, const uint8_t *u, int uStride,
                                     const uint8_t *v, int vStride, int width, int height,
                                     uint8_t *out) const
{
    if (!y || !u || !v || !out || width < 2 || height < 2)
        return false;
    const int chromaW = width / 2;
    const int chromaH = height / 2;
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    const uint8_t *clamp = m_clamp + 384;

    // Two rows share one chroma row; each chroma sample serves two pixels.
    for (int row = 0; row < height; row += 2) {
        const int cRow = std::min(row / 2, chromaH - 1);
        const uint8_t *u0 = u + static_cast<ptrdiff_t>(cRow) * uStride;
        const uint8_t *v0 = v + static_cast<ptrdiff_t>(cRow) * vStride;
        const int rows = std::min(2, height - row);
        for (int r = 0; r < rows; ++r) {
            const uint8_t *ys = y + static_cast<ptrdiff_t>(row + r) * yStride;
            uint8_t *dst = out + rowBytes * static_cast<size_t>(height - 1 - row - r);
            int x = 0;
            for (int c = 0; c < chromaW; ++c, x += 2) {
                const int32_t ru = m_bu[u0[c]];
                const int32_t g = m_gu[u0[c]] + m_gv[v0[c]];
                const int32_t rv = m_rv[v0[c]];
                const int32_t y0 = m_y[ys[x]];
                const int32_t y1 = m_y[ys[x + 1]];
                dst[0] = clamp[(y0 + ru) >> 16];
                dst[1] = clamp[(y0 - g) >> 16];
                dst[2] = clamp[(y0 + rv) >> 16];
                dst[3] = clamp[(y1 + ru) >> 16];
                dst[4] = clamp[(y1 - g) >> 16];
                dst[5] = clamp[(y1 + rv) >> 16];
                dst += 6;
            }
            if (x < width) // odd width: the last column takes the last chroma sample
                pixel(ys[x], u0[chromaW - 1], v0[chromaW - 1], dst);
        }
    }
    return true;
}

namespace {

void put16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool writeAll(int fd, const uint8_t *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

int writeBmp24(const char *path, int width, int height, const uint8_t *bgr, BmpStage *failed)
{
    BmpStage dummy;
    BmpStage &stage = failed ? *failed : dummy;
    stage = BmpStage::None;
    if (!path || !bgr || width <= 0 || height <= 0) {
        stage = BmpStage::Create;
        errno = EINVAL;
        return -1;
    }
    const uint64_t dataSize = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 3;
    if (dataSize + 54 > 0xFFFFFFFFu) {
        stage = BmpStage::Create;
        errno = EFBIG;
        return -1;
    }
    const int fd = ::open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        stage = BmpStage::Create;
        return -1;
    }
    uint8_t head[14] = {};
    head[0] = 'B';
    head[1] = 'M';
    put32(head + 2, static_cast<uint32_t>(dataSize + 54));
    put32(head + 10, 54);
    uint8_t info[40] = {};
    put32(info + 0, 40);
    put32(info + 4, static_cast<uint32_t>(width));
    put32(info + 8, static_cast<uint32_t>(height));
    put16(info + 12, 1);
    put16(info + 14, 24);

    int result = 0;
    if (!writeAll(fd, head, sizeof head)) {
        stage = BmpStage::Head;
        result = -1;
    } else if (!writeAll(fd, info, sizeof info)) {
        stage = BmpStage::Info;
        result = -1;
    } else if (!writeAll(fd, bgr, dataSize)) {
        stage = BmpStage::Data;
        result = -1;
    }
    const int savedErrno = errno;
    if (::close(fd) != 0 && result == 0) {
        stage = BmpStage::Data;
        result = -1;
    } else {
        errno = savedErrno;
    }
    return result;
}

} // namespace varno::av
