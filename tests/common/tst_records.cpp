#include "common/metatypes.h"
#include "common/textfield.h"

#include <QStringDecoder>
#include <QThread>
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
    static constexpr int kSignals = 6;

public slots:
    void run()
    {
        for (int i = 0; i < kRounds; ++i) {
            emit sendDevice(patterned<DeviceInfo_s>(i));
            QList<DvrListInfo_s> list;
            for (int j = 0; j <= i % 5; ++j)
                list.append(patterned<DvrListInfo_s>(i + j));
            emit sendDvrList(list);
            emit sendState(i % 2 ? STATE_ONLINE : STATE_OFFLINE);
            emit sendLog(patterned<LogInfo_s>(i));
            emit sendP2pMsg(patterned<P2pMessage_S>(i));
            emit sendDisks(QList<DiskInfo_s>{patterned<DiskInfo_s>(i)});
        }
    }

signals:
    void sendDevice(DeviceInfo_s dev);
    void sendDvrList(QList<DvrListInfo_s> list);
    void sendState(STATE_E state);
    void sendLog(LogInfo_s log);
    void sendP2pMsg(P2pMessage_S msg);
    void sendDisks(QList<DiskInfo_s> disks);
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
        check(disks.size() == 1 && sameBytes(disks[0], patterned<DiskInfo_s>(m_disks++)));
    }

private:
    void check(bool ok)
    {
        ++received;
        if (!ok)
            ++faults;
        if (QThread::currentThread() != thread())
            wrongThread = QThread::currentThread();
    }

    int m_device = 0, m_dvrList = 0, m_state = 0, m_log = 0, m_p2p = 0, m_disks = 0;
};

class TestRecords : public QObject
{
    Q_OBJECT

private slots:
    void metaTypeNamesRegistered();
    void recordsCrossThreadsIntact();
    void nonAsciiTextInEveryField();
};

void TestRecords::metaTypeNamesRegistered()
{
    const std::pair<const char *, QMetaType> types[] = {
        {"DeviceInfo_s", QMetaType::fromType<DeviceInfo_s>()},
        {"DvrListInfo_s", QMetaType::fromType<DvrListInfo_s>()},
        {"QList<DvrListInfo_s>", QMetaType::fromType<QList<DvrListInfo_s>>()},
        {"STATE_E", QMetaType::fromType<STATE_E>()},
        {"LogInfo_s", QMetaType::fromType<LogInfo_s>()},
        {"P2pMessage_S", QMetaType::fromType<P2pMessage_S>()},
        {"DiskInfo_s", QMetaType::fromType<DiskInfo_s>()},
        {"QList<DiskInfo_s>", QMetaType::fromType<QList<DiskInfo_s>>()},
        {"RecordDisk_s", QMetaType::fromType<RecordDisk_s>()},
        {"QList<RecordDisk_s>", QMetaType::fromType<QList<RecordDisk_s>>()},
        {"StorageDisk_s", QMetaType::fromType<StorageDisk_s>()},
        {"MEDIA_FILE_S", QMetaType::fromType<MEDIA_FILE_S>()},
        {"QMap<QString,MEDIA_FILE_S>", QMetaType::fromType<QMap<QString, MEDIA_FILE_S>>()},
    };
    // Nothing has used the records yet: their names are unknown until the
    // registration makes them known (a second call is harmless).
    for (const auto &[name, type] : types)
        QVERIFY2(!QMetaType::fromName(name).isValid(), name);
    varno::registerMetaTypes();
    varno::registerMetaTypes();
    for (const auto &[name, type] : types) {
        QVERIFY2(QMetaType::fromName(name) == type, name);
        QCOMPARE(QMetaType::fromName(name).sizeOf(), type.sizeOf());
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
        {SIGNAL(sendDvrList(QList<DvrListInfo_s>)), SLOT(recvDvrList(QList<DvrListInfo_s>))},
        {SIGNAL(sendState(STATE_E)), SLOT(recvState(STATE_E))},
        {SIGNAL(sendLog(LogInfo_s)), SLOT(recvLog(LogInfo_s))},
        {SIGNAL(sendP2pMsg(P2pMessage_S)), SLOT(recvP2pMsg(P2pMessage_S))},
        {SIGNAL(sendDisks(QList<DiskInfo_s>)), SLOT(recvDisks(QList<DiskInfo_s>))},
    };
    for (const auto &pair : pairs)
        QVERIFY(QObject::connect(&sender, pair[0], &receiver, pair[1], Qt::QueuedConnection));

    thread.start();
    QMetaObject::invokeMethod(&sender, &RecordSender::run, Qt::QueuedConnection);
    const int expected = RecordSender::kRounds * RecordSender::kSignals;
    QTRY_COMPARE_WITH_TIMEOUT(receiver.received, expected, 30000);
    thread.quit();
    QVERIFY(thread.wait(10000));

    QCOMPARE(receiver.faults, 0);
    QVERIFY(receiver.wrongThread == nullptr);
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
