#include "playback/downloadfolder.h"

#include <QDir>

namespace varno::playback {

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
    QByteArray bytes = text.toUtf8();
    while (bytes.size() > kDownloadDbSize - 1) {
        text.chop(1);
        bytes = text.toUtf8();
    }
    bytes.append(QByteArray(kDownloadDbSize - bytes.size(), '\0'));
    return bytes;
}

QString defaultDownloadFolder()
{
    return QDir::homePath() + QStringLiteral("/Varno/Download");
}

} // namespace varno::playback
