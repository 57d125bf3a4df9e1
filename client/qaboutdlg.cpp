#include "client/qaboutdlg.h"

#include "resources/resourcepath.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

QAboutDlg::QAboutDlg(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("QAboutDlg"));
    setWindowTitle(tr("About"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    setStyleSheet(QStringLiteral(
        "QDialog#QAboutDlg { background-color: rgb(43, 47, 51); }"
        "QLabel { color: rgb(220, 224, 230); }"
        "QLabel#valueName, QLabel#valueVersion { color: white; font-weight: bold; }"
        "QPushButton { color: white; background-color: rgb(47, 109, 181); border: none;"
        " border-radius: 3px; padding: 6px 22px; }"
        "QPushButton:hover { background-color: rgb(63, 128, 204); }"));

    auto *logo = new QLabel(this);
    logo->setPixmap(QPixmap(varno::resourcePath(QStringLiteral("./images/varno.png")))
                        .scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(14);
    grid->setVerticalSpacing(8);
    grid->addWidget(new QLabel(tr("Name:"), this), 0, 0);
    auto *name = new QLabel(QStringLiteral("VarnoPC"), this);
    name->setObjectName(QStringLiteral("valueName"));
    grid->addWidget(name, 0, 1);
    grid->addWidget(new QLabel(tr("Version:"), this), 1, 0);
    auto *version = new QLabel(QStringLiteral(VARNO_VERSION_TEXT), this);
    version->setObjectName(QStringLiteral("valueVersion"));
    grid->addWidget(version, 1, 1);

    auto *top = new QHBoxLayout;
    top->setSpacing(20);
    top->addWidget(logo);
    top->addLayout(grid, 1);

    auto *close = new QPushButton(tr("Close"), this);
    close->setObjectName(QStringLiteral("btnClose"));
    close->setAutoDefault(false);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(close);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 16);
    layout->setSpacing(18);
    layout->addLayout(top);
    layout->addLayout(buttons);
    setMinimumWidth(320);
}

void QAboutDlg::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        accept();
        return;
    default:
        event->accept();   // Escape and the rest do nothing
    }
}
