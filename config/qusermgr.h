#pragma once

#include <QWidget>

class QKeyEvent;

namespace Ui {
class QUserMgr;
}

// "User Manager" page: changes the logged-in operator's password in the
// local user store.
class QUserMgr : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QUserMgr)

public:
    explicit QUserMgr(QWidget *parent = nullptr);
    ~QUserMgr() override;

    // Shows the operator's name (a 32-byte field) in the read-only name field.
    void setUserName(const char *user);

public slots:
    void on_changeButton_clicked();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void updateConfirmHint();

    Ui::QUserMgr *ui;
    bool m_confirmTyped = false;   // the user typed into the confirm field
};
