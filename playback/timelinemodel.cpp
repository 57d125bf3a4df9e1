#include "playback/timelinemodel.h"

#include "common/textfield.h"

#include <QDateTime>
#include <QTimeZone>

#include <algorithm>
#include <cmath>

namespace varno::playback {

int64_t TimelineModel::wallSeconds(const QDate &date, int hour, int minute, int second)
{
    return QDateTime(date, QTime(hour, minute, second), QTimeZone::utc()).toSecsSinceEpoch();
}

int64_t TimelineModel::wallSeconds(const MEDIA_TIME_S &t)
{
    const QDate date(t.year, t.month, t.day);
    if (!date.isValid() || t.hour > 23 || t.minute > 59 || t.second > 59)
        return -1;
    return wallSeconds(date, t.hour, t.minute, t.second);
}

QDate TimelineModel::dateOf(int64_t wallSeconds)
{
    return QDateTime::fromSecsSinceEpoch(wallSeconds, QTimeZone::utc()).date();
}

std::optional<int64_t> TimelineModel::cameraNameStart(const QString &rawName)
{
    // yyMMdd_hh.mm.ss
    if (rawName.size() < 15)
        return std::nullopt;
    const QString head = rawName.left(15);
    static const char kForm[] = "999999_99.99.99";
    for (int i = 0; i < 15; ++i) {
        const QChar c = head.at(i);
        if (kForm[i] == '9' ? !c.isDigit() || c.unicode() > '9' : c != QLatin1Char(kForm[i]))
            return std::nullopt;
    }
    const auto num = [&head](int at) { return head.mid(at, 2).toInt(); };
    const QDate date(2000 + num(0), num(2), num(4));
    if (!date.isValid() || num(7) > 23 || num(10) > 59 || num(13) > 59)
        return std::nullopt;
    return wallSeconds(date, num(7), num(10), num(13));
}

void TimelineModel::clear()
{
    m_files.clear();
    m_dirty.clear();
}

namespace {

void insertByStart(QList<TimelineFile> &list, TimelineFile f)
{
    auto at = std::upper_bound(list.begin(), list.end(), f.start,
                               [](int64_t s, const TimelineFile &o) { return s < o.start; });
    list.insert(at, std::move(f));
}

} // namespace

bool TimelineModel::addLocal(const QString &key, const MEDIA_FILE_S &file)
{
    TimelineFile f;
    f.camera = varno::fieldText(file.devId);
    f.key = key;
    f.source = TimelineSource::Local;
    f.start = wallSeconds(file.startTime);
    if (f.start < 0)
        return false;
    f.end = wallSeconds(file.endTime);
    if (f.end <= f.start) {
        // Still being written, or under a second: the length the library
        // counted, at least the second the file starts in.
        f.end = f.start + std::max<int64_t>(1, (int64_t(file.lengthMs) + 999) / 1000);
    }
    f.alarmType = file.alarmType;
    f.file = file;
    QList<TimelineFile> &list = m_files[f.camera];
    insertByStart(list, std::move(f));
    return true;
}

bool TimelineModel::addCamera(const QString &key, const MEDIA_FILE_S &file)
{
    const std::optional<int64_t> start = cameraNameStart(varno::fieldText(file.fileName));
    if (!start)
        return false;
    TimelineFile f;
    f.camera = varno::fieldText(file.devId);
    f.key = key;
    f.source = TimelineSource::Camera;
    f.start = *start;
    f.end = *start + kCameraFileDefaultSeconds;
    f.endKnown = false;
    f.file = file;
    m_dirty[f.camera] = true;
    QList<TimelineFile> &list = m_files[f.camera];
    insertByStart(list, std::move(f));
    return true;
}

int TimelineModel::addAll(const QMap<QString, MEDIA_FILE_S> &files, TimelineSource source)
{
    int added = 0;
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        if (source == TimelineSource::Local ? addLocal(it.key(), *it) : addCamera(it.key(), *it))
            ++added;
    return added;
}

// A camera's answer names each file's start and size, not its length. A
// camera records at a steady byte rate, so the file that fills the most of
// the time until the next one starts shows that rate (a camera that records
// without pause fills every gap); each file then lasts its size at that
// rate, never past the next start. Without two starts to go by, a file
// counts kCameraFileDefaultSeconds.
void TimelineModel::settleCameraEnds(const QString &camera) const
{
    if (!m_dirty.value(camera))
        return;
    m_dirty.remove(camera);
    auto it = m_files.find(camera);
    if (it == m_files.end())
        return;
    QList<TimelineFile *> cams;
    for (TimelineFile &f : *it)
        if (f.source == TimelineSource::Camera)
            cams.append(&f);
    const auto nextStart = [&cams](int i) -> std::optional<int64_t> {
        for (int j = i + 1; j < cams.size(); ++j)
            if (cams[j]->start > cams[i]->start)
                return cams[j]->start;
        return std::nullopt;
    };
    double byteRate = 0;   // bytes per second
    for (int i = 0; i < cams.size(); ++i)
        if (const std::optional<int64_t> next = nextStart(i); next && cams[i]->file.size > 0)
            byteRate = std::max(byteRate, double(cams[i]->file.size) / double(*next - cams[i]->start));
    for (int i = 0; i < cams.size(); ++i) {
        int64_t length = kCameraFileDefaultSeconds;
        if (byteRate > 0)
            length = std::clamp<int64_t>(int64_t(std::ceil(double(cams[i]->file.size) / byteRate)), 1,
                                         kCameraFileMaxSeconds);
        int64_t end = cams[i]->start + length;
        if (const std::optional<int64_t> next = nextStart(i))
            end = std::min(end, *next);
        cams[i]->end = end;
    }
}

QStringList TimelineModel::cameras() const
{
    QStringList out;
    for (auto it = m_files.cbegin(); it != m_files.cend(); ++it)
        if (!it->isEmpty())
            out.append(it.key());
    out.sort();
    return out;
}

QList<TimelineFile> TimelineModel::files(const QString &camera) const
{
    settleCameraEnds(camera);
    return m_files.value(camera);
}

QList<TimelineSpan> TimelineModel::spans(const QString &camera, int64_t from, int64_t to) const
{
    settleCameraEnds(camera);
    QList<TimelineSpan> out;
    const QList<TimelineFile> list = m_files.value(camera);
    for (TimelineSource source : {TimelineSource::Local, TimelineSource::Camera}) {
        QList<TimelineSpan> merged;
        for (const TimelineFile &f : list) {
            if (f.source != source)
                continue;
            // Touching or overlapping files of the same kind form one span;
            // an alarm recording stands out from the files around it.
            if (!merged.isEmpty() && merged.last().alarmType == f.alarmType && f.start <= merged.last().end) {
                merged.last().end = std::max(merged.last().end, f.end);
                continue;
            }
            merged.append({f.start, f.end, source, f.alarmType});
        }
        for (TimelineSpan s : std::as_const(merged)) {
            if (s.end <= from || s.start >= to)
                continue;
            s.start = std::max(s.start, from);
            s.end = std::min(s.end, to);
            out.append(s);
        }
    }
    return out;
}

QList<QDate> TimelineModel::days() const
{
    QList<QDate> out;
    for (auto it = m_files.cbegin(); it != m_files.cend(); ++it) {
        settleCameraEnds(it.key());
        for (const TimelineFile &f : *it)
            for (QDate d = dateOf(f.start); d.isValid() && d <= dateOf(f.end - 1); d = d.addDays(1))
                if (!out.contains(d))
                    out.append(d);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::optional<TimelineHit> TimelineModel::fileAt(const QString &camera, int64_t second,
                                                 TimelineSource preferred) const
{
    settleCameraEnds(camera);
    auto it = m_files.constFind(camera);
    if (it == m_files.cend())
        return std::nullopt;
    const TimelineFile *best = nullptr;
    for (const TimelineFile &f : *it) {
        if (f.start > second)
            break;
        if (second >= f.end)
            continue;
        // The preferred source first; within a source the file started last
        // (the newer of two that overlap).
        if (!best || (best->source != preferred) || f.source == preferred)
            best = &f;
    }
    if (!best)
        return std::nullopt;
    return TimelineHit{best, int(second - best->start)};
}

std::optional<int64_t> TimelineModel::nextRecorded(const QString &camera, int64_t second) const
{
    settleCameraEnds(camera);
    std::optional<int64_t> next;
    for (const TimelineFile &f : m_files.value(camera)) {
        if (f.end <= second)
            continue;
        const int64_t at = std::max(f.start, second);
        if (!next || at < *next)
            next = at;
    }
    return next;
}

} // namespace varno::playback
