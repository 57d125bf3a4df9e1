#include "config/qusermgr.h"
#include "ui_qusermgr.h"

#include "common/logfile.h"
#include "common/textfield.h"
#include "common/ui/infobox.h"
#include "platform/userstore/user_local.h"

#include <QKeyEvent>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

#include <cstring>

QUserMgr::QUserMgr(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::QUserMgr)
{
    ui->setupUi(this);
    auto *validator = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("^[a-zA-Z0-9]+$")), this);
    ui->oldpassLineEdit->setValidator(validator);
    ui->newpassLineEdit->setValidator(validator);
    ui->confirmpassLineEdit->setValidator(validator);

    // The mismatch note appears once the user typed a confirmation that
    // differs from the new password; its room is kept meanwhile.
    QSizePolicy keep = ui->confirmpassHint->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    ui->confirmpassHint->setSizePolicy(keep);
    ui->confirmpassHint->hide();
    connect(ui->confirmpassLineEdit, &QLineEdit::textEdited, this, [this] {
        m_confirmTyped = true;
        updateConfirmHint();
    });
    connect(ui->newpassLineEdit, &QLineEdit::textChanged, this, &QUserMgr::updateConfirmHint);
    connect(ui->confirmpassLineEdit, &QLineEdit::textChanged, this, &QUserMgr::updateConfirmHint);
}

void QUserMgr::updateConfirmHint()
{
    const QString confirm = ui->confirmpassLineEdit->text();
    ui->confirmpassHint->setVisible(m_confirmTyped && !confirm.isEmpty()
                                    && confirm != ui->newpassLineEdit->text());
}

QUserMgr::~QUserMgr()
{
    delete ui;
}

void QUserMgr::setUserName(const char *user)
{
    ui->usrnameLineEdit->setText(user ? varno::fieldText(user, 32) : QString());
}

void QUserMgr::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        on_changeButton_clicked();
        return;
    }
    QWidget::keyPressEvent(event);
}

void QUserMgr::on_changeButton_clicked()
{
    const QString title = tr("Change Password");
    const QString name = ui->usrnameLineEdit->text();
    if (name.isEmpty()) {
        varno::ui::InfoBox(this, title, tr("User name cannot be empty!"));
        return;
    }
    char user[32];
    varno::setText(user, name);
    WriteLog(0, "[USER]Request change user(%s) password!!!", user);

    const QString oldPass = ui->oldpassLineEdit->text();
    const QString newPass = ui->newpassLineEdit->text();
    const QString confirm = ui->confirmpassLineEdit->text();
    if (oldPass.isEmpty()) {
        varno::ui::InfoBox(this, title, tr("The old password cannot be empty!"));
        return;
    }
    if (newPass.isEmpty()) {
        varno::ui::InfoBox(this, title, tr("The new password cannot be empty!"));
        return;
    }
    if (newPass == oldPass) {
        varno::ui::InfoBox(this, title, tr("New password can not be same with old password!"));
        return;
    }
    if (confirm.isEmpty()) {
        varno::ui::InfoBox(this, title, tr("The confirm password cannot be empty!"));
        return;
    }
    if (confirm != newPass) {
        varno::ui::InfoBox(this, title,
                           tr("The confirm password is not identical as the new password. Please check."));
        return;
    }

    char oldBuf[32];
    char newBuf[32];
    varno::setText(oldBuf, oldPass.toLatin1());
    varno::setText(newBuf, newPass.toLatin1());
    const int ret = User_local_chpass(user, oldBuf, newBuf);
    std::memset(oldBuf, 0, sizeof(oldBuf));
    std::memset(newBuf, 0, sizeof(newBuf));
    if (ret == 0) {
        WriteLog(3, "Change user(%s) password successfully!!!", user);
        varno::ui::InfoBox(this, title, tr("Change password successfully!"));
    } else if (ret == USER_LOCAL_NO_USER) {
        WriteLog(2, "%s(%d):User(%s) does not exist!!!", "QUserMgr::on_changeButton_clicked", __LINE__, user);
        varno::ui::InfoBox(this, title, tr("User name does not exist!"));
    } else if (ret == USER_LOCAL_BAD_PASSWORD) {
        WriteLog(2, "%s(%d):The orignal password incorrect, user(%s)!!!", "QUserMgr::on_changeButton_clicked",
                 __LINE__, user);
        varno::ui::InfoBox(this, title, tr("The orignal password incorrect.Please provide correct password."));
    } else {
        WriteLog(2, "%s(%d):Unknown error, user(%s)!!!", "QUserMgr::on_changeButton_clicked", __LINE__, user);
        varno::ui::InfoBox(this, title, tr("Unknown error!"));
    }
    WriteLog(0, "[USER]Change user(%s) password finished!!!", user);
}
