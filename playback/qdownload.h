#pragma once

#include "common/devicerecords.h"
#include "common/mediarecords.h"
#include "playback/cfiledownload.h"
#include "playback/downloadfolder.h"

#include <QDialog>
#include <QList>
#include <QMap>
#include <QString>

#include <memory>
#include <mutex>

namespace varno::playback {
class DownloadController;
}
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;

// "Download Recordings": the camera files of the last search, ticked and
// fetched one after another into the download folder as MP4 files. While
// it downloads, its controls are disabled and playback on the page is
// held. Each row ends as "Finished", "Stopped" or "Failed: <reason>";
// "download.db" keeps that state, and a file that did not arrive whole
// continues from where it stopped when it is started again. The transfers
// start and stop on the controller's job thread (varno::playback::
// DownloadController): the dialog only waits for its answers, showing a
// start or a stop in progress on the row and the Stop button.
class QDownload : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QDownload)

public:
    struct DownloadJob
    {
        int row = 0;
        bool started = false;
        MEDIA_FILE_S file{};
        QByteArray peerId;
        QString targetPath;
        uint32_t size = 0;
        uint32_t offset = 0;    // bytes an earlier transfer kept
    };

    enum Column { ColCheck = 0, ColNo, ColSize, ColName, ColProgress, ColEnd, ColumnCount };

    explicit QDownload(QWidget *parent = nullptr);
    ~QDownload() override;

    QString downloadFolder() const { return m_folder; }
    void setDownloadFolder(const QString &folder);
    // No download runs, starts or ends.
    bool isIdle() const { return m_idle; }
    // A stop was asked for and its download has not ended yet.
    bool stopping() const { return m_stopping; }
    varno::playback::DownloadController *controller() const { return m_controller; }
    QTableWidget *table() const { return m_table; }
    QProgressBar *progressBar(int row) const;
    QByteArray peerPassword() const;
    int jobCount() const;
    QString dbPath() const { return m_dbPath; }
    QList<varno::playback::DownloadRecord> records() const { return m_records; }
    // The text a row shows for a download's state.
    static QString stateText(const varno::playback::DownloadRecord &record);

    // A changed camera record: its password replaces the dialog's when it
    // is the camera whose files are listed.
    void updateDevInfo(const DeviceInfo_s &info);
    void setIdle(bool idle);
    // Stops the batch: the download that runs ends on the controller's
    // thread (the row says so when it has), the others do not start.
    void stopAllDownloads();
    int GetDownloadPath();
    int SaveDownloadPath();

signals:
    void SendStartDownloadSignal();
    void SendSelectRow(int row);
    void sendVideoWinPause(bool bStop);
    void SendProgress(int row, int percent);

public slots:
    void on_closeButton_clicked();
    void on_browseButton_clicked();
    void on_startButton_clicked();
    void on_stopButton_clicked();
    void on_checkAllCBox_stateChanged(int checked);
    void updateTabelWidget(QByteArray peerId, QByteArray peerPw, QMap<QString, MEDIA_FILE_S> mediafileMap);
    void RecvStartDownloadSlot();
    void RecvSelectRow(int row);
    void RecvProgress(int row, int percent);

protected:
    void reject() override;

private:
    void jobStarted(int row, int result);
    void jobEnded(int row, const DownloadOutcome &outcome);
    // The job of a row, taken out of the list.
    bool takeJob(int row, DownloadJob *job);
    void recordEnd(const DownloadJob &job, const DownloadOutcome &outcome);
    // Next job, or idle when none is left.
    void continueBatch();
    bool rowChecked(int row) const;
    int recordIndex(const QByteArray &peerId, const QByteArray &fileName) const;
    void noteRecord(const varno::playback::DownloadRecord &record);
    void showRecord(int row, const varno::playback::DownloadRecord &record);
    uint32_t resumeOffset(const DownloadJob &job) const;

    QTableWidget *m_table = nullptr;
    QLabel *m_pathLabel = nullptr;
    QLineEdit *m_pathEdit = nullptr;
    QPushButton *m_browse = nullptr;
    QPushButton *m_start = nullptr;
    QPushButton *m_stop = nullptr;
    QPushButton *m_close = nullptr;
    QCheckBox *m_checkAll = nullptr;

    bool m_idle = true;
    bool m_stopping = false;
    varno::playback::DownloadController *m_controller = nullptr;
    QByteArray m_peerId;
    QByteArray m_peerPw;
    QMap<QString, MEDIA_FILE_S> m_map;
    QString m_folder;
    QString m_dbPath;
    bool m_dbWritable = true;   // false: a download.db that could not be read nor set aside
    QList<varno::playback::DownloadRecord> m_records;   // oldest first; user-interface thread
    mutable std::mutex m_mutex;             // guards m_jobs and m_peerPw (read by tests off the thread)
    QList<DownloadJob> m_jobs;              // in table order
};
