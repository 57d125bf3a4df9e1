#pragma once

#include "common/localusr.h"

#include <QDialog>

#include <vector>

class QCoreApplication;
class QKeyEvent;
class QShowEvent;
class QTranslator;

namespace Ui {
class QLogin;
}

// The first window: the operator's user name and password, checked by the
// local user store, the local IP address the program will use and the
// interface language. Remembers per user the password (when asked to) and
// the language in "localusr.db" in the installation directory.
class QLogin : public QDialog
{
    Q_OBJECT

public:
    explicit QLogin(QWidget *parent = nullptr);
    ~QLogin() override;

    // The translator and application used for language switching; applies
    // the language to show first.
    void SetTranslator(QTranslator *translator, QCoreApplication *app);

    // Result: set only when the store accepted the login and a local IP
    // address was chosen.
    bool isAccepted() const { return m_accepted; }
    // The three result buffers (32 bytes each, NUL-terminated).
    const char *userName() const { return m_user; }
    const char *password() const { return m_password; }
    const char *localIp() const { return m_localIp; }

    static constexpr int kMaxRecords = 1024; // records read from localusr.db at most

signals:
    void SendLanChange();

private slots:
    void login_clicked();
    void on_cancelButton_clicked();
    void on_setButton_pressed();
    void on_helpButton_pressed();
    void on_languageCombo_currentIndexChanged(int index);
    void RetranslateUi();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void fillLocalIps();
    // Opens the local user store and fills the name field from it; false
    // (m_storeError set) when the store exists but cannot be read.
    bool openUserStore();
    void GetLocalUsr();
    void SaveUsrInfo();
    // The local IP address last used by the user in the name field (kept
    // in "login.conf" beside localusr.db, whose records have no room for
    // it): selected when it is still an address of this host.
    void selectRememberedIp();
    void saveLocalIp();
    static QString loginSettingsPath();
    // "login.conf" that cannot be read (damaged, not a file, too large,
    // unreadable) is set aside, never written over; false when it stays
    // where it is (it could not be set aside): it is then neither read nor
    // written.
    bool settingsUsable();

    Ui::QLogin *ui;
    char m_user[32];
    char m_password[32];
    char m_localIp[32];
    bool m_accepted = false;
    int m_storeError = 0;
    std::vector<LocalUsr_s> m_records;
    QByteArray m_path;
    QTranslator *m_translator = nullptr;
    QCoreApplication *m_app = nullptr;
    std::vector<char> m_userInfo;
    bool m_settingsStuck = false; // login.conf could not be read nor set aside
    QString m_settingsAside;      // where a damaged login.conf went, told once when shown
};
