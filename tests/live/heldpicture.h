#pragma once

#include "live/videosurface.h"
#include "platform/av/decodedpicture.h"
#include "tests/support/media/testmedia.h"

#include <QTest>

#include <algorithm>
#include <memory>
#include <vector>

namespace livetest {

// A picture like a decoder's: rows padded (the padding holds a colour that
// must never show) and owned by the picture.
inline varno::av::DecodedPicture held(const varno::test::Yuv420 &p, int pad)
{
    auto rows = std::make_shared<std::vector<uint8_t>>();
    const int ys = p.width + pad, cs = p.width / 2 + pad, ch = (p.height + 1) / 2;
    rows->assign(size_t(ys) * p.height + 2 * size_t(cs) * ch, 0xee);
    uint8_t *y = rows->data(), *u = y + size_t(ys) * p.height, *v = u + size_t(cs) * ch;
    for (int j = 0; j < p.height; ++j)
        std::copy_n(p.y.data() + j * p.width, p.width, y + j * ys);
    for (int j = 0; j < p.height / 2; ++j) {
        std::copy_n(p.u.data() + j * (p.width / 2), p.width / 2, u + j * cs);
        std::copy_n(p.v.data() + j * (p.width / 2), p.width / 2, v + j * cs);
    }
    return {y, u, v, ys, cs, cs, p.width, p.height, true, 1, rows};
}

// Shows the surface at the given size, with pictures (painting off) unless
// told otherwise; false when it never showed.
inline bool shown(varno::live::VideoSurface &w, QSize size, bool painting = false)
{
    w.resize(size);
    w.setPainting(painting);
    w.show();
    return QTest::qWaitForWindowExposed(&w);
}

} // namespace livetest
