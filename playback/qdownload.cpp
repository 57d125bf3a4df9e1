#include "playback/qdownload.h"

#include "common/installdir.h"
#include "common/logfile.h"
#include "common/textfield.h"
#include "common/uithread.h"
#include "common/ui/infobox.h"
#include "playback/cfiledownload.h"
#include "playback/downloadcontroller.h"
#include "playback/downloadfolder.h"
#include "playback/recordsearch.h"
#include "playback/storageaccess.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <cstring>

using varno::playback::DownloadFault;
using varno::playback::DownloadRecord;
using varno::playback::DownloadState;

namespace {

QByteArray cameraFileName(const MEDIA_FILE_S &file)
{
    return QByteArray(file.fileName, int(::strnlen(file.fileName, sizeof(file.fileName))));
}

// The download list's record of a job: which file of which camera, where it
// goes, its size and the bytes kept so far.
DownloadRecord recordOf(const QDownload::DownloadJob &job, uint32_t kept)
{
    DownloadRecord record;
    record.peerId = job.peerId;
    record.fileName = cameraFileName(job.file);
    record.target = job.targetPath;
    record.size = job.size;
    record.kept = kept;
    return record;
}

} // namespace

QDownload::QDownload(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("QDownload"));
    setWindowTitle(tr("Download Recordings"));
    resize(600, 420);
    auto *layout = new QVBoxLayout(this);
    m_table = new QTableWidget(0, ColumnCount, this);
    m_table->setObjectName(QStringLiteral("tableWidget"));
    m_table->setHorizontalHeaderLabels({QString(), tr("No."), tr("Size(MB)"), tr("File name"), tr("Progress"),
                                        QString()});
    // At least as wide as the header's text (the German ones are longer).
    const int widths[ColumnCount] = {20, 40, 70, 340, 70, 10};
    for (int c = 0; c < ColumnCount; ++c)
        m_table->setColumnWidth(c, qMax(widths[c], m_table->horizontalHeader()->sectionSizeHint(c)));
    m_table->horizontalHeader()->setSectionResizeMode(ColName, QHeaderView::Stretch);
    m_table->verticalHeader()->setVisible(false);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    layout->addWidget(m_table, 1);

    auto *pathRow = new QHBoxLayout;
    m_checkAll = new QCheckBox(tr("All"), this);
    m_checkAll->setObjectName(QStringLiteral("checkAllCBox"));
    m_pathLabel = new QLabel(tr("Save to folder:"), this);
    m_pathLabel->setObjectName(QStringLiteral("pathLabel"));
    m_pathEdit = new QLineEdit(this);
    m_pathEdit->setObjectName(QStringLiteral("pathEdit"));
    m_pathEdit->setReadOnly(true);
    m_browse = new QPushButton(tr("Browse"), this);
    m_browse->setObjectName(QStringLiteral("browseButton"));
    pathRow->addWidget(m_checkAll);
    pathRow->addWidget(m_pathLabel);
    pathRow->addWidget(m_pathEdit, 1);
    pathRow->addWidget(m_browse);
    layout->addLayout(pathRow);

    auto *buttons = new QHBoxLayout;
    m_start = new QPushButton(tr("Start"), this);
    m_start->setObjectName(QStringLiteral("startButton"));
    m_stop = new QPushButton(tr("Stop"), this);
    m_stop->setObjectName(QStringLiteral("stopButton"));
    m_close = new QPushButton(tr("Close"), this);
    m_close->setObjectName(QStringLiteral("closeButton"));
    buttons->addStretch(1);
    buttons->addWidget(m_start);
    buttons->addWidget(m_stop);
    buttons->addWidget(m_close);
    layout->addLayout(buttons);

    m_controller = new varno::playback::DownloadController(this);
    connect(m_controller, &varno::playback::DownloadController::started, this, &QDownload::jobStarted);
    connect(m_controller, &varno::playback::DownloadController::progress, this, &QDownload::RecvProgress);
    connect(m_controller, &varno::playback::DownloadController::ended, this, &QDownload::jobEnded);
    connect(this, &QDownload::SendStartDownloadSignal, this, &QDownload::RecvStartDownloadSlot, Qt::QueuedConnection);
    connect(this, &QDownload::SendSelectRow, this, &QDownload::RecvSelectRow);
    connect(this, &QDownload::SendProgress, this, &QDownload::RecvProgress, Qt::QueuedConnection);
    QMetaObject::connectSlotsByName(this);

    GetDownloadPath();
    SaveDownloadPath();
    m_pathEdit->setText(m_folder);
}

QDownload::~QDownload()
{
    // The page or the window closes: the download that runs is stopped and
    // the controller's thread joined; its end is written down here, because
    // its answer will not come any more.
    if (auto last = m_controller->shutdown()) {
        DownloadJob job;
        if (takeJob(last->first, &job))
            recordEnd(job, last->second);
    }
}

QProgressBar *QDownload::progressBar(int row) const
{
    return qobject_cast<QProgressBar *>(m_table->cellWidget(row, ColProgress));
}

QByteArray QDownload::peerPassword() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_peerPw;
}

int QDownload::jobCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_jobs.size();
}

void QDownload::setDownloadFolder(const QString &folder)
{
    m_folder = folder;
    m_pathEdit->setText(folder);
    SaveDownloadPath();
}

// The folder and the downloads' states. A file that cannot be read whole
// (unreadable, not a file, too short, a folder that is no path, damaged
// records) is set aside and never written over; the folder it names is
// taken only when it exists or can be made. Otherwise the default.
int QDownload::GetDownloadPath()
{
    using namespace varno::playback;
    m_dbPath = QString::fromStdString(varno::installDir()) + QStringLiteral("/download.db");
    m_folder = defaultDownloadFolder();
    m_records.clear();
    m_dbWritable = true;
    const QFileInfo info(m_dbPath);
    if (!info.exists() && !info.isSymLink())
        return 0;
    const qint64 largest = kDownloadDbSize + 8 + qint64(kDownloadMaxRecords) * kDownloadRecordSize;
    QFile file(m_dbPath);
    QByteArray image;
    bool damaged = !info.isFile() || info.size() > largest || !file.open(QIODevice::ReadOnly);
    int err = damaged ? errno : 0;
    if (!damaged) {
        image = file.read(largest + 1);
        damaged = file.error() != QFileDevice::NoError || image.size() > largest;
    }
    QString folder;
    if (!damaged && !image.isEmpty()) {
        folder = parseDownloadDb(image);
        if (image.size() < kDownloadDbSize || (!folder.isEmpty() && !plausibleDownloadFolder(folder))) {
            damaged = true;
            folder.clear();
        }
        // Damaged records cost the states, not the folder before them.
        if (!parseDownloadRecords(image, &m_records))
            damaged = true;
    }
    if (damaged) {
        const QString aside = setDownloadDbAside(m_dbPath);
        if (aside.isEmpty()) {
            err = errno;
            m_dbWritable = false;
            WriteLog(2, "%s(%d):File(%s) cannot be read nor set aside, left as it is, ret(%d)!!!",
                     "QDownload::GetDownloadPath", __LINE__, m_dbPath.toUtf8().constData(), err);
        } else {
            WriteLog(2, "%s(%d):File(%s) cannot be read, set aside as (%s), ret(%d)!!!", "QDownload::GetDownloadPath",
                     __LINE__, m_dbPath.toUtf8().constData(), aside.toUtf8().constData(), err);
        }
        if (folder.isEmpty())
            WriteLog(3, "%s(%d):No download folder read, default(%s) taken!!!", "QDownload::GetDownloadPath",
                     __LINE__, m_folder.toUtf8().constData());
    }
    if (!folder.isEmpty()) {
        if (QFileInfo(folder).isDir() || QDir().mkpath(folder))
            m_folder = folder;
        else
            WriteLog(3, "%s(%d):Download folder(%s) cannot be made, default(%s) taken!!!",
                     "QDownload::GetDownloadPath", __LINE__, folder.toUtf8().constData(),
                     m_folder.toUtf8().constData());
    }
    // A download that was running when the client ended stopped there.
    for (DownloadRecord &r : m_records)
        if (r.state == DownloadState::Running)
            r.state = DownloadState::Stopped;
    return 0;
}

int QDownload::SaveDownloadPath()
{
    m_folder.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!m_folder.isEmpty())
        QDir().mkpath(m_folder);
    if (!m_dbWritable)
        return -1;
    QSaveFile file(m_dbPath);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly)) {
        WriteLog(2, "%s(%d):Open file(%s) failed, ret(%d)!!!", "QDownload::SaveDownloadPath", __LINE__,
                 m_dbPath.toUtf8().constData(), errno);
        return -1;
    }
    file.write(varno::playback::buildDownloadDb(m_folder, m_records));
    if (!file.commit()) {
        WriteLog(2, "%s(%d):Write file(%s) failed, ret(%d)!!!", "QDownload::SaveDownloadPath", __LINE__,
                 m_dbPath.toUtf8().constData(), errno);
        return -1;
    }
    return 0;
}

QString QDownload::stateText(const DownloadRecord &r)
{
    switch (r.state) {
    case DownloadState::Running:
        return r.size ? QString::number(qMin<quint64>(quint64(r.kept) * 100 / r.size, 99)) + QLatin1Char('%')
                      : QStringLiteral("0%");
    case DownloadState::Stopped:
        return tr("Stopped");
    case DownloadState::Finished:
        return tr("Finished");
    case DownloadState::Failed:
        break;
    }
    const QString cause = QString::fromLocal8Bit(std::strerror(r.error));
    QString reason;
    switch (r.fault) {
    case DownloadFault::NoData: reason = tr("no data from the camera"); break;
    case DownloadFault::CameraSilent: reason = tr("the camera stopped sending"); break;
    case DownloadFault::CreateFailed: reason = tr("cannot create %1 (%2)").arg(r.detail, cause); break;
    case DownloadFault::WriteFailed: reason = tr("cannot write %1 (%2)").arg(r.detail, cause); break;
    case DownloadFault::BadData: reason = tr("the camera sent the file out of order"); break;
    case DownloadFault::ConvertFailed: reason = tr("conversion to MP4 failed, camera file kept as %1").arg(r.detail); break;
    case DownloadFault::StartFailed: reason = tr("the camera did not start the download (%1)").arg(r.error); break;
    case DownloadFault::Busy: reason = tr("an earlier download of this file is still ending"); break;
    case DownloadFault::None: reason = tr("unknown"); break;
    }
    return tr("Failed: %1").arg(reason);
}

int QDownload::recordIndex(const QByteArray &peerId, const QByteArray &fileName) const
{
    for (int i = int(m_records.size()) - 1; i >= 0; --i)
        if (m_records[i].sameFile(peerId, fileName))
            return i;
    return -1;
}

// The newest state of a file replaces the older one and goes last; the
// oldest records go beyond the file's bound.
void QDownload::noteRecord(const DownloadRecord &record)
{
    VARNO_ASSERT_UI_THREAD();
    const int old = recordIndex(record.peerId, record.fileName);
    if (old >= 0)
        m_records.removeAt(old);
    m_records.append(record);
    while (m_records.size() > varno::playback::kDownloadMaxRecords)
        m_records.removeFirst();
    SaveDownloadPath();
}

void QDownload::showRecord(int row, const DownloadRecord &record)
{
    QProgressBar *bar = progressBar(row);
    if (!bar)
        return;
    int percent = 0;
    if (record.state == DownloadState::Finished)
        percent = 100;
    else if (record.size > 0)
        percent = int(qMin<quint64>(quint64(record.kept) * 100 / record.size, 99));
    bar->setValue(percent);
    const QString text = stateText(record);
    // The bar's format reads "%p", "%v" and "%m" as place holders: a "%"
    // of a path is kept from them by a zero-width space.
    QString format = text;
    bar->setFormat(format.replace(QLatin1Char('%'), QStringLiteral("%\u200B")));
    bar->setToolTip(text);
}

// Where a file continues: the bytes "<target>.tmp" holds when the last
// transfer of this very file (camera, name, size, target) did not finish.
uint32_t QDownload::resumeOffset(const DownloadJob &job) const
{
    const int i = recordIndex(job.peerId, cameraFileName(job.file));
    if (i < 0)
        return 0;
    const DownloadRecord &r = m_records[i];
    const QFileInfo tmp(job.targetPath + QStringLiteral(".tmp"));
    if (r.state == DownloadState::Finished || r.target != job.targetPath || r.size != job.size || !tmp.isFile())
        return 0;
    const qint64 limit = job.size ? qint64(job.size) : qint64(0xffffffffu);
    return uint32_t(qMin(tmp.size(), limit));
}

void QDownload::on_browseButton_clicked()
{
    const QString dir = QFileDialog::getExistingDirectory(this, tr("Choose a Target Directory"), m_folder);
    if (dir.isEmpty())
        return;
    setDownloadFolder(dir);
}

void QDownload::updateDevInfo(const DeviceInfo_s &info)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_peerId.isEmpty() && m_peerId == varno::fieldText(info.p2pId).toUtf8().left(31))
        m_peerPw = varno::fieldText(info.password).toUtf8().left(63);
}

void QDownload::updateTabelWidget(QByteArray peerId, QByteArray peerPw, QMap<QString, MEDIA_FILE_S> mediafileMap)
{
    if (!m_idle)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_peerId = peerId.left(31);
        m_peerPw = peerPw.left(63);
    }
    m_map = mediafileMap;
    QStringList listed;
    for (int r = 0; r < m_table->rowCount(); ++r)
        if (QTableWidgetItem *item = m_table->item(r, ColName))
            listed.append(item->text());
    for (auto it = m_map.cbegin(); it != m_map.cend(); ++it) {
        if (listed.contains(it.key()))
            continue;
        const int row = m_table->rowCount();
        m_table->insertRow(row);
        auto *check = new QTableWidgetItem;
        check->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
        check->setCheckState(Qt::Unchecked);
        m_table->setItem(row, ColCheck, check);
        auto *no = new QTableWidgetItem(QString::asprintf("%d", row + 1));
        no->setTextAlignment(Qt::AlignCenter);
        m_table->setItem(row, ColNo, no);
        auto *size = new QTableWidgetItem(varno::playback::sizeText(it->size));
        size->setTextAlignment(Qt::AlignCenter);
        m_table->setItem(row, ColSize, size);
        m_table->setItem(row, ColName, new QTableWidgetItem(it.key()));
        auto *bar = new QProgressBar(m_table);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setFormat(QString());
        bar->setAlignment(Qt::AlignCenter);
        m_table->setCellWidget(row, ColProgress, bar);
        const int known = recordIndex(m_peerId, cameraFileName(it.value()));
        if (known >= 0)
            showRecord(row, m_records[known]);
    }
}

void QDownload::on_checkAllCBox_stateChanged(int checked)
{
    if (checked == 1)
        return;
    for (int r = 0; r < m_table->rowCount(); ++r)
        if (QTableWidgetItem *item = m_table->item(r, ColCheck))
            item->setCheckState(checked == 2 ? Qt::Checked : Qt::Unchecked);
}

bool QDownload::rowChecked(int row) const
{
    const QTableWidgetItem *item = m_table->item(row, ColCheck);
    return item && item->checkState() == Qt::Checked;
}

void QDownload::on_startButton_clicked()
{
    if (!QDir().mkpath(m_folder) || !QFileInfo(m_folder).isWritable()) {
        WriteLog(3, "%s(%d):Download folder(%s) is not writable!!!", "QDownload::on_startButton_clicked", __LINE__,
                 m_folder.toUtf8().constData());
        varno::ui::InfoBox(this, tr("Download"), tr("The download folder (%1) cannot be written.").arg(m_folder));
        return;
    }
    if (m_idle) {
        m_idle = false;
        m_checkAll->setEnabled(false);
        m_start->setEnabled(false);
        m_browse->setEnabled(false);
        m_table->setEnabled(false);
        emit sendVideoWinPause(true);
    }
    bool any = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.clear();
        for (int r = 0; r < m_table->rowCount(); ++r) {
            const QTableWidgetItem *name = m_table->item(r, ColName);
            if (!rowChecked(r) || !name || !m_map.contains(name->text()))
                continue;
            if (QProgressBar *bar = progressBar(r)) {
                bar->setValue(0);
                bar->setFormat(QString());
                bar->setToolTip(QString());
            }
            DownloadJob job;
            job.row = r;
            job.file = m_map.value(name->text());
            job.peerId = m_peerId;
            job.targetPath = m_folder + QLatin1Char('/') + varno::playback::downloadTargetName(name->text());
            job.size = job.file.size;
            m_jobs.append(job);
            any = true;
        }
    }
    if (!any)
        setIdle(true);
    else
        emit SendStartDownloadSignal();
}

void QDownload::RecvStartDownloadSlot()
{
    VARNO_ASSERT_UI_THREAD();
    if (m_idle || m_stopping || m_controller->busy())
        return;
    DownloadJob job;
    int found = -1;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (int i = 0; i < m_jobs.size(); ++i)
            if (!m_jobs[i].started) {
                found = i;
                job = m_jobs[i];
                break;
            }
    }
    if (found < 0) {
        continueBatch();
        return;
    }
    job.offset = resumeOffset(job);
    double freeM = 0;
    if (varno::playback::storageAccess()->diskSpaceM(QFileInfo(job.targetPath).absolutePath(), &freeM) != 0)
        freeM = 0;
    if ((freeM - 10.0) * 1024.0 * 1024.0 <= double(job.size - qMin(job.size, job.offset))) {
        WriteLog(3, "%s(%d):Download failed, disk is full!!!", "QDownload::RecvStartDownloadSlot", __LINE__);
        varno::ui::InfoBox(this, tr("Download"), tr("Download failed, disk is full !"));
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_jobs.clear();
        }
        setIdle(true);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs[found].started = true;
        m_jobs[found].offset = job.offset;
    }
    noteRecord(recordOf(job, job.offset));
    // The camera's connect and start take up to seconds: the row says so.
    if (QProgressBar *bar = progressBar(job.row)) {
        bar->setFormat(tr("Starting..."));
        bar->setToolTip(tr("Starting..."));
    }
    varno::playback::DownloadRequest request;
    request.row = job.row;
    request.peerId = job.peerId;
    request.password = peerPassword();
    request.file = job.file;
    request.target = job.targetPath;
    request.size = job.size;
    request.offset = job.offset;
    m_controller->start(request);
}

bool QDownload::takeJob(int row, DownloadJob *job)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (int i = 0; i < m_jobs.size(); ++i)
        if (m_jobs[i].started && m_jobs[i].row == row) {
            *job = m_jobs.takeAt(i);
            return true;
        }
    return false;
}

void QDownload::jobStarted(int row, int result)
{
    VARNO_ASSERT_UI_THREAD();
    if (result == 0) {
        DownloadJob job;
        bool found = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (const DownloadJob &j : std::as_const(m_jobs))
                if (j.started && j.row == row) {
                    job = j;
                    found = true;
                    break;
                }
        }
        if (!found)
            return;
        if (QProgressBar *bar = progressBar(row))
            bar->setToolTip(QString());
        RecvProgress(row, job.size > 0 ? int(qMin<quint64>(quint64(job.offset) * 100 / job.size, 99)) : 0);
        emit SendSelectRow(row);
        WriteLog(0, "[DOWNLOAD]Start file(%s) success!!!", job.file.fileName);
        return;
    }
    DownloadJob job;
    if (takeJob(row, &job)) {
        if (result == varno::playback::kDownloadCancelled) {
            DownloadOutcome outcome;
            outcome.state = DownloadState::Stopped;
            outcome.kept = job.offset;
            recordEnd(job, outcome);
        } else {
            WriteLog(3, "%s(%d):Download file(%s) failed, ret(%d)!!!", "QDownload::RecvStartDownloadSlot", __LINE__,
                     job.file.fileName, result);
            DownloadRecord record = recordOf(job, job.offset);
            record.state = DownloadState::Failed;
            record.fault = result == varno::playback::kDownloadTargetBusy ? DownloadFault::Busy
                                                                          : DownloadFault::StartFailed;
            record.error = result;
            noteRecord(record);
            showRecord(job.row, record);
        }
    }
    continueBatch();
}

void QDownload::jobEnded(int row, const DownloadOutcome &outcome)
{
    VARNO_ASSERT_UI_THREAD();
    DownloadJob job;
    if (takeJob(row, &job))
        recordEnd(job, outcome);
    continueBatch();
}

void QDownload::recordEnd(const DownloadJob &job, const DownloadOutcome &outcome)
{
    DownloadRecord record = recordOf(job, outcome.kept);
    record.state = outcome.state;
    record.fault = outcome.fault;
    record.error = outcome.error;
    record.detail = QString::fromStdString(outcome.path);
    noteRecord(record);
    showRecord(job.row, record);
    WriteLog(0, "[DOWNLOAD]File(%s) ended: %s", job.file.fileName, stateText(record).toUtf8().constData());
}

void QDownload::continueBatch()
{
    if (m_stopping) {
        m_stopping = false;
        m_stop->setEnabled(true);
        m_stop->setToolTip(QString());
    }
    if (!m_idle && jobCount() > 0)
        emit SendStartDownloadSignal();
    else
        setIdle(true);
}

void QDownload::RecvProgress(int row, int percent)
{
    // A notice still queued when its job ended must not cover the end.
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (std::none_of(m_jobs.cbegin(), m_jobs.cend(),
                         [row](const DownloadJob &j) { return j.started && j.row == row; }))
            return;
    }
    if (QProgressBar *bar = progressBar(row)) {
        bar->setValue(percent);
        bar->setFormat(QString::number(percent) + QLatin1Char('%'));
    }
}

void QDownload::RecvSelectRow(int row)
{
    m_table->selectRow(row);
}

void QDownload::setIdle(bool idle)
{
    if (idle == m_idle)
        return;
    m_idle = idle;
    m_checkAll->setEnabled(idle);
    m_start->setEnabled(idle);
    m_browse->setEnabled(idle);
    m_table->setEnabled(idle);
    emit sendVideoWinPause(!idle);
}

void QDownload::stopAllDownloads()
{
    VARNO_ASSERT_UI_THREAD();
    bool running = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.erase(std::remove_if(m_jobs.begin(), m_jobs.end(), [](const DownloadJob &j) { return !j.started; }),
                     m_jobs.end());
        running = !m_jobs.isEmpty();
    }
    if (!running) {
        setIdle(true);
        return;
    }
    // The library's stop and the worker's end take up to seconds: the
    // button says so until the row shows the end.
    if (!m_stopping) {
        m_stopping = true;
        m_stop->setEnabled(false);
        m_stop->setToolTip(tr("Stopping the download..."));
    }
    m_controller->stop();
}

void QDownload::on_stopButton_clicked()
{
    if (!m_idle)
        stopAllDownloads();
}

void QDownload::on_closeButton_clicked()
{
    if (m_idle) {
        QDialog::reject();
        return;
    }
    if (varno::ui::InfoBox(this, tr("Download"), tr("It is downloading, are you sure you want to close?"), true)
        != QMessageBox::Yes)
        return;
    hide();
    stopAllDownloads();
    QDialog::reject();
}

void QDownload::reject()
{
    on_closeButton_clicked();
}
