// Decoder library: live and playback decoding of real streams, damaged
// input, pictures shown in a window, snapshots and audio.
#include "platform/av/av_decoder.h"
#include "platform/av/audioout.h"
#include "platform/av/videosink.h"
#include "platform/av/yuvrgb.h"

#include "tests/support/files.h"
#include "tests/support/media/testmedia.h"
#include "tests/support/testenv.h"

#include <mutex>

#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>
#include <QTest>

using namespace varno;

namespace {

struct Picture
{
    int width = 0, height = 0, number = 0, key = 0;
    QImage rgb;
};

// Calls the decoder the way the live decode loop does: the frame, then for
// each picture the same frame once more and a call without data.
class LiveLoop
{
public:
    explicit LiveLoop(int codec, int32_t window = 0)
    {
        ok = AV_CreateDecoder(window, codec, &params, &decoder) != 0;
    }
    ~LiveLoop() { AV_CloseDecoderStream(decoder); }

    int feed(const std::vector<uint8_t> &frame)
    {
        // The loop's frames are heap copies, freed after the pass.
        std::vector<uint8_t> copy = frame;
        AV_FRAME_OUT_S out{};
        int r = AV_FrameDecoderStream(decoder, copy.data(), int(copy.size()), AV_FRAME_VIDEO, &params, 0, &out);
        if (r == AV_ERR_NEED_DATA)
            return r;
        while (r != AV_ERR_FAILED && r != AV_ERR_NEED_DATA) {
            if (r == AV_OK && out.y) {
                Picture p{out.width, out.height, out.pictureNumber, out.keyFrame,
                          test::referenceRgb(out.y, out.u, out.v, out.width, out.height)};
                pictures.push_back(p);
            }
            AV_FrameDecoderStream(decoder, copy.data(), int(copy.size()), AV_FRAME_VIDEO, &params, 0, &out);
            r = AV_FrameDecoderStream(decoder, nullptr, 0, AV_FRAME_VIDEO, &params, 0, &out);
        }
        return r;
    }

    AV_DECODER_PARAM_S params{AV_AUDIO_G711A, 1, 16, 8000};
    AV_HANDLE decoder = nullptr;
    bool ok = false;
    std::vector<Picture> pictures;
};

// Records what the decoders play.
class RecordingSink : public av::AudioSink
{
public:
    void write(const int16_t *s, size_t frames, int rate, int channels) override
    {
        std::lock_guard lock(mutex);
        samples.insert(samples.end(), s, s + frames * size_t(channels));
        this->rate = rate;
        this->channels = channels;
        ++writes;
    }
    std::mutex mutex;
    std::vector<int16_t> samples;
    int rate = 0, channels = 0, writes = 0;
};

// Whether a decoded picture shows test picture index of that size.
bool shows(const QImage &rgb, int index, QSize size = QSize(320, 240))
{
    return test::psnr(rgb, test::referenceRgb(test::testPicture(size.width(), size.height(), index))) > 30;
}

std::vector<uint8_t> withHeader(const std::vector<uint8_t> &payload)
{
    std::vector<uint8_t> block(payload.size() + 4);
    block[1] = 1;
    block[2] = uint8_t(payload.size() / 2);
    std::copy(payload.begin(), payload.end(), block.begin() + 4);
    return block;
}

} // namespace

class TestAvDecoder : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { av::setAudioSinkOverride(nullptr); }

    void rejectsBadArguments()
    {
        AV_HANDLE d = nullptr;
        QCOMPARE(AV_CreateDecoder(0, 3, nullptr, &d), 0);
        QVERIFY(!d);
        QCOMPARE(AV_CreateDecoder(0, 1, nullptr, nullptr), 0);
        AV_FRAME_OUT_S out{};
        const uint8_t data[8] = {0, 0, 0, 1, 0x65, 1, 2, 3};
        QCOMPARE(AV_FrameDecoderStream(nullptr, data, 8, AV_FRAME_VIDEO, nullptr, 0, &out), AV_ERR_FAILED);
        QCOMPARE(AV_FrameDecoder(nullptr, data, 8, AV_FRAME_VIDEO, nullptr), AV_ERR_FAILED);
        QCOMPARE(AV_CapPicture(nullptr, "x.bmp"), AV_ERR_FAILED);
        QCOMPARE(AV_CreateDecoder(0, AV_VIDEO_H264, nullptr, &d), 1);
        QCOMPARE(AV_FrameDecoderStream(d, data, 8, AV_FRAME_VIDEO, nullptr, 0, nullptr), AV_ERR_FAILED);
        QCOMPARE(AV_FrameDecoderStream(d, data, 8, 7, nullptr, 0, &out), AV_ERR_FAILED);
        QCOMPARE(AV_ShowLastFrame(d), AV_ERR_NO_PICTURE);
        QCOMPARE(AV_CapPicture(d, "x.bmp"), AV_ERR_NO_PICTURE);
        QVERIFY(!QFile::exists(QStringLiteral("x.bmp")));
        QCOMPARE(AV_CloseDecoder(d), 0);
        QCOMPARE(AV_CloseDecoder(nullptr), 0);
    }

    void liveLoopDecodesEachFrameOnce_data()
    {
        QTest::addColumn<int>("codec");
        QTest::addColumn<bool>("singleNals");
        QTest::addColumn<int>("slices");
        QTest::newRow("H.264 access units") << 1 << false << 1;
        QTest::newRow("H.264 single NAL units") << 1 << true << 1;
        QTest::newRow("H.264 4 slices per access unit") << 1 << false << 4;
        QTest::newRow("H.265 access units") << 2 << false << 1;
        QTest::newRow("H.265 single NAL units") << 2 << true << 1;
    }
    void liveLoopDecodesEachFrameOnce()
    {
        QFETCH(int, codec);
        QFETCH(bool, singleNals);
        QFETCH(int, slices);
        if (!test::haveEncoder(codec))
            QSKIP("encoder not available");
        const auto stream = test::encodeStream({.codec = codec, .frames = 30, .gop = 10, .slices = slices});
        LiveLoop loop(codec);
        QVERIFY(loop.ok);
        for (const auto &f : stream) {
            if (singleNals) {
                for (const auto &nal : test::splitNals(f.data))
                    loop.feed(nal);
            } else {
                loop.feed(f.data);
            }
        }
        // Every frame once: as many pictures as frames, numbered 1 ... 30,
        // each the picture that was encoded (no repeat, no reorder).
        QCOMPARE(int(loop.pictures.size()), 30);
        for (int i = 0; i < 30; ++i) {
            const Picture &p = loop.pictures[size_t(i)];
            QCOMPARE(p.number, i + 1);
            QCOMPARE(QSize(p.width, p.height), QSize(320, 240));
            QVERIFY2(shows(p.rgb, i), qPrintable(QString::number(i)));
        }
        QCOMPARE(std::tuple(loop.pictures[0].key, loop.pictures[10].key, loop.pictures[11].key), std::tuple(1, 1, 0));
    }

    void slicesArrivingOneByOne_data()
    {
        QTest::addColumn<int>("codec");
        QTest::newRow("H.264") << 1;
        QTest::newRow("H.265") << 2;
    }
    void slicesArrivingOneByOne()
    {
        // Pictures in 4 slices, each slice a frame of its own (RTSP). Every
        // picture whole, the first one too: its first slice alone must not go
        // to the decoder. Pictures are handed over when the picture after
        // them begins; H.264 ones, once 3 pictures ended with the same slice,
        // as soon as their last slice is in.
        QFETCH(int, codec);
        if (!test::haveEncoder(codec))
            QSKIP("encoder not available");
        const auto stream = test::encodeStream({.codec = codec, .frames = 12, .gop = 6, .slices = 4});
        LiveLoop loop(codec);
        for (int i = 0; i < 12; ++i) {
            const auto nals = test::splitNals(stream[size_t(i)].data);
            QVERIFY(nals.size() >= 4);
            for (const auto &nal : nals)
                loop.feed(nal);
            QCOMPARE(int(loop.pictures.size()), codec == 1 && i >= 3 ? i + 1 : i);
        }
        for (int i = 0; i < int(loop.pictures.size()); ++i)
            QVERIFY2(shows(loop.pictures[size_t(i)].rgb, i), qPrintable(QString::number(i)));
    }

    void sliceLayoutThatChangesFallsBackToWaiting()
    {
        // Pictures in 2 slices, learned; then a stream in 4 slices: its
        // first picture goes at its third slice (where the 2-slice pictures
        // ended), the fourth is dropped and the log says so. From then on
        // pictures wait for the next one; whole again from the next key picture.
        const auto two = test::encodeStream({.frames = 8, .gop = 8, .slices = 2});
        const auto four = test::encodeStream({.frames = 8, .gop = 4, .slices = 4});
        LiveLoop loop(1);
        for (const auto &f : two)
            for (const auto &nal : test::splitNals(f.data))
                loop.feed(nal);
        QCOMPARE(int(loop.pictures.size()), 8); // the last one at its last slice
        QVERIFY(!test::logText().contains("pictures now wait for the next"));
        for (int i = 0; i < 8; ++i) {
            for (const auto &nal : test::splitNals(four[size_t(i)].data))
                loop.feed(nal);
            QCOMPARE(int(loop.pictures.size()), 8 + i + (i == 0 ? 1 : 0)); // one picture behind
        }
        QCOMPARE(test::logText().count("pictures now wait for the next"), 1);
        for (int i = 4; i < 7; ++i)
            QVERIFY(shows(loop.pictures[size_t(8 + i)].rgb, i));
    }

    void resolutionChangeMidStream()
    {
        LiveLoop loop(1);
        for (const int width : {320, 176, 320}) {
            const int height = width == 176 ? 144 : 240;
            for (const auto &f : test::encodeStream({.width = width, .height = height, .frames = 8, .gop = 8}))
                loop.feed(f.data);
        }
        QCOMPARE(int(loop.pictures.size()), 24);
        for (int i = 0; i < 24; ++i) {
            const QSize want = i >= 8 && i < 16 ? QSize(176, 144) : QSize(320, 240);
            QCOMPARE(QSize(loop.pictures[size_t(i)].width, loop.pictures[size_t(i)].height), want);
            QVERIFY2(shows(loop.pictures[size_t(i)].rgb, i % 8, want), qPrintable(QString::number(i)));
        }
    }

    void corruptNalUnitsDoNotStopTheStream()
    {
        QRandomGenerator rng(42);
        std::vector<std::vector<uint8_t>> frames;
        for (const auto &f : test::encodeStream({.frames = 40, .gop = 10}))
            frames.push_back(f.data);
        // Random bytes behind a slice header, a slice cut in half, flipped
        // bits, a unit of an unknown type and units without a start code.
        for (size_t k = 5; k < frames[3].size(); ++k)
            frames[3][k] = uint8_t(rng.bounded(256));
        frames[5].resize(frames[5].size() / 2);
        for (int k = 0; k < 20; ++k)
            frames[7][8 + rng.bounded(int(frames[7].size()) - 8)] ^= uint8_t(1u << rng.bounded(8));
        LiveLoop loop(1);
        int garbage = 0;
        for (int i = 0; i < 40; ++i) {
            if (i == 12) {
                std::vector<uint8_t> empty(4, 0);
                empty[3] = 1;
                std::vector<uint8_t> unknown = empty;
                for (uint8_t b : {0x1f, 0xff, 0xee})
                    unknown.push_back(b);
                const int r1 = loop.feed(empty);
                const int r2 = loop.feed(unknown);
                std::vector<uint8_t> junk(3000);
                for (auto &b : junk)
                    b = uint8_t(rng.bounded(256));
                const int r3 = loop.feed(junk);
                for (int r : {r1, r2, r3})
                    garbage += r == AV_ERR_FAILED || r == AV_ERR_NEED_DATA;
            }
            loop.feed(frames[size_t(i)]);
        }
        QCOMPARE(garbage, 3);
        // After the next IDR picture (frame 10) the pictures are whole again.
        QVERIFY2(loop.pictures.size() >= 30, qPrintable(QString::number(loop.pictures.size())));
        const size_t n = loop.pictures.size();
        for (int back = 1; back <= 25; ++back) {
            const int index = 40 - back;
            QVERIFY2(shows(loop.pictures[n - size_t(back)].rgb, index), qPrintable(QString::number(index)));
        }
    }

    void playbackDrawsIntoTheWindow()
    {
        auto surface = std::make_shared<av::FrameSurface>();
        const int32_t window = av::registerVideoSink(surface);
        const auto stream = test::encodeStream({.frames = 12, .gop = 6});
        AV_DECODER_PARAM_S params{AV_AUDIO_PCM16, 1, 16, 8000};
        AV_HANDLE d = nullptr;
        QCOMPARE(AV_CreateDecoder(window, AV_VIDEO_H264, &params, &d), 1);

        // Hidden window: decoded, nothing drawn, no failure.
        QCOMPARE(AV_FrameDecoder(d, stream[0].data.data(), int(stream[0].data.size()), AV_FRAME_VIDEO, &params), 0);
        QCOMPARE(surface->presentedCount(), uint64_t(0));
        surface->setTargetSize(QSize(160, 120));
        for (int i = 1; i < 12; ++i)
            QCOMPARE(AV_FrameDecoder(d, stream[size_t(i)].data.data(), int(stream[size_t(i)].data.size()),
                                     AV_FRAME_VIDEO, &params), 0);
        QCOMPARE(surface->presentedCount(), uint64_t(11));
        QCOMPARE(surface->latestImage().size(), QSize(160, 120));
        const QImage ref = test::referenceRgb(test::testPicture(320, 240, 11))
                               .scaled(160, 120, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QVERIFY(test::psnr(surface->latestImage(), ref) > 25);

        // Other frame types are not decoded and are no error.
        QCOMPARE(AV_FrameDecoder(d, stream[0].data.data(), 1, AV_FRAME_OTHER, &params), AV_ERR_NEED_DATA);
        // The last picture again, at the window's new size.
        surface->setTargetSize(QSize(80, 60));
        QCOMPARE(AV_ShowLastFrame(d), 0);
        QCOMPARE(surface->presentedCount(), uint64_t(12));
        QCOMPARE(surface->latestImage().size(), QSize(80, 60));

        // The window goes away: drawing fails and says so.
        av::unregisterVideoSink(window);
        QVERIFY(AV_ShowLastFrame(d) < 0);
        QCOMPARE(AV_CloseDecoder(d), 0);
    }

    // A stream of non-square pixels (12:11, as 704x576 cameras send) is
    // letter-boxed to its shape on screen, not to its pixel count.
    void pixelShapeReachesTheWindow()
    {
        auto surface = std::make_shared<av::FrameSurface>();
        const int32_t window = av::registerVideoSink(surface);
        surface->setTargetSize(QSize(800, 576));
        surface->setKeepAspect(true);
        const auto stream = test::encodeStream({.width = 352, .height = 288, .frames = 2, .sarNum = 12, .sarDen = 11});
        AV_DECODER_PARAM_S params{AV_AUDIO_PCM16, 1, 16, 8000};
        AV_HANDLE d = nullptr;
        QCOMPARE(AV_CreateDecoder(window, AV_VIDEO_H264, &params, &d), 1);
        for (const auto &f : stream)
            QCOMPARE(AV_FrameDecoder(d, f.data.data(), int(f.data.size()), AV_FRAME_VIDEO, &params), 0);
        QCOMPARE(surface->latestSourceSize(), QSize(352, 288));
        QCOMPARE(surface->latestDisplaySize(), QSize(384, 288));
        QCOMPARE(surface->latestImage().size(), QSize(768, 576)); // 4:3, where square pixels would give 704x576
        QCOMPARE(AV_CloseDecoder(d), 0);
        av::unregisterVideoSink(window);
    }

    void capPictureMatchesTheDecodedPicture()
    {
        const auto stream = test::encodeStream({.width = 1280, .height = 720, .frames = 3});
        AV_HANDLE playback = nullptr;
        QCOMPARE(AV_CreateDecoder(0, AV_VIDEO_H264, nullptr, &playback), 1);
        LiveLoop live(1);
        for (const auto &f : stream) {
            QCOMPARE(AV_FrameDecoder(playback, f.data.data(), int(f.data.size()), AV_FRAME_VIDEO, nullptr), 0);
            live.feed(f.data);
        }
        // The same last picture through the live interface, converted by hand.
        AV_FRAME_OUT_S out{};
        AV_HANDLE d2 = nullptr;
        QCOMPARE(AV_CreateDecoder(0, AV_VIDEO_H264, nullptr, &d2), 1);
        std::vector<uint8_t> bgr(size_t(1280) * 720 * 3);
        for (const auto &f : stream) {
            int r = AV_FrameDecoderStream(d2, f.data.data(), int(f.data.size()), AV_FRAME_VIDEO, nullptr, 0, &out);
            if (r == 0)
                av::YuvToBgrTables().convertBottomUp(out.y, out.width, out.u, out.width / 2, out.v, out.width / 2,
                                                     out.width, out.height, bgr.data());
        }
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("cap.bmp"));
        QCOMPARE(AV_CapPicture(playback, path.toUtf8().constData()), 0);
        const QByteArray all = test::readFile(path);
        QCOMPARE(all.size(), 2764854);
        // A 54-byte header (file, then info header of a bottom-up 24-bit
        // picture without compression), then the rows as converted.
        const auto u32 = [&all](int off) { return qFromLittleEndian<quint32>(all.constData() + off); };
        const auto u16 = [&all](int off) { return qFromLittleEndian<quint16>(all.constData() + off); };
        QCOMPARE(all.left(2), QByteArray("BM"));
        QCOMPARE(std::tuple(u32(2), u32(6), u32(10), u32(14), u32(18), u32(22), u16(26), u16(28)),
                 std::tuple(2764854u, 0u, 54u, 40u, 1280u, 720u, quint16(1), quint16(24)));
        for (int off = 30; off < 54; off += 4)
            QCOMPARE(u32(off), 0u);
        QVERIFY(std::memcmp(all.constData() + 54, bgr.data(), bgr.size()) == 0);
        QImage img(path);
        QCOMPARE(img.size(), QSize(1280, 720));
        QVERIFY(test::psnr(img, live.pictures.back().rgb) > 45);
        QCOMPARE(AV_CapPicture(playback, dir.filePath(QStringLiteral("no/dir/x.bmp")).toUtf8().constData()), AV_ERR_FILE);
        AV_CloseDecoder(d2);
        AV_CloseDecoder(playback);
    }

    void g711AndPcmArePlayedExactly()
    {
        auto sink = std::make_shared<RecordingSink>();
        av::setAudioSinkOverride(sink);
        const std::vector<int16_t> pcm = test::tone(8000, 440, 320);
        std::vector<uint8_t> alaw, mulaw;
        for (int16_t s : pcm) {
            alaw.push_back(test::linearToAlaw(s));
            mulaw.push_back(test::linearToMulaw(s));
        }
        struct Case { uint32_t code; std::vector<uint8_t> data; bool header; };
        std::vector<uint8_t> raw(pcm.size() * 2);
        std::memcpy(raw.data(), pcm.data(), raw.size());
        raw[0] = 0; raw[1] = 1; raw[2] = uint8_t((raw.size() - 4) / 2); raw[3] = 0; // looks like a header
        for (const Case &c : {Case{AV_AUDIO_G711A, alaw, true}, Case{AV_AUDIO_G711A, alaw, false},
                              Case{AV_AUDIO_G711U, mulaw, true}, Case{AV_AUDIO_PCM16, raw, false}}) {
            {
                std::lock_guard lock(sink->mutex);
                sink->samples.clear();
            }
            AV_DECODER_PARAM_S params{c.code, 1, 16, 8000};
            AV_HANDLE d = nullptr;
            QCOMPARE(AV_CreateDecoder(0, AV_VIDEO_H264, &params, &d), 1);
            const std::vector<uint8_t> block = c.header ? withHeader(c.data) : c.data;
            AV_FRAME_OUT_S out{};
            QCOMPARE(AV_FrameDecoderStream(d, block.data(), int(block.size()), AV_FRAME_AUDIO, &params, 0, &out), 0);
            QCOMPARE(AV_FrameDecoder(d, block.data(), int(block.size()), AV_FRAME_AUDIO, &params), 0);
            AV_CloseDecoder(d);
            std::lock_guard lock(sink->mutex);
            QCOMPARE(sink->rate, 8000);
            QCOMPARE(sink->channels, 1);
            QCOMPARE(int(sink->samples.size()), 2 * int(c.data.size() / (c.code == AV_AUDIO_PCM16 ? 2 : 1)));
            for (size_t i = 0; i < sink->samples.size(); ++i) {
                const size_t k = i % (sink->samples.size() / 2);
                int16_t want;
                if (c.code == AV_AUDIO_G711A)
                    want = test::alawToLinear(c.data[k]);
                else if (c.code == AV_AUDIO_G711U)
                    want = test::mulawToLinear(c.data[k]);
                else
                    want = int16_t(c.data[2 * k] | c.data[2 * k + 1] << 8);
                if (sink->samples[i] != want)
                    QFAIL(qPrintable(QStringLiteral("code %1 sample %2: %3 != %4").arg(c.code).arg(i).arg(sink->samples[i]).arg(want)));
            }
        }
    }

    void aacIsDecodedFromAdtsFrames()
    {
        auto sink = std::make_shared<RecordingSink>();
        av::setAudioSinkOverride(sink);
        const auto frames = test::encodeAacAdts(test::tone(16000, 500, 16000), 16000);
        QVERIFY(frames.size() >= 10);
        AV_DECODER_PARAM_S params{AV_AUDIO_AAC, 1, 16, 16000};
        AV_HANDLE d = nullptr;
        QCOMPARE(AV_CreateDecoder(0, AV_VIDEO_H264, &params, &d), 1);
        int played = 0;
        for (const auto &f : frames) {
            const auto block = withHeader(f);
            AV_FRAME_OUT_S out{};
            const int r = AV_FrameDecoderStream(d, block.data(), int(block.size()), AV_FRAME_AUDIO, &params, 0, &out);
            QVERIFY(r == 0 || r == AV_ERR_NEED_DATA);
            played += r == 0;
        }
        AV_CloseDecoder(d);
        QVERIFY(played >= int(frames.size()) - 2);
        std::lock_guard lock(sink->mutex);
        QCOMPARE(sink->rate, 16000);
        QVERIFY(sink->samples.size() >= size_t(1024) * (frames.size() - 2));
        double energy = 0;
        for (size_t i = sink->samples.size() / 2; i < sink->samples.size(); ++i)
            energy += double(sink->samples[i]) * sink->samples[i];
        const double rms = std::sqrt(energy / double(sink->samples.size() / 2));
        QVERIFY2(rms > 2000 && rms < 9000, qPrintable(QString::number(rms))); // the tone's 5657
    }

    void unusableAudioReportsMinus3AndVideoGoesOn()
    {
        auto sink = std::make_shared<RecordingSink>();
        av::setAudioSinkOverride(sink);
        AV_DECODER_PARAM_S params{999, 1, 16, 8000};
        LiveLoop loop(1);
        loop.params = params;
        const uint8_t a[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        AV_FRAME_OUT_S out{};
        QCOMPARE(AV_FrameDecoderStream(loop.decoder, a, 8, AV_FRAME_AUDIO, &params, 0, &out), AV_ERR_AUDIO);
        QCOMPARE(AV_FrameDecoderStream(loop.decoder, a, 8, AV_FRAME_AUDIO, &params, 0, &out), AV_ERR_AUDIO);
        for (const auto &f : test::encodeStream({.frames = 2}))
            loop.feed(f.data);
        QCOMPARE(int(loop.pictures.size()), 2);
        // A damaged G.711 frame cannot exist, but an empty one is refused.
        AV_DECODER_PARAM_S g{AV_AUDIO_G711A, 1, 16, 8000};
        AV_HANDLE d = nullptr;
        AV_CreateDecoder(0, 1, &g, &d);
        const uint8_t headerOnly[4] = {0, 1, 0, 0};
        QCOMPARE(AV_FrameDecoderStream(d, headerOnly, 4, AV_FRAME_AUDIO, &g, 0, &out), AV_ERR_FAILED);
        AV_CloseDecoder(d);
    }

    void noAudioDeviceIsSilentAndHarmless()
    {
        // No override: the machine's default device, which does not exist here.
        AV_DECODER_PARAM_S params{AV_AUDIO_G711A, 1, 16, 8000};
        for (int k = 0; k < 3; ++k) {
            AV_HANDLE d = nullptr;
            QCOMPARE(AV_CreateDecoder(0, 1, &params, &d), 1);
            std::vector<uint8_t> block = withHeader(std::vector<uint8_t>(320, 0xD5));
            for (int i = 0; i < 20; ++i) {
                AV_FRAME_OUT_S out{};
                QCOMPARE(AV_FrameDecoderStream(d, block.data(), int(block.size()), AV_FRAME_AUDIO, &params, 0, &out), 0);
            }
            AV_CloseDecoder(d);
        }
    }
};

QTEST_GUILESS_MAIN(TestAvDecoder)
#include "tst_av_decoder.moc"
