#pragma once

#include <QTreeWidget>

class QMouseEvent;

// The device tree: no focus, no header. A press of any mouse button on an
// item makes it current; a double click makes it current and reports the
// item; both then run the ordinary tree handling.
class QTreeWid : public QTreeWidget
{
    Q_OBJECT

public:
    explicit QTreeWid(QWidget *parent = nullptr);

signals:
    void MouseDoublePress(QTreeWidgetItem *item);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
};
