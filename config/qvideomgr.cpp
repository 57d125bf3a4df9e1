#include "config/qvideomgr.h"
#include "ui_qvideomgr.h"

#include "common/logfile.h"
#include "common/textfield.h"
#include "common/ui/infobox.h"
#include "record/cstorage.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QEvent>
#include <QLabel>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {
QVideoMgr::FolderChooser g_chooser;
} // namespace

QVideoMgr::FolderChooser QVideoMgr::setFolderChooser(FolderChooser chooser)
{
    FolderChooser previous = std::move(g_chooser);
    g_chooser = std::move(chooser);
    return previous;
}

QVideoMgr::QVideoMgr(QWidget *parent, CStorage *storage)
    : QWidget(parent)
    , ui(new Ui::QVideoMgr)
    , m_storage(storage ? storage : CStorage::Instance())
{
    ui->setupUi(this);
    // The disk rows sit on the page's own dark background: the scroll
    // area's viewport would otherwise paint the light default behind the
    // page's light texts.
    ui->diskArea->setStyleSheet(QStringLiteral("QScrollArea#diskArea { background: transparent; border: 1px solid "
                                               "rgb(74, 82, 94); } QWidget#diskWidget { background: transparent; }"));
    connect(this, &QVideoMgr::SendCreatDiskProc, this, &QVideoMgr::RecvCreatDiskProc, Qt::DirectConnection);
    if (m_storage) {
        ui->capLineEdit->setText(m_storage->getCapturePath());
        ui->alarmComboBox->setCurrentIndex(std::clamp(m_storage->getRecordAlarmType(), 0, 3));
    }
    emit SendCreatDiskProc();
    SaveStorageConfig();
    // A damaged "storage.db" was set aside and the defaults took its place:
    // told once, when the event loop runs (after the main window is shown).
    const QString aside = m_storage ? m_storage->takeResetNotice() : QString();
    if (!aside.isEmpty())
        QTimer::singleShot(0, this, [this, aside] {
            varno::ui::InfoBox(window(), tr("Storage"),
                               tr("The storage settings could not be read and were reset to the defaults. "
                                  "The old file was kept as %1.")
                                   .arg(aside));
        });
}

QVideoMgr::~QVideoMgr()
{
    delete ui;
}

void QVideoMgr::fillLabel(const DiskRow &row, int type, float freeG, float totalG)
{
    QString kind;
    if (type == kDiskFixed)
        kind = tr(" Local disk)");
    else if (type == kDiskRemovable)
        kind = tr(" Removable disk)");
    else
        kind = tr(" Unknown type)");
    row.label->setText(QString::asprintf("(%0.2fG/%0.2fG", double(freeG), double(totalG)) + kind);
}

void QVideoMgr::RecvCreatDiskProc()
{
    if (!m_storage)
        return;
    const QList<DiskInfo_s> disks = m_storage->getDiskList();
    const StorageConfig config = m_storage->getStorageConfig();
    int line = 0;
    for (const DiskInfo_s &disk : disks) {
        const QString root = varno::fieldText(disk.path);
        const StorageDisk_s *saved = nullptr;
        for (const StorageDisk_s &d : config.disks)
            if (varno::fieldText(d.name) == root)
                saved = &d;
        DiskRow row;
        // A disk known by a short name shows where it is mounted.
        const QString dir = root.startsWith(QLatin1Char('@')) ? m_storage->diskDir(root) : QString();
        row.check = new QCheckBox(dir.isEmpty() ? root : dir, ui->diskWidget);
        row.label = new QLabel(ui->diskWidget);
        row.spin = new QSpinBox(ui->diskWidget);
        row.spin->setRange(0, 100);
        row.spin->setSuffix(QStringLiteral("%"));
        row.slider = new QSlider(Qt::Horizontal, ui->diskWidget);
        row.slider->setRange(0, 100);
        row.slider->setMinimumWidth(140);
        connect(row.spin, &QSpinBox::valueChanged, row.slider, &QSlider::setValue);
        connect(row.slider, &QSlider::valueChanged, row.spin, &QSpinBox::setValue);
        if (disk.type != kDiskFixed && disk.type != kDiskRemovable)
            WriteLog(3, "%s(%d):Unknow disk type(%d)!!!", "QVideoMgr::RecvCreatDiskProc", __LINE__, disk.type);
        fillLabel(row, disk.type, disk.freeG, disk.totalG);
        if (saved) {
            row.check->setChecked(saved->selected == 1);
            row.spin->setValue(saved->percent);
        } else {
            row.check->setChecked(true);
            row.spin->setValue(disk.type == kDiskFixed ? 20 : 0);
        }
        ui->diskLayout->addWidget(row.check, line, 0);
        ui->diskLayout->addWidget(row.label, line, 1);
        ui->diskLayout->addWidget(row.spin, line, 2);
        ui->diskLayout->addWidget(row.slider, line, 3);
        ++line;
        m_rows.append(row);
        m_types.append(disk.type);
        m_roots.append(root);
        m_space.append({disk.freeG, disk.totalG});
    }
    ui->diskLayout->setRowStretch(line, 1);
    if (config.count() != 0) {
        ui->coverCheckBox->setChecked(config.cover == 1);
        ui->pathLineEdit->setText(QString::fromUtf8(config.recordDir));
    } else {
        ui->coverCheckBox->setChecked(true);
        ui->pathLineEdit->setText(QStringLiteral("Varno/Record"));
    }
}

bool QVideoMgr::SaveStorageConfig()
{
    const int alarmType = ui->alarmComboBox->currentIndex();
    emit sendRecordAlarmType(alarmType);
    emit SendCapPathToConfig(ui->capLineEdit->text());

    StorageInfo_s info;
    std::memset(&info, 0, sizeof info);
    varno::setText(info.recordDir, ui->pathLineEdit->text().toLatin1().left(31));
    info.cover = ui->coverCheckBox->isChecked() ? 1 : 0;
    info.count = int32_t(m_rows.size());
    std::unique_ptr<StorageDisk_s[]> disks(new (std::nothrow) StorageDisk_s[size_t(std::max(1, info.count))]);
    if (!disks) {
        WriteLog(2, "%s(%d):New storage failed!!!", "QVideoMgr::SaveStorageConfig", __LINE__);
        return false;
    }
    for (int i = 0; i < m_rows.size(); ++i) {
        StorageDisk_s &d = disks[size_t(i)];
        std::memset(&d, 0, sizeof d);
        varno::setText(d.name, m_roots[i].toLatin1().left(int(kDiskRootSize) - 1));
        d.selected = m_rows[i].check->isChecked() ? 1 : 0;
        d.percent = int16_t(m_rows[i].spin->value());
    }
    info.disks = disks.get();
    WriteLog(0, "Save storage, count(%d), cover(%u), path(%s)!!!", info.count, info.cover, info.recordDir);
    return m_storage && m_storage->SaveStorageConfig(ui->capLineEdit->text(), &info, alarmType);
}

void QVideoMgr::on_btnSave_clicked()
{
    if (!SaveStorageConfig()) {
        varno::ui::InfoBox(this, tr("Save"), tr("Failed to open the storage configuration file!"));
        return;
    }
    WriteLog(0, "%s(%d):Save storage settings successfully!!!", "QVideoMgr::on_btnSave_clicked", __LINE__);
    varno::ui::InfoBox(this, tr("Save"),
                       tr("Save storage set successfully. It will take effect from next recording starts."));
}

void QVideoMgr::on_pathButton_clicked()
{
    const QString title = tr("Select the folder");
    const QString dir = g_chooser ? g_chooser(this, title, ui->capLineEdit->text())
                                  : QFileDialog::getExistingDirectory(this, title, ui->capLineEdit->text());
    if (dir.isEmpty()) {
        WriteLog(3, "%s(%d):Has not select any directory!!!", "QVideoMgr::on_pathButton_clicked", __LINE__);
        return;
    }
    ui->capLineEdit->setText(dir);
}

void QVideoMgr::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        for (int i = 0; i < m_rows.size(); ++i)
            fillLabel(m_rows[i], m_types[i], m_space[i].first, m_space[i].second);
    }
    QWidget::changeEvent(event);
}
