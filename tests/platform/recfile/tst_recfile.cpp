#include "platform/recfile/filelist.h"
#include "platform/recfile/nalunits.h"
#include "platform/recfile/record_local.h"
#include "tests/support/recmedia/testmedia.h"
#include "tests/support/filecaps.h"
#include "tests/support/files.h"
#include "tests/support/probe.h"
#include "tests/support/testenv.h"

#include "common/textfield.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace varno::test;
using varno::recfile::mediaTime;
using varno::recfile::timeKey;

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr int kFps = 25;

RECORD_INFO_S makeInfo(const char *devId, int fps = kFps, int sampleRate = 8000)
{
    RECORD_INFO_S info {};
    varno::setText(info.devId, devId);
    info.alarmType = 0;
    info.channel = 3;
    info.version = RECORD_INFO_VERSION;
    info.audioFormat = MEDIA_AUDIO_G711A;
    info.videoCodec = MEDIA_VIDEO_H264;
    info.frameRate = fps;
    info.width = kWidth;
    info.height = kHeight;
    info.sampleRate = sampleRate;
    info.bitsPerSample = 8;
    info.channels = 1;
    return info;
}

// The pictures as the recorder writes them: one NAL unit per call.
struct Feed
{
    std::vector<EncodedFrame> pictures;
    std::vector<std::vector<std::vector<uint8_t>>> units; // per picture
};

Feed makeFeed(int count, int gop = kFps, int width = kWidth, int height = kHeight)
{
    Feed f;
    f.pictures = encodeStream({.width = width, .height = height, .frames = count, .fps = kFps, .gop = gop});
    for (const EncodedFrame &p : f.pictures)
        f.units.push_back(splitNals(p.data));
    return f;
}

int writePicture(RECORD_HANDLE h, const std::vector<std::vector<uint8_t>> &units)
{
    for (const auto &u : units) {
        const int ret = Record_local_MediaFileWrite(h, recorderFrameType(nalType(u, 1)), u.data(),
                                                    static_cast<uint32_t>(u.size()));
        if (ret != 0)
            return ret;
    }
    return 0;
}

int writeAudio(RECORD_HANDLE h, int samples, double *phase)
{
    const std::vector<int16_t> pcm = tone(8000, 440, samples, phase);
    return Record_local_MediaFileWrite(h, MEDIA_FRAME_AUDIO, reinterpret_cast<const unsigned char *>(pcm.data()),
                                       static_cast<uint32_t>(pcm.size() * 2));
}

std::vector<MEDIA_FILE_S> filelist(const QString &dir)
{
    std::vector<MEDIA_FILE_S> records;
    std::lock_guard<std::mutex> lock(varno::recfile::filelistMutex());
    varno::recfile::readFilelist(dir.toStdString(), records);
    return records;
}

struct ReadBack
{
    int video = 0;
    int keys = 0;
    int fillers = 0;
    int audioBytes = 0;
    std::vector<uint32_t> types;
    std::vector<std::vector<uint8_t>> pictures;
    std::vector<std::vector<uint8_t>> audio;
    int result = 0;
};

ReadBack readAll(RECORD_HANDLE h)
{
    ReadBack r;
    for (;;) {
        uint32_t type = 0, size = 0;
        unsigned char *data = nullptr;
        const int ret = Record_local_MediaFileGetNextFrame(h, &type, &data, &size);
        if (ret != 0) {
            r.result = ret;
            break;
        }
        r.types.push_back(type);
        if (type == MEDIA_FRAME_AUDIO) {
            r.audioBytes += static_cast<int>(size);
            r.audio.emplace_back(data, data + size);
        } else if (size == 1 && data[0] == 0) {
            ++r.fillers;
        } else {
            ++r.video;
            if (type == MEDIA_FRAME_IDR)
                ++r.keys;
            r.pictures.emplace_back(data, data + size);
        }
    }
    return r;
}

// Creates a recording in dir; path receives its file.
int create(const QString &dir, RECORD_INFO_S info, char (&path)[RECORD_LOCAL_PATH_SIZE], RECORD_HANDLE *h)
{
    varno::setText(path, dir);
    return Record_local_MediaFileCreat(&info, path, h, nullptr);
}

// Every frame of a closed recording; total: the frame count it gives at open.
ReadBack readFile(const char *path, uint32_t *total = nullptr)
{
    RECORD_HANDLE h = 0;
    if (Record_local_MediaFileOpen(path, &h, nullptr, total, nullptr) != 0)
        return ReadBack{};
    const ReadBack r = readAll(h);
    Record_local_MediaFileClose(h);
    return r;
}

// Pictures libavcodec decodes from the read-back pictures; negative: that
// many damaged ones.
int decodePictures(const std::vector<std::vector<uint8_t>> &pictures, int codec = 1)
{
    const Decoded d = decodeAnnexB(pictures, codec);
    return d.errors ? -d.errors : d.pictures;
}

MEDIA_TIME_S timeOf(const QString &text)
{
    return mediaTime(QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd hh:mm:ss")));
}

MEDIA_FILE_S rawRecord(const char *devId, const char *name, const QString &start, const QString &end,
                       uint32_t state = MEDIA_FILE_STATE_CLOSED)
{
    MEDIA_FILE_S r {};
    varno::setText(r.devId, devId);
    varno::setText(r.fileName, name);
    r.state = state;
    r.startTime = timeOf(start);
    r.endTime = timeOf(end);
    return r;
}

MEDIA_QUERY_S makeQuery(const QString &dir, const char *devId, const QString &from, const QString &to)
{
    MEDIA_QUERY_S q {};
    varno::setText(q.dir, dir);
    varno::setText(q.devId, devId);
    q.startTime = timeOf(from);
    q.endTime = timeOf(to);
    return q;
}

QStringList queryNames(const MEDIA_QUERY_S &q, int *result = nullptr)
{
    MEDIA_LIST_S list {};
    const int ret = Record_local_MediaFileQuery(q, &list);
    if (result)
        *result = ret;
    QStringList names;
    for (int i = 0; i < list.count; ++i)
        names << varno::fieldText(list.files[i].fileName);
    return names;
}

void writeRawFilelist(const QString &dir, const QByteArray &bytes)
{
    QVERIFY(varno::test::writeFile(dir + QStringLiteral("/filelist"), bytes));
}

QByteArray recordsBytes(const std::vector<MEDIA_FILE_S> &records)
{
    return QByteArray(reinterpret_cast<const char *>(records.data()),
                      static_cast<qsizetype>(records.size() * sizeof(MEDIA_FILE_S)));
}

} // namespace

class TestRecfile : public QObject
{
    Q_OBJECT

private:
    QString newDir(const QString &name)
    {
        const QString dir = tempRoot() + QStringLiteral("/rec/") + name;
        QDir().mkpath(dir);
        return dir;
    }

    // Creates a recording of count pictures with audio; returns its full path.
    QString record(const QString &dir, const char *devId, const Feed &feed, int count, RECORD_HANDLE *keep = nullptr)
    {
        char path[RECORD_LOCAL_PATH_SIZE] {};
        RECORD_HANDLE h = 0;
        if (create(dir, makeInfo(devId), path, &h) != 0)
            return {};
        double phase = 0;
        for (int i = 0; i < count; ++i) {
            writePicture(h, feed.units[static_cast<size_t>(i) % feed.units.size()]);
            writeAudio(h, 320, &phase);
        }
        if (keep)
            *keep = h;
        else
            Record_local_MediaFileClose(h);
        return QString::fromUtf8(path);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(haveEncoder(1));
        QCOMPARE(Record_local_InitSdk(), 0);
    }

    void cleanupTestCase() { QCOMPARE(Record_local_UnInitSdk(), 0); }

    // A recording written, closed, listed exactly and read back frame by frame.
    void writeCloseReadBack()
    {
        const QString dir = newDir(QStringLiteral("basic"));
        const Feed feed = makeFeed(50);
        QCOMPARE(feed.pictures.size(), size_t(50));

        RECORD_INFO_S info = makeInfo("cam-01");
        info.alarmType = 2;
        char path[RECORD_LOCAL_PATH_SIZE] {};
        varno::setText(path, dir + QStringLiteral("/"));
        RECORD_HANDLE h = 0;
        uint64_t tick = 0;
        const QDateTime before = QDateTime::currentDateTime();
        QCOMPARE(Record_local_MediaFileCreat(&info, path, &h, &tick), 0);
        QVERIFY(h > 0);
        QVERIFY(tick > 0);
        const QString full = QString::fromUtf8(path);
        const QFileInfo fi(full);
        QCOMPARE(fi.absolutePath(), dir);
        QVERIFY2(QRegularExpression(QStringLiteral("^cam-01_\\d{8}_\\d{6}\\.mkv$")).match(fi.fileName()).hasMatch(),
                 qPrintable(fi.fileName()));
        QVERIFY(fi.exists());

        // Appended at create, still open.
        std::vector<MEDIA_FILE_S> list = filelist(dir);
        QCOMPARE(list.size(), size_t(1));
        QCOMPARE(list[0].state, uint32_t(MEDIA_FILE_STATE_OPEN));
        QCOMPARE(varno::fieldText(list[0].fileName), fi.fileName());

        double phase = 0;
        for (int i = 0; i < 50; ++i) {
            QCOMPARE(writePicture(h, feed.units[static_cast<size_t>(i)]), 0);
            QCOMPARE(writeAudio(h, 320, &phase), 0);
        }
        QCOMPARE(Record_local_MediaFileClose(h), 0);
        QCOMPARE(Record_local_MediaFileClose(h), int(RECORD_LOCAL_ERR_HANDLE));

        list = filelist(dir);
        QCOMPARE(list.size(), size_t(1));
        const MEDIA_FILE_S &r = list[0];
        QCOMPARE(varno::fieldText(r.devId), QStringLiteral("cam-01"));
        QCOMPARE(qint64(r.size), QFileInfo(full).size());
        QCOMPARE(std::tuple(r.state, r.alarmType, r.channel, r.frameCount, r.lengthMs, r.frameRate, r.width, r.height),
                 std::tuple(uint32_t(MEDIA_FILE_STATE_CLOSED), uint16_t(2), uint16_t(3), 50u, 2000u, 25u,
                            uint16_t(kWidth), uint16_t(kHeight)));
        QCOMPARE(std::tuple(r.videoType, r.audioType, r.sampleRate, r.bits, r.channels),
                 std::tuple(uint32_t(MEDIA_VIDEO_H264), uint32_t(MEDIA_AUDIO_PCM16), 8000u, 16u, 1u));
        const QDateTime start = varno::recfile::dateTime(r.startTime);
        QVERIFY(start >= before.addSecs(-1) && start <= QDateTime::currentDateTime());
        QCOMPARE(varno::recfile::dateTime(r.endTime), start.addSecs(2));

        uint32_t length = 0, total = 0, rate = 0;
        RECORD_HANDLE rh = 0;
        QCOMPARE(Record_local_MediaFileOpen(path, &rh, &length, &total, &rate), 0);
        QCOMPARE(std::tuple(length, total, rate), std::tuple(2000u, 50u, 25u));
        const ReadBack back = readAll(rh);
        QCOMPARE(std::tuple(back.result, back.video, back.keys, back.fillers, back.audioBytes),
                 std::tuple(int(RECORD_LOCAL_ERR_END), 50, 2, 0, 50 * 640));
        // The first frame is a key picture with its parameter sets in front.
        const auto firstVideo = std::find_if(back.types.begin(), back.types.end(),
                                             [](uint32_t t) { return t != MEDIA_FRAME_AUDIO; });
        QVERIFY(firstVideo != back.types.end());
        QCOMPARE(*firstVideo, uint32_t(MEDIA_FRAME_IDR));
        const auto firstUnits = splitNals(back.pictures.front());
        QVERIFY(firstUnits.size() >= 3);
        QCOMPARE(nalType(firstUnits[0], 1), 7);
        QCOMPARE(decodePictures(back.pictures), 50);
        QCOMPARE(Record_local_MediaFileGetNextFrame(rh, nullptr, nullptr, nullptr), int(RECORD_LOCAL_ERR_PARAM));
        QCOMPARE(Record_local_MediaFileClose(rh), 0);

        // An independent reader sees the same streams.
        QCOMPARE(ffprobe(full, "-select_streams v:0 -count_packets -show_entries stream=codec_name,nb_read_packets "
                               "-of csv=p=0"), QStringLiteral("h264,50"));
        QCOMPARE(ffprobe(full, "-select_streams a:0 -show_entries stream=codec_name,sample_rate,channels -of csv=p=0"),
                 QStringLiteral("pcm_s16le,8000,1"));
    }

    // An AAC camera's audio is stored as AAC: an ordinary player decodes the
    // track without an error, the frames come back byte for byte with their
    // ADTS headers, and the list and its repair say AAC. The stream's own
    // settings win over the record information's.
    void aacAudioStoredAsAac()
    {
        const QString dir = newDir(QStringLiteral("aac"));
        const Feed feed = makeFeed(25);
        const std::vector<std::vector<uint8_t>> aac = varno::test::encodeAacAdts(varno::test::tone(16000, 440, 40 * 1024),
                                                                                 16000);
        QVERIFY(aac.size() >= 40);
        RECORD_INFO_S info = makeInfo("cam-aac", kFps, 8000); // the camera said 8 kHz; its stream is 16 kHz
        info.audioFormat = MEDIA_AUDIO_AAC;
        char path[RECORD_LOCAL_PATH_SIZE] {};
        RECORD_HANDLE h = 0;
        QCOMPARE(create(dir, info, path, &h), 0);
        auto writeAudio = [&](const std::vector<uint8_t> &bytes) {
            return Record_local_MediaFileWrite(h, MEDIA_FRAME_AUDIO, bytes.data(), uint32_t(bytes.size()));
        };
        // Before the first key picture: not stored.
        QCOMPARE(writeAudio(aac[0]), 0);
        std::vector<std::vector<uint8_t>> stored;
        for (int i = 0; i < 25; ++i) {
            QCOMPARE(writePicture(h, feed.units[size_t(i)]), 0);
            const size_t k = size_t(1 + i);
            if (i == 10) {
                // Two ADTS frames in one write.
                std::vector<uint8_t> two = aac[k];
                two.insert(two.end(), aac[30].begin(), aac[30].end());
                QCOMPARE(writeAudio(two), 0);
                stored.push_back(aac[k]);
                stored.push_back(aac[30]);
            } else {
                QCOMPARE(writeAudio(aac[k]), 0);
                stored.push_back(aac[k]);
            }
        }
        // A frame of other settings (44.1 kHz) than the track's is left out.
        std::vector<uint8_t> other = aac[31];
        other[2] = uint8_t((other[2] & ~0x3C) | (4 << 2));
        QCOMPARE(writeAudio(other), 0);
        QCOMPARE(Record_local_MediaFileClose(h), 0);

        std::vector<MEDIA_FILE_S> list = filelist(dir);
        QCOMPARE(list.size(), size_t(1));
        QCOMPARE(std::tuple(list[0].audioType, list[0].sampleRate, list[0].channels),
                 std::tuple(uint32_t(MEDIA_AUDIO_AAC), 16000u, 1u));
        const MEDIA_FILE_S closed = list[0];

        const QString full = QString::fromUtf8(path);
        QCOMPARE(ffprobe(full, "-select_streams a:0 -count_packets -show_entries "
                               "stream=codec_name,sample_rate,channels,nb_read_packets -of csv=p=0"),
                 QStringLiteral("aac,16000,1,%1").arg(stored.size()));
        QCOMPARE(decodeErrors(full), QString());

        QVERIFY(readFile(path).audio == stored);

        // The list lost: the repair rebuilds the record with its AAC track.
        writeRawFilelist(dir, QByteArray(100, 'x'));
        QCOMPARE(Record_local_MediaFileRepair(dir.toUtf8().constData()), 0);
        list = filelist(dir);
        QCOMPARE(list.size(), size_t(1));
        QCOMPARE(std::tuple(list[0].audioType, list[0].sampleRate, list[0].lengthMs),
                 std::tuple(uint32_t(MEDIA_AUDIO_AAC), 16000u, closed.lengthMs));
    }

    // Filler frames keep the clock: no packet is written, the gap comes back.
    void fillerFramesKeepTheClock()
    {
        const QString dir = newDir(QStringLiteral("filler"));
        const Feed feed = makeFeed(4);
        char path[RECORD_LOCAL_PATH_SIZE] {};
        RECORD_HANDLE h = 0;
        QCOMPARE(create(dir, makeInfo("cam-filler", 25, 0), path, &h), 0);
        const unsigned char zero = 0;
        QCOMPARE(writePicture(h, feed.units[0]), 0);
        QCOMPARE(Record_local_MediaFileWrite(h, MEDIA_FRAME_SLICE, &zero, 1), 0);
        QCOMPARE(Record_local_MediaFileWrite(h, MEDIA_FRAME_SLICE, &zero, 1), 0);
        QCOMPARE(writePicture(h, feed.units[1]), 0);
        QCOMPARE(writePicture(h, feed.units[2]), 0);
        QCOMPARE(Record_local_MediaFileClose(h), 0);

        const std::vector<MEDIA_FILE_S> list = filelist(dir);
        QCOMPARE(list.size(), size_t(1));
        QCOMPARE(std::tuple(list[0].frameCount, list[0].lengthMs, list[0].sampleRate), std::tuple(5u, 200u, 0u));

        QCOMPARE(ffprobe(path, "-select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0"),
                 QStringLiteral("3"));
        const QString times = ffprobe(path, "-select_streams v:0 -show_entries packet=pts_time -of csv=p=0");
        QCOMPARE(times.split(QLatin1Char('\n')), QStringList({"0.000000", "0.120000", "0.160000"}));

        uint32_t total = 0;
        const ReadBack back = readFile(path, &total);
        QCOMPARE(std::tuple(total, back.video, back.fillers), std::tuple(5u, 3, 2));
        QCOMPARE(back.types, std::vector<uint32_t>({101, 102, 102, 102, 102}));
        QCOMPARE(back.pictures[1], feed.pictures[1].data);
    }

    // Nothing decodable before a key picture with parameter sets; a later file
    // of the same device may start at a bare key picture.
    void startOfStream()
    {
        const QString dir = newDir(QStringLiteral("start"));
        const Feed feed = makeFeed(30, 25);
        const RECORD_INFO_S info = makeInfo("cam-start", 25, 0);
        char path[RECORD_LOCAL_PATH_SIZE] {};
        RECORD_HANDLE h = 0;
        QCOMPARE(create(dir, info, path, &h), 0);
        for (int i = 1; i < 5; ++i) // P pictures only
            QCOMPARE(writePicture(h, feed.units[static_cast<size_t>(i)]), 0);
        QCOMPARE(Record_local_MediaFileClose(h), 0);
        QVERIFY(!QFile::exists(QString::fromUtf8(path)));
        QCOMPARE(filelist(dir).size(), size_t(0));

        // P pictures first, then the key picture with its parameter sets.
        QCOMPARE(create(dir, info, path, &h), 0);
        QCOMPARE(writePicture(h, feed.units[3]), 0);
        for (int i = 0; i < 25; ++i)
            QCOMPARE(writePicture(h, feed.units[static_cast<size_t>(i)]), 0);
        QCOMPARE(Record_local_MediaFileClose(h), 0);
        ReadBack back = readFile(path);
        QCOMPARE(back.video, 25);
        QCOMPARE(decodePictures(back.pictures), 25);

        // Next file: a key picture without its parameter sets (they come from
        // the device's previous file).
        QCOMPARE(create(dir, info, path, &h), 0);
        for (const auto &u : feed.units[25]) {
            const int t = nalType(u, 1);
            if (t == 7 || t == 8)
                continue;
            QCOMPARE(Record_local_MediaFileWrite(h, recorderFrameType(t), u.data(), static_cast<uint32_t>(u.size())),
                     0);
        }
        for (int i = 26; i < 30; ++i)
            QCOMPARE(writePicture(h, feed.units[static_cast<size_t>(i)]), 0);
        QCOMPARE(Record_local_MediaFileClose(h), 0);
        back = readFile(path);
        QCOMPARE(back.video, 5);
        QCOMPARE(decodePictures(back.pictures), 5);
    }

    // Whole access units in one write each (SPS+PPS+SEI+IDR in one call),
    // in both codecs.
    void wholeAccessUnits_data()
    {
        QTest::addColumn<int>("codec");
        QTest::newRow("h264") << 1;
        QTest::newRow("h265") << 2;
    }

    void wholeAccessUnits()
    {
        QFETCH(int, codec);
        if (!haveEncoder(codec))
            QSKIP("the encoder is not available in this libavcodec");
        const QString dir = newDir(QStringLiteral("whole-%1").arg(codec));
        const std::vector<EncodedFrame> pictures
            = encodeStream({.codec = codec, .width = kWidth, .height = kHeight, .frames = 30});
        QCOMPARE(pictures.size(), size_t(30));
        RECORD_INFO_S info = makeInfo("cam-whole", 25, 0);
        info.videoCodec = codec == 2 ? MEDIA_VIDEO_H265 : MEDIA_VIDEO_H264;
        char path[RECORD_LOCAL_PATH_SIZE] {};
        RECORD_HANDLE h = 0;
        QCOMPARE(create(dir, info, path, &h), 0);
        for (const EncodedFrame &p : pictures) {
            const uint32_t type = codec == 2 ? 0 : p.key ? 101 : 102;
            QCOMPARE(Record_local_MediaFileWrite(h, type, p.data.data(), uint32_t(p.data.size())), 0);
        }
        QCOMPARE(Record_local_MediaFileClose(h), 0);
        QCOMPARE(filelist(dir)[0].videoType, uint32_t(info.videoCodec));
        uint32_t total = 0;
        const ReadBack back = readFile(path, &total);
        QCOMPARE(std::tuple(total, back.video), std::tuple(uint32_t(pictures.size()), int(pictures.size())));
        QCOMPARE(decodePictures(back.pictures, codec), int(pictures.size()));
    }

    // A stream that begins in the middle of a key picture (an RTSP session
    // joined while the camera sent it): parameter sets from the session
    // first, then the key picture's second slice. The file begins with the
    // next key picture; every picture decodes (FFmpeg -xerror: no "PPS
    // changed between slices").
    void laterSliceOfAKeyPictureDoesNotBeginTheFile()
    {
        if (!haveEncoder(2))
            QSKIP("the encoder is not available in this libavcodec");
        namespace rf = varno::recfile;
        const rf::VideoCodec hevc = rf::VideoCodec::H265;
        const QString dir = newDir(QStringLiteral("later-slice"));
        const std::vector<EncodedFrame> pictures = encodeStream({.codec = 2, .width = kWidth, .height = kHeight,
                                                                 .frames = 30, .gop = 10, .slices = 2,
                                                                 .extraParams = "aud=1:bframes=0:open-gop=0"});
        QCOMPARE(pictures.size(), size_t(30));
        RECORD_INFO_S info = makeInfo("cam-later", kFps, 0);
        info.videoCodec = MEDIA_VIDEO_H265;
        char path[RECORD_LOCAL_PATH_SIZE] {};
        RECORD_HANDLE h = 0;
        QCOMPARE(create(dir, info, path, &h), 0);
        auto writeUnit = [&](const rf::NalUnit &n) {
            std::vector<uint8_t> u;
            rf::appendWithStartCode(u, n);
            return Record_local_MediaFileWrite(h, uint32_t(rf::mediaFrameType(hevc, n)), u.data(),
                                               uint32_t(u.size()));
        };
        for (const rf::NalUnit &n : rf::splitAnnexB(pictures[0].data.data(), pictures[0].data.size()))
            if (rf::parameterSetKind(hevc, n) != 0)
                QCOMPARE(writeUnit(n), 0);
        QVERIFY(pictures[10].key && pictures[20].key);
        for (size_t i = 10; i < pictures.size(); ++i) {
            const std::vector<rf::NalUnit> units = rf::splitAnnexB(pictures[i].data.data(), pictures[i].data.size());
            for (auto n = units.begin(); n != units.end(); ++n)
                if (i > 10 || n + 1 == units.end()) // of picture 10 only its second slice
                    QCOMPARE(writeUnit(*n), 0);
        }
        QCOMPARE(Record_local_MediaFileClose(h), 0);
        const ReadBack back = readFile(path);
        const int after = int(pictures.size()) - 20; // from the next key picture on
        QCOMPARE(back.video, after);
        QCOMPARE(decodeErrors(path), QString());
        QCOMPARE(decodePictures(back.pictures, 2), after);
    }

    // Search by device and time range over a hand-made filelist.
    void queryByDeviceAndTime()
    {
        const QString dir = newDir(QStringLiteral("query"));
        std::vector<MEDIA_FILE_S> records {
            rawRecord("camA", "camA_20240102_100000.mkv", "2024-01-02 10:00:00", "2024-01-02 10:30:00"),
            rawRecord("camB", "camB_20240102_101500.mkv", "2024-01-02 10:15:00", "2024-01-02 10:20:00"),
            rawRecord("camA", "camA_20240102_103000.mkv", "2024-01-02 10:30:00", "2024-01-02 11:00:00"),
            rawRecord("camAB", "camAB_20240102_120000.mkv", "2024-01-02 12:00:00", "2024-01-02 12:05:00"),
            rawRecord("camA", "../escape.mkv", "2024-01-02 10:00:00", "2024-01-02 23:00:00"),
            rawRecord("camA", "", "2024-01-02 10:00:00", "2024-01-02 23:00:00"),
            // Cut short, not repaired yet: its end is unknown (the start counts).
            rawRecord("camA", "camA_20240102_130000.mkv", "2024-01-02 13:00:00", "2024-01-02 13:00:00",
                      MEDIA_FILE_STATE_OPEN),
        };
        MEDIA_FILE_S unterminated = records[0];
        std::memset(unterminated.fileName, 'x', sizeof(unterminated.fileName));
        records.push_back(unterminated);
        QByteArray bytes = recordsBytes(records);
        bytes.append("torn tail", 9);
        writeRawFilelist(dir, bytes);

        const QString day0 = QStringLiteral("2024-01-02 00:00:00");
        const QString day1 = QStringLiteral("2024-01-02 23:59:59");
        QCOMPARE(queryNames(makeQuery(dir, "", day0, day1)),
                 QStringList({"camA_20240102_100000.mkv", "camB_20240102_101500.mkv", "camA_20240102_103000.mkv",
                              "camAB_20240102_120000.mkv", "camA_20240102_130000.mkv"}));
        QCOMPARE(queryNames(makeQuery(dir, "camA", day0, day1)),
                 QStringList({"camA_20240102_100000.mkv", "camA_20240102_103000.mkv", "camA_20240102_130000.mkv"}));
        QCOMPARE(queryNames(makeQuery(dir, "camB", day0, day1)), QStringList({"camB_20240102_101500.mkv"}));
        // Overlap, inclusive at both ends.
        QCOMPARE(queryNames(makeQuery(dir, "camA", "2024-01-02 10:30:00", "2024-01-02 10:30:00")),
                 QStringList({"camA_20240102_100000.mkv", "camA_20240102_103000.mkv"}));
        QCOMPARE(queryNames(makeQuery(dir, "", "2024-01-02 10:16:00", "2024-01-02 10:17:00")),
                 QStringList({"camA_20240102_100000.mkv", "camB_20240102_101500.mkv"}));
        QCOMPARE(queryNames(makeQuery(dir, "", "2024-01-02 11:00:01", "2024-01-02 11:59:59")), QStringList());
        QCOMPARE(queryNames(makeQuery(dir, "camA", "2024-01-02 12:59:00", "2024-01-02 13:00:00")),
                 QStringList({"camA_20240102_130000.mkv"}));
        QCOMPARE(queryNames(makeQuery(dir, "", "2024-01-03 00:00:00", "2024-01-03 23:59:59")), QStringList());
        QCOMPARE(queryNames(makeQuery(dir, "nobody", day0, day1)), QStringList());
        // End before start finds nothing.
        QCOMPARE(queryNames(makeQuery(dir, "", day1, day0)), QStringList());

        int result = 0;
        QCOMPARE(queryNames(makeQuery(dir + QStringLiteral("/missing"), "", day0, day1), &result), QStringList());
        QCOMPARE(result, int(RECORD_LOCAL_ERR_DIR));
        const QString empty = newDir(QStringLiteral("query-empty"));
        QCOMPARE(queryNames(makeQuery(empty, "", day0, day1), &result), QStringList());
        QCOMPARE(result, 0);
        QCOMPARE(Record_local_MediaFileQuery(makeQuery(dir, "", day0, day1), nullptr), int(RECORD_LOCAL_ERR_PARAM));
    }

    // Seek moves to the key picture at or before the offset (milliseconds).
    void seekByMilliseconds()
    {
        const QString dir = newDir(QStringLiteral("seek"));
        const Feed feed = makeFeed(250, 25);
        const QString path = record(dir, "cam-seek", feed, 250);
        RECORD_HANDLE h = 0;
        uint32_t length = 0, total = 0, rate = 0;
        QCOMPARE(Record_local_MediaFileOpen(path.toUtf8().constData(), &h, &length, &total, &rate), 0);
        QCOMPARE(std::pair(length, total), std::pair(10000u, 250u));

        // Video frames left after a seek, and the type of the first one.
        auto leftAfterSeek = [&](int64_t ms) {
            if (Record_local_MediaFileSeek(h, ms, RECORD_LOCAL_SEEK_TIME) != 0)
                return std::pair(-1, 0u);
            const ReadBack b = readAll(h);
            const auto video = std::find_if(b.types.begin(), b.types.end(), [](uint32_t t) { return t != MEDIA_FRAME_AUDIO; });
            return std::pair(b.video + b.fillers, video == b.types.end() ? 0u : *video);
        };
        const std::pair fromKey125(125, uint32_t(MEDIA_FRAME_IDR)), whole(250, uint32_t(MEDIA_FRAME_IDR));
        // The player's formula: offset = length * position / totalFrames.
        QCOMPARE(leftAfterSeek(int64_t(length) * 125 / total), fromKey125);
        QCOMPARE(leftAfterSeek(5960), fromKey125);
        QCOMPARE(leftAfterSeek(0), whole);
        QCOMPARE(leftAfterSeek(-100), whole);
        QCOMPARE(Record_local_MediaFileSeek(h, 9000, 0), int(RECORD_LOCAL_ERR_PARAM));
        QCOMPARE(Record_local_MediaFileClose(h), 0);
    }

    // Killed mid-write (SIGKILL), still readable, then repaired and complete.
    void killedMidWriteAndRepaired()
    {
        const QString dir = newDir(QStringLiteral("crash"));
        const Feed feed = makeFeed(50, 25);
        int pipeFd[2];
        QCOMPARE(::pipe(pipeFd), 0);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            ::close(pipeFd[0]);
            char path[RECORD_LOCAL_PATH_SIZE] {};
            RECORD_HANDLE h = 0;
            if (create(dir, makeInfo("cam-crash"), path, &h) != 0)
                ::_exit(2);
            double phase = 0;
            for (int i = 0;; ++i) {
                writePicture(h, feed.units[static_cast<size_t>(i % 50)]);
                writeAudio(h, 320, &phase);
                if (i == 150) {
                    const char c = 'w';
                    if (::write(pipeFd[1], &c, 1) != 1)
                        ::_exit(3);
                }
                if (i > 150)
                    ::usleep(2000);
            }
        }
        ::close(pipeFd[1]);
        char c = 0;
        QCOMPARE(::read(pipeFd[0], &c, 1), ssize_t(1));
        ::close(pipeFd[0]);
        QCOMPARE(::kill(child, SIGKILL), 0);
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status));

        std::vector<MEDIA_FILE_S> list = filelist(dir);
        QCOMPARE(list.size(), size_t(1));
        QCOMPARE(list[0].state, uint32_t(MEDIA_FILE_STATE_OPEN));
        const QString path = dir + QLatin1Char('/') + varno::fieldText(list[0].fileName);
        QVERIFY(QFileInfo(path).size() > 0);

        // Found by device and time before the repair.
        const QString from = QDateTime::currentDateTime().addSecs(-120).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        const QString to = QDateTime::currentDateTime().addSecs(60).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        QCOMPARE(queryNames(makeQuery(dir, "cam-crash", from, to)), QStringList({varno::fieldText(list[0].fileName)}));

        // Readable as it is.
        uint32_t total = 0;
        const ReadBack cut = readFile(path.toUtf8().constData(), &total);
        QVERIFY2(cut.video >= 100, qPrintable(QString::number(cut.video)));
        QCOMPARE(uint32_t(cut.video), total);
        QCOMPARE(decodePictures(cut.pictures), cut.video);

        QCOMPARE(Record_local_MediaFileRepair(dir.toUtf8().constData()), 0);
        list = filelist(dir);
        QCOMPARE(list.size(), size_t(1));
        const MEDIA_FILE_S &r = list[0];
        QCOMPARE(qint64(r.size), QFileInfo(path).size());
        QCOMPARE(std::tuple(r.state, r.frameCount, r.frameRate, r.width, r.sampleRate),
                 std::tuple(uint32_t(MEDIA_FILE_STATE_REPAIRED), uint32_t(cut.video), 25u, uint16_t(kWidth), 8000u));
        QCOMPARE(r.lengthMs, uint32_t(cut.video * 40 > cut.audioBytes / 16 ? cut.video * 40 : cut.audioBytes / 16));
        // The record holds whole seconds: the end is the stored start plus
        // the length, cut to its second like the start.
        const QDateTime end = varno::recfile::dateTime(r.startTime).addMSecs(r.lengthMs);
        QCOMPARE(varno::recfile::dateTime(r.endTime), end.addMSecs(-end.time().msec()));
        QVERIFY(!QFile::exists(path + QStringLiteral(".repair")));

        RECORD_HANDLE h = 0;
        QCOMPARE(Record_local_MediaFileOpen(path.toUtf8().constData(), &h, nullptr, &total, nullptr), 0);
        QCOMPARE(total, uint32_t(cut.video));
        const ReadBack repaired = readAll(h);
        QCOMPARE(std::pair(repaired.video, repaired.audioBytes), std::pair(cut.video, cut.audioBytes));
        QCOMPARE(decodePictures(repaired.pictures), cut.video);
        // Indexed now: seeking lands on a key picture.
        QCOMPARE(Record_local_MediaFileSeek(h, 2000, RECORD_LOCAL_SEEK_TIME), 0);
        QCOMPARE(readAll(h).video, cut.video - 50);
        Record_local_MediaFileClose(h);
        QCOMPARE(ffprobe(path, "-select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0"),
                 QString::number(cut.video));

        // A second pass changes nothing.
        const QByteArray before = recordsBytes(filelist(dir));
        QCOMPARE(Record_local_MediaFileRepair(dir.toUtf8().constData()), 0);
        QCOMPARE(recordsBytes(filelist(dir)), before);
    }

    // Lost records come back in time order, gone files lose theirs, garbage
    // records go, files open for writing are left alone.
    void repairRebuildsTheList()
    {
        const QString dir = newDir(QStringLiteral("rebuild"));
        const Feed feed = makeFeed(25);
        // Records are named by their second: each starts in a later one.
        auto nextSecond = [] {
            const qint64 now = QDateTime::currentSecsSinceEpoch();
            return QTest::qWaitFor([now] { return QDateTime::currentSecsSinceEpoch() > now; }, 3000);
        };
        const QString first = record(dir, "cam-r", feed, 25);
        QVERIFY(nextSecond());
        const QString second = record(dir, "cam-r", feed, 25);
        QVERIFY(nextSecond());
        RECORD_HANDLE open = 0;
        const QString third = record(dir, "cam-r", feed, 10, &open);
        std::vector<MEDIA_FILE_S> list = filelist(dir);
        QCOMPARE(list.size(), size_t(3));
        const MEDIA_FILE_S firstRecord = list[0];

        // The list loses the first file, keeps a record of a file that is
        // gone and gains a garbage record.
        MEDIA_FILE_S gone = rawRecord("cam-r", "cam-r_20200101_000000.mkv", "2020-01-01 00:00:00",
                                      "2020-01-01 00:30:00");
        MEDIA_FILE_S garbage {};
        std::memset(&garbage, 0x5A, sizeof(garbage));
        writeRawFilelist(dir, recordsBytes({gone, list[1], garbage, list[2]}));
        // A file that is not a recording of ours stays unlisted.
        QVERIFY(varno::test::writeFile(dir + QStringLiteral("/notes.mkv"), "hello"));

        QCOMPARE(Record_local_MediaFileRepair(dir.toUtf8().constData()), 0);
        list = filelist(dir);
        QCOMPARE(list.size(), size_t(3));
        QCOMPARE(varno::fieldText(list[0].fileName), QFileInfo(first).fileName());
        QCOMPARE(varno::fieldText(list[1].fileName), QFileInfo(second).fileName());
        QCOMPARE(varno::fieldText(list[2].fileName), QFileInfo(third).fileName());
        // The lost record is rebuilt from the file itself.
        QCOMPARE(varno::fieldText(list[0].devId), QStringLiteral("cam-r"));
        QCOMPARE(std::tuple(list[0].state, list[0].frameCount, list[0].channel, list[0].size,
                            timeKey(list[0].startTime), list[0].lengthMs),
                 std::tuple(uint32_t(MEDIA_FILE_STATE_CLOSED), firstRecord.frameCount, firstRecord.channel,
                            firstRecord.size, timeKey(firstRecord.startTime), firstRecord.lengthMs));
        // The file being written is untouched and still open.
        QCOMPARE(list[2].state, uint32_t(MEDIA_FILE_STATE_OPEN));
        QCOMPARE(Record_local_MediaFileClose(open), 0);
        QCOMPARE(filelist(dir)[2].state, uint32_t(MEDIA_FILE_STATE_CLOSED));
        QVERIFY(QFile::exists(dir + QStringLiteral("/notes.mkv")));

        // A garbage filelist: every file that still exists is listed again.
        QByteArray noise(5000, '\0');
        for (int i = 0; i < noise.size(); ++i)
            noise[i] = char((i * 7919) ^ (i >> 3));
        writeRawFilelist(dir, noise);
        QCOMPARE(Record_local_MediaFileRepair(dir.toUtf8().constData()), 0);
        list = filelist(dir);
        QCOMPARE(list.size(), size_t(3));
        QVERIFY(timeKey(list[0].startTime) <= timeKey(list[1].startTime));
        QVERIFY(timeKey(list[1].startTime) <= timeKey(list[2].startTime));
        QCOMPARE(QFileInfo(dir + QStringLiteral("/filelist")).size(), qint64(3 * 384));
    }

    // A filelist that cannot be read is kept beside and the folder listed
    // again from its recordings: the search still finds them.
    void unreadableFilelistIsRebuilt_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("a folder") << 0;
        QTest::newRow("a fifo") << 1;
        QTest::newRow("mode 000") << 2;
    }
    void unreadableFilelistIsRebuilt()
    {
        QFETCH(int, kind);
        const QString dir = newDir(QStringLiteral("unreadable-list-%1").arg(kind));
        const QString made = record(dir, "cam-u", makeFeed(10), 10);
        QVERIFY(!made.isEmpty());
        const QString list = dir + QStringLiteral("/filelist");
        const QByteArray listed = QFile::encodeName(list);
        if (kind != 2) {
            QVERIFY(QFile::remove(list));
            QVERIFY(kind == 0 ? QDir().mkdir(list) : ::mkfifo(listed.constData(), 0600) == 0);
        } else {
            QVERIFY(QFile::setPermissions(list, {}));
        }
        QStringList found;
        {
            WithoutFileCapabilities unreadable;
            found = queryNames(makeQuery(dir, "cam-u", QStringLiteral("2000-01-01 00:00:00"),
                                         QStringLiteral("2099-01-01 00:00:00")));
        }
        QCOMPARE(found, QStringList({QFileInfo(made).fileName()}));
        QVERIFY(QFileInfo(list).isFile());
        const QStringList aside = QDir(dir).entryList({QStringLiteral("filelist.corrupt-*")},
                                                      QDir::AllEntries | QDir::System);
        QCOMPARE(aside.size(), 1);
        QVERIFY(logText().contains("set aside as(" + QFile::encodeName(dir + "/" + aside[0]) + "), to be rebuilt!!!"));
    }

    // Unreadable, short and damaged files never crash the reader or the repair.
    void garbageFiles()
    {
        const QString dir = newDir(QStringLiteral("garbage"));
        const Feed feed = makeFeed(50);
        const QString good = record(dir, "cam-g", feed, 50);
        const QByteArray bytes = varno::test::readFile(good);

        // Cut short at several points, and bytes flipped in the middle.
        QByteArray flipped = bytes;
        for (qsizetype i = flipped.size() / 3; i < flipped.size() / 3 + 300; ++i)
            flipped[i] = char(flipped[i] ^ 0xA7);
        const QString cutPath = dir + QStringLiteral("/cut.mkv");
        for (const QByteArray &damaged : {bytes.left(0), bytes.left(10), bytes.left(200),
                                          bytes.left(bytes.size() / 3), bytes.left(bytes.size() / 2),
                                          bytes.left(bytes.size() - 7), flipped}) {
            QVERIFY(varno::test::writeFile(cutPath, damaged));
            RECORD_HANDLE h = 0;
            uint32_t total = 0;
            const int ret = Record_local_MediaFileOpen(cutPath.toUtf8().constData(), &h, nullptr, &total, nullptr);
            if (damaged.size() < 200)
                QCOMPARE(ret, int(RECORD_LOCAL_ERR_OPEN));
            if (ret != 0)
                continue;
            const ReadBack back = readAll(h);
            QVERIFY(back.video <= 50 && (damaged == flipped || uint32_t(back.video) <= total));
            Record_local_MediaFileClose(h);
        }
        RECORD_HANDLE h = 0;

        // An unreadable recording-named file gets a damaged record, never removed.
        const QString broken = dir + QStringLiteral("/cam-g_20200101_000000.mkv");
        QVERIFY(varno::test::writeFile(broken, "not a recording"));
        QCOMPARE(Record_local_MediaFileRepair(dir.toUtf8().constData()), 0);
        const std::vector<MEDIA_FILE_S> list = filelist(dir);
        QCOMPARE(list.size(), size_t(2));
        QCOMPARE(varno::fieldText(list[0].fileName), QFileInfo(broken).fileName());
        QCOMPARE(list[0].state, uint32_t(MEDIA_FILE_STATE_DAMAGED));
        QCOMPARE(list[0].size, 15u);
        QVERIFY(QFile::exists(broken));
        QCOMPARE(Record_local_MediaFileOpen(broken.toUtf8().constData(), &h, nullptr, nullptr, nullptr),
                 int(RECORD_LOCAL_ERR_OPEN));
    }

    void badArgumentsAndHandles()
    {
        const QString dir = newDir(QStringLiteral("args"));
        RECORD_INFO_S info = makeInfo("cam-x");
        char path[RECORD_LOCAL_PATH_SIZE] {};
        RECORD_HANDLE h = 0;
        QCOMPARE(Record_local_MediaFileCreat(nullptr, path, &h, nullptr), int(RECORD_LOCAL_ERR_PARAM));
        QCOMPARE(Record_local_MediaFileCreat(&info, path, &h, nullptr), int(RECORD_LOCAL_ERR_PARAM));
        varno::setText(path, dir + QStringLiteral("/missing"));
        QCOMPARE(Record_local_MediaFileCreat(&info, path, &h, nullptr), int(RECORD_LOCAL_ERR_DIR));
        // A folder so long that the file path would not fit the buffer.
        const QString deep = dir + QLatin1Char('/') + QString(200, QLatin1Char('d'));
        QVERIFY(QDir().mkpath(deep));
        varno::setText(path, deep);
        QCOMPARE(Record_local_MediaFileCreat(&info, path, &h, nullptr), int(RECORD_LOCAL_ERR_PARAM));
        QCOMPARE(QDir(deep).entryList(QDir::Files).size(), 0);

        // A device ID with a slash still lands directly in the folder.
        varno::setText(info.devId, "urn:uuid:a/b");
        varno::setText(path, dir);
        QCOMPARE(Record_local_MediaFileCreat(&info, path, &h, nullptr), 0);
        QCOMPARE(QFileInfo(QString::fromUtf8(path)).absolutePath(), dir);
        const unsigned char byte = 0;
        QCOMPARE(Record_local_MediaFileWrite(h, 1, nullptr, 4), int(RECORD_LOCAL_ERR_PARAM));
        QCOMPARE(Record_local_MediaFileWrite(h + 1000, 1, &byte, 1), int(RECORD_LOCAL_ERR_HANDLE));
        uint32_t type = 0, size = 0;
        unsigned char *data = nullptr;
        QCOMPARE(Record_local_MediaFileGetNextFrame(h, &type, &data, &size), int(RECORD_LOCAL_ERR_HANDLE));
        QCOMPARE(Record_local_MediaFileSeek(h, 0, RECORD_LOCAL_SEEK_TIME), int(RECORD_LOCAL_ERR_HANDLE));
        QCOMPARE(Record_local_setMediaFileAlarmType(h, 3), 0);
        QCOMPARE(filelist(dir).back().alarmType, uint16_t(3));
        QCOMPARE(varno::fieldText(filelist(dir).back().devId), QStringLiteral("urn:uuid:a/b"));
        QCOMPARE(Record_local_MediaFileClose(h), 0);
        QCOMPARE(Record_local_setMediaFileAlarmType(h, 1), int(RECORD_LOCAL_ERR_HANDLE));
        QCOMPARE(Record_local_MediaFileOpen(nullptr, &h, nullptr, nullptr, nullptr), int(RECORD_LOCAL_ERR_PARAM));
        QCOMPARE(Record_local_MediaFileOpen("/nonexistent.mkv", &h, nullptr, nullptr, nullptr),
                 int(RECORD_LOCAL_ERR_OPEN));
        QCOMPARE(Record_local_MediaFileRepair(nullptr), int(RECORD_LOCAL_ERR_PARAM));
        QCOMPARE(Record_local_MediaFileRepair("/nonexistent-folder"), int(RECORD_LOCAL_ERR_DIR));
    }
};

QTEST_GUILESS_MAIN(TestRecfile)
#include "tst_recfile.moc"
