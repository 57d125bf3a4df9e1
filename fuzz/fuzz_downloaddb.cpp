// libFuzzer target: "download.db" as the download dialog reads it. The
// folder read has at most one character per byte of the 256-byte record,
// and a folder written back (no backslashes, under 256 bytes) reads as
// itself; job records read are written back and read as themselves.
#include "playback/downloadfolder.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace varno::playback;
    const QByteArray image(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString folder = parseDownloadDb(image);
    QList<DownloadRecord> records;
    if (parseDownloadRecords(image, &records)) {
        QList<DownloadRecord> again;
        if (!parseDownloadRecords(buildDownloadDb(QString(), records), &again) || again.size() != records.size())
            __builtin_trap();
        for (qsizetype i = 0; i < records.size(); ++i) {
            const DownloadRecord &a = records[i], &b = again[i];
            if (a.peerId != b.peerId || a.fileName != b.fileName || a.target != b.target || a.size != b.size
                || a.kept != b.kept || a.state != b.state || a.fault != b.fault || a.error != b.error
                || a.detail != b.detail)
                __builtin_trap();
        }
    } else if (!records.isEmpty()) {
        __builtin_trap();
    }
    const QByteArray utf8 = folder.toUtf8();
    if (size < size_t(kDownloadDbSize) && !folder.isEmpty())
        __builtin_trap();
    // Bytes that are not UTF-8 read as U+FFFD (three bytes each): the text
    // has at most one character per byte of the record.
    if (folder.size() > kDownloadDbSize || utf8.contains('\0'))
        __builtin_trap();
    if (folder.isEmpty() || utf8.size() >= kDownloadDbSize || folder.contains(QLatin1Char('\\')))
        return 0;
    const QByteArray record = buildDownloadDb(folder);
    if (record.size() != kDownloadDbSize || parseDownloadDb(record) != folder)
        __builtin_trap();
    return 0;
}
