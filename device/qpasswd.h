#pragma once

#include <QDialog>
#include <QString>

namespace Ui {
class QPasswd;
}

// "Password": the modal prompt for a camera's password, run when a camera
// has no password or refuses the stored one. The caller runs it and then
// reads getPasswd(); an empty result means that no password was given.
class QPasswd : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QPasswd)

public:
    explicit QPasswd(QWidget *parent = nullptr);
    ~QPasswd() override;

    // Fills the ID and name fields (the ID row is hidden when there is no
    // ID) and puts the focus on the password field.
    void setDevInfo(const char *id, const char *name);
    QString getPasswd() const;

    // Makes this dialog the camera password prompt of the information-box
    // seam (varno::ui::prompt with PromptKind::Password): the request's
    // text is the camera's name; the answer is Ok with the password, or
    // Cancel with no text.
    static void registerAsPasswordPrompt();

public slots:
    void on_confirmButton_clicked();
    void on_cancelButton_clicked();
    void on_closeButton_clicked();

protected:
    // Every way of leaving without Confirm (Cancel, close, Escape) clears
    // the password, so that the caller reads no password.
    void reject() override;

private:
    Ui::QPasswd *ui;
};
