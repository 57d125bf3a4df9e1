#include "playback/fileplay.h"

#include "common/authtoken.h"
#include "common/crashhandler.h"
#include "common/logfile.h"
#include "common/p2precords.h"
#include "common/randomsource.h"
#include "common/textfield.h"
#include "common/uithread.h"
#include "common/ui/infobox.h"
#include "platform/recfile/record_local.h"
#include "playback/localexport.h"
#include "playback/qdownload.h"
#include "playback/recordsearch.h"
#include "playback/searchcontroller.h"
#include "playback/storageaccess.h"
#include "playback/timelinewidget.h"

#include <QComboBox>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>

#include <cstring>
#include <ctime>

namespace {

const char *const kTimeForm = "yyyy-MM-dd hh:mm:ss";

MEDIA_TIME_S mediaTime(const QDateTime &t)
{
    MEDIA_TIME_S m;
    m.year = uint16_t(t.date().year());
    m.month = uint8_t(t.date().month());
    m.day = uint8_t(t.date().day());
    m.hour = uint16_t(t.time().hour());
    m.minute = uint8_t(t.time().minute());
    m.second = uint8_t(t.time().second());
    return m;
}

} // namespace

fileplay::fileplay(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("fileplay"));
    // The panel brings its own dark background, the main window's, so that
    // its labels read the same wherever it is shown.
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QStringLiteral("fileplay#fileplay { background-color: rgb(30, 34, 40); }"
                                 "QLabel { color: rgb(220, 224, 230); }"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    auto *form = new QGridLayout;
    auto *sourceLabel = new QLabel(tr("Source:"), this);
    sourceLabel->setObjectName(QStringLiteral("videoSourceLabel"));
    m_source = new QComboBox(this);
    m_source->setObjectName(QStringLiteral("videoSourceComBo"));
    m_source->addItem(tr("Camera"));
    m_source->addItem(tr("PC"));
    auto *devLabel = new QLabel(tr("Device:"), this);
    devLabel->setObjectName(QStringLiteral("devNameLabel"));
    m_device = new QComboBox(this);
    m_device->setObjectName(QStringLiteral("idComboBox"));
    auto *timeLabel = new QLabel(tr("Time:"), this);
    timeLabel->setObjectName(QStringLiteral("timeRangeLabel"));
    const QDate today = QDate::currentDate();
    m_start = new QDateTimeEdit(QDateTime(today, QTime(0, 0, 0)), this);
    m_start->setObjectName(QStringLiteral("timeRangeStart"));
    m_end = new QDateTimeEdit(QDateTime(today, QTime(23, 59, 59)), this);
    m_end->setObjectName(QStringLiteral("timeRangeEnd"));
    for (QDateTimeEdit *e : {m_start, m_end}) {
        e->setDisplayFormat(QString::fromLatin1(kTimeForm));
        e->setCalendarPopup(true);
    }
    form->addWidget(sourceLabel, 0, 0);
    form->addWidget(m_source, 0, 1);
    form->addWidget(devLabel, 1, 0);
    form->addWidget(m_device, 1, 1);
    form->addWidget(timeLabel, 2, 0);
    form->addWidget(m_start, 2, 1);
    form->addWidget(m_end, 3, 1);
    layout->addLayout(form);
    auto *buttons = new QHBoxLayout;
    m_search = new QPushButton(tr("Query"), this);
    m_search->setObjectName(QStringLiteral("btnsearch"));
    m_downloadButton = new QPushButton(tr("Download"), this);
    m_downloadButton->setObjectName(QStringLiteral("btndownload"));
    buttons->addWidget(m_search);
    buttons->addWidget(m_downloadButton);
    layout->addLayout(buttons);

    m_timeline = new varno::playback::TimelineWidget(this);
    layout->addWidget(m_timeline);

    m_table = new QTableWidget(0, ColumnCount, this);
    m_table->setObjectName(QStringLiteral("tableWidget"));
    m_table->setHorizontalHeaderLabels({tr("No."), tr("Size(MB)"), tr("Video source"), tr("File name")});
    const int widths[ColumnCount] = {50, 70, 80, 300};
    for (int c = 0; c < ColumnCount; ++c)
        m_table->setColumnWidth(c, widths[c]);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->verticalHeader()->setVisible(false);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    layout->addWidget(m_table, 1);

    m_exportLabel = new QLabel(this);
    m_exportLabel->setObjectName(QStringLiteral("exportLabel"));
    m_exportBar = new QProgressBar(this);
    m_exportBar->setObjectName(QStringLiteral("exportBar"));
    m_exportBar->setRange(0, 100);
    m_exportLabel->hide();
    m_exportBar->hide();
    layout->addWidget(m_exportLabel);
    layout->addWidget(m_exportBar);

    m_device->addItem(tr("All Devices"));
    m_names.append(QString());

    m_download = new QDownload(this);
    m_searchController = new varno::playback::SearchController(this);
    connect(m_searchController, &varno::playback::SearchController::sent, this, &fileplay::searchRequestSent);

    connect(m_table, &QTableWidget::doubleClicked, this, &fileplay::RecvTableClick);
    connect(m_table, &QWidget::customContextMenuRequested, this, &fileplay::showTableMenu);
    connect(m_source, &QComboBox::currentIndexChanged, this,
            [this](int index) { RecvIndexChanged(m_source->itemText(index)); });
    connect(this, &fileplay::SendUpdateToDownload, m_download, &QDownload::updateTabelWidget);
    connect(this, &fileplay::SendUpdateDeviceComboBox, this, &fileplay::RecvUpdateDeviceComboBox);
    connect(this, &fileplay::SendReplaceDeviceComboBox, this, &fileplay::RecvReplaceDeviceComboBox);
    connect(this, &fileplay::SendSearchResult, this, &fileplay::RecvSearchResult, Qt::QueuedConnection);
    connect(m_download, &QDownload::sendVideoWinPause, this, &fileplay::RecvPauseFromDownload);
    connect(this, &fileplay::exportProgress, this, &fileplay::recvExportProgress, Qt::QueuedConnection);
    connect(this, &fileplay::exportFinished, this, &fileplay::recvExportFinished, Qt::QueuedConnection);
    QMetaObject::connectSlotsByName(this);
    RecvIndexChanged(m_source->currentText());

    Record_local_InitSdk();
    QStringList folders;
    varno::playback::storageAccess()->recordFolders(&folders);
    for (const QString &folder : folders) {
        const QByteArray f = folder.toUtf8();
        Record_local_MediaFileRepair(f.constData());
    }
}

fileplay::~fileplay()
{
    // A request in flight ends within the library's time-out; its answer
    // is not delivered any more.
    delete m_searchController;
    m_searchController = nullptr;
    m_exportStop = true;
    if (m_exportThread.joinable())
        m_exportThread.join();
    delete m_download;
    m_download = nullptr;
    Record_local_UnInitSdk();
}

QString fileplay::timeText(const QDateTimeEdit *edit) const
{
    const QDateTime t = edit->dateTime();
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", t.date().year(), t.date().month(), t.date().day(),
                             t.time().hour(), t.time().minute(), t.time().second());
}

QByteArray fileplay::passwordOf(const QString &devId) const
{
    auto it = m_urlHash.constFind(devId);
    return it == m_urlHash.cend() ? QByteArray() : varno::fieldText(it->password).toUtf8();
}

void fileplay::on_btnsearch_clicked()
{
    if (m_start->dateTime().toSecsSinceEpoch() > m_end->dateTime().toSecsSinceEpoch()) {
        varno::ui::InfoBox(this, tr("Search Files"), tr("Start time can not later than the end of time!"));
        return;
    }
    clearResults();
    if (m_source->currentIndex() == 1) {
        if (searchLocalFile() == 0)
            refreshResultTable(false);
        return;
    }
    searchDeviceFileWithP2p(false, timeText(m_start).toUtf8(), timeText(m_end).toUtf8());
}

void fileplay::clearResults()
{
    m_table->setRowCount(0);
    m_fileMap.clear();
    m_shownFiles.clear();
    updateTimeline(false);
}

void fileplay::updateTimeline(bool fromCamera)
{
    QHash<QString, QString> names;
    for (auto it = m_urlHash.cbegin(); it != m_urlHash.cend(); ++it)
        names.insert(it.key(), varno::fieldText(it->name));
    m_timeline->setNames(names);
    m_timeline->model().clear();
    m_timeline->model().addAll(m_fileMap, fromCamera ? varno::playback::TimelineSource::Camera
                                                     : varno::playback::TimelineSource::Local);
    m_timeline->modelChanged();
}

int fileplay::GetLocalStorageInfo()
{
    m_recordDirs.clear();
    QStringList folders;
    if (varno::playback::storageAccess()->recordFolders(&folders) < 0 || folders.isEmpty()) {
        WriteLog(3, "%s(%d):There is not a valid storage configuration file!!!", "fileplay::GetLocalStorageInfo",
                 __LINE__);
        varno::ui::InfoBox(this, tr("Recordings Management"),
                           tr("There is not a valid storage configuration file,please set it up in the "
                              "configurations menu."));
        return -1;
    }
    m_recordDirs = folders;
    return 0;
}

int fileplay::searchLocalFile()
{
    WriteLog(0, "[PLAYBACK]Start searching local recordings!!!");
    const int ret = GetLocalStorageInfo();
    if (ret != 0) {
        WriteLog(2, "%s(%d):GetLocalStorageInfo failed, ret(%d)!!!", "fileplay::searchLocalFile", __LINE__, ret);
        return -1;
    }
    if (m_recordDirs.isEmpty()) {
        WriteLog(2, "%s(%d):No information of records in the configuration file!!!", "fileplay::searchLocalFile",
                 __LINE__);
        varno::ui::InfoBox(this, tr("Search Files"), tr("No information of records in the configuration file!"));
        return -1;
    }
    MEDIA_QUERY_S query;
    std::memset(&query, 0, sizeof(query));
    if (m_device->currentIndex() > 0) {
        const QString name = m_device->currentText();
        if (name.isEmpty()) {
            varno::ui::InfoBox(this, tr("Search Files"), tr("Please select a device or check all of devices!"));
            return -1;
        }
        for (auto it = m_urlHash.cbegin(); it != m_urlHash.cend(); ++it)
            if (varno::fieldText(it->name) == name) {
                varno::setText(query.devId, it.key());
                break;
            }
    }
    query.startTime = mediaTime(m_start->dateTime());
    query.endTime = mediaTime(m_end->dateTime());
    WriteLog(0, "[PLAYBACK]Device(%s)!!!", query.devId);
    WriteLog(0, "[PLAYBACK]Start time(%s)!!!", timeText(m_start).toUtf8().constData());
    WriteLog(0, "[PLAYBACK]End time(%s)!!!", timeText(m_end).toUtf8().constData());
    for (const QString &folder : std::as_const(m_recordDirs)) {
        const QByteArray dir = folder.toUtf8();
        varno::setText(query.dir, dir);
        MEDIA_LIST_S list{0, nullptr};
        const int r = Record_local_MediaFileQuery(query, &list);
        if (r != 0) {
            WriteLog(3, "%s(%d):Query dir(%s) failed, ret(%d)", "fileplay::searchLocalFile", __LINE__,
                     dir.constData(), r);
            continue;
        }
        for (int i = 0; i < list.count && list.files; ++i) {
            MEDIA_FILE_S f = list.files[i];
            const QString name = varno::fieldText(f.fileName);
            if (m_fileMap.contains(name))
                continue;
            varno::setText(f.fileName, dir + '/' + name.toUtf8());
            m_fileMap.insert(name, f);
        }
    }
    if (m_fileMap.isEmpty()) {
        WriteLog(3, "%s(%d):Device has no records!!!", "fileplay::searchLocalFile", __LINE__);
        varno::ui::InfoBox(this, tr("Search Files"), tr("Device has no records !"));
        return -1;
    }
    WriteLog(0, "[PLAYBACK]Searching device(%s) local recordings finished!!!", query.devId);
    return 0;
}

int fileplay::searchDeviceFileWithP2p(bool askPassword, const QByteArray &start, const QByteArray &end)
{
    WriteLog(0, "[PLAYBACK]Start searching device recordings!!!");
    const QString name = m_device->currentText();
    if (name.isEmpty() || (m_device->currentIndex() == 0 && m_names.value(0).isEmpty())) {
        varno::ui::InfoBox(this, tr("Search Files"), tr("Please select a device!"));
        return -1;
    }
    QString devId;
    for (auto it = m_urlHash.cbegin(); it != m_urlHash.cend(); ++it)
        if (varno::fieldText(it->name) == name) {
            devId = it.key();
            break;
        }
    const QByteArray idText = devId.toUtf8();
    if (devId.isEmpty() || !m_urlHash.value(devId).p2pFlag) {
        WriteLog(3, "%s(%d):Query device(%s) recordings failed!!!", "fileplay::searchDeviceFileWithP2p", __LINE__,
                 idText.constData());
        // Only P2P cameras hand out their own recordings; an ONVIF camera's
        // footage is what this computer recorded of it.
        if (devId.isEmpty())
            varno::ui::InfoBox(this, tr("Search Files"), tr("Failed to query the recordings on the device video."));
        else
            varno::ui::InfoBox(this, tr("Search Files"),
                               tr("This camera keeps no recordings the client can reach. What this computer "
                                  "recorded of it is found with the source \"PC\"."));
        return -1;
    }
    UrlInfo &url = m_urlHash[devId];
    bool ask = askPassword;
    if (varno::textLength(url.password) == 0) {
        varno::ui::InfoBox(this, tr("Client"), tr("Camera password not provided,please input."));
        ask = true;
    }
    if (ask) {
        varno::ui::PromptRequest request;
        request.kind = varno::ui::PromptKind::Password;
        request.title = tr("Client");
        request.text = varno::fieldText(url.name);
        request.parent = this;
        const varno::ui::PromptAnswer answer = varno::ui::prompt(request);
        const QByteArray password = answer.button == QMessageBox::Ok ? answer.text.toUtf8().left(63) : QByteArray();
        if (password.isEmpty())
            return -1;
        UrlInfo &entry = m_urlHash[devId];
        varno::setText(entry.password, password);
        DeviceInfo_s info;
        std::memset(&info, 0, sizeof(info));
        varno::setText(info.devId, idText);
        std::memcpy(info.devName, entry.name, sizeof(info.devName));
        info.p2pFlag = 1;
        varno::setText(info.password, password);
        std::memcpy(info.p2pId, entry.p2pId, sizeof(info.p2pId));
        emit sendDevProperty(info);
    }
    const UrlInfo current = m_urlHash.value(devId);
    RECORD_SEARCH_REQ_S req;
    std::memset(&req, 0, sizeof(req));
    req.seq = varno::authNonce();
    char token[kAuthTokenSize] = {};
    MakeAuthToken(current.password, req.seq, token);
    std::memcpy(req.token, token, sizeof(token));
    varno::setText(req.startTime, start);
    varno::setText(req.endTime, end);
    WriteLog(0, "[PLAYBACK]Device(%s), start(%s), end(%s)!!!", idText.constData(), start.constData(),
             end.constData());
    const QByteArray peer(current.p2pId, int(varno::textLength(current.p2pId)));
    // The connect (up to 3 s) and the delivery run on the controller's
    // thread; the button shows the request in flight until its answer.
    if (!m_searchController->send(peer, req)) {
        WriteLog(3, "%s(%d):A search request of device(%s) is still in flight!!!", "fileplay::searchDeviceFileWithP2p",
                 __LINE__, idText.constData());
        return -1;
    }
    m_searching = true;
    m_searchPeer = peer;
    m_searchDevice = idText;
    m_search->setEnabled(false);
    m_search->setToolTip(tr("Searching..."));
    return 0;
}

void fileplay::searchRequestSent(QByteArray peer, int connectResult, int deliverResult)
{
    VARNO_ASSERT_UI_THREAD();
    m_search->setEnabled(true);
    m_search->setToolTip(QString());
    if (peer != m_searchPeer || !m_searching)
        return;
    const QByteArray idText = m_searchDevice;
    if (connectResult != 0 || deliverResult < 0) {
        if (connectResult != 0)
            WriteLog(2, "%s(%d):Connect device(%s) failed, ret(%d)!!!", "fileplay::searchDeviceFileWithP2p", __LINE__,
                     idText.constData(), connectResult);
        else
            WriteLog(2, "%s(%d):Deliver message to device(%s) failed, ret(%d)!!!", "fileplay::searchDeviceFileWithP2p",
                     __LINE__, idText.constData(), deliverResult);
        m_searching = false;
        varno::ui::InfoBox(this, tr("Search Files"), tr("Failed to query the recordings on the device video."));
        return;
    }
    WriteLog(0, "[PLAYBACK]Searching device recordings finished!!!");
}

void fileplay::handleP2pMessage(const P2pMessage_S &msg)
{
    if (msg.type == P2P_MSG_DOWNLOAD_NOTICE) {
        QMetaObject::invokeMethod(m_download, &QDownload::stopAllDownloads, Qt::QueuedConnection);
        return;
    }
    if (msg.type != P2P_MSG_RECORD_LIST && msg.type != P2P_MSG_RECORD_LIST_EX)
        return;
    const QByteArray peer(msg.devId, int(varno::textLength(msg.devId)));
    const QByteArray payload = msg.payload && msg.payloadLen > 0 ? QByteArray(msg.payload, msg.payloadLen)
                                                                  : QByteArray();
    const int type = msg.type;
    QMetaObject::invokeMethod(
        this, [this, type, peer, payload] { handleSearchReply(type, peer, payload); }, Qt::QueuedConnection);
}

void fileplay::handleSearchReply(int type, QByteArray peerId, QByteArray payload)
{
    // Only the camera being searched is heard: a stray or late reply must
    // not pop up a password box or start a search of its own.
    if (!m_searching || peerId != m_searchPeer) {
        WriteLog(3, "%s(%d):Reply of device(%s) came with no search of it running, dropped!!!",
                 "fileplay::handleSearchReply", __LINE__, peerId.constData());
        return;
    }
    QString devId;
    QByteArray password;
    for (auto it = m_urlHash.cbegin(); it != m_urlHash.cend(); ++it)
        if (varno::fieldText(it->p2pId).toUtf8() == peerId) {
            devId = it.key();
            password = varno::fieldText(it->password).toUtf8();
            break;
        }
    const QByteArray idText = devId.toUtf8();
    const varno::playback::SearchReply reply =
        varno::playback::parseSearchReply(type, payload.constData(), size_t(payload.size()), idText.constData());
    if (!reply.valid) {
        WriteLog(3, "%s(%d):Reply of device(%s) is too short, len(%d)!!!", "fileplay::handleSearchReply", __LINE__,
                 peerId.constData(), int(payload.size()));
        return;
    }
    if (reply.truncated)
        WriteLog(3, "%s(%d):Reply of device(%s) holds %d of %d entries!!!", "fileplay::handleSearchReply", __LINE__,
                 peerId.constData(), int(reply.files.size()), reply.count);
    if (reply.count <= 0) {
        emit SendSearchResult(reply.result, reply.count);
        return;
    }
    for (const MEDIA_FILE_S &f : reply.files) {
        const QString name = varno::playback::cameraDisplayName(varno::fieldText(f.fileName));
        if (!m_fileMap.contains(name))
            m_fileMap.insert(name, f);
    }
    emit SendUpdateToDownload(peerId, password, m_fileMap);
    refreshResultTable(true);
    // A page cut short by the payload is the last one.
    emit SendSearchResult(reply.result, reply.truncated ? int(reply.files.size()) : reply.count);
}

void fileplay::RecvSearchResult(int result, int num)
{
    if (num < P2P_RECORD_PAGE)
        m_searching = false;
    if (result != 0) {
        WriteLog(3, "%s(%d):Camera password is incorrect, need to research!!!", "fileplay::RecvSearchResult", __LINE__);
        varno::ui::InfoBox(this, tr("Search Files"),
                           tr("Camera password is incorrect, please input the correct password"));
        searchDeviceFileWithP2p(true, timeText(m_start).toUtf8(), timeText(m_end).toUtf8());
        return;
    }
    if (num <= 0) {
        WriteLog(3, "Device has no records!!!");
        varno::ui::InfoBox(this, tr("Search Files"), tr("Device has no records !"));
        return;
    }
    searchNextPage();
}

void fileplay::searchNextPage()
{
    if (m_source->currentIndex() != 0 || !m_searching || m_shownFiles.isEmpty())
        return;
    const QByteArray end = varno::playback::nextPageEnd(m_shownFiles.last());
    if (end.isEmpty()) {
        m_searching = false;
        return;
    }
    searchDeviceFileWithP2p(false, timeText(m_start).toUtf8(), end);
}

void fileplay::refreshResultTable(bool fromCamera)
{
    for (auto it = m_fileMap.cbegin(); it != m_fileMap.cend(); ++it) {
        if (m_shownFiles.contains(it.key()))
            continue;
        m_shownFiles.append(it.key());
        const int row = m_table->rowCount();
        m_table->insertRow(row);
        auto *no = new QTableWidgetItem(QString::asprintf("%d", row + 1));
        auto *size = new QTableWidgetItem(varno::playback::sizeText(it->size));
        auto *src = new QTableWidgetItem(fromCamera ? tr("Camera") : tr("PC"));
        src->setData(Qt::UserRole, fromCamera ? 1 : 0);
        for (QTableWidgetItem *item : {no, size, src})
            item->setTextAlignment(Qt::AlignCenter);
        m_table->setItem(row, ColNo, no);
        m_table->setItem(row, ColSize, size);
        m_table->setItem(row, ColSource, src);
        m_table->setItem(row, ColName, new QTableWidgetItem(it.key()));
    }
    updateTimeline(fromCamera);
}

void fileplay::RecvTableClick(QModelIndex index)
{
    if (!index.isValid())
        return;
    const QTableWidgetItem *src = m_table->item(index.row(), ColSource);
    const QTableWidgetItem *name = m_table->item(index.row(), ColName);
    if (!src || !name || src->text().isEmpty() || name->text().isEmpty())
        return;
    if (!m_fileMap.contains(name->text())) {
        WriteLog(0, "Map has not contains file(%s)!!!", name->text().toUtf8().constData());
        return;
    }
    const int videosrc = src->data(Qt::UserRole).toInt() == 0 ? 0 : 1;
    emit SendFilePathToPlay(name->text(), videosrc, m_fileMap.value(name->text()));
}

void fileplay::RecvIndexChanged(QString devSrc)
{
    const bool camera = devSrc == m_source->itemText(0);
    const bool hasAll = !m_names.isEmpty() && m_names.first().isEmpty();
    if (camera) {
        m_downloadButton->show();
        if (hasAll) {
            const int current = m_device->currentIndex();
            m_device->blockSignals(true);
            m_device->removeItem(0);
            m_names.removeFirst();
            m_device->setCurrentIndex(current <= 0 ? 0 : current - 1);
            m_device->blockSignals(false);
        }
    } else {
        m_downloadButton->hide();
        if (!hasAll) {
            const int current = m_device->currentIndex();
            m_device->blockSignals(true);
            m_device->insertItem(0, tr("All Devices"));
            m_names.prepend(QString());
            m_device->setCurrentIndex(current < 0 ? 0 : current + 1);
            m_device->blockSignals(false);
        }
    }
}

void fileplay::updateDeviceInfo(const DeviceInfo_s &info)
{
    const QString id = varno::fieldText(info.devId);
    const QByteArray idText = id.toUtf8();
    UrlInfo url;
    std::memset(&url, 0, sizeof(url));
    url.p2pFlag = uint8_t(info.p2pFlag);
    std::memcpy(url.name, info.devName, sizeof(url.name) - 1);
    std::memcpy(url.password, info.password, sizeof(url.password) - 1);
    std::memcpy(url.p2pId, info.p2pId, sizeof(url.p2pId) - 1);
    std::memcpy(url.serviceAddr, info.serviceAddr, sizeof(url.serviceAddr) - 1);
    auto it = m_urlHash.find(id);
    if (it != m_urlHash.end()) {
        if (std::memcmp(&*it, &url, sizeof(url)) == 0) {
            WriteLog(0, "[PLAYBACK]Device(%s) info is same!!!", idText.constData());
            return;
        }
        const QString oldName = varno::fieldText(it->name);
        *it = url;
        emit SendReplaceDeviceComboBox(oldName, varno::fieldText(url.name));
        m_download->updateDevInfo(info);
        return;
    }
    m_urlHash.insert(id, url);
    WriteLog(0, "[PLAYBACK]Insert device(%s) to urlHash!!!", idText.constData());
    emit SendUpdateDeviceComboBox(varno::fieldText(url.name));
}

void fileplay::RecvUpdateDeviceComboBox(QString name)
{
    if (m_names.contains(name))
        return;
    const int current = m_device->currentIndex();
    m_names.append(name);
    m_device->addItem(name);
    m_device->setCurrentIndex(current < 0 ? 0 : current);
}

void fileplay::RecvReplaceDeviceComboBox(QString srcName, QString dstName)
{
    const int at = m_names.indexOf(srcName);
    if (at < 0 || srcName.isEmpty()) {
        WriteLog(2, "%s(%d):List has not contained name(%s)!!!", "fileplay::RecvReplaceDeviceComboBox", __LINE__,
                 srcName.toUtf8().constData());
        return;
    }
    m_names[at] = dstName;
    m_device->setItemText(at, dstName);
}

void fileplay::recvDelDevInfo(QString strDevId)
{
    const QByteArray idText = strDevId.toUtf8();
    WriteLog(0, "[PLAYBACK]Request delete device(%s)!!!", idText.constData());
    auto it = m_urlHash.find(strDevId);
    if (it == m_urlHash.end()) {
        WriteLog(3, "%s(%d):Hash has not contained device(%s)!!!", "fileplay::recvDelDevInfo", __LINE__,
                 idText.constData());
        return;
    }
    const QString name = varno::fieldText(it->name);
    m_urlHash.erase(it);
    const int at = m_names.indexOf(name);
    if (at < 0 || name.isEmpty()) {
        WriteLog(3, "%s(%d):List has not contained name(%s)!!!", "fileplay::recvDelDevInfo", __LINE__,
                 name.toUtf8().constData());
        return;
    }
    m_names.removeAt(at);
    m_device->removeItem(at);
    WriteLog(0, "[PLAYBACK]Delete device(%s) finished!!!", idText.constData());
}

void fileplay::on_btndownload_clicked()
{
    m_download->exec();
}

void fileplay::recvWinCloseSlot()
{
    m_download->hide();
}

void fileplay::RecvPauseFromDownload(bool pause)
{
    emit SendVideoWinPause(pause);
}

void fileplay::showTableMenu(const QPoint &pos)
{
    const QModelIndex index = m_table->indexAt(pos);
    if (!index.isValid())
        return;
    const QTableWidgetItem *src = m_table->item(index.row(), ColSource);
    const QTableWidgetItem *name = m_table->item(index.row(), ColName);
    if (!src || !name || src->data(Qt::UserRole).toInt() != 0)
        return;
    QMenu menu(this);
    QAction *exportAction = menu.addAction(tr("Export to MP4"));
    exportAction->setEnabled(!m_exportRunning);
    if (menu.exec(m_table->viewport()->mapToGlobal(pos)) == exportAction)
        exportToMp4(name->text());
}

int fileplay::exportToMp4(const QString &displayName)
{
    if (m_exportRunning || !m_fileMap.contains(displayName))
        return -1;
    const MEDIA_FILE_S file = m_fileMap.value(displayName);
    const QString folder = m_download->downloadFolder();
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isWritable()) {
        varno::ui::InfoBox(this, tr("Export to MP4"), tr("The download folder (%1) cannot be written.").arg(folder));
        return -1;
    }
    if (m_exportThread.joinable())
        m_exportThread.join();
    const QString target = folder + QLatin1Char('/') + varno::playback::downloadTargetName(displayName);
    m_exportLabel->setText(tr("Exporting %1").arg(displayName));
    m_exportLabel->show();
    m_exportBar->setValue(0);
    m_exportBar->show();
    m_exportStop = false;
    m_exportRunning = true;
    WriteLog(0, "[PLAYBACK]Export file(%s) to (%s)!!!", file.fileName, target.toUtf8().constData());
    m_exportThread = std::thread([this, file, target] {
        InstallCrashHandlerOnThread();
        const QByteArray t = target.toUtf8();
        const varno::playback::Mp4ExportResult result
            = varno::playback::exportRecordingToMp4(file.fileName, t.constData(), [this](int percent) {
                  emit exportProgress(percent);
                  return !m_exportStop.load();
              });
        emit exportFinished(target, result.code, QString::fromStdString(result.reason));
    });
    return 0;
}

void fileplay::recvExportProgress(int percent)
{
    m_exportBar->setValue(percent);
}

QString fileplay::exportFailureText(int code)
{
    switch (code) {
    case varno::playback::kExportOpenFailed: return tr("The recording cannot be opened.");
    case varno::playback::kExportUnsupported: return tr("Only H.264 recordings can be exported to MP4.");
    case varno::playback::kExportWriteFailed: return tr("The MP4 file cannot be written.");
    case varno::playback::kExportCancelled: return tr("The export was stopped.");
    case varno::playback::kExportNoVideo: return tr("The recording holds no video that can be played.");
    case varno::playback::kExportCheckFailed: return tr("The MP4 file does not hold the whole recording.");
    case varno::playback::kExportReadFailed: return tr("The recording is damaged or cut short.");
    default: return tr("The export failed.");
    }
}

void fileplay::recvExportFinished(QString target, int result, QString reason)
{
    m_exportRunning = false;
    if (m_exportThread.joinable())
        m_exportThread.join();
    m_exportBar->hide();
    m_exportLabel->hide();
    if (result == 0) {
        WriteLog(0, "[PLAYBACK]Export file(%s) finished!!!", target.toUtf8().constData());
        varno::ui::InfoBox(this, tr("Export to MP4"), tr("Saved to %1").arg(target));
        return;
    }
    WriteLog(2, "%s(%d):Export file(%s) failed, ret(%d): %s!!!", "fileplay::recvExportFinished", __LINE__,
             target.toUtf8().constData(), result, reason.toUtf8().constData());
    // The operation log and the box name the cause; nothing was saved.
    emit sendOperation(tr("Export to MP4 failed: %1 (%2)").arg(target, reason));
    QString text = tr("Failed to export %1.").arg(target) + QLatin1Char('\n') + exportFailureText(result);
    if (!reason.isEmpty())
        text += QLatin1Char('\n') + reason;
    varno::ui::InfoBox(this, tr("Export to MP4"), text);
}
