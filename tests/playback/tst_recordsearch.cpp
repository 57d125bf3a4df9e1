// The recording search's and the playback's pieces without widgets: camera
// replies read from bytes (short, lying counts, both forms), the names the
// table and the download use, the speed steps and the pacing interval, the
// audio frames the decoder gets and the download folder file.

#include "common/p2precords.h"
#include "common/textfield.h"
#include "platform/av/av_decoder.h"
#include "playback/downloadfolder.h"
#include "playback/qmediaplay.h"
#include "playback/recordsearch.h"

#include <QTest>

#include <cstring>

using namespace varno::playback;

namespace {

QByteArray reply(int type, int result, int count, int present)
{
    RECORD_SEARCH_RSP_S head{result, count, 0};
    QByteArray out(reinterpret_cast<const char *>(&head), sizeof(head));
    for (int i = 0; i < present; ++i) {
        RECORD_ITEM_EX_S item;
        std::memset(&item, 0, sizeof(item));
        const QByteArray name = QStringLiteral("190225_12.%1.00.h264").arg(i, 2, 10, QLatin1Char('0')).toUtf8();
        std::memcpy(item.name, name.constData(), size_t(name.size()));
        item.size = 1572864;
        item.resolution = 3;
        item.frameRate = 25;
        item.videoType = 1;
        item.audioType = 2;
        item.audioBitRate = 64000;
        item.audioSampleRate = 8000;
        const size_t n = type == P2P_MSG_RECORD_LIST_EX ? sizeof(RECORD_ITEM_EX_S) : sizeof(RECORD_ITEM_S);
        out.append(reinterpret_cast<const char *>(&item), qsizetype(n));
    }
    return out;
}

} // namespace

class tst_RecordSearch : public QObject
{
    Q_OBJECT

private slots:
    void namesAndSizes()
    {
        QCOMPARE(cameraDisplayName(QStringLiteral("190225_12.30.00.h264")), QStringLiteral("190225_12:30:00.h264"));
        QCOMPARE(cameraDisplayName(QStringLiteral("noextension")), QStringLiteral("noextension"));
        QCOMPARE(sizeText(1572864), QStringLiteral("1.50"));
        QCOMPARE(sizeText(0), QStringLiteral("0.00"));
        QCOMPARE(nextPageEnd(QStringLiteral("190225_12:30:00.h264")), QByteArray("2019-02-25 12:30:00.h264"));
        QVERIFY(nextPageEnd(QStringLiteral("garbage")).isEmpty());
        QVERIFY(nextPageEnd(QStringLiteral("19a225_12:30:00.h264")).isEmpty());
        QCOMPARE(downloadTargetName(QStringLiteral("190225_08:15:00.h264")), QStringLiteral("190225_081500.mp4"));
        // Names the camera makes up may hold what a local file name cannot.
        QCOMPARE(downloadTargetName(QStringLiteral("a/b\\c\x01:d.h264")), QStringLiteral("a_b_c_d.mp4"));
        QCOMPARE(downloadTargetName(QStringLiteral("../..")), QStringLiteral(".._..mp4"));
        QCOMPARE(downloadTargetName(QStringLiteral("..")), QStringLiteral("recording.mp4"));
        QCOMPARE(downloadTargetName(QString()), QStringLiteral("recording.mp4"));
        QCOMPARE(timeText(3725), QStringLiteral("62:05"));
        QCOMPARE(timeText(0), QStringLiteral("00:00"));
    }

    void codes()
    {
        uint16_t w = 0, h = 0;
        const int expect[][3] = {{0, 1280, 720}, {1, 640, 360}, {2, 1280, 960}, {3, 1920, 1080},
                                 {4, 704, 576},  {5, 352, 288}, {9, 640, 360}};
        for (const auto &e : expect) {
            resolutionToSize(e[0], &w, &h);
            QCOMPARE(int(w), e[1]);
            QCOMPARE(int(h), e[2]);
        }
        for (const auto &[code, type] : {std::pair{0, 104u}, {1, 103u}, {2, 105u}, {3, 106u}, {7, 104u}})
            QCOMPARE(toMediaAudioType(code), type);
        QCOMPARE(toMediaVideoType(1), 4u);
        QCOMPARE(toMediaVideoType(5), 2u);
        MEDIA_FILE_S f{};
        f.videoType = 4;
        const uint32_t audio[][2] = {{105, 101}, {106, 100}, {107, 103}, {104, 102}, {0, 102}};
        for (const auto &a : audio) {
            f.audioType = a[0];
            QCOMPARE(decoderSettings(f).audioCode, a[1]);
        }
        QCOMPARE(decoderSettings(f).videoCodec, 2);
        f.videoType = 2;
        QCOMPARE(decoderSettings(f).videoCodec, 1);
    }

    void replies_data()
    {
        QTest::addColumn<int>("type");
        QTest::newRow("extended") << int(P2P_MSG_RECORD_LIST_EX);
        QTest::newRow("basic") << int(P2P_MSG_RECORD_LIST);
    }

    void replies()
    {
        QFETCH(int, type);
        const QByteArray full = reply(type, 0, 64, 64);
        SearchReply r = parseSearchReply(type, full.constData(), size_t(full.size()), "B765432");
        QVERIFY(r.valid);
        QCOMPARE(r.files.size(), 64);
        QVERIFY(!r.truncated);
        const MEDIA_FILE_S &f = r.files.first();
        QCOMPARE(varno::fieldText(f.devId), QStringLiteral("B765432"));
        QCOMPARE(varno::fieldText(f.fileName), QStringLiteral("190225_12.00.00.h264"));
        QCOMPARE(f.size, 1572864u);
        QCOMPARE(int(f.width), 1920);
        QCOMPARE(f.frameRate, 25u);
        if (type == P2P_MSG_RECORD_LIST_EX) {
            QCOMPARE(f.videoType, 4u);
            QCOMPARE(f.audioType, 105u);
            QCOMPARE(f.bits, 8u);
        } else {
            QCOMPARE(f.videoType, 2u);
            QCOMPARE(f.audioType, 104u);
            QCOMPARE(f.sampleRate, 8000u);
            QCOMPARE(f.bits, 16u);
        }

        // A count larger than the payload holds: only what is there.
        const QByteArray lying = reply(type, 0, 1000, 3);
        r = parseSearchReply(type, lying.constData(), size_t(lying.size()), "B765432");
        QVERIFY(r.valid);
        QVERIFY(r.truncated);
        QCOMPARE(r.files.size(), 3);
        // Half an entry at the end is not an entry.
        const QByteArray cut = lying.left(lying.size() - 10);
        r = parseSearchReply(type, cut.constData(), size_t(cut.size()), nullptr);
        QCOMPARE(r.files.size(), 2);
        // Shorter than the head.
        r = parseSearchReply(type, lying.constData(), 11, nullptr);
        QVERIFY(!r.valid);
        r = parseSearchReply(type, nullptr, 0, nullptr);
        QVERIFY(!r.valid);
        // A refusal, a negative count.
        const QByteArray refused = reply(type, 5, -3, 0);
        r = parseSearchReply(type, refused.constData(), size_t(refused.size()), nullptr);
        QVERIFY(r.valid);
        QCOMPARE(r.result, 5);
        QVERIFY(r.files.isEmpty());
        // A name that fills its whole field without a terminator.
        QByteArray unterminated = reply(type, 0, 1, 1);
        std::memset(unterminated.data() + sizeof(RECORD_SEARCH_RSP_S), 'x', 64);
        r = parseSearchReply(type, unterminated.constData(), size_t(unterminated.size()), nullptr);
        QCOMPARE(varno::fieldText(r.files.first().fileName), QString(64, QLatin1Char('x')));
    }

    void speedAndPacing()
    {
        // Faster from X1 six times, and slower from X1 four times.
        QStringList texts;
        int level = 0;
        for (int i = 0; i < 6; ++i) {
            level = level >= 3 ? 0 : level + 1;
            texts << speedText(level);
        }
        QCOMPARE(texts, QStringList({"X2", "X4", "X8", "X1", "X2", "X4"}));
        QCOMPARE(speedText(-3), QStringLiteral("X1/8"));
        QCOMPARE(speedFactor(-2), 0.25f);
        // Without a frame rate the pacing still has one (the intervals at 25
        // fps are measured on the engines: tst_qlocalfileplay, tst_qdevicefileplay).
        QCOMPARE(cameraFrameIntervalUs(0), int64_t(35000));
        QCOMPARE(localFrameIntervalUs(0, 1.0f), 40000.0);
        QCOMPARE(localFrameIntervalUs(25, 100.0f), 40000.0);
    }

    // Audio frames of any length reach the decoder whole (they used to be
    // cut into a 512-byte buffer).
    void longAudioFrames()
    {
        std::vector<uint8_t> in(1000);
        for (size_t i = 0; i < in.size(); ++i)
            in[i] = uint8_t(i * 7);
        std::vector<uint8_t> out;
        packAudioFrame(AV_AUDIO_G711A, in.data(), uint32_t(in.size()), &out);
        QCOMPARE(out.size(), size_t(1004));
        QCOMPARE(int(out[0]), 0);
        QCOMPARE(int(out[1]), 1);
        QCOMPARE(int(out[2]), 500 & 0xff);
        QVERIFY(std::memcmp(out.data() + 4, in.data(), in.size()) == 0);
        packAudioFrame(AV_AUDIO_PCM16, in.data(), uint32_t(in.size()), &out);
        QCOMPARE(out.size(), in.size());
        packAudioFrame(AV_AUDIO_G711A, nullptr, 10, &out);
        QVERIFY(out.empty());
    }

    void downloadFolderFile()
    {
        const QByteArray rec = buildDownloadDb(QStringLiteral("C:\\Varno\\Download"));
        QCOMPARE(rec.size(), kDownloadDbSize);
        QCOMPARE(parseDownloadDb(rec), QStringLiteral("C:/Varno/Download"));
        QVERIFY(parseDownloadDb(rec.left(100)).isEmpty());
        QVERIFY(parseDownloadDb(QByteArray(256, '\0')).isEmpty());
        // Unterminated: the whole record is the text.
        QCOMPARE(parseDownloadDb(QByteArray(300, 'a')), QString(256, QLatin1Char('a')));
        // Too long a folder is cut within the record, at a character.
        const QString longName = QString(200, QChar(0x00e4));
        const QByteArray cut = buildDownloadDb(longName);
        QCOMPARE(cut.size(), kDownloadDbSize);
        QCOMPARE(parseDownloadDb(cut), QString(127, QChar(0x00e4)));
    }

    // The downloads' states after the folder record: read back as written,
    // the newest 256 kept, the folder still the first 256 bytes.
    void downloadRecords()
    {
        QList<DownloadRecord> records;
        for (uint32_t i = 0; i < 300; ++i) {
            DownloadRecord r;
            r.peerId = "VRNB-765432-KXPQT";
            r.fileName = QByteArray::number(i) + ".h264";
            r.target = QStringLiteral("/home/\u00e4/%1.mp4").arg(i);
            r.size = 1000 + i;
            r.kept = i;
            r.state = DownloadState::Failed;
            r.fault = DownloadFault::WriteFailed;
            r.error = -int32_t(i);
            r.detail = r.target + QStringLiteral(".tmp");
            records.append(r);
        }
        const QByteArray image = buildDownloadDb(QStringLiteral("/srv/dl"), records);
        QCOMPARE(parseDownloadDb(image), QStringLiteral("/srv/dl"));
        QList<DownloadRecord> read;
        QVERIFY(parseDownloadRecords(image, &read));
        QCOMPARE(read.size(), kDownloadMaxRecords);
        const DownloadRecord &last = read.last();
        QCOMPARE(last.fileName, QByteArray("299.h264"));
        QCOMPARE(last.target, QStringLiteral("/home/\u00e4/299.mp4"));
        QVERIFY(last.size == 1299 && last.kept == 299 && last.error == -299 && last.state == DownloadState::Failed
                && last.fault == DownloadFault::WriteFailed && last.detail == last.target + QStringLiteral(".tmp"));
        // One byte off, an unknown state: the whole tail is refused.
        QVERIFY(!parseDownloadRecords(image.chopped(1), &read) && read.isEmpty());
        QByteArray badState = image;
        badState[kDownloadDbSize + 8 + 680] = char(9);
        QVERIFY(!parseDownloadRecords(badState, &read));
        QVERIFY(!plausibleDownloadFolder(QStringLiteral("relative")) && plausibleDownloadFolder(QStringLiteral("/a b")));
    }
};

QTEST_GUILESS_MAIN(tst_RecordSearch)
#include "tst_recordsearch.moc"
