#include "config/qlogmgr.h"
#include "ui_qlogmgr.h"

#include "common/logfile.h"
#include "common/textfield.h"
#include "platform/devmgr/sdk_dvrmgr.h"

#include <QHeaderView>
#include <QTableWidgetItem>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

QLogMgr::QLogMgr(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::QLogMgr)
{
    ui->setupUi(this);
    ui->logTable->setColumnCount(3);
    ui->logTable->setHorizontalHeaderLabels({tr("Time"), tr("User"), tr("Content")});
    ui->logTable->verticalHeader()->setVisible(false);
    ui->logTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ui->logTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    ui->logTable->setAlternatingRowColors(true);
    QHeaderView *header = ui->logTable->horizontalHeader();
    header->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(2, QHeaderView::Stretch);
    header->setMinimumSectionSize(90);

    // The read buffer lives only as long as the read: the table keeps the text.
    std::unique_ptr<LogInfo_s[]> entries(new (std::nothrow) LogInfo_s[kMaxLogEntries]);
    if (!entries) {
        WriteLog(1, "%s(%d):Allocate log buffer failed!!!", "QLogMgr::QLogMgr", __LINE__);
        return;
    }
    std::memset(entries.get(), 0, sizeof(LogInfo_s) * kMaxLogEntries);
    int count = 0;
    const int ret = SDK_DVRMGR_ReadLog(entries.get(), &count);
    if (ret != 0)
        WriteLog(2, "%s(%d):ReadLog failed, ret(%d)!!!", "QLogMgr::QLogMgr", __LINE__, ret);
    count = std::clamp(count, 0, kMaxLogEntries);

    // Entry i of the read goes to row count-1-i: the last entry read is on top.
    ui->logTable->setUpdatesEnabled(false);
    ui->logTable->setRowCount(count);
    for (int i = 0; i < count; ++i)
        fillRow(count - 1 - i, entries[i]);
    ui->logTable->setUpdatesEnabled(true);
}

QLogMgr::~QLogMgr()
{
    delete ui;
}

void QLogMgr::recvLogInfo(LogInfo_s info)
{
    SDK_DVRMGR_WriteLog(info);
    ui->logTable->insertRow(0);
    fillRow(0, info);
}

void QLogMgr::fillRow(int row, const LogInfo_s &info)
{
    const auto centred = Qt::AlignHCenter | Qt::AlignVCenter;
    auto *time = new QTableWidgetItem(
        QString::fromLatin1(info.time, static_cast<qsizetype>(varno::textLength(info.time))));
    time->setTextAlignment(centred);
    auto *user = new QTableWidgetItem(varno::fieldText(info.user));
    user->setTextAlignment(centred);
    const QString text = varno::fieldText(info.content);
    auto *content = new QTableWidgetItem(text);
    content->setToolTip(text);
    ui->logTable->setItem(row, 0, time);
    ui->logTable->setItem(row, 1, user);
    ui->logTable->setItem(row, 2, content);
}
