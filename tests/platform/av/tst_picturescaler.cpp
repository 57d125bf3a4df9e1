// The one-pass YUV 4:2:0 to RGB32 shrinking of video windows.
#include "platform/av/picturescaler.h"
#include "platform/av/yuvrgb.h"

#include "tests/support/media/testmedia.h"

#include <random>

#include <sys/mman.h>
#include <unistd.h>

#include <QTest>

using namespace varno;

namespace {

// A picture with random samples and rows longer than the picture.
struct Planes
{
    int w, h, yStride, cStride;
    std::vector<uint8_t> y, u, v;
};

Planes randomPlanes(int w, int h, unsigned seed)
{
    std::mt19937 rng(seed);
    Planes p{w, h, w + 13, w / 2 + 7, {}, {}, {}};
    p.y.resize(size_t(p.yStride) * h);
    p.u.resize(size_t(p.cStride) * (h / 2));
    p.v.resize(size_t(p.cStride) * (h / 2));
    for (auto *plane : {&p.y, &p.u, &p.v})
        for (uint8_t &b : *plane)
            b = uint8_t(rng());
    return p;
}

std::vector<uint8_t> scaled(av::PictureScaler &s, const Planes &p, int dw, int dh)
{
    std::vector<uint8_t> out(size_t(dw) * 4 * dh, 0x5a);
    const bool ok = s.scale(p.y.data(), p.yStride, p.u.data(), p.cStride, p.v.data(), p.cStride, p.w,
                            p.h, out.data(), dw * 4, dw, dh);
    return ok ? out : std::vector<uint8_t>();
}

// Memory that ends right before an inaccessible page.
class Guarded
{
public:
    explicit Guarded(size_t size) : m_size(size)
    {
        const size_t page = size_t(sysconf(_SC_PAGESIZE));
        m_mapped = ((size + page - 1) / page + 1) * page;
        m_base = static_cast<uint8_t *>(mmap(nullptr, m_mapped, PROT_READ | PROT_WRITE,
                                             MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        mprotect(m_base + m_mapped - page, page, PROT_NONE);
        m_data = m_base + (m_mapped - page - size);
    }
    ~Guarded() { munmap(m_base, m_mapped); }
    uint8_t *data() const { return m_data; }

private:
    size_t m_size, m_mapped;
    uint8_t *m_base, *m_data;
};

} // namespace

class TestPictureScaler : public QObject
{
    Q_OBJECT

private slots:
    void simdGivesThePortablePixels()
    {
        // Grid cells and edge sizes, then small pictures of any size into any
        // smaller window, shrunk a lot or a little: every partial block and
        // group of the kernels.
        av::PictureScaler fast;
        if (!fast.simd())
            QSKIP("no x86 kernels on this processor");
        av::PictureScaler portable(av::PictureScaler::Kernels::Portable);
        QVERIFY(!portable.simd());
        std::vector<std::pair<QSize, QSize>> cases{
            {{1280, 720}, {474, 244}}, // a 720p picture in a 16-window cell
            {{640, 360}, {378, 190}},  // 360p in a 25-window cell
            {{64, 48}, {64, 48}},     {{641, 361}, {640, 360}}, {{33, 17}, {31, 15}},   {{1280, 720}, {1, 1}},
            {{2, 2}, {1, 1}},         {{300, 200}, {299, 1}},   {{300, 200}, {3, 197}}, {{1920, 1080}, {17, 9}},
            {{100, 100}, {51, 49}}};
        std::mt19937 rng(20261206);
        for (int i = 0; i < 300; ++i) {
            const int w = 2 + int(rng() % 220), h = 2 + int(rng() % 130);
            cases.push_back({{w, h}, {1 + int(rng() % unsigned(w)), 1 + int(rng() % unsigned(h))}});
        }
        for (size_t i = 0; i < cases.size(); ++i) {
            const auto [src, dst] = cases[i];
            const Planes p = randomPlanes(src.width(), src.height(), unsigned(i));
            const std::vector<uint8_t> a = scaled(fast, p, dst.width(), dst.height());
            QVERIFY(!a.empty());
            QVERIFY2(a == scaled(portable, p, dst.width(), dst.height()),
                     qPrintable(QStringLiteral("%1x%2 to %3x%4").arg(src.width()).arg(src.height()).arg(dst.width()).arg(dst.height())));
        }
    }

    void flatColoursMatchTheConversionTables()
    {
        // Extremes included: overflowing blue and red must saturate, not wrap.
        const av::YuvToBgrTables tables;
        const int samples[][3] = {{0, 0, 0},       {255, 255, 255}, {16, 128, 128}, {235, 128, 128},
                                  {255, 255, 0},   {255, 0, 255},   {0, 255, 255},  {81, 90, 240},
                                  {145, 54, 34},   {41, 240, 110},  {128, 128, 128}, {200, 10, 250}};
        for (const bool portable : {false, true}) {
            av::PictureScaler s(portable ? av::PictureScaler::Kernels::Portable : av::PictureScaler::Kernels::Best);
            for (const auto &c : samples) {
                Planes p{37, 23, 37, 18, {}, {}, {}};
                p.y.assign(size_t(37) * 23, uint8_t(c[0]));
                p.u.assign(size_t(18) * 11, uint8_t(c[1]));
                p.v.assign(size_t(18) * 11, uint8_t(c[2]));
                const std::vector<uint8_t> out = scaled(s, p, 19, 7);
                QCOMPARE(out.size(), size_t(19 * 4 * 7));
                uint8_t bgr[3];
                tables.pixel(uint8_t(c[0]), uint8_t(c[1]), uint8_t(c[2]), bgr);
                for (size_t i = 0; i < out.size(); i += 4) {
                    for (int k = 0; k < 3; ++k)
                        QVERIFY2(std::abs(out[i + k] - bgr[k]) <= 1,
                                 qPrintable(QStringLiteral("yuv %1 %2 %3 channel %4: %5 vs %6")
                                                .arg(c[0]).arg(c[1]).arg(c[2]).arg(k).arg(out[i + k]).arg(bgr[k])));
                    QCOMPARE(out[i + 3], uint8_t(0xff));
                }
            }
        }
    }

    void sameSizeIsTheReferenceConversion()
    {
        // No resampling at all when the window has the picture's size.
        const test::Yuv420 p = test::testPicture(320, 240, 5);
        QImage out(320, 240, QImage::Format_RGB32);
        av::PictureScaler s;
        QVERIFY(s.scale(p.y.data(), 320, p.u.data(), 160, p.v.data(), 160, 320, 240, out.bits(),
                        int(out.bytesPerLine()), 320, 240));
        QVERIFY(test::maxChannelDifference(out, test::referenceRgb(p)) <= 2);
    }

    void touchesNothingOutsideThePlanesAndRows()
    {
        // Planes and destination end right before an inaccessible page, at
        // widths that leave partial blocks: a read or write past them faults.
        for (const QSize src : {QSize(1278, 719), QSize(37, 5), QSize(18, 2)}) {
            for (const QSize dst : {QSize(src.width() - 1, src.height()), QSize(std::min(11, src.width()), std::min(3, src.height()))}) {
                const int cw = src.width() / 2, ch = src.height() / 2;
                Guarded y(size_t(src.width()) * src.height()), u(size_t(cw) * ch), v(size_t(cw) * ch);
                std::memset(y.data(), 200, size_t(src.width()) * src.height());
                std::memset(u.data(), 60, size_t(cw) * ch);
                std::memset(v.data(), 190, size_t(cw) * ch);
                // Rows with a fence between them; the last row ends at the page.
                const int stride = dst.width() * 4 + 8;
                const size_t total = size_t(stride) * (dst.height() - 1) + size_t(dst.width()) * 4;
                Guarded out(total);
                std::memset(out.data(), 0xab, total);
                for (const bool portable : {false, true}) {
                    av::PictureScaler s(portable ? av::PictureScaler::Kernels::Portable : av::PictureScaler::Kernels::Best);
                    QVERIFY(s.scale(y.data(), src.width(), u.data(), cw, v.data(), cw, src.width(), src.height(),
                                    out.data(), stride, dst.width(), dst.height()));
                    for (int j = 0; j + 1 < dst.height(); ++j)
                        for (int k = dst.width() * 4; k < stride; ++k)
                            QCOMPARE(out.data()[size_t(j) * stride + k], uint8_t(0xab));
                }
            }
        }
    }

    void eachPictureStandsAlone()
    {
        // Rows kept from one picture never leak into the next one.
        const Planes a = randomPlanes(640, 360, 7);
        const Planes b = randomPlanes(640, 360, 8);
        av::PictureScaler reused;
        scaled(reused, a, 211, 121);
        const std::vector<uint8_t> second = scaled(reused, b, 211, 121);
        av::PictureScaler fresh;
        QVERIFY(second == scaled(fresh, b, 211, 121));
        // Nor do sizes: a new target size after another.
        scaled(reused, a, 300, 99);
        QVERIFY(scaled(reused, b, 211, 121) == second);
    }

    void refusesWhatItCannotDo()
    {
        QVERIFY(av::PictureScaler::handles(2, 2, 1, 1));
        QVERIFY(!av::PictureScaler::handles(1, 8, 1, 1));   // no chroma column
        QVERIFY(!av::PictureScaler::handles(8, 1, 1, 1));   // no chroma row
        QVERIFY(!av::PictureScaler::handles(64, 48, 0, 10));
        QVERIFY(!av::PictureScaler::handles(64, 48, 65, 48)); // larger: not a shrink
        QVERIFY(!av::PictureScaler::handles(64, 48, 64, 49));
        QVERIFY(!av::PictureScaler::handles(20000, 48, 64, 48));
        const Planes p = randomPlanes(16, 16, 1);
        std::vector<uint8_t> out(8 * 8 * 4, 0x11);
        av::PictureScaler s;
        QVERIFY(!s.scale(nullptr, 16, p.u.data(), 8, p.v.data(), 8, 16, 16, out.data(), 32, 8, 8));
        QVERIFY(!s.scale(p.y.data(), 16, p.u.data(), 8, p.v.data(), 8, 16, 16, out.data(), 32, 32, 8));
        QVERIFY(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0x11; }));
    }
};

QTEST_GUILESS_MAIN(TestPictureScaler)
#include "tst_picturescaler.moc"
