#include "playback/downloadfolder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstring>

namespace varno::playback {

namespace {

// A job record: peer ID text[32] at 0, file name text[128] at 32, target
// text[512] at 160 (UTF-8), size u32 at 672, kept u32 at 676, state u32 at
// 680, fault u32 at 684, error i32 at 688, detail text[512] at 692 (UTF-8).
// Texts are NUL-terminated inside their field, NUL-padded.
constexpr char kMagic[4] = {'V', 'D', 'J', '1'};
constexpr int kPeerAt = 0, kPeerSize = 32;
constexpr int kFileAt = 32, kFileSize = 128;
constexpr int kTargetAt = 160, kPathSize = 512;
constexpr int kSizeAt = 672, kKeptAt = 676, kStateAt = 680, kFaultAt = 684, kErrorAt = 688;
constexpr int kDetailAt = 692;
static_assert(kDetailAt + kPathSize == kDownloadRecordSize);

void putU32(char *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = char((v >> (8 * i)) & 0xff);
}

uint32_t getU32(const char *p)
{
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= uint32_t(uint8_t(p[i])) << (8 * i);
    return v;
}

// Text of at most size - 1 bytes, cut at a character boundary.
QByteArray fitText(const QString &text, int size)
{
    QString t = text;
    QByteArray bytes = t.toUtf8();
    while (bytes.size() > size - 1) {
        t.chop(1);
        bytes = t.toUtf8();
    }
    return bytes;
}

void putText(char *p, int size, const QByteArray &bytes)
{
    std::memcpy(p, bytes.constData(), size_t(qMin<qsizetype>(bytes.size(), size - 1)));
}

// The text of a field; false when it is not NUL-terminated inside it.
bool getText(const char *p, int size, QByteArray *out)
{
    const void *nul = std::memchr(p, '\0', size_t(size));
    if (!nul)
        return false;
    *out = QByteArray(p, int(static_cast<const char *>(nul) - p));
    return true;
}

bool getUtf8(const char *p, int size, QString *out)
{
    QByteArray bytes;
    if (!getText(p, size, &bytes))
        return false;
    *out = QString::fromUtf8(bytes);
    return out->toUtf8() == bytes;
}

} // namespace

QString parseDownloadDb(const QByteArray &image)
{
    if (image.size() < kDownloadDbSize)
        return {};
    const QByteArray record = image.left(kDownloadDbSize);
    const int end = record.indexOf('\0');
    return QString::fromUtf8(end < 0 ? record : record.left(end));
}

QByteArray buildDownloadDb(const QString &folder)
{
    QString text = folder;
    text.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QByteArray bytes = fitText(text, kDownloadDbSize);
    bytes.append(QByteArray(kDownloadDbSize - bytes.size(), '\0'));
    return bytes;
}

QByteArray buildDownloadDb(const QString &folder, const QList<DownloadRecord> &records)
{
    QByteArray image = buildDownloadDb(folder);
    if (records.isEmpty())
        return image;
    const int first = int(qMax<qsizetype>(0, records.size() - kDownloadMaxRecords));
    const int count = int(records.size()) - first;
    image.append(kMagic, 4);
    char n[4];
    putU32(n, uint32_t(count));
    image.append(n, 4);
    for (int i = first; i < records.size(); ++i) {
        const DownloadRecord &r = records[i];
        QByteArray rec(kDownloadRecordSize, '\0');
        char *p = rec.data();
        putText(p + kPeerAt, kPeerSize, r.peerId);
        putText(p + kFileAt, kFileSize, r.fileName);
        putText(p + kTargetAt, kPathSize, fitText(r.target, kPathSize));
        putU32(p + kSizeAt, r.size);
        putU32(p + kKeptAt, r.kept);
        putU32(p + kStateAt, uint32_t(r.state));
        putU32(p + kFaultAt, uint32_t(r.fault));
        putU32(p + kErrorAt, uint32_t(r.error));
        putText(p + kDetailAt, kPathSize, fitText(r.detail, kPathSize));
        image.append(rec);
    }
    return image;
}

bool parseDownloadRecords(const QByteArray &image, QList<DownloadRecord> *out)
{
    out->clear();
    if (image.size() == kDownloadDbSize)
        return true;
    if (image.size() < kDownloadDbSize + 8 || std::memcmp(image.constData() + kDownloadDbSize, kMagic, 4) != 0)
        return false;
    const uint32_t count = getU32(image.constData() + kDownloadDbSize + 4);
    if (count > uint32_t(kDownloadMaxRecords)
        || image.size() != kDownloadDbSize + 8 + qsizetype(count) * kDownloadRecordSize)
        return false;
    QList<DownloadRecord> records;
    for (uint32_t i = 0; i < count; ++i) {
        const char *p = image.constData() + kDownloadDbSize + 8 + qsizetype(i) * kDownloadRecordSize;
        DownloadRecord r;
        const uint32_t state = getU32(p + kStateAt);
        const uint32_t fault = getU32(p + kFaultAt);
        if (!getText(p + kPeerAt, kPeerSize, &r.peerId) || !getText(p + kFileAt, kFileSize, &r.fileName)
            || !getUtf8(p + kTargetAt, kPathSize, &r.target) || !getUtf8(p + kDetailAt, kPathSize, &r.detail)
            || state < uint32_t(DownloadState::Running) || state > uint32_t(DownloadState::Finished)
            || fault > uint32_t(DownloadFault::Last))
            return false;
        r.size = getU32(p + kSizeAt);
        r.kept = getU32(p + kKeptAt);
        r.state = DownloadState(state);
        r.fault = DownloadFault(fault);
        r.error = int32_t(getU32(p + kErrorAt));
        records.append(r);
    }
    *out = records;
    return true;
}

bool plausibleDownloadFolder(const QString &folder)
{
    if (!folder.startsWith(QLatin1Char('/')))
        return false;
    for (const QChar c : folder)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c == QChar::ReplacementCharacter)
            return false;
    return true;
}

QString defaultDownloadFolder()
{
    return QDir::homePath() + QStringLiteral("/Varno/Download");
}

QString setDownloadDbAside(const QString &path)
{
    const QString base = path + QStringLiteral(".corrupt-")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString aside = base;
    for (int n = 1; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n) {
        if (n > 100)
            return {};
        aside = base + QLatin1Char('-') + QString::number(n);
    }
    return QDir().rename(path, aside) ? aside : QString();
}

} // namespace varno::playback
