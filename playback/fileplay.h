#pragma once

#include "common/devicerecords.h"
#include "common/mediarecords.h"
#include "common/p2pmessage.h"

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QModelIndex>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <atomic>
#include <thread>

class QComboBox;
class QDateTimeEdit;
class QDownload;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;
namespace varno::playback {
class SearchController;
class TimelineWidget;
}

// The search panel of the playback page: finds recordings on this
// computer's record folders ("PC") or on a camera's storage ("Camera"),
// lists them, plays a row on double-click, opens the download dialog for
// camera files and exports local files to MP4.
class fileplay : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(fileplay)

public:
#pragma pack(push, 1)
    // The panel's copy of a camera (289 bytes).
    struct UrlInfo
    {
        uint8_t p2pFlag;
        char name[32];
        char password[64];
        char p2pId[64];
        char serviceAddr[128];
    };
#pragma pack(pop)

    enum Column { ColNo = 0, ColSize, ColSource, ColName, ColumnCount };

    explicit fileplay(QWidget *parent = nullptr);
    ~fileplay() override;

    int searchLocalFile();
    int searchDeviceFileWithP2p(bool askPassword, const QByteArray &start, const QByteArray &end);
    int GetLocalStorageInfo();
    void searchNextPage();
    void refreshResultTable(bool fromCamera);
    void clearResults();
    void updateDeviceInfo(const DeviceInfo_s &info);
    // Camera messages 11, 155 and 73 (P2P library thread): the reply is
    // copied and handled on the user-interface thread.
    void handleP2pMessage(const P2pMessage_S &msg);

    QDownload *downloadDialog() const { return m_download; }
    QTableWidget *table() const { return m_table; }
    QComboBox *sourceCombo() const { return m_source; }
    QComboBox *deviceCombo() const { return m_device; }
    QDateTimeEdit *startEdit() const { return m_start; }
    QDateTimeEdit *endEdit() const { return m_end; }
    QPushButton *searchButton() const { return m_search; }
    QPushButton *downloadButton() const { return m_downloadButton; }
    QProgressBar *exportBar() const { return m_exportBar; }
    // The day timeline above the table: the spans of the results shown.
    varno::playback::TimelineWidget *timeline() const { return m_timeline; }
    QMap<QString, MEDIA_FILE_S> files() const { return m_fileMap; }
    QStringList shownFiles() const { return m_shownFiles; }
    QStringList recordDirs() const { return m_recordDirs; }
    QStringList deviceNames() const { return m_names; }
    bool searching() const { return m_searching; }
    varno::playback::SearchController *searchController() const { return m_searchController; }
    QByteArray passwordOf(const QString &devId) const;
    bool exporting() const { return m_exportRunning; }
    // Exports the local recording of a display name into the download
    // folder (what the context menu's "Export to MP4" does).
    int exportToMp4(const QString &displayName);

signals:
    void SendFilePathToPlay(QString filename, int videosrc, MEDIA_FILE_S mediafile);
    void SendUpdateToDownload(QByteArray peerId, QByteArray peerPw, QMap<QString, MEDIA_FILE_S> mediafileMap);
    void SendUpdateDeviceComboBox(QString strip);
    void SendReplaceDeviceComboBox(QString srcip, QString dstip);
    void SendSearchResult(int result, int num);
    void sendDevProperty(DeviceInfo_s deviceInfo);
    void SendVideoWinPause(bool bPause);
    void exportProgress(int percent);
    void exportFinished(QString target, int result, QString reason);
    // An operation-log entry (the main window adds time and user).
    void sendOperation(QString content);

public slots:
    void on_btnsearch_clicked();
    void RecvTableClick(QModelIndex index);
    void RecvIndexChanged(QString devSrc);
    void RecvUpdateDeviceComboBox(QString name);
    void recvDelDevInfo(QString strDevId);
    void on_btndownload_clicked();
    void RecvReplaceDeviceComboBox(QString srcName, QString dstName);
    void recvWinCloseSlot();
    void RecvSearchResult(int result, int num);
    void onMyScrollMoved(int) {}
    void RecvPauseFromDownload(bool pause);

private slots:
    void showTableMenu(const QPoint &pos);
    void recvExportProgress(int percent);
    void recvExportFinished(QString target, int result, QString reason);

private:
    static QString exportFailureText(int code);
    void handleSearchReply(int type, QByteArray peerId, QByteArray payload);
    void searchRequestSent(QByteArray peer, int connectResult, int deliverResult);
    QString timeText(const QDateTimeEdit *edit) const;
    void updateTimeline(bool fromCamera);

    QComboBox *m_source = nullptr;
    QComboBox *m_device = nullptr;
    QDateTimeEdit *m_start = nullptr;
    QDateTimeEdit *m_end = nullptr;
    QPushButton *m_search = nullptr;
    QPushButton *m_downloadButton = nullptr;
    QTableWidget *m_table = nullptr;
    QProgressBar *m_exportBar = nullptr;
    QLabel *m_exportLabel = nullptr;
    varno::playback::TimelineWidget *m_timeline = nullptr;

    QHash<QString, UrlInfo> m_urlHash;
    QStringList m_names;
    QMap<QString, MEDIA_FILE_S> m_fileMap;
    QStringList m_shownFiles;
    QStringList m_recordDirs;
    bool m_searching = false;
    QByteArray m_searchPeer; // the camera whose search runs
    QByteArray m_searchDevice; // its device ID (log lines)
    varno::playback::SearchController *m_searchController = nullptr;
    QDownload *m_download = nullptr;

    std::thread m_exportThread;
    std::atomic<bool> m_exportStop{false};
    std::atomic<bool> m_exportRunning{false};
};
static_assert(sizeof(fileplay::UrlInfo) == 289);
