#pragma once

#include "common/devicerecords.h"

#include <QWidget>

namespace Ui {
class QLogMgr;
}

// "Log Manager" page: the operation log, newest entry in the top row. At
// construction the stored entries are read (at most kMaxLogEntries); every
// entry received afterwards is stored and shown.
class QLogMgr : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QLogMgr)

public:
    explicit QLogMgr(QWidget *parent = nullptr);
    ~QLogMgr() override;

public slots:
    void recvLogInfo(LogInfo_s info);

private:
    // Fills the given row from the entry.
    void fillRow(int row, const LogInfo_s &info);

    Ui::QLogMgr *ui;
};
