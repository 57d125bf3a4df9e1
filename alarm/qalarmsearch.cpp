#include "alarm/qalarmsearch.h"
#include "ui_qalarmsearch.h"

#include "alarm/alarmsearchcontroller.h"
#include "common/logfile.h"
#include "common/p2precords.h"
#include "common/textfield.h"
#include "common/ui/dialogframe.h"
#include "common/ui/infobox.h"
#include "common/ui/pendingjob.h"
#include "common/uithread.h"

#include <QDateTimeEdit>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QShowEvent>
#include <QHideEvent>
#include <QTableWidgetItem>

#include <cstring>

namespace {

QByteArray text8(const QString &s)
{
    return s.toUtf8();
}

bool sameEntry(const AlarmDevInfo &a, const DeviceInfo_s &d)
{
    return std::strncmp(a.devName, d.devName, sizeof a.devName) == 0
        && std::strncmp(a.password, d.password, sizeof a.password) == 0
        && std::strncmp(a.p2pId, d.p2pId, sizeof a.p2pId) == 0
        && std::strncmp(a.serviceAddr, d.serviceAddr, sizeof a.serviceAddr) == 0;
}

void copyEntry(AlarmDevInfo &a, const DeviceInfo_s &d)
{
    a.p2pFlag = d.p2pFlag;
    varno::setText(a.devName, varno::fieldText(d.devName));
    varno::setText(a.password, varno::fieldText(d.password));
    varno::setText(a.p2pId, varno::fieldText(d.p2pId));
    varno::setText(a.serviceAddr, varno::fieldText(d.serviceAddr));
}

// Once a fixed-width section is full the edit moves on to the next one by
// itself; the separator typed next ("13:00:00") would move on once more and
// the minutes typed after it would land in the seconds. A separator typed
// just behind the very same separator is therefore taken as already passed.
class TypedSeparatorFilter : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        auto *edit = qobject_cast<QDateTimeEdit *>(watched);
        const QString typed = static_cast<QKeyEvent *>(event)->text();
        if (!edit || typed.size() != 1 || typed.at(0).isDigit() || !typed.at(0).isPrint())
            return false;
        const QLineEdit *line = edit->findChild<QLineEdit *>();
        if (!line)
            return false;
        const int pos = line->hasSelectedText() ? line->selectionStart() : line->cursorPosition();
        return pos > 0 && pos <= line->text().size() && line->text().at(pos - 1) == typed.at(0);
    }
};

} // namespace

QAlarmSearch::QAlarmSearch(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::QAlarmSearch)
    , m_clock([] { return QDateTime::currentDateTime(); })
    , m_search(new varno::alarm::AlarmSearchController(this))
{
    ui->setupUi(this);
    varno::ui::makeFramelessDialog(this, ui->titleFrame, ui->closeButton);
    ui->closeButton->setToolTip(tr("Close"));
    ui->searchButton->setProperty("primary", true);

    QTableWidget *t = ui->tableWidget;
    t->setColumnCount(4);
    t->setHorizontalHeaderLabels({tr("No."), tr("Device ID"), tr("Time"), tr("Alarm Type")});
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->verticalHeader()->setVisible(false);
    t->horizontalHeader()->setStretchLastSection(true);
    t->setColumnWidth(0, 70);
    t->setColumnWidth(1, 160);
    t->setColumnWidth(2, 200);

    ui->startDateTimeEdit->setDisplayFormat(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    ui->endDateTimeEdit->setDisplayFormat(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    auto *typing = new TypedSeparatorFilter(this);
    ui->startDateTimeEdit->installEventFilter(typing);
    ui->endDateTimeEdit->installEventFilter(typing);
    resetRange();

    connect(m_search, &varno::alarm::AlarmSearchController::searchDone, this, [this](QList<AlarmRecord_s> records) {
        showSearching(false);
        fillTable(records);
    });
    connect(m_search, &varno::alarm::AlarmSearchController::searchFailed, this, [this] {
        showSearching(false);
        varno::ui::InfoBox(this, tr("Alarm Log"), tr("Failed to query the alarm log on the device video."));
    });
    connect(m_search, &varno::alarm::AlarmSearchController::passwordRefused, this, [this] {
        showSearching(false);
        varno::ui::InfoBox(this, tr("Alarm Log"), tr("Camera password is incorrect, please input the correct password"));
        search(true, ui->startDateTimeEdit->dateTime().toSecsSinceEpoch(),
               ui->endDateTimeEdit->dateTime().toSecsSinceEpoch());
    });
    connect(m_search, &varno::alarm::AlarmSearchController::timedOut, this, [this] {
        showSearching(false);
        varno::ui::InfoBox(this, tr("Alarm Log"), tr("The device did not answer, please search again."));
    });

    // Camera updates come from the probing thread too: the combo box is
    // kept on the user-interface thread.
    connect(this, &QAlarmSearch::SendUpdateDeviceComboBox, this, &QAlarmSearch::RecvUpdateDeviceComboBox);
    connect(this, &QAlarmSearch::SendReplaceDeviceComboBox, this, &QAlarmSearch::RecvReplaceDeviceComboBox);
}

QAlarmSearch::~QAlarmSearch()
{
    // The worker is joined before the widgets go.
    delete m_search;
    delete ui;
}

bool QAlarmSearch::isSyncing() const
{
    return m_search->isSyncing();
}

void QAlarmSearch::showSearching(bool on)
{
    varno::ui::showPending(ui->searchButton, on, tr("Searching the alarm log..."));
}

void QAlarmSearch::hideEvent(QHideEvent *event)
{
    // Closed (not minimised): the search in progress is given up.
    if (!event->spontaneous() && m_search->isSyncing()) {
        m_search->cancel();
        showSearching(false);
    }
    QDialog::hideEvent(event);
}

void QAlarmSearch::setClock(Clock clock)
{
    m_clock = clock ? std::move(clock) : Clock([] { return QDateTime::currentDateTime(); });
}

void QAlarmSearch::resetRange()
{
    const QDateTime now = m_clock();
    ui->startDateTimeEdit->setDateTime(now.addSecs(-86400));
    ui->endDateTimeEdit->setDateTime(now);
}

void QAlarmSearch::showEvent(QShowEvent *event)
{
    // The window is built at login and kept: each opening searches the day
    // up to that moment.
    if (!event->spontaneous())
        resetRange();
    QDialog::showEvent(event);
}

void QAlarmSearch::setSyncTimeoutMs(int ms)
{
    m_search->setSyncTimeoutMs(ms > 0 ? ms : kDefaultSyncTimeoutMs);
}

void QAlarmSearch::setRange(const QDateTime &start, const QDateTime &end)
{
    ui->startDateTimeEdit->setDateTime(start);
    ui->endDateTimeEdit->setDateTime(end);
}

bool QAlarmSearch::deviceEntry(const QString &devId, AlarmDevInfo *out) const
{
    std::lock_guard<std::mutex> lock(m_hashMutex);
    auto it = m_urlHash.constFind(devId);
    if (it == m_urlHash.cend())
        return false;
    if (out)
        *out = it.value();
    return true;
}

QString QAlarmSearch::cellText(int row, int column) const
{
    const QTableWidgetItem *item = ui->tableWidget->item(row, column);
    return item ? item->text() : QString();
}

int QAlarmSearch::rowCount() const
{
    return ui->tableWidget->rowCount();
}

void QAlarmSearch::selectDevice(const QString &name)
{
    ui->deviceComboBox->setCurrentIndex(ui->deviceComboBox->findText(name));
}

QString QAlarmSearch::alarmTypeName(int32_t type)
{
    switch (type) {
    case 1:
        return tr("External sensor alarm");
    case 2:
        return tr("Motion detect alarm");
    case 11:
        return tr("IO Alarm");
    case 12:
        return tr("Video block alarm");
    case 31:
        return tr("Human detect alarm");
    case 32:
        return tr("Motion detection (fallback)");
    default:
        WriteLog(3, "Unknow alarm type(%d)!!!", type);
        return tr("Other alarm");
    }
}

// ---------------------------------------------------------------------------
// Camera list

void QAlarmSearch::UpdateAlarmDevice(DvrListInfo_s info)
{
    const QString key = varno::fieldText(info.dev.devId);
    if (key.isEmpty())
        return;
    const QByteArray id = text8(key);
    QString oldName;
    bool inserted = false;
    const QString newName = varno::fieldText(info.dev.devName);
    {
        std::lock_guard<std::mutex> lock(m_hashMutex);
        auto it = m_urlHash.find(key);
        if (it != m_urlHash.end()) {
            if (sameEntry(it.value(), info.dev)) {
                WriteLog(0, "[ALARM]Device(%s) info is same!!!", id.constData());
                return;
            }
            oldName = varno::fieldText(it->devName);
            copyEntry(it.value(), info.dev);
        } else {
            AlarmDevInfo entry;
            std::memset(&entry, 0, sizeof entry);
            copyEntry(entry, info.dev);
            m_urlHash.insert(key, entry);
            inserted = true;
        }
    }
    if (inserted) {
        WriteLog(0, "[ALARM]Insert device(%s) to urlHash!!!", id.constData());
        emit SendUpdateDeviceComboBox(newName);
        return;
    }
    emit SendReplaceDeviceComboBox(oldName, newName);
}

void QAlarmSearch::RecvUpdateDeviceComboBox(QString name)
{
    const QByteArray n = text8(name);
    if (m_nameList.contains(name)) {
        WriteLog(3, "%s(%d):List has contained(%s)!!!", "QAlarmSearch::RecvUpdateDeviceComboBox", __LINE__,
                 n.constData());
        return;
    }
    m_nameList.append(name);
    ui->deviceComboBox->addItem(name);
    WriteLog(0, "[ALARM]Push device(%s) to nameList!!!", n.constData());
}

void QAlarmSearch::RecvReplaceDeviceComboBox(QString src, QString dst)
{
    const int i = m_nameList.indexOf(src);
    if (i < 0) {
        WriteLog(3, "%s(%d):List has not contained(%s)!!!", "QAlarmSearch::RecvReplaceDeviceComboBox", __LINE__,
                 text8(src).constData());
        return;
    }
    m_nameList[i] = dst;
    const int c = ui->deviceComboBox->findText(src);
    if (c >= 0)
        ui->deviceComboBox->setItemText(c, dst);
    WriteLog(0, "[ALARM]Replace srcname(%s), dstname(%s)!!!", text8(src).constData(), text8(dst).constData());
}

void QAlarmSearch::recvDelDevInfo(QString devId)
{
    const QByteArray id = text8(devId);
    QString name;
    bool found = false;
    {
        std::lock_guard<std::mutex> lock(m_hashMutex);
        auto it = m_urlHash.find(devId);
        if (it != m_urlHash.end()) {
            name = varno::fieldText(it->devName);
            m_urlHash.erase(it);
            found = true;
        }
    }
    if (!found) {
        WriteLog(3, "%s(%d):Hash has not contained(%s)!!!", "QAlarmSearch::recvDelDevInfo", __LINE__, id.constData());
        return;
    }
    const int i = m_nameList.indexOf(name);
    if (i < 0) {
        WriteLog(3, "%s(%d):List has not contained(%s)!!!", "QAlarmSearch::recvDelDevInfo", __LINE__,
                 text8(name).constData());
        return;
    }
    m_nameList.removeAt(i);
    const int c = ui->deviceComboBox->findText(name);
    if (c >= 0)
        ui->deviceComboBox->removeItem(c);
    WriteLog(0, "[ALARM]Delete device(%s) from nameList!!!", text8(name).constData());
}

// ---------------------------------------------------------------------------
// Search

void QAlarmSearch::on_closeButton_clicked()
{
    close();
}

void QAlarmSearch::on_searchButton_clicked()
{
    VARNO_ASSERT_UI_THREAD();
    if (m_search->isSyncing()) {
        WriteLog(3, "%s(%d):Has been sync!!!", "QAlarmSearch::on_searchButton_clicked", __LINE__);
        return;
    }
    const qint64 start = ui->startDateTimeEdit->dateTime().toSecsSinceEpoch();
    const qint64 end = ui->endDateTimeEdit->dateTime().toSecsSinceEpoch();
    const qint64 now = m_clock().toSecsSinceEpoch();
    if (start > end) {
        WriteLog(3, "%s(%d):Start time(%d) can not later than end time(%d)!!!", "QAlarmSearch::on_searchButton_clicked",
                 __LINE__, int(start), int(end));
        varno::ui::InfoBox(this, tr("Alarm Log"), tr("Start time can not later than the end of time!"));
        return;
    }
    // The limit counts from now back to the start, not the range's length.
    if (now - start >= kMaxSearchAgeSecs) {
        WriteLog(3, "%s(%d):Search time(%d) can not longer than 7 days(%d)!!!", "QAlarmSearch::on_searchButton_clicked",
                 __LINE__, int(start), int(now));
        varno::ui::InfoBox(this, tr("Alarm Log"), tr("Search time can not longer than 7 days!"));
        return;
    }
    ui->tableWidget->setRowCount(0);
    search(false, start, end);
}

void QAlarmSearch::search(bool askAgain, qint64 start, qint64 end)
{
    WriteLog(0, "[ALARM]Search log, start time(%d), end time(%d)!!!", int(start), int(end));
    const QString name = ui->deviceComboBox->currentText();
    if (name.isEmpty()) {
        WriteLog(3, "%s(%d):Has not select any device!!!", "QAlarmSearch::search", __LINE__);
        varno::ui::InfoBox(this, tr("Alarm Log"), tr("Please select a device!"));
        return;
    }
    QString key;
    AlarmDevInfo entry;
    std::memset(&entry, 0, sizeof entry);
    {
        std::lock_guard<std::mutex> lock(m_hashMutex);
        for (auto it = m_urlHash.cbegin(); it != m_urlHash.cend(); ++it)
            if (varno::fieldText(it->devName) == name) {
                key = it.key();
                entry = it.value();
                break;
            }
    }
    WriteLog(0, "[ALARM]Find device(%s) from urlHash!!!", text8(name).constData());
    if (key.isEmpty()) {
        WriteLog(0, "[ALARM]Can't find device(%s)!!!", text8(name).constData());
        return;
    }
    const QByteArray id = text8(key);
    if (entry.p2pFlag == 0) {
        WriteLog(3, "%s(%d):It's not our device!!!", "QAlarmSearch::search", __LINE__);
        varno::ui::InfoBox(this, tr("Alarm Log"), tr("Failed to query the alarm log on the device video."));
        return;
    }
    if (entry.password[0] == 0 || askAgain) {
        if (entry.password[0] == 0) {
            WriteLog(0, "[ALARM]Device(%s) has not password!!!", id.constData());
            varno::ui::InfoBox(this, tr("Alarm Log"), tr("Camera password not provided,please input."));
        }
        varno::ui::PromptRequest request;
        request.kind = varno::ui::PromptKind::Password;
        request.title = tr("Alarm Log");
        request.text = name;
        request.parent = this;
        const varno::ui::PromptAnswer answer = varno::ui::prompt(request);
        const QByteArray password =
            answer.button == QMessageBox::Ok ? answer.text.toUtf8().left(sizeof entry.password - 1) : QByteArray();
        if (password.isEmpty()) {
            WriteLog(3, "%s(%d):Device(%s) has not set password!!!", "QAlarmSearch::search", __LINE__, id.constData());
            return;
        }
        varno::setText(entry.password, password);
        {
            std::lock_guard<std::mutex> lock(m_hashMutex);
            auto it = m_urlHash.find(key);
            if (it != m_urlHash.end())
                varno::setText(it->password, password);
        }
        DeviceInfo_s dev;
        std::memset(&dev, 0, sizeof dev);
        varno::setText(dev.devId, id);
        varno::setText(dev.devName, varno::fieldText(entry.devName));
        dev.p2pFlag = 1;
        varno::setText(dev.password, password);
        varno::setText(dev.p2pId, varno::fieldText(entry.p2pId));
        dev.streamType = -1;   // no stream choice in this record
        emit sendDevProperty(dev);
    }

    if (m_search->search(key, text8(varno::fieldText(entry.p2pId)),
                         QByteArray(entry.password, int(varno::textLength(entry.password))), start, end))
        showSearching(true);
}

// ---------------------------------------------------------------------------
// Replies

void QAlarmSearch::recvP2pMessage(P2pMessage_S message)
{
    m_search->takeReply(message);
}

void QAlarmSearch::fillTable(const QList<AlarmRecord_s> &records)
{
    if (records.isEmpty()) {
        WriteLog(3, "%s(%d):Device has no alarm log!!!", "QAlarmSearch::fillTable", __LINE__);
        varno::ui::InfoBox(this, tr("Alarm Log"), tr("Device has no alarm log !"));
        return;
    }
    QTableWidget *t = ui->tableWidget;
    t->setRowCount(0);
    QString devId;
    for (const AlarmRecord_s &r : records) {
        const int row = t->rowCount();
        t->insertRow(row);
        devId = varno::fieldText(r.devId);
        const QDateTime when = QDateTime::fromSecsSinceEpoch(r.item.time);
        const QString cells[4] = {QString::asprintf("%d", row + 1), devId,
                                  when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
                                  alarmTypeName(r.item.type)};
        for (int c = 0; c < 4; ++c) {
            auto *item = new QTableWidgetItem(cells[c]);
            item->setTextAlignment(Qt::AlignCenter);
            t->setItem(row, c, item);
        }
    }
    WriteLog(0, "[ALARM]Device(%s) Insert(%d) alarm log success!!!", text8(devId).constData(), t->rowCount());
}
