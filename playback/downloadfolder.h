#pragma once

#include <QByteArray>
#include <QString>

// "download.db": the download folder as one 256-byte record, UTF-8,
// NUL-terminated and NUL-padded, forward slashes.
namespace varno::playback {

inline constexpr int kDownloadDbSize = 256;

// The folder an image of the file names; empty when the image is shorter
// than the record or its text is empty. The text ends at the first NUL or
// at the record's end.
QString parseDownloadDb(const QByteArray &image);
// The record for a folder: backslashes become "/", the text is cut to 255
// bytes at a character boundary.
QByteArray buildDownloadDb(const QString &folder);
// The folder used when the file names none: "Varno/Download" in the home
// directory (the system disk).
QString defaultDownloadFolder();

} // namespace varno::playback
