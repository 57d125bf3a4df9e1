#include "playback/aacencoder.h"
#include "playback/bytefifo.h"
#include "playback/camerafileconverter.h"
#include "playback/localexport.h"
#include "playback/mp4writer.h"

#include "common/camerafile.h"
#include "common/installdir.h"
#include "common/textfield.h"
#include "platform/recfile/filelist.h"
#include "platform/recfile/record_local.h"
#include "tests/playback/playbackfixture.h"
#include "tests/support/recmedia/camerafilewriter.h"
#include "tests/support/media/testmedia.h"
#include "tests/support/files.h"
#include "tests/support/probe.h"
#include "tests/support/testenv.h"
#include "playback/mp4check.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStringList>
#include <QTest>

#include <cmath>
#include <numeric>
#include <sys/stat.h>

using namespace varno::test;
using varno::playback::saveMp4;

namespace {

constexpr uint64_t kStartUs = 1700000000ull * 1000000ull;

std::vector<uint8_t> alawTone(int samples, double *phase)
{
    const std::vector<int16_t> pcm = tone(8000, 440, samples, phase);
    std::vector<uint8_t> out(pcm.size());
    for (size_t i = 0; i < pcm.size(); ++i)
        out[i] = linearToAlaw(pcm[i]);
    return out;
}

// 352x288 H.264 (header resolution code 2), GOP 25.
const std::vector<EncodedFrame> &pictures()
{
    static const std::vector<EncodedFrame> p = encodeStream({.width = 352, .height = 288, .frames = 50});
    return p;
}

// Annex B units of a picture with 4-byte start codes.
std::vector<uint8_t> join(const std::vector<std::vector<uint8_t>> &units)
{
    std::vector<uint8_t> out;
    for (const auto &u : units)
        out.insert(out.end(), u.begin(), u.end());
    return out;
}

std::vector<uint8_t> fourByteCodes(const std::vector<uint8_t> &annexB)
{
    return join(splitNals(annexB));
}

// Pictures as many cameras send them: an access-unit delimiter, SEI (HRD
// buffering period and picture timing) and four slices per picture.
const char *const kCameraLike = "slices=4:aud=1:nal-hrd=vbr:vbv-maxrate=800:vbv-bufsize=800";

std::vector<EncodedFrame> cameraPictures(int width, int height, int count)
{
    return encodeStream({.width = width, .height = height, .frames = count, .extraParams = kCameraLike});
}

// How many NAL units of a type a picture holds.
int countNals(const EncodedFrame &p, int type)
{
    int n = 0;
    for (const auto &u : splitNals(p.data))
        n += nalType(u, 1) == type;
    return n;
}

struct ToolRun
{
    int exitCode = -1;
    QString err;
};

ToolRun runExportTool(const QStringList &args)
{
    QProcess p;
    p.start(buildDir() + QStringLiteral("/tools/export/varno-export"), args);
    ToolRun run;
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return run;
    }
    run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.err = QString::fromUtf8(p.readAllStandardError());
    return run;
}

double seconds(const QString &mp4, const char *stream)
{
    return probeLines(mp4, stream, "stream=duration").value(0).toDouble();
}

// Every one of count pictures decodes, without a single error.
void decodesAll(const QString &mp4, int count)
{
    QCOMPARE(ffprobe(mp4, {"-count_frames", "-select_streams", "v:0", "-show_entries", "stream=nb_read_frames", "-of",
                           "csv=p=0"}),
             QString::number(count));
    QCOMPARE(decodeErrors(mp4), QString());
}

} // namespace

class TestMp4Export : public QObject
{
    Q_OBJECT

private:
    QString path(const QString &name) const { return tempRoot() + QLatin1Char('/') + name; }

    // Saves the camera file as name.tmp and converts it into name.mp4.
    int convert(const CameraFileWriter &w, const QString &name) const
    {
        const QString in = path(name + QStringLiteral(".tmp"));
        if (!w.save(in.toStdString()))
            return -100;
        return saveMp4(in.toUtf8().constData(), path(name + QStringLiteral(".mp4")).toUtf8().constData());
    }

    // A camera file of count pictures 40 ms apart, with audio chunks of
    // chunkBytes every chunkBytes/8 ms when chunkBytes > 0.
    CameraFileWriter cameraFile(int count, int chunkBytes, uint8_t fps = 25)
    {
        CameraFileWriter w(8000, fps, varno::camfile::kRes352x288);
        double phase = 0;
        uint64_t audioUs = kStartUs;
        for (int i = 0; i < count; ++i) {
            const uint64_t t = kStartUs + uint64_t(i) * 40000;
            const EncodedFrame &p = pictures()[size_t(i) % pictures().size()];
            w.video(fourByteCodes(p.data), t, p.key);
            while (chunkBytes > 0 && audioUs < t + 40000) {
                w.audio(alawTone(chunkBytes, &phase), audioUs);
                audioUs += uint64_t(chunkBytes) * 125;
            }
        }
        return w;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(pictures().size() == 50);
        QCOMPARE(Record_local_InitSdk(), 0);
    }
    void cleanupTestCase() { QCOMPARE(Record_local_UnInitSdk(), 0); }

    void fifoKeepsOrderAndDropsOverflow()
    {
        ByteFifo fifo;
        QVERIFY(fifo.create(Mp4Writer::kFifoSize));
        std::vector<uint8_t> in(10300);
        for (size_t i = 0; i < in.size(); ++i)
            in[i] = uint8_t(i * 31);
        QCOMPARE(fifo.put(in.data(), uint32_t(in.size())), 10240u);
        QCOMPARE(fifo.length(), 10240u);
        QCOMPARE(fifo.freeBytes(), 0u);
        std::vector<uint8_t> out(1024);
        QCOMPARE(fifo.get(out.data(), 1024), 1024u);
        QVERIFY(std::equal(out.begin(), out.end(), in.begin()));
        // Wrap around the end of the buffer.
        QCOMPARE(fifo.put(in.data() + 5000, 1000), 1000u);
        std::vector<uint8_t> all(20000);
        QCOMPARE(fifo.get(all.data(), uint32_t(all.size())), 10216u);
        QVERIFY(std::equal(all.begin(), all.begin() + 9216, in.begin() + 1024));
        QVERIFY(std::equal(all.begin() + 9216, all.begin() + 10216, in.begin() + 5000));
        QCOMPARE(fifo.length(), 0u);
        QCOMPARE(fifo.get(all.data(), 10), 0u);
    }

    void aacSettings()
    {
        QCOMPARE(aacFrequencyIndex(8000), 11);
        QCOMPARE(aacFrequencyIndex(9390), 11);
        QCOMPARE(aacFrequencyIndex(9391), 10);
        QCOMPARE(aacFrequencyIndex(16000), 8);
        QCOMPARE(aacFrequencyIndex(44100), 4);
        QCOMPARE(aacFrequencyIndex(48000), 3);
        QCOMPARE(aacFrequencyIndex(92016), 1);
        QCOMPARE(aacFrequencyIndex(92017), 0);
        // The configuration written is the encoder's own two bytes.
        uint8_t asc[2];
        for (uint32_t rate : {8000u, 16000u, 44100u, 48000u}) {
            AacEncoder enc;
            QCOMPARE(enc.aacOpen(rate, 1), 0);
            QCOMPARE(enc.inputSamples(), 1024u);
            aacAudioSpecificConfig(rate, asc);
            const std::vector<uint8_t> own = enc.extradata();
            QVERIFY(own.size() >= 2);
            QCOMPARE(own[0], asc[0]);
            QCOMPARE(own[1], asc[1]);
        }
    }

    // Every A-law code point against FFmpeg's own pcm_alaw decoder.
    void alawMatchesFfmpeg()
    {
        const QString in = path(QStringLiteral("codes.alaw"));
        const QString out = path(QStringLiteral("codes.s16"));
        QByteArray codes(256, '\0');
        std::iota(codes.begin(), codes.end(), char(0));
        QVERIFY(writeFile(in, codes));
        QCOMPARE(QProcess::execute(QStringLiteral("ffmpeg"), {"-nostdin", "-v", "error", "-y", "-f", "alaw", "-ar",
                                                              "8000", "-ac", "1", "-i", in, "-f", "s16le", out}),
                 0);
        const QByteArray pcm = readFile(out);
        QCOMPARE(pcm.size(), 512);
        for (int c = 0; c < 256; ++c) {
            const auto want = int16_t(uint16_t(uint8_t(pcm[2 * c])) | uint16_t(uint8_t(pcm[2 * c + 1])) << 8);
            QCOMPARE(::alawToLinear(uint8_t(c)), want);
        }
    }

    // A local recording of an AAC camera exports with its sound: the AAC
    // frames go into the MP4's audio track as they are, as long as the video.
    void localAacRecordingExported()
    {
        const QString dir = path(QStringLiteral("aacrec"));
        pbtest::RecordingOptions recording;
        recording.sampleRate = 16000;
        recording.aac = true;
        const QString file = pbtest::writeRecording(dir, recording);
        QVERIFY(!file.isEmpty());
        // Its record as a search finds it.
        std::vector<MEDIA_FILE_S> records;
        QVERIFY(varno::recfile::readFilelist(QFile::encodeName(dir).toStdString(), records));
        QCOMPARE(records.size(), size_t(1));
        MEDIA_FILE_S record = records[0];
        varno::setText(record.fileName, file);
        QCOMPARE(record.audioType, uint32_t(MEDIA_AUDIO_AAC));

        const QString out = path(QStringLiteral("aacrec.mp4"));
        QCOMPARE(varno::playback::exportLocalToMp4(file.toUtf8().constData(), out.toUtf8().constData(), record, {}),
                 0);
        QCOMPARE(probeLines(out, "a:0", "stream=codec_name,sample_rate,channels"), QStringList({"aac,16000,1"}));
        // Copied frame for frame: the packets are the camera's AAC frames
        // without their ADTS headers (an encoder would make other sizes).
        const auto adts = encodeAacAdts(tone(16000, 440, 16000 * 2, 8000), 16000);
        const QStringList sizes = probeLines(out, "a:0", "packet=size");
        QVERIFY2(sizes.size() >= int(adts.size()) - 2 && sizes.size() <= int(adts.size()),
                 qPrintable(QString::number(sizes.size())));
        for (int i = 0; i < sizes.size(); ++i)
            QCOMPARE(sizes[i].toULongLong(), qulonglong(adts[size_t(i)].size() - 7));
        const double audioSeconds = seconds(out, "a:0");
        QVERIFY2(audioSeconds > 1.8 && audioSeconds < 2.2, qPrintable(QString::number(audioSeconds)));
        QCOMPARE(decodeErrors(out), QString());
    }

    // A-law chunks at 8,000 Hz become AAC frames of 1,024 samples as they
    // fill up, the rest a final short frame; nothing is lost, whether the
    // chunks are shorter than a frame (three of 400 bytes: one frame after
    // the third, 176 bytes left) or longer than a frame and the FIFO.
    void audioChunksLoseNothing_data()
    {
        QTest::addColumn<QList<uint32_t>>("sizes");
        QTest::newRow("three of 400 bytes") << QList<uint32_t>{400, 400, 400};
        QTest::newRow("longer than the FIFO") << QList<uint32_t>{4000, 20000, 1500, 2500};
    }
    void audioChunksLoseNothing()
    {
        QFETCH(QList<uint32_t>, sizes);
        const QString out = path(QStringLiteral("chunks.mp4"));
        Mp4Writer w;
        QCOMPARE(w.open(out.toUtf8().constData(), 352, 288, 25, 8000), 0);
        QCOMPARE(w.defaultSampleDuration(), 3600u);
        double phase = 0;
        uint32_t total = 0;
        for (uint32_t size : sizes) {
            const std::vector<uint8_t> chunk = alawTone(int(size), &phase);
            QCOMPARE(w.writeFrame(2, chunk.data(), size, kStartUs + total * 125ull), 0);
            total += size;
            QCOMPARE(w.aacFramesEncoded(), total / 1024);
            QCOMPARE(w.fifoLength(), total % 1024);
        }
        QCOMPARE(w.finish(), 0);
        QCOMPARE(w.aacFramesEncoded(), (total + 1023) / 1024);
        QCOMPARE(probeLines(out, "a:0", "stream=codec_name,sample_rate,channels"), QStringList({"aac,8000,1"}));
        // Every sample, the encoder's priming cut off by the edit list.
        const double audioSeconds = seconds(out, "a:0");
        QVERIFY2(std::abs(audioSeconds - total / 8000.0) < 0.001, qPrintable(QString::number(audioSeconds)));
    }

    // End-of-chunk-data 0 reads to the end; a value inside the file stops there.
    void endOfChunkData()
    {
        CameraFileWriter w = cameraFile(30, 0);
        const uint32_t thirty = w.size();
        w.raw(std::vector<uint8_t>(64, 0xEE)); // an index or trailer the converter must not read
        w.setChunkEnd(thirty);
        const QString out = path(QStringLiteral("end.mp4"));
        QCOMPARE(convert(w, QStringLiteral("end")), 0);
        QCOMPARE(probeLines(out, "v:0", "packet=duration").size(), 30);
        // 0, and a field beyond the file, mean the same.
        for (uint32_t end : {0u, 0xFFFFFFF0u}) {
            CameraFileWriter other = cameraFile(30, 0);
            other.setChunkEnd(end);
            QCOMPARE(convert(other, QStringLiteral("end")), 0);
            QCOMPARE(probeLines(out, "v:0", "packet=duration").size(), 30);
        }
    }

    // SEI and access-unit delimiters are skipped; only the slices make the sample.
    void seiAndDelimitersSkipped()
    {
        CameraFileWriter w(8000, 25, varno::camfile::kRes352x288);
        std::vector<size_t> sliceBytes;
        for (int i = 0; i < 5; ++i) {
            const auto units = splitNals(pictures()[size_t(i)].data);
            std::vector<uint8_t> payload {0, 0, 0, 1, 0x09, 0xF0};      // delimiter
            const std::vector<uint8_t> sei {0, 0, 0, 1, 0x06, 0x05, 0x01, 0x00, 0x80}; // SEI
            size_t slices = 0;
            for (const auto &u : units) {
                const int t = nalType(u, 1);
                if (t == 1 || t == 5) {
                    payload.insert(payload.end(), sei.begin(), sei.end());
                    slices += u.size(); // 4-byte length + unit
                }
                if (t != 6)
                    payload.insert(payload.end(), u.begin(), u.end());
            }
            sliceBytes.push_back(slices);
            w.video(payload, kStartUs + uint64_t(i) * 40000, i == 0);
        }
        QCOMPARE(convert(w, QStringLiteral("sei")), 0);
        const QStringList sizes = probeLines(path(QStringLiteral("sei.mp4")), "v:0", "packet=size");
        QCOMPARE(sizes.size(), 5);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(sizes[i].toULongLong(), qulonglong(sliceBytes[size_t(i)]));
    }

    // Per-sample durations follow the time stamps (90 kHz, measured from the
    // first picture so that rounding does not add up); the last sample takes
    // the default; a clock going back takes the default until it has caught up.
    void sampleDurations()
    {
        CameraFileWriter w(8000, 25, varno::camfile::kRes352x288);
        const uint64_t gaps[] = {40000, 40000, 80000, 33333, 0 /* back */, 40000};
        uint64_t t = kStartUs;
        for (int i = 0; i < 7; ++i) {
            w.video(fourByteCodes(pictures()[size_t(i)].data), t, i == 0);
            if (i < 6)
                t = gaps[i] ? t + gaps[i] : t - 10000;
        }
        QCOMPARE(convert(w, QStringLiteral("dur")), 0);
        QCOMPARE(probeLines(path(QStringLiteral("dur.mp4")), "v:0", "packet=duration"),
                 QStringList({"3600", "3600", "7200", "3000", "3600", "3600", "3600"}));
    }

    // Frame rate 0 in the header: the default duration is that of 25 fps.
    void frameRateZero()
    {
        QCOMPARE(convert(cameraFile(3, 0, 0), QStringLiteral("fps0")), 0);
        QCOMPARE(probeLines(path(QStringLiteral("fps0.mp4")), "v:0", "packet=duration"), QStringList({"3600", "3600", "3600"}));

        // The stream's SPS says 30 fps, the header 25: the stream wins (the
        // last sample's default duration) and the log names the stream's rate.
        CameraFileWriter w(8000, 25, varno::camfile::kRes1920x1080);
        const std::vector<EncodedFrame> p
            = encodeStream({.width = 352, .height = 288, .frames = 3, .fps = 30, .gop = 30});
        for (size_t i = 0; i < p.size(); ++i)
            w.video(p[i].data, kStartUs + i * 33333, p[i].key);
        QCOMPARE(convert(w, QStringLiteral("fps30")), 0);
        QCOMPARE(probeLines(path(QStringLiteral("fps30.mp4")), "v:0", "packet=duration"),
                 QStringList({"3000", "3000", "3000"}));
        QVERIFY(logText().contains("[MP4]Add video track(352,288,30) success!!!"));
    }

    // Damaged input: the conversion fails, says why, and leaves no MP4 (an
    // earlier file of that name stays as it was); the input stays untouched.
    void damagedInput()
    {
        const QString in = path(QStringLiteral("bad.tmp"));
        const QString out = path(QStringLiteral("bad.mp4"));
        auto failsLeavingNothing = [&](const CameraFileWriter &w, int code) {
            QVERIFY(w.save(in.toStdString()));
            const QByteArray before = readFile(in);
            QFile::remove(out);
            varno::playback::Mp4ExportResult result;
            QCOMPARE(saveMp4(in.toUtf8().constData(), out.toUtf8().constData(), &result), -1);
            QCOMPARE(result.code, code);
            QVERIFY(!result.reason.empty());
            QVERIFY(!QFile::exists(out));
            QVERIFY(!QFile::exists(out + QStringLiteral(".part")));
            QCOMPARE(readFile(in), before);
        };

        // Unknown tag after 10 pictures; a chunk of size 0; cut in the middle
        // of a chunk (a download that stopped).
        CameraFileWriter unknown = cameraFile(10, 0);
        unknown.raw({'x', 'y', 'z', 'w', 1, 2, 3, 4, 5, 6, 7, 8});
        failsLeavingNothing(unknown, varno::playback::kExportReadFailed);
        CameraFileWriter zero = cameraFile(10, 0);
        zero.video({}, kStartUs + 400000, false);
        failsLeavingNothing(zero, varno::playback::kExportReadFailed);
        CameraFileWriter cut = cameraFile(20, 0);
        cut.truncate(cut.size() - 100);
        failsLeavingNothing(cut, varno::playback::kExportReadFailed);

        // Sound but no picture that decodes: no MP4 "with audio only".
        CameraFileWriter noVideo = cameraFile(0, 0);
        double phase = 0;
        for (int i = 0; i < 20; ++i) {
            noVideo.video(std::vector<uint8_t>(300, 0x11), kStartUs + uint64_t(i) * 40000, false);
            noVideo.audio(alawTone(320, &phase), kStartUs + uint64_t(i) * 40000);
        }
        failsLeavingNothing(noVideo, varno::playback::kExportNoVideo);

        // A failure never replaces an earlier MP4 of that name.
        QVERIFY(unknown.save(in.toStdString()));
        QVERIFY(writeFile(out, "earlier"));
        QCOMPARE(saveMp4(in.toUtf8().constData(), out.toUtf8().constData()), -1);
        QCOMPARE(readFile(out), QByteArray("earlier"));

        // A video chunk too big for the buffer is passed over; the rest converts.
        CameraFileWriter big = cameraFile(5, 0);
        big.video(std::vector<uint8_t>(250000, 0x11), kStartUs + 200000, false);
        for (int i = 5; i < 10; ++i)
            big.video(fourByteCodes(pictures()[size_t(i)].data), kStartUs + uint64_t(i + 1) * 40000, false);
        QCOMPARE(convert(big, QStringLiteral("bad")), 0);
        QCOMPARE(probeLines(out, "v:0", "packet=duration").size(), 10);

        // Pictures before the first SPS/PPS are dropped (nobody can decode them).
        CameraFileWriter late(8000, 25, varno::camfile::kRes352x288);
        for (int i = 1; i < 4; ++i)
            late.video(fourByteCodes(pictures()[size_t(i)].data), kStartUs + uint64_t(i) * 40000, false);
        for (int i = 25; i < 30; ++i)
            late.video(fourByteCodes(pictures()[size_t(i)].data), kStartUs + uint64_t(i) * 40000, i == 25);
        QCOMPARE(convert(late, QStringLiteral("bad")), 0);
        QCOMPARE(probeLines(out, "v:0", "packet=duration").size(), 5);

        // Missing or short input; a target that cannot be created; the
        // camera file itself as the target.
        varno::playback::Mp4ExportResult result;
        QCOMPARE(saveMp4(path(QStringLiteral("none.tmp")).toUtf8().constData(), out.toUtf8().constData(), &result), -1);
        QCOMPARE(result.code, varno::playback::kExportOpenFailed);
        QVERIFY(writeFile(in, QByteArray(100, '\0')));
        QCOMPARE(saveMp4(in.toUtf8().constData(), out.toUtf8().constData(), &result), -1);
        QCOMPARE(result.code, varno::playback::kExportReadFailed);
        QVERIFY(cameraFile(3, 0).save(in.toStdString()));
        QCOMPARE(saveMp4(in.toUtf8().constData(), "/nonexistent-dir/x.mp4", &result), -1);
        QCOMPARE(result.code, varno::playback::kExportWriteFailed);
        QVERIFY2(QString::fromStdString(result.reason).contains(QStringLiteral("No such file")),
                 result.reason.c_str());
        const QByteArray before = readFile(in);
        QCOMPARE(saveMp4(in.toUtf8().constData(), in.toUtf8().constData(), &result), -1);
        QCOMPARE(readFile(in), before);
    }

    // Audio padding bytes are not samples; an odd chunk keeps its length.
    void paddingIsNotAudio()
    {
        const QString out = path(QStringLiteral("pad.mp4"));
        CameraFileWriter w(8000, 25, varno::camfile::kRes352x288);
        double phase = 0;
        w.video(fourByteCodes(pictures()[0].data), kStartUs, true);
        for (int i = 0; i < 10; ++i)
            w.audio(alawTone(401, &phase), kStartUs + uint64_t(i) * 50125);
        QCOMPARE(convert(w, QStringLiteral("pad")), 0);
        const double audioSeconds = seconds(out, "a:0");
        QVERIFY2(std::abs(audioSeconds - 4010 / 8000.0) < 0.001, qPrintable(QString::number(audioSeconds)));
    }

    // Streams made like real cameras': every picture must become one sample
    // whatever the start codes and however the units are cut into chunks;
    // the size comes from the stream (the header claims 704x576).
    void cameraLikeStreams_data()
    {
        QTest::addColumn<int>("layout");
        QTest::newRow("as the encoder wrote it (3- and 4-byte start codes)") << 0;
        QTest::newRow("4-byte start codes") << 1;
        QTest::newRow("each NAL unit its own chunk") << 2;
        QTest::newRow("parameter sets in front of every picture") << 3;
        QTest::newRow("parameter sets change mid-stream") << 4;
    }
    void cameraLikeStreams()
    {
        QFETCH(int, layout);
        std::vector<EncodedFrame> stream = cameraPictures(320, 240, 50);
        QCOMPARE(stream.size(), size_t(50));
        // The encoder really made what cameras send.
        QCOMPARE(countNals(stream[1], 9), 1);
        QVERIFY(countNals(stream[1], 6) >= 1);
        QCOMPARE(countNals(stream[1], 1), 4);
        if (layout == 4) {
            // The second second from another camera set-up: new SPS/PPS, new size.
            const std::vector<EncodedFrame> other = cameraPictures(352, 288, 25);
            std::copy(other.begin(), other.end(), stream.begin() + 25);
        }
        std::vector<uint8_t> parameterSets;
        for (const auto &u : splitNals(stream[0].data))
            if (nalType(u, 1) == 7 || nalType(u, 1) == 8)
                parameterSets.insert(parameterSets.end(), u.begin(), u.end());

        CameraFileWriter w(8000, 25, varno::camfile::kRes704x576);
        double phase = 0;
        for (int i = 0; i < 50; ++i) {
            const uint64_t t = kStartUs + uint64_t(i) * 40000;
            const EncodedFrame &p = stream[size_t(i)];
            if (layout == 0 || layout == 4) {
                w.video(p.data, t, p.key);
            } else if (layout == 1) {
                w.video(fourByteCodes(p.data), t, p.key);
            } else if (layout == 2) {
                for (const auto &u : splitNals(p.data))
                    w.video(u, t, p.key);
            } else {
                std::vector<uint8_t> payload = p.key ? std::vector<uint8_t>() : parameterSets;
                payload.insert(payload.end(), p.data.begin(), p.data.end());
                w.video(payload, t, p.key);
            }
            w.audio(alawTone(320, &phase), t);
        }
        const QString in = path(QStringLiteral("camera.tmp"));
        const QString out = path(QStringLiteral("camera.mp4"));
        QVERIFY(w.save(in.toStdString()));
        varno::playback::Mp4ExportResult result;
        QCOMPARE(saveMp4(in.toUtf8().constData(), out.toUtf8().constData(), &result), 0);
        QVERIFY2(result.ok(), result.reason.c_str());
        QCOMPARE(result.picturesRead, 50u);
        QCOMPARE(result.videoSamples, 50u);

        QCOMPARE(probeLines(out, "v:0", "stream=codec_name,profile,width,height,time_base,nb_frames"),
                 QStringList({"h264,Constrained Baseline,320,240,1/90000,50"}));
        QCOMPARE(probeLines(out, "a:0", "stream=codec_name,profile,sample_rate,channels"),
                 QStringList({"aac,LC,8000,1"}));
        // 25 fps: samples of 3,600 ticks at 90 kHz, sync samples on IDR.
        const QStringList video = probeLines(out, "v:0", "packet=duration,flags");
        QCOMPARE(video.size(), 50);
        for (int i = 0; i < video.size(); ++i) {
            QCOMPARE(video[i].section(QLatin1Char(','), 0, 0), QStringLiteral("3600"));
            QCOMPARE(video[i].section(QLatin1Char(','), 1).startsWith(QLatin1Char('K')), i % 25 == 0);
        }
        QCOMPARE(seconds(out, "v:0"), 2.0);
        // 50 x 320 A-law bytes = 16,000 samples = 2 s, none lost.
        const double audioSeconds = seconds(out, "a:0");
        QVERIFY2(std::abs(audioSeconds - 2.0) < 0.13, qPrintable(QString::number(audioSeconds)));
        decodesAll(out, 50);
    }

    // Stopped half-way: no MP4, no part of one.
    void stoppedHalfWayLeavesNothing()
    {
        const QString file = pbtest::writeRecording(path(QStringLiteral("stoprec")), {});
        QVERIFY(!file.isEmpty());
        const QString stopped = path(QStringLiteral("stopped.mp4"));
        const varno::playback::Mp4ExportResult stop = varno::playback::exportRecordingToMp4(
            file.toUtf8().constData(), stopped.toUtf8().constData(), [](int percent) { return percent < 50; });
        QCOMPARE(stop.code, varno::playback::kExportCancelled);
        QVERIFY(!QFile::exists(stopped));
        QVERIFY(!QFile::exists(stopped + QStringLiteral(".part")));
    }

    // varno-export: a recording copied out of its folder (no filelist), a
    // camera file; failures exit non-zero with the cause and leave nothing.
    // The recording is the fault as it was seen: a camera that sends
    // delimiters, SEI and several slices, with PCM sound, whose record
    // information claims another size; the MP4 holds its video.
    void commandLine()
    {
        pbtest::RecordingOptions recording;
        recording.x264Params = kCameraLike;
        recording.infoWidth = 1920;
        recording.infoHeight = 1080;
        const QString recorded = pbtest::writeRecording(path(QStringLiteral("clirec")), recording);
        QVERIFY(!recorded.isEmpty());
        QVERIFY(QDir().mkpath(path(QStringLiteral("copied"))));
        const QString copy = path(QStringLiteral("copied/clip.mkv"));
        QVERIFY(QFile::copy(recorded, copy));
        QVERIFY(cameraFile(50, 320).save(path(QStringLiteral("cli.tmp")).toStdString()));

        for (const QString &source : {copy, path(QStringLiteral("cli.tmp"))}) {
            const QString out = path(QStringLiteral("cli.mp4"));
            QFile::remove(out);
            const ToolRun run = runExportTool({source, out});
            QVERIFY2(run.exitCode == 0, qPrintable(run.err));
            QVERIFY2(run.err.contains(QStringLiteral("100 %")), qPrintable(run.err));
            QVERIFY2(run.err.contains(QStringLiteral(": 50 pictures, 2.000 s, %1, with sound\n")
                                          .arg(source == copy ? "160x120" : "352x288")),
                     qPrintable(run.err));
            QCOMPARE(probeLines(out, "v:0", "stream=width,height,nb_frames"),
                     QStringList({source == copy ? "160,120,50" : "352,288,50"}));
            QCOMPARE(probeLines(out, "a:0", "stream=codec_name"), QStringList({"aac"}));
            QCOMPARE(decodeErrors(out), QString());
        }

        // Not a recording; a target folder that does not exist; no arguments.
        QVERIFY(writeFile(path(QStringLiteral("junk.bin")), QByteArray(4096, 'j')));
        ToolRun run = runExportTool({path(QStringLiteral("junk.bin")), path(QStringLiteral("junk.mp4"))});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(QStringLiteral("cannot read")), qPrintable(run.err));
        QVERIFY(!QFile::exists(path(QStringLiteral("junk.mp4"))));
        run = runExportTool({copy, path(QStringLiteral("missing/out.mp4"))});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(QStringLiteral("No such file")), qPrintable(run.err));
        QCOMPARE(runExportTool({}).exitCode, 2);
    }

    // H.265 from a local recording: an "hvc1" track whose pictures all
    // decode. (An H.265 camera file: tst_qdownload::h265CameraFile.)
    void h265Export()
    {
        if (!haveEncoder(2))
            QSKIP("libx265 is not available");
        const QString out = path(QStringLiteral("hevc.mp4"));
        pbtest::RecordingOptions recording;
        recording.h265 = true;
        const QString file = pbtest::writeRecording(path(QStringLiteral("hevcrec")), recording);
        QVERIFY(!file.isEmpty());
        const varno::playback::Mp4ExportResult result
            = varno::playback::exportToMp4(file.toUtf8().constData(), out.toUtf8().constData(), {});
        QVERIFY2(result.ok(), result.reason.c_str());
        QCOMPARE(result.videoSamples, 50u);
        QCOMPARE(probeLines(out, "v:0", "stream=codec_name,codec_tag_string,width,height,nb_frames"),
                 QStringList({"hevc,hvc1,160,120,50"}));
        QCOMPARE(probeLines(out, "a:0", "stream=codec_name"), QStringList({"aac"}));
        decodesAll(out, 50);
    }

    void writerArguments()
    {
        Mp4Writer w;
        QCOMPARE(w.open(nullptr, 1, 1, 25, 8000), -1);
        QCOMPARE(w.open("/nonexistent-dir/a.mp4", 1, 1, 25, 8000), -1);
        const uint8_t byte = 0;
        QCOMPARE(w.writeFrame(1, &byte, 1, 1), -1);
        const QString out = path(QStringLiteral("args.mp4"));
        QCOMPARE(w.open(out.toUtf8().constData(), 352, 288, 25, 8000), 0);
        QCOMPARE(w.writeFrame(1, nullptr, 10, 1), -1);
        QCOMPARE(w.writeFrame(2, &byte, 0, 1), -1);
        QCOMPARE(w.writeFrame(7, &byte, 1, 1), 0);
        QCOMPARE(w.finish(), 0);
        QCOMPARE(w.finish(), -1);
    }

    // After start-up everything made is the user's only, whichever writer makes it.
    void createdFilesArePrivate()
    {
        ::umask(022); // what a desktop session hands on
        varno::keepNewFilesPrivate();
        const QString disk = path(QStringLiteral("disk9")); // outside the data folder
        QSettings(path(QStringLiteral("login.conf")), QSettings::IniFormat).setValue(QStringLiteral("ip"), 1);
        QCOMPARE(Mp4Writer().open(path(QStringLiteral("mine.mp4")).toUtf8().constData(), 160, 120, 25, 0), 0);
        QVERIFY(varno::makePath(disk.toStdString() + "/Record")
                && !pbtest::writeRecording(disk + QStringLiteral("/Record"), {}).isEmpty());
        QStringList made{path(QStringLiteral("login.conf")), path(QStringLiteral("mine.mp4")), disk};
        for (QDirIterator it(disk, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories); it.hasNext();)
            made << it.next();
        QCOMPARE(made.size(), 6); // with the record folder, the recording and its filelist
        struct stat st {};
        for (const QString &f : made)
            QVERIFY2(::stat(QFile::encodeName(f).constData(), &st) == 0 && (st.st_mode & 077) == 0, qPrintable(f));
    }
};

QTEST_GUILESS_MAIN(TestMp4Export)
#include "tst_mp4export.moc"
