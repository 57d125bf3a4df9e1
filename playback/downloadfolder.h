#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>

// "download.db": the download folder as one 256-byte record, UTF-8,
// NUL-terminated and NUL-padded, forward slashes; then, optionally, the
// state of the downloads: "VDJ1", a u32 count and that many job records
// (little-endian, kDownloadRecordSize bytes each; see downloadfolder.cpp).
// A reader that takes only the first 256 bytes still finds the folder.
namespace varno::playback {

inline constexpr int kDownloadDbSize = 256;
inline constexpr int kDownloadRecordSize = 1204;
inline constexpr int kDownloadMaxRecords = 256;

// How a download ended (or that it runs: a record left "running" by a
// client that did not end in order reads as stopped).
enum class DownloadState : uint32_t { Running = 1, Stopped = 2, Failed = 3, Finished = 4 };

// Why a download failed.
enum class DownloadFault : uint32_t {
    None = 0,
    NoData,          // no data from the camera after the start
    CameraSilent,    // the camera stopped sending before the end of the file
    CreateFailed,    // the temporary file could not be created or opened (detail: path)
    WriteFailed,     // writing the temporary file failed (detail: path)
    BadData,         // the camera's pieces did not follow one another
    ConvertFailed,   // the conversion to MP4 failed (detail: the camera file kept)
    StartFailed,     // the camera did not start the transfer (error: the library's result)
    Busy,            // an earlier worker of the same target has not ended yet
    Last = Busy
};

// One download as "download.db" keeps it, keyed by camera and file name.
struct DownloadRecord
{
    QByteArray peerId;       // the P2P camera ID (< 32 bytes)
    QByteArray fileName;     // the camera's file name (< 128 bytes)
    QString target;          // the MP4 path
    uint32_t size = 0;       // the file's size as the camera listed it
    uint32_t kept = 0;       // bytes kept in "<target>.tmp" for a later start
    DownloadState state = DownloadState::Running;
    DownloadFault fault = DownloadFault::None;
    int32_t error = 0;       // errno of a failed file operation, or the library's result
    QString detail;          // the path a fault names, or the camera file kept

    bool sameFile(const QByteArray &peer, const QByteArray &file) const
    {
        return peerId == peer && fileName == file;
    }
};

// The folder an image of the file names; empty when the image is shorter
// than the record or its text is empty. The text ends at the first NUL or
// at the record's end.
QString parseDownloadDb(const QByteArray &image);
// The record for a folder: backslashes become "/", the text is cut to 255
// bytes at a character boundary.
QByteArray buildDownloadDb(const QString &folder);
// The whole file: the folder record, then the job records (the newest
// kDownloadMaxRecords of the list, which is oldest first).
QByteArray buildDownloadDb(const QString &folder, const QList<DownloadRecord> &records);
// The job records after the folder record. True for an image of exactly
// the folder record (no records) and for a well-formed tail; false when
// the tail is damaged in any way (out is then empty).
bool parseDownloadRecords(const QByteArray &image, QList<DownloadRecord> *out);
// Whether a folder text read from the file can name a folder at all: an
// absolute path of valid text, no control characters.
bool plausibleDownloadFolder(const QString &folder);
// The folder used when the file names none: "Varno/Download" in the home
// directory (the system disk).
QString defaultDownloadFolder();
// Renames a file that could not be read to "<path>.corrupt-<time>" (with
// "-n" when taken); the new name, or empty when the rename failed.
QString setDownloadDbAside(const QString &path);

} // namespace varno::playback
