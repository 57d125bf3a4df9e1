#include "common/metatypes.h"
#include "common/textfield.h"

#include <QStringDecoder>
#include <QtTest>

#include <cstring>

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

class TestRecords : public QObject
{
    Q_OBJECT

private slots:
    void metaTypeNamesRegistered()
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

    void nonAsciiTextInEveryField()
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

    // Byte text cut at the field (terminated, zero-filled behind); a null text
    // empties the field; a full field without terminator reads whole.
    void byteTextNullAndUnterminated()
    {
        char field[8];
        std::memset(field, 'x', sizeof(field));
        varno::setText(field, "abcdefghijkl");
        QCOMPARE(QByteArray(field), QByteArray("abcdefg"));
        varno::setText(field, "ab");
        QCOMPARE(QByteArray(field, sizeof(field)), QByteArray("ab\0\0\0\0\0\0", 8));
        char full[4] = {'a', 'b', 'c', 'd'};
        QCOMPARE(varno::fieldText(full), QStringLiteral("abcd"));
        varno::setText(full, static_cast<const char *>(nullptr));
        QCOMPARE(varno::textLength(full), size_t(0));
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
