#include "device/qpasswd.h"
#include "ui_qpasswd.h"

#include "common/ui/dialogframe.h"
#include "common/ui/infobox.h"

QPasswd::QPasswd(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::QPasswd)
{
    ui->setupUi(this);
    varno::ui::makeFramelessDialog(this, ui->titleFrame, ui->closeButton);
    ui->closeButton->setToolTip(tr("Close"));
    ui->confirmButton->setDefault(true);
}

QPasswd::~QPasswd()
{
    delete ui;
}

void QPasswd::setDevInfo(const char *id, const char *name)
{
    const QString idText = id ? QString::fromUtf8(id) : QString();
    ui->idLineEdit->setText(idText);
    ui->idLabel->setVisible(!idText.isEmpty());
    ui->idLineEdit->setVisible(!idText.isEmpty());
    ui->nameLineEdit->setText(name ? QString::fromUtf8(name) : QString());
    ui->passwdLineEdit->clear();
    ui->passwdLineEdit->setFocus();
}

QString QPasswd::getPasswd() const
{
    return ui->passwdLineEdit->text();
}

void QPasswd::on_confirmButton_clicked()
{
    if (ui->passwdLineEdit->text().isEmpty()) {
        varno::ui::InfoBox(this, tr("Property"), tr("Please input password."));
        return;
    }
    accept();
}

void QPasswd::on_cancelButton_clicked()
{
    reject();
}

void QPasswd::reject()
{
    ui->passwdLineEdit->clear();
    QDialog::reject();
}

void QPasswd::on_closeButton_clicked()
{
    reject();
}

void QPasswd::registerAsPasswordPrompt()
{
    varno::ui::setPasswordDialog([](const varno::ui::PromptRequest &request) {
        QPasswd dialog(request.parent);
        const QByteArray id = request.devId.toUtf8();
        dialog.setDevInfo(id.isEmpty() ? nullptr : id.constData(), request.text.toUtf8().constData());
        varno::ui::PromptAnswer answer;
        if (dialog.exec() == QDialog::Accepted && !dialog.getPasswd().isEmpty()) {
            answer.button = QMessageBox::Ok;
            answer.text = dialog.getPasswd();
        } else {
            answer.button = QMessageBox::Cancel;
        }
        return answer;
    });
}
