#include "playback/recordingtable.h"

#include "common/alarmrecords.h"
#include "common/textfield.h"
#include "common/ui/tablestyle.h"
#include "playback/recordsearch.h"

#include <QHeaderView>
#include <QLocale>

namespace varno::playback {

namespace {

QDateTime fromMediaTime(const MEDIA_TIME_S &t)
{
    const QDate date(t.year, t.month, t.day);
    const QTime time(t.hour, t.minute, t.second);
    if (t.year == 0 || !date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time);
}

// A cell that sorts by the value in kSortRole (its text otherwise).
class ValueItem : public QTableWidgetItem
{
public:
    ValueItem(const QString &text, const QVariant &value)
        : QTableWidgetItem(text, QTableWidgetItem::UserType)
    {
        setData(RecordingTable::kSortRole, value);
    }

    bool operator<(const QTableWidgetItem &other) const override
    {
        const QVariant a = data(RecordingTable::kSortRole);
        const QVariant b = other.data(RecordingTable::kSortRole);
        if (a.isValid() && b.isValid()) {
            const QPartialOrdering order = QVariant::compare(a, b);
            if (order != QPartialOrdering::Unordered)
                return order == QPartialOrdering::Less;
        }
        return text().localeAwareCompare(other.text()) < 0;
    }
};

} // namespace

RecordingKind recordingKind(uint16_t alarmType)
{
    switch (alarmType) {
    case 0: return RecordingKind::Manual;
    case EVENT_ALARM_MOTION: return RecordingKind::Motion;
    case EVENT_ALARM_IO: return RecordingKind::Io;
    default: return RecordingKind::OtherAlarm;
    }
}

QDateTime cameraFileStart(const QString &displayName)
{
    // "yyMMdd_hh:mm:ss" and a suffix.
    const QString stamp = displayName.left(15);
    const QDateTime t = QDateTime::fromString(stamp, QStringLiteral("yyMMdd_hh:mm:ss"));
    if (!t.isValid())
        return {};
    // Two-digit years are this century's.
    return t.addYears(t.date().year() < 2000 ? 100 : 0);
}

RecordingRow recordingRow(const QString &key, const MEDIA_FILE_S &file, bool fromCamera, const QString &cameraName)
{
    RecordingRow row;
    row.key = key;
    row.camera = cameraName.isEmpty() ? varno::fieldText(file.devId) : cameraName;
    row.size = qint64(file.size);
    row.fromCamera = fromCamera;
    if (fromCamera) {
        row.start = cameraFileStart(key);
        return row;
    }
    row.start = fromMediaTime(file.startTime);
    row.kind = recordingKind(file.alarmType);
    if (file.lengthMs > 0) {
        row.durationSec = int((file.lengthMs + 500) / 1000);
    } else {
        const QDateTime end = fromMediaTime(file.endTime);
        if (row.start.isValid() && end.isValid() && end >= row.start)
            row.durationSec = int(row.start.secsTo(end));
    }
    return row;
}

QString durationText(int seconds)
{
    if (seconds < 0)
        return QStringLiteral("\u2014");
    if (seconds >= 3600)
        return QString::asprintf("%d:%02d:%02d", seconds / 3600, seconds / 60 % 60, seconds % 60);
    return QString::asprintf("%d:%02d", seconds / 60, seconds % 60);
}

RecordingTable::RecordingTable(QWidget *parent)
    : QTableWidget(0, ColumnCount, parent)
{
    setObjectName(QStringLiteral("tableWidget"));
    setStyleSheet(QString::fromLatin1(varno::ui::kTableStyle));
    setHorizontalHeaderLabels(
        {tr("Camera"), tr("Start"), tr("Length"), tr("Type"), tr("Size (MB)"), tr("Source"), tr("File name")});
    setColumnHidden(ColName, true);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setSortIndicatorShown(true);
    verticalHeader()->setVisible(false);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setWordWrap(false);
    sortItems(ColStart, Qt::AscendingOrder);
    setSortingEnabled(true);
    fitColumns();
}

QString RecordingTable::kindText(RecordingKind kind)
{
    switch (kind) {
    case RecordingKind::Manual: return tr("Manual");
    case RecordingKind::Motion: return tr("Motion");
    case RecordingKind::Io: return tr("IO alarm");
    case RecordingKind::OtherAlarm: return tr("Other alarm");
    case RecordingKind::Unknown: break;
    }
    return QStringLiteral("\u2014");
}

void RecordingTable::addRows(const QList<RecordingRow> &rows)
{
    // Sorting is off while rows go in (the rows would move under the insert).
    setSortingEnabled(false);
    const QLocale locale;
    const QString form = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    for (const RecordingRow &r : rows) {
        const int at = rowCount();
        insertRow(at);
        auto *camera = new ValueItem(r.camera, r.camera.toLower());
        auto *start = new ValueItem(r.start.isValid() ? r.start.toString(form) : QStringLiteral("\u2014"),
                                    r.start.isValid() ? r.start.toSecsSinceEpoch() : qint64(-1));
        auto *length = new ValueItem(durationText(r.durationSec), r.durationSec);
        auto *type = new ValueItem(kindText(r.kind), int(r.kind));
        auto *size = new ValueItem(locale.toString(double(r.size) / (1024.0 * 1024.0), 'f', 2), r.size);
        auto *source = new ValueItem(r.fromCamera ? tr("Camera") : tr("PC"), r.fromCamera ? 1 : 0);
        source->setData(Qt::UserRole, r.fromCamera ? 1 : 0);
        auto *name = new QTableWidgetItem(r.key);
        for (QTableWidgetItem *item : {length, type, size, source})
            item->setTextAlignment(Qt::AlignCenter);
        size->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        for (QTableWidgetItem *item : {static_cast<QTableWidgetItem *>(camera), static_cast<QTableWidgetItem *>(start),
                                       static_cast<QTableWidgetItem *>(length), static_cast<QTableWidgetItem *>(type),
                                       static_cast<QTableWidgetItem *>(size), static_cast<QTableWidgetItem *>(source)})
            item->setToolTip(r.key);
        setItem(at, ColCamera, camera);
        setItem(at, ColStart, start);
        setItem(at, ColDuration, length);
        setItem(at, ColType, type);
        setItem(at, ColSize, size);
        setItem(at, ColSource, source);
        setItem(at, ColName, name);
    }
    setSortingEnabled(true);
    fitColumns();
}

void RecordingTable::clearRows()
{
    setRowCount(0);
}

QString RecordingTable::keyAt(int row) const
{
    const QTableWidgetItem *name = item(row, ColName);
    return name ? name->text() : QString();
}

bool RecordingTable::fromCameraAt(int row) const
{
    const QTableWidgetItem *source = item(row, ColSource);
    return source && source->data(Qt::UserRole).toInt() != 0;
}

void RecordingTable::fitColumns()
{
    // Each column as wide as its header and its widest cell, so that no
    // header (the German ones are longer) and no time is cut.
    for (int c = 0; c < ColName; ++c)
        resizeColumnToContents(c);
}

} // namespace varno::playback
