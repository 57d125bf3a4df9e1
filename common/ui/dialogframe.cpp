#include "common/ui/dialogframe.h"

#include "resources/resourcepath.h"

#include <QAbstractButton>
#include <QDialog>
#include <QEvent>
#include <QIcon>
#include <QMouseEvent>
#include <QPointer>

namespace varno::ui {

namespace {

const char kStyle[] = R"(
QDialog { background-color: rgb(38, 43, 51); color: rgb(220, 224, 230); }
QFrame#titleFrame { background-color: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 rgb(47, 109, 181), stop:1 rgb(23, 58, 102)); }
QLabel#titleLabel { color: white; font-weight: bold; padding-left: 6px; }
QPushButton#closeButton { border: none; background: transparent; min-width: 34px; max-width: 34px; min-height: 30px; padding: 0; }
QPushButton#closeButton:hover { background-color: rgb(229, 72, 77); }
QFrame#navFrame { background-color: rgb(30, 34, 40); border-right: 1px solid rgb(52, 58, 68); }
QLabel { color: rgb(220, 224, 230); background: transparent; }
QLabel[hint="true"] { color: rgb(150, 160, 174); }
QLineEdit { min-height: 24px; padding: 0 6px; border: 1px solid rgb(74, 82, 94); border-radius: 3px; background: rgb(24, 27, 32); color: rgb(235, 238, 242); selection-background-color: rgb(47, 109, 181); }
QLineEdit:focus { border-color: rgb(59, 143, 224); }
QLineEdit:read-only { background: rgb(44, 49, 58); color: rgb(170, 178, 190); }
QPushButton { background-color: rgb(60, 67, 78); color: rgb(230, 233, 237); border: 1px solid rgb(78, 86, 99); border-radius: 3px; min-width: 80px; min-height: 26px; padding: 0 12px; }
QPushButton:hover { background-color: rgb(72, 80, 93); }
QPushButton:pressed { background-color: rgb(50, 56, 66); }
QPushButton:checked { background-color: rgb(47, 109, 181); border-color: rgb(59, 143, 224); color: white; }
QPushButton[primary="true"] { background-color: rgb(47, 109, 181); border-color: rgb(47, 109, 181); color: white; }
QPushButton[primary="true"]:hover { background-color: rgb(59, 143, 224); }
QPushButton[nav="true"] { text-align: left; padding-left: 14px; min-height: 34px; border: none; border-radius: 0; background: transparent; }
QPushButton[nav="true"]:hover { background-color: rgb(47, 54, 64); }
QPushButton[nav="true"]:checked { background-color: rgb(47, 109, 181); color: white; }
QTableWidget { background: rgb(24, 27, 32); alternate-background-color: rgb(31, 35, 42); color: rgb(220, 224, 230); gridline-color: rgb(52, 58, 68); border: 1px solid rgb(60, 67, 78); selection-background-color: rgb(47, 109, 181); selection-color: white; }
QHeaderView::section { background-color: rgb(47, 54, 64); color: rgb(220, 224, 230); border: none; border-right: 1px solid rgb(60, 67, 78); border-bottom: 1px solid rgb(60, 67, 78); padding: 4px 6px; }
QTableCornerButton::section { background-color: rgb(47, 54, 64); border: none; }
QCheckBox { color: rgb(220, 224, 230); background: transparent; spacing: 8px; }
QCheckBox::indicator, QTableWidget::indicator { width: 14px; height: 14px; border: 1px solid rgb(130, 140, 156); border-radius: 2px; background: rgb(24, 27, 32); }
QCheckBox::indicator:hover, QTableWidget::indicator:hover { border-color: rgb(59, 143, 224); }
QCheckBox::indicator:checked, QTableWidget::indicator:checked { background: rgb(47, 109, 181); border-color: rgb(59, 143, 224); image: url(:/images/check_white.png); }
QScrollBar:vertical { background: rgb(30, 34, 40); width: 12px; margin: 0; }
QScrollBar::handle:vertical { background: rgb(74, 82, 94); min-height: 24px; border-radius: 5px; margin: 1px; }
QScrollBar:horizontal { background: rgb(30, 34, 40); height: 12px; margin: 0; }
QScrollBar::handle:horizontal { background: rgb(74, 82, 94); min-width: 24px; border-radius: 5px; margin: 1px; }
QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; }
QToolTip { color: black; background-color: rgb(255, 255, 225); border: 1px solid rgb(120, 120, 120); }
)";

// Drags the dialog while the left button is held on the title area.
class TitleDragger : public QObject
{
public:
    TitleDragger(QDialog *dialog, QObject *parent)
        : QObject(parent)
        , m_dialog(dialog)
    {
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Only mouse events touch the dialog: the filter also sees the
        // events of the dialog's own destruction, when it is no dialog any more.
        const QEvent::Type type = event->type();
        if ((type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
            || !m_dialog)
            return QObject::eventFilter(watched, event);
        switch (type) {
        case QEvent::MouseButtonPress: {
            auto *e = static_cast<QMouseEvent *>(event);
            if (e->button() == Qt::LeftButton) {
                m_dragging = true;
                m_offset = e->globalPosition().toPoint() - m_dialog->frameGeometry().topLeft();
                return true;
            }
            break;
        }
        case QEvent::MouseMove: {
            auto *e = static_cast<QMouseEvent *>(event);
            if (m_dragging && (e->buttons() & Qt::LeftButton)) {
                m_dialog->move(e->globalPosition().toPoint() - m_offset);
                return true;
            }
            break;
        }
        case QEvent::MouseButtonRelease:
            if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
                m_dragging = false;
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QPointer<QWidget> m_dialog;
    bool m_dragging = false;
    QPoint m_offset;
};

} // namespace

QString dialogStyleSheet()
{
    return QString::fromLatin1(kStyle);
}

void makeFramelessDialog(QDialog *dialog, QWidget *titleArea, QAbstractButton *closeButton)
{
    if (!dialog)
        return;
    dialog->setStyleSheet(dialogStyleSheet());
    dialog->setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    if (titleArea)
        titleArea->installEventFilter(new TitleDragger(dialog, titleArea));
    if (closeButton) {
        closeButton->setIcon(QIcon(resourcePath(QStringLiteral("./images/Sys_Close.png"))));
        closeButton->setIconSize(QSize(18, 18));
        closeButton->setFocusPolicy(Qt::NoFocus);
    }
}

} // namespace varno::ui
