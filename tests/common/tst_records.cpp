#include "common/metatypes.h"
#include "common/textfield.h"

#include <QStringDecoder>
#include <QThread>
#include <QtEndian>
#include <QtTest>

#include <cstring>

namespace {

// Fills a record with a recognisable pattern that depends on a seed.
template <typename T>
T patterned(int seed)
{
    T record;
    auto *bytes = reinterpret_cast<unsigned char *>(&record);
    for (size_t i = 0; i < sizeof(T); ++i)
        bytes[i] = static_cast<unsigned char>((i * 31 + size_t(seed) * 7 + 1) & 0xff);
    return record;
}

template <typename T>
bool sameBytes(const T &a, const T &b)
{
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

} // namespace

// Emits records from its own thread.
class RecordSender : public QObject
{
    Q_OBJECT

public:
    static constexpr int kRounds = 300;

public slots:
    void run()
    {
        for (int i = 0; i < kRounds; ++i) {
            emit sendDevice(patterned<DeviceInfo_s>(i));
            emit sendDvr(patterned<DvrListInfo_s>(i));
            QList<DvrListInfo_s> list;
            for (int j = 0; j <= i % 5; ++j)
                list.append(patterned<DvrListInfo_s>(i + j));
            emit sendDvrList(list);
            emit sendState(i % 2 ? STATE_ONLINE : STATE_OFFLINE);
            emit sendLog(patterned<LogInfo_s>(i));
            emit sendP2pMsg(patterned<P2pMessage_S>(i));
            emit sendDisks(QList<DiskInfo_s>{patterned<DiskInfo_s>(i), patterned<DiskInfo_s>(i + 1)});
            emit sendRecordDisks(QList<RecordDisk_s>{patterned<RecordDisk_s>(i)});
            emit sendStorageDisk(patterned<StorageDisk_s>(i));
        }
    }

signals:
    void sendDevice(DeviceInfo_s dev);
    void sendDvr(DvrListInfo_s dvr);
    void sendDvrList(QList<DvrListInfo_s> list);
    void sendState(STATE_E state);
    void sendLog(LogInfo_s log);
    void sendP2pMsg(P2pMessage_S msg);
    void sendDisks(QList<DiskInfo_s> disks);
    void sendRecordDisks(QList<RecordDisk_s> disks);
    void sendStorageDisk(StorageDisk_s disk);
};

// Receives on the test's thread and checks every copy against what was sent.
class RecordReceiver : public QObject
{
    Q_OBJECT

public:
    int received = 0;
    int faults = 0;
    QThread *wrongThread = nullptr;

public slots:
    void recvDevice(DeviceInfo_s dev) { check(sameBytes(dev, patterned<DeviceInfo_s>(m_device++))); }
    void recvDvr(DvrListInfo_s dvr) { check(sameBytes(dvr, patterned<DvrListInfo_s>(m_dvr++))); }
    void recvDvrList(QList<DvrListInfo_s> list)
    {
        const int i = m_dvrList++;
        bool ok = list.size() == i % 5 + 1;
        for (int j = 0; ok && j < list.size(); ++j)
            ok = sameBytes(list[j], patterned<DvrListInfo_s>(i + j));
        check(ok);
    }
    void recvState(STATE_E state) { check(state == (m_state++ % 2 ? STATE_ONLINE : STATE_OFFLINE)); }
    void recvLog(LogInfo_s log) { check(sameBytes(log, patterned<LogInfo_s>(m_log++))); }
    void recvP2pMsg(P2pMessage_S msg) { check(sameBytes(msg, patterned<P2pMessage_S>(m_p2p++))); }
    void recvDisks(QList<DiskInfo_s> disks)
    {
        const int i = m_disks++;
        check(disks.size() == 2 && sameBytes(disks[0], patterned<DiskInfo_s>(i))
              && sameBytes(disks[1], patterned<DiskInfo_s>(i + 1)));
    }
    void recvRecordDisks(QList<RecordDisk_s> disks)
    {
        check(disks.size() == 1 && sameBytes(disks[0], patterned<RecordDisk_s>(m_recordDisks++)));
    }
    void recvStorageDisk(StorageDisk_s disk) { check(sameBytes(disk, patterned<StorageDisk_s>(m_storageDisk++))); }

private:
    void check(bool ok)
    {
        ++received;
        if (!ok)
            ++faults;
        if (QThread::currentThread() != thread())
            wrongThread = QThread::currentThread();
    }

    int m_device = 0, m_dvr = 0, m_dvrList = 0, m_state = 0, m_log = 0, m_p2p = 0;
    int m_disks = 0, m_recordDisks = 0, m_storageDisk = 0;
};

class TestRecords : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void metaTypeNames_data();
    void metaTypeNames();
    void recordsCrossThreadsIntact();
    void pointerRecordsFollowPointerWidth();
    void storageFileLayout();
    void nonAsciiTextInEveryField();
};

void TestRecords::initTestCase()
{
    // Nothing has used the records yet: their names are unknown until the
    // registration makes them known.
    const char *const names[] = {"DeviceInfo_s", "DvrListInfo_s", "QList<DvrListInfo_s>", "STATE_E", "LogInfo_s",
                                 "P2pMessage_S", "DiskInfo_s", "QList<DiskInfo_s>", "RecordDisk_s",
                                 "QList<RecordDisk_s>", "StorageDisk_s"};
    for (const char *name : names)
        QVERIFY2(!QMetaType::fromName(name).isValid(), name);
    varno::registerMetaTypes();
    varno::registerMetaTypes(); // a second call is harmless
    for (const char *name : names)
        QVERIFY2(QMetaType::fromName(name).isValid(), name);
}

void TestRecords::metaTypeNames_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("size");
    QTest::newRow("DeviceInfo_s") << QByteArray("DeviceInfo_s") << qMetaTypeId<DeviceInfo_s>() << 492;
    QTest::newRow("DvrListInfo_s") << QByteArray("DvrListInfo_s") << qMetaTypeId<DvrListInfo_s>() << 816;
    QTest::newRow("QList<DvrListInfo_s>") << QByteArray("QList<DvrListInfo_s>")
                                          << qMetaTypeId<QList<DvrListInfo_s>>() << int(sizeof(QList<DvrListInfo_s>));
    QTest::newRow("STATE_E") << QByteArray("STATE_E") << qMetaTypeId<STATE_E>() << 4;
    QTest::newRow("LogInfo_s") << QByteArray("LogInfo_s") << qMetaTypeId<LogInfo_s>() << 308;
    QTest::newRow("P2pMessage_S") << QByteArray("P2pMessage_S") << qMetaTypeId<P2pMessage_S>()
                                  << int(sizeof(P2pMessage_S));
    QTest::newRow("DiskInfo_s") << QByteArray("DiskInfo_s") << qMetaTypeId<DiskInfo_s>() << 20;
    QTest::newRow("QList<DiskInfo_s>") << QByteArray("QList<DiskInfo_s>") << qMetaTypeId<QList<DiskInfo_s>>()
                                       << int(sizeof(QList<DiskInfo_s>));
    QTest::newRow("RecordDisk_s") << QByteArray("RecordDisk_s") << qMetaTypeId<RecordDisk_s>() << 12;
    QTest::newRow("QList<RecordDisk_s>") << QByteArray("QList<RecordDisk_s>") << qMetaTypeId<QList<RecordDisk_s>>()
                                         << int(sizeof(QList<RecordDisk_s>));
    QTest::newRow("StorageDisk_s") << QByteArray("StorageDisk_s") << qMetaTypeId<StorageDisk_s>() << 12;
}

void TestRecords::metaTypeNames()
{
    QFETCH(QByteArray, name);
    QFETCH(int, id);
    QFETCH(int, size);
    const QMetaType type = QMetaType::fromName(name);
    QVERIFY2(type.isValid(), name.constData());
    QCOMPARE(type.id(), id);
    QCOMPARE(int(type.sizeOf()), size);
    // A value built through the meta-type system copies every byte.
    if (name == "DeviceInfo_s") {
        const DeviceInfo_s original = patterned<DeviceInfo_s>(3);
        void *copy = type.create(&original);
        QVERIFY(std::memcmp(copy, &original, sizeof(original)) == 0);
        type.destroy(copy);
    }
}

void TestRecords::recordsCrossThreadsIntact()
{
    QThread thread;
    RecordSender sender;
    RecordReceiver receiver;
    sender.moveToThread(&thread);

    // Connected by signature text, so that the queued copies are made by
    // the names registered above.
    const char *const pairs[][2] = {
        {SIGNAL(sendDevice(DeviceInfo_s)), SLOT(recvDevice(DeviceInfo_s))},
        {SIGNAL(sendDvr(DvrListInfo_s)), SLOT(recvDvr(DvrListInfo_s))},
        {SIGNAL(sendDvrList(QList<DvrListInfo_s>)), SLOT(recvDvrList(QList<DvrListInfo_s>))},
        {SIGNAL(sendState(STATE_E)), SLOT(recvState(STATE_E))},
        {SIGNAL(sendLog(LogInfo_s)), SLOT(recvLog(LogInfo_s))},
        {SIGNAL(sendP2pMsg(P2pMessage_S)), SLOT(recvP2pMsg(P2pMessage_S))},
        {SIGNAL(sendDisks(QList<DiskInfo_s>)), SLOT(recvDisks(QList<DiskInfo_s>))},
        {SIGNAL(sendRecordDisks(QList<RecordDisk_s>)), SLOT(recvRecordDisks(QList<RecordDisk_s>))},
        {SIGNAL(sendStorageDisk(StorageDisk_s)), SLOT(recvStorageDisk(StorageDisk_s))},
    };
    for (const auto &pair : pairs)
        QVERIFY(QObject::connect(&sender, pair[0], &receiver, pair[1], Qt::QueuedConnection));

    thread.start();
    QMetaObject::invokeMethod(&sender, &RecordSender::run, Qt::QueuedConnection);
    const int expected = RecordSender::kRounds * int(std::size(pairs));
    QTRY_COMPARE_WITH_TIMEOUT(receiver.received, expected, 30000);
    thread.quit();
    QVERIFY(thread.wait(10000));

    QCOMPARE(receiver.faults, 0);
    QVERIFY(receiver.wrongThread == nullptr);
}

void TestRecords::pointerRecordsFollowPointerWidth()
{
    if (sizeof(void *) != 8)
        QSKIP("64-bit sizes only");
    QCOMPARE(sizeof(P2pMessage_S), size_t(56));
    QCOMPARE(offsetof(P2pMessage_S, payload), size_t(40));
    QCOMPARE(sizeof(StorageInfo_s), size_t(48));
    QCOMPARE(offsetof(StorageInfo_s, disks), size_t(40));
    QCOMPARE(sizeof(DevTreeEntry), size_t(112));

    // The stored head of StorageInfo_s is its first 40 bytes, whatever the
    // pointer width: copying it into the file head and back keeps every field.
    StorageDisk_s disks[2] = {};
    StorageInfo_s info {};
    varno::setText(info.recordDir, "Varno/Record");
    info.cover = 1;
    info.count = 2;
    info.disks = disks;
    StorageFileHead_s head {};
    std::memcpy(head.recordDir, &info, kStorageInfoStoredSize);
    QCOMPARE(QByteArray(head.recordDir), QByteArray("Varno/Record"));
    QCOMPARE(head.cover, 1u);
    QCOMPARE(head.count, 2);
}

void TestRecords::storageFileLayout()
{
    // A "storage.db" image built byte by byte from the documented offsets.
    QByteArray file(300 + 2 * 12, '\0');
    qToLittleEndian<quint32>(0, file.data());
    std::memcpy(file.data() + 4, "/srv/capture/Varno/Capture", 26);
    std::memcpy(file.data() + 260, "Varno/Record", 12);
    qToLittleEndian<quint32>(1, file.data() + 292);
    qToLittleEndian<qint32>(2, file.data() + 296);
    std::memcpy(file.data() + 300, "~/", 2);
    qToLittleEndian<quint16>(1, file.data() + 308);
    qToLittleEndian<qint16>(20, file.data() + 310);
    std::memcpy(file.data() + 312, "/data/", 6);
    qToLittleEndian<quint16>(0, file.data() + 320);
    qToLittleEndian<qint16>(100, file.data() + 322);

    StorageFileHead_s head;
    std::memcpy(&head, file.constData(), sizeof(head));
    QCOMPARE(head.recordAlarmType, 0u);
    QCOMPARE(QByteArray(head.capturePath), QByteArray("/srv/capture/Varno/Capture"));
    QCOMPARE(QByteArray(head.recordDir), QByteArray("Varno/Record"));
    QCOMPARE(head.cover, 1u);
    QCOMPARE(head.count, (file.size() - 300) / 12);

    StorageDisk_s disks[2];
    std::memcpy(disks, file.constData() + 300, sizeof(disks));
    QCOMPARE(QByteArray(disks[0].name), QByteArray("~/"));
    QCOMPARE(disks[0].selected, quint16(1));
    QCOMPARE(disks[0].percent, qint16(20));
    QCOMPARE(QByteArray(disks[1].name), QByteArray("/data/"));
    QCOMPARE(disks[1].selected, quint16(0));
    QCOMPARE(disks[1].percent, qint16(100));
}

namespace {

// Fills one text field of a record full of a sentinel and checks that the
// field holds a cut, terminated, whole-letter prefix of the text and that
// no byte outside the field changed.
template <typename Record, size_t N>
QString checkField(char (Record::*field)[N], const QString &text)
{
    constexpr unsigned char kSentinel = 0xa5;
    Record record;
    std::memset(&record, kSentinel, sizeof(record));
    varno::setText(record.*field, text);

    const auto *bytes = reinterpret_cast<const unsigned char *>(&record);
    const size_t begin = size_t(reinterpret_cast<const char *>(&(record.*field)) - reinterpret_cast<const char *>(&record));
    for (size_t i = 0; i < sizeof(record); ++i) {
        if ((i < begin || i >= begin + N) && bytes[i] != kSentinel)
            return QStringLiteral("byte %1 outside the field changed").arg(i);
    }
    const size_t length = varno::textLength(record.*field);
    if (length >= N)
        return QStringLiteral("not terminated");
    for (size_t i = length; i < N; ++i) {
        if ((record.*field)[i] != 0)
            return QStringLiteral("not zero-filled behind the text");
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString stored = utf8.decode(QByteArrayView(record.*field, qsizetype(length)));
    if (utf8.hasError())
        return QStringLiteral("cut inside a letter");
    if (!text.startsWith(stored))
        return QStringLiteral("not a prefix of the text");
    // The cut keeps as much as fits: the next letter would not have fitted.
    if (stored.size() < text.size()) {
        const qsizetype next = text.at(stored.size()).isHighSurrogate() ? 2 : 1;
        if (length + size_t(text.mid(stored.size(), next).toUtf8().size()) <= N - 1)
            return QStringLiteral("cut too early");
    }
    return {};
}

} // namespace

void TestRecords::nonAsciiTextInEveryField()
{
    // Letters of 1, 2, 3 and 4 bytes in UTF-8; shifted by up to three ASCII
    // letters so that each field's cut falls at every position of a sequence.
    const QString letters = QStringLiteral("\u00c4\u00f6\u00df\u20ac\u76d1\u63a7\U0001F4F7\u0416a");
    for (int shift = 0; shift < 4; ++shift) {
        const QString text = QString(shift, QLatin1Char('x')) + letters.repeated(40);
        const struct { const char *name; QString fault; } results[] = {
            {"devId", checkField(&DeviceInfo_s::devId, text)},
            {"ipAddr", checkField(&DeviceInfo_s::ipAddr, text)},
            {"devName", checkField(&DeviceInfo_s::devName, text)},
            {"discoveryText", checkField(&DeviceInfo_s::discoveryText, text)},
            {"serviceAddr", checkField(&DeviceInfo_s::serviceAddr, text)},
            {"password", checkField(&DeviceInfo_s::password, text)},
            {"p2pId", checkField(&DeviceInfo_s::p2pId, text)},
            {"time", checkField(&LogInfo_s::time, text)},
            {"user", checkField(&LogInfo_s::user, text)},
            {"content", checkField(&LogInfo_s::content, text)},
        };
        for (const auto &result : results)
            QVERIFY2(result.fault.isEmpty(), qPrintable(QStringLiteral("%1 (shift %2): %3")
                                                        .arg(QLatin1String(result.name)).arg(shift).arg(result.fault)));
        // A short text fits whole.
        QCOMPARE(checkField(&LogInfo_s::user, QStringLiteral("J\u00fcrgen \u5f20")), QString());
    }
}

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
