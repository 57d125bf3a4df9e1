#pragma once

#include "common/devicerecords.h"

#include <QWidget>

namespace Ui {
class QLogMgr;
}

namespace varno::config {
class LogStore;
}

// "Log Manager" page: the operation log, newest entry in the top row. At
// construction the stored entries are asked of the page's LogStore (read
// off the window's thread; they join the table below any entry shown
// meanwhile); every entry received afterwards is stored and shown.
class QLogMgr : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QLogMgr)

public:
    explicit QLogMgr(QWidget *parent = nullptr);
    ~QLogMgr() override;

    varno::config::LogStore *store() const { return m_store; }

public slots:
    void recvLogInfo(LogInfo_s info);

private:
    // Fills the given row from the entry.
    void fillRow(int row, const LogInfo_s &info);
    void showStored(const QList<LogInfo_s> &entries);

    Ui::QLogMgr *ui;
    varno::config::LogStore *m_store;
};
