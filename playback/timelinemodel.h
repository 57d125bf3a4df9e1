#pragma once

#include "common/mediarecords.h"

#include <QDate>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// The recordings of the playback page laid out on the wall clock: one row of
// spans per camera, built from the local filelist records and the camera's
// search answer, and the lookup "which file holds second S" behind the
// timeline's click and the synced playback. Needs no widget.
//
// Times are wall-clock seconds: the date and time a recording names (local
// records: the library's start and end; camera files: the name the camera
// made in its own local time), counted as if that wall clock were UTC. The
// count has no daylight-saving jumps, so a day is always 86,400 seconds and
// a file that runs across midnight belongs to both days.
namespace varno::playback {

// Where a recording lies.
enum class TimelineSource { Local = 0, Camera = 1 };

// One recording on the clock.
struct TimelineFile
{
    QString camera;            // device ID
    QString key;               // the name the results table lists
    TimelineSource source = TimelineSource::Local;
    int64_t start = 0;         // first second
    int64_t end = 0;           // after the last second (end > start)
    bool endKnown = true;      // false: a camera file, whose length its answer does not carry
    uint16_t alarmType = 0;    // local files: 0 manual, EVENT_ALARM_* otherwise
    MEDIA_FILE_S file{};       // the record as the search gave it
};

// A run of recordings of one camera, one source and one alarm type without
// a gap between them.
struct TimelineSpan
{
    int64_t start = 0;
    int64_t end = 0;
    TimelineSource source = TimelineSource::Local;
    uint16_t alarmType = 0;
    bool alarm() const { return alarmType != 0; }
    bool operator==(const TimelineSpan &o) const
    {
        return start == o.start && end == o.end && source == o.source && alarmType == o.alarmType;
    }
};

// The answer of fileAt(): the file and the offset of the second inside it.
struct TimelineHit
{
    const TimelineFile *file = nullptr;
    int offset = 0;            // seconds from the file's start
};

class TimelineModel
{
public:
    static constexpr int64_t kDaySeconds = 86400;
    // A camera file's length when the answer gives no rate to go by (one
    // file, or sizes of 0), and the most any is given.
    static constexpr int64_t kCameraFileDefaultSeconds = 60;
    static constexpr int64_t kCameraFileMaxSeconds = 3600;

    // Wall-clock seconds of a date and time, and back.
    static int64_t wallSeconds(const QDate &date, int hour, int minute, int second);
    static int64_t wallSeconds(const MEDIA_TIME_S &t);
    static QDate dateOf(int64_t wallSeconds);
    static int64_t dayStart(const QDate &date) { return wallSeconds(date, 0, 0, 0); }
    // Start of a camera file from the name the camera listed
    // ("yyMMdd_hh.mm.ss.h264"); nullopt when the name has another form.
    static std::optional<int64_t> cameraNameStart(const QString &rawName);

    void clear();
    // A local filelist record (as the local search returns it). A record
    // without a readable start is left out (false); one whose end is not
    // after its start (a file still being written, or shorter than a
    // second) is given its length in milliseconds or one second.
    bool addLocal(const QString &key, const MEDIA_FILE_S &file);
    // A file of a camera's search answer; false when its name holds no time.
    bool addCamera(const QString &key, const MEDIA_FILE_S &file);
    // Takes every record of a search result (key: the table's name); source
    // says which search it came from.
    int addAll(const QMap<QString, MEDIA_FILE_S> &files, TimelineSource source);

    // Cameras with at least one file, in ascending order.
    QStringList cameras() const;
    // The camera's files, ordered by start.
    QList<TimelineFile> files(const QString &camera) const;
    // Merged spans of a camera that touch [from, to), ordered by source,
    // then start; each clipped to the range.
    QList<TimelineSpan> spans(const QString &camera, int64_t from, int64_t to) const;
    QList<TimelineSpan> daySpans(const QString &camera, const QDate &day) const
    {
        return spans(camera, dayStart(day), dayStart(day) + kDaySeconds);
    }
    // Days on which the camera recorded anything.
    QList<QDate> days() const;

    // The file of the camera that holds the second. With both sources at
    // that second, preferred wins. nullopt in a gap.
    std::optional<TimelineHit> fileAt(const QString &camera, int64_t second,
                                      TimelineSource preferred = TimelineSource::Local) const;
    // The first second at or after `second` that some file of the camera
    // holds (nullopt: none follows).
    std::optional<int64_t> nextRecorded(const QString &camera, int64_t second) const;

private:
    // Camera files get their ends once their neighbours are known.
    void settleCameraEnds(const QString &camera) const;

    mutable QHash<QString, QList<TimelineFile>> m_files; // per camera, by start
    mutable QHash<QString, bool> m_dirty;
};

} // namespace varno::playback
