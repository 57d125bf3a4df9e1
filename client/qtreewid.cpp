#include "client/qtreewid.h"

#include <QMouseEvent>

QTreeWid::QTreeWid(QWidget *parent)
    : QTreeWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setHeaderHidden(true);
    setColumnCount(1);
    setContextMenuPolicy(Qt::CustomContextMenu);
}

void QTreeWid::mousePressEvent(QMouseEvent *event)
{
    if (QTreeWidgetItem *item = itemAt(event->position().toPoint()))
        setCurrentItem(item);
    QTreeWidget::mousePressEvent(event);
}

void QTreeWid::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (QTreeWidgetItem *item = itemAt(event->position().toPoint())) {
        setCurrentItem(item);
        emit MouseDoublePress(item);
    }
    QTreeWidget::mouseDoubleClickEvent(event);
}
