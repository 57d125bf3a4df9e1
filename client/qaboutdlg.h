#pragma once

#include <QDialog>

class QKeyEvent;

// The about dialog: program name and version. Closes with its close button
// or with Return or Enter; other keys do nothing.
class QAboutDlg : public QDialog
{
    Q_OBJECT

public:
    explicit QAboutDlg(QWidget *parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent *event) override;
};
