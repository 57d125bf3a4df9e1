#pragma once

#include <QList>
#include <QString>
#include <QWidget>

#include <functional>

class CStorage;
class QCheckBox;
class QLabel;
class QSlider;
class QSpinBox;

namespace Ui {
class QVideoMgr;
}

// "Config Storage" page of the configuration window: one row per disk of
// the storage manager (which disks take recordings and what share of each
// they may fill), overwriting when the disks are full, the record folder
// name, which alarms start a recording, and the snapshot folder. It saves
// once when it is built, which creates the record folders and the storage
// manager's record-disk list before any recording starts.
class QVideoMgr : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QVideoMgr)

public:
    // One disk row.
    struct DiskRow
    {
        QCheckBox *check = nullptr;
        QLabel *label = nullptr;
        QSpinBox *spin = nullptr;
        QSlider *slider = nullptr;
    };

    // storage: the manager the page edits (CStorage::Instance() when null).
    explicit QVideoMgr(QWidget *parent = nullptr, CStorage *storage = nullptr);
    ~QVideoMgr() override;

    const QList<DiskRow> &rows() const { return m_rows; }

    // The folder chooser of "Browse" (title, start folder -> folder, empty
    // when cancelled). The toolkit's modal chooser unless a test installs
    // one; returns the previous chooser.
    using FolderChooser = std::function<QString(QWidget *parent, const QString &title, const QString &start)>;
    static FolderChooser setFolderChooser(FolderChooser chooser);
    // The page save: emits the alarm setting and the snapshot folder, then
    // writes the configuration as shown. False when it could not be saved.
    bool SaveStorageConfig();

signals:
    void SendCreatDiskProc();
    void SendCapPathToConfig(QString path);
    void sendRecordAlarmType(int type);

public slots:
    void RecvCreatDiskProc();
    void on_btnSave_clicked();
    void on_pathButton_clicked();

protected:
    void changeEvent(QEvent *event) override;

private:
    void fillLabel(const DiskRow &row, int type, float freeG, float totalG);

    Ui::QVideoMgr *ui;
    CStorage *m_storage;
    QList<DiskRow> m_rows;
    QList<int> m_types;
    QList<QString> m_roots; // the stored root of each row
    QList<QPair<float, float>> m_space;
};
