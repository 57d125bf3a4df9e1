#pragma once

#include "common/mediarecords.h"

#include <QDateTime>
#include <QString>
#include <QTableWidget>

namespace varno::playback {

// What a recording was made for, from the alarm type stored with a local
// recording (0 by hand, the alarm types of common/alarmrecords.h). Camera
// files do not say.
enum class RecordingKind { Manual, Motion, Io, OtherAlarm, Unknown };
RecordingKind recordingKind(uint16_t alarmType);

// One row of the recordings table, with the values it sorts by.
struct RecordingRow
{
    QString key;             // the name the panel's file map is keyed by
    QString camera;          // the camera's name (its ID when it is not known)
    QDateTime start;         // invalid when not known
    int durationSec = -1;    // -1: not known (camera files)
    RecordingKind kind = RecordingKind::Unknown;
    qint64 size = 0;         // bytes
    bool fromCamera = false;
};

// The start of a camera file from its listed name ("190225_12:30:00.h264"
// -> 2019-02-25 12:30:00, local time); invalid when the name has another form.
QDateTime cameraFileStart(const QString &displayName);
// A row for a recording: local ones carry their start, length and alarm
// type; a camera file only its name and size.
RecordingRow recordingRow(const QString &key, const MEDIA_FILE_S &file, bool fromCamera, const QString &cameraName);
// "1:02:05" for 3725 s, "2:05" below an hour; "—" for -1.
QString durationText(int seconds);

// The results table of the playback page: camera, start, length, type,
// size and source, sortable by each column's value (times, lengths and sizes
// by their numbers, not by their text). The file-map key of each row lives in
// the hidden last column (and the row's tool tip shows the file name).
class RecordingTable : public QTableWidget
{
    Q_OBJECT

public:
    enum Column { ColCamera = 0, ColStart, ColDuration, ColType, ColSize, ColSource, ColName, ColumnCount };
    // The value a column sorts by.
    static constexpr int kSortRole = Qt::UserRole + 1;

    explicit RecordingTable(QWidget *parent = nullptr);

    // Appends rows; the table stays sorted by the user's choice of column.
    void addRows(const QList<RecordingRow> &rows);
    void clearRows();
    // The file-map key and the source of a row (-1 / empty when out of range).
    QString keyAt(int row) const;
    bool fromCameraAt(int row) const;
    static QString kindText(RecordingKind kind);

private:
    void fitColumns();
};

} // namespace varno::playback
