#include "config/qconfigmgr.h"
#include "ui_qconfigmgr.h"

#include "common/loginfo.h"
#include "common/textfield.h"
#include "common/ui/dialogframe.h"
#include "config/qlogmgr.h"
#include "config/qusermgr.h"
#include "config/qvideomgr.h"
#include "record/cstorage.h"

#include <QButtonGroup>
#include <QVBoxLayout>

#include <cstring>

QConfigMgr::QConfigMgr(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::QConfigMgr)
{
    std::memset(m_user, 0, sizeof(m_user));
    ui->setupUi(this);
    varno::ui::makeFramelessDialog(this, ui->titleFrame, ui->closeButton);
    ui->closeButton->setToolTip(tr("Close"));

    auto *group = new QButtonGroup(this);
    group->setExclusive(true);
    group->addButton(ui->userButton);
    group->addButton(ui->videoButton);
    group->addButton(ui->logButton);

    m_userPage = new QUserMgr(ui->pageArea);
    // Built here, its first save creates the record folders and the storage
    // manager's record-disk list before any recording starts.
    auto *storage = new QVideoMgr(ui->pageArea);
    connect(storage, &QVideoMgr::SendCapPathToConfig, this, &QConfigMgr::recvCapPathFromVMgr);
    connect(storage, &QVideoMgr::sendRecordAlarmType, this, &QConfigMgr::recvRecordAlarmType);
    m_videoPage = storage;
    m_videoPage->setObjectName(QStringLiteral("videoPage"));
    m_logPage = new QLogMgr(ui->pageArea);
    auto *pages = new QVBoxLayout(ui->pageArea);
    pages->setContentsMargins(0, 0, 0, 0);
    pages->addWidget(m_userPage);
    pages->addWidget(m_videoPage);
    pages->addWidget(m_logPage);

    // Automatic: entries made on another thread are queued to the page.
    connect(this, &QConfigMgr::sendLogInfo, m_logPage, &QLogMgr::recvLogInfo);

    on_userButton_clicked();
}

QConfigMgr::~QConfigMgr()
{
    delete ui;
}

void QConfigMgr::setUserName(const char *user)
{
    if (user)
        varno::setText(m_user, varno::fieldText(user, sizeof(m_user)));
    else
        std::memset(m_user, 0, sizeof(m_user));
    m_userPage->setUserName(m_user);
}

void QConfigMgr::setStoragePage(QWidget *page)
{
    if (!page || page == m_videoPage)
        return;
    const bool shown = m_videoPage->isVisible();
    page->setParent(ui->pageArea);
    // The layout hands back the old page's item: ours to delete.
    delete ui->pageArea->layout()->replaceWidget(m_videoPage, page);
    delete m_videoPage;
    m_videoPage = page;
    m_videoPage->setVisible(shown);
}

void QConfigMgr::showPage(QWidget *page)
{
    for (QWidget *p : {static_cast<QWidget *>(m_userPage), m_videoPage, static_cast<QWidget *>(m_logPage)}) {
        if (p != page)
            p->hide();
    }
    page->show();
    page->setFocus();
}

void QConfigMgr::on_userButton_clicked()
{
    ui->userButton->setChecked(true);
    showPage(m_userPage);
}

void QConfigMgr::on_videoButton_clicked()
{
    ui->videoButton->setChecked(true);
    showPage(m_videoPage);
}

void QConfigMgr::on_logButton_clicked()
{
    ui->logButton->setChecked(true);
    showPage(m_logPage);
}

void QConfigMgr::on_closeButton_clicked()
{
    close();
}

void QConfigMgr::recvLogInfo(LogInfo_s info)
{
    emit sendLogInfo(info);
}

void QConfigMgr::recvDelDevInfo(QString id)
{
    emit sendLogInfo(varno::makeLogInfo(m_user, tr("Remove device:") + id));
}

void QConfigMgr::recvCapPathFromVMgr(QString path)
{
    emit sendCapPathToClient(path);
}

void QConfigMgr::recvRecordAlarmType(int type)
{
    emit sendRecordAlarmType(type);
}

void QConfigMgr::recvRecordCount(int delta)
{
    if (CStorage *s = CStorage::Instance())
        s->addRecordCount(delta);
}

int QConfigMgr::getRecordAlarmType() const
{
    CStorage *s = CStorage::Instance();
    return s ? s->getRecordAlarmType() : 0;
}

QString QConfigMgr::getCapturePath() const
{
    CStorage *s = CStorage::Instance();
    return s ? s->getCapturePath() : QString();
}
