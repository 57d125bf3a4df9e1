#include "config/qlogmgr.h"
#include "ui_qlogmgr.h"

#include "common/textfield.h"
#include "common/uithread.h"
#include "config/logstore.h"

#include <QHeaderView>
#include <QTableWidgetItem>

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

    m_store = new varno::config::LogStore(this);
    connect(m_store, &varno::config::LogStore::loaded, this, &QLogMgr::showStored);
    m_store->load();
}

void QLogMgr::showStored(const QList<LogInfo_s> &entries)
{
    VARNO_ASSERT_UI_THREAD();
    // Entry i of the read goes below the rows shown meanwhile, the last
    // entry read on top of them: newest first.
    const int count = int(entries.size());
    const int shown = ui->logTable->rowCount();
    ui->logTable->setUpdatesEnabled(false);
    ui->logTable->setRowCount(shown + count);
    for (int i = 0; i < count; ++i)
        fillRow(shown + count - 1 - i, entries[i]);
    ui->logTable->setUpdatesEnabled(true);
}

QLogMgr::~QLogMgr()
{
    // Entries still queued are stored before the widgets go.
    delete m_store;
    delete ui;
}

void QLogMgr::recvLogInfo(LogInfo_s info)
{
    VARNO_ASSERT_UI_THREAD();
    m_store->append(info);
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
