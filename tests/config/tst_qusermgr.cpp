// The user password page: the checks in their order, every answer of the
// local user store, the letters-and-digits fields and the Return key.
#include "common/ui/promptscript.h"
#include "config/qusermgr.h"
#include "platform/userstore/user_local.h"
#include "platform/userstore/userfile.h"
#include "tests/support/testenv.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <cstring>

using varno::ui::PromptScript;

namespace {

int login(const char *user, const char *password)
{
    char u[32] = {};
    char p[32] = {};
    std::strncpy(u, user, sizeof(u) - 1);
    std::strncpy(p, password, sizeof(p) - 1);
    return User_local_login(u, p);
}

} // namespace

class TestQUserMgr : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QCOMPARE(User_local_Init(), 0);
    }

    void cleanup()
    {
        // A case that changed the password leaves a fresh store (with the
        // default account) to the next one; password hashing is slow, so the
        // store is kept otherwise.
        User_local_UnInit();
        if (m_resetStore)
            QFile::remove(varno::test::installDir() + QLatin1Char('/') + QLatin1String(varno::userstore::kFileName));
        m_resetStore = false;
    }

    void answers_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("oldPass");
        QTest::addColumn<QString>("newPass");
        QTest::addColumn<QString>("confirm");
        QTest::addColumn<bool>("storeOpen");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("passwordAfter");
        const auto row = [](const char *name, const char *user, const char *oldPass, const char *newPass,
                            const char *confirm, const char *message, const char *after = "admin", bool open = true) {
            QTest::newRow(name) << user << oldPass << newPass << confirm << open << message << after;
        };
        // Each of the first rows breaks its own rule and every later one, so
        // that only the order of the checks can pick the message.
        row("no user", "", "", "", "", "User name cannot be empty!");
        row("no old", "admin", "", "", "", "The old password cannot be empty!");
        row("no new", "admin", "admin", "", "", "The new password cannot be empty!");
        row("same as old before confirm", "admin", "admin", "admin", "", "New password can not be same with old password!");
        row("no confirm", "admin", "admin", "abc123", "", "The confirm password cannot be empty!");
        row("confirm differs", "admin", "admin", "abc123", "abc124",
            "The confirm password is not identical as the new password. Please check.");
        // The local user store's answers.
        row("changed", "admin", "admin", "abc123", "abc123", "Change password successfully!", "abc123");
        row("wrong old", "admin", "wrong1", "abc123", "abc123",
            "The orignal password incorrect.Please provide correct password.");
        row("no such user", "ghost", "admin", "abc123", "abc123", "User name does not exist!");
        row("store closed", "admin", "admin", "abc123", "abc123", "Unknown error!", "admin", false);
    }

    void answers()
    {
        QFETCH(QString, user);
        QFETCH(QString, oldPass);
        QFETCH(QString, newPass);
        QFETCH(QString, confirm);
        QFETCH(bool, storeOpen);
        QFETCH(QString, message);
        QFETCH(QString, passwordAfter);
        if (!storeOpen)
            User_local_UnInit();
        PromptScript script;
        QUserMgr page;
        fill(page, user, oldPass, newPass, confirm);
        page.on_changeButton_clicked();
        const auto requests = script.take();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(std::tuple(requests[0].title, requests[0].text, requests[0].kind),
                 std::tuple(QStringLiteral("Change Password"), message, varno::ui::PromptKind::Information));
        if (passwordAfter != QLatin1String("admin")) {
            QCOMPARE(login("admin", passwordAfter.toLatin1().constData()), 0);
            m_resetStore = true;
        }
        // The fields keep their text after the attempt.
        QCOMPARE(page.findChild<QLineEdit *>("newpassLineEdit")->text(), newPass);
    }

    void fieldsTakeLettersAndDigitsOnly()
    {
        QUserMgr page;
        for (const char *name : {"oldpassLineEdit", "newpassLineEdit", "confirmpassLineEdit"}) {
            auto *edit = page.findChild<QLineEdit *>(name);
            QVERIFY(edit);
            QTest::keyClicks(edit, QStringLiteral("ab#c 1-2_3"));
            QCOMPARE(std::tuple(edit->text(), edit->echoMode(), edit->maxLength()),
                     std::tuple(QStringLiteral("abc123"), QLineEdit::Password, 31));
        }
        auto *name = page.findChild<QLineEdit *>("usrnameLineEdit");
        QVERIFY(name->isReadOnly());
        QCOMPARE(name->maxLength(), 32);
        // A 32-byte name field without a terminator is read to its end only.
        char full[32];
        std::memset(full, 'u', sizeof(full));
        page.setUserName(full);
        QCOMPARE(name->text(), QString(32, QLatin1Char('u')));
    }

    void returnActsAsTheButton()
    {
        PromptScript script;
        QUserMgr page;
        page.show();
        fill(page, QStringLiteral("admin"), QStringLiteral("admin"), QStringLiteral("xyz789"), QStringLiteral("xyz789"));
        auto *confirm = page.findChild<QLineEdit *>("confirmpassLineEdit");
        confirm->setFocus();
        QTest::keyClick(confirm, Qt::Key_Return);
        QCOMPARE(script.count(), 1);
        QCOMPARE(script.take()[0].text, QStringLiteral("Change password successfully!"));
        QTest::keyClick(confirm, Qt::Key_Enter);
        // The second press tries again with the same fields: the old one is now wrong.
        QCOMPARE(script.take()[0].text, QStringLiteral("The orignal password incorrect.Please provide correct password."));
        QCOMPARE(login("admin", "xyz789"), 0);
        m_resetStore = true;
    }

    void mismatchNoteOnlyAfterTyping()
    {
        QUserMgr page;
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        auto *note = page.findChild<QLabel *>(QStringLiteral("confirmpassHint"));
        auto *newPass = page.findChild<QLineEdit *>(QStringLiteral("newpassLineEdit"));
        auto *confirm = page.findChild<QLineEdit *>(QStringLiteral("confirmpassLineEdit"));
        // Nothing typed yet, and only a new password typed: no note.
        QVERIFY(!note->isVisible());
        QTest::keyClicks(newPass, QStringLiteral("abc123"));
        QVERIFY(!note->isVisible());
        // The confirmation on its way differs; once equal the note goes.
        QTest::keyClicks(confirm, QStringLiteral("abc1"));
        QVERIFY(note->isVisible());
        QTest::keyClicks(confirm, QStringLiteral("23"));
        QVERIFY(!note->isVisible());
        // The new password edited afterwards: they differ again.
        QTest::keyClick(newPass, Qt::Key_Backspace);
        QVERIFY(note->isVisible());
        // An emptied confirmation says nothing.
        confirm->selectAll();
        QTest::keyClick(confirm, Qt::Key_Backspace);
        QVERIFY(!note->isVisible());
    }

private:
    bool m_resetStore = false;

    void fill(QUserMgr &page, const QString &user, const QString &oldPass, const QString &newPass,
              const QString &confirm)
    {
        QByteArray name = user.toUtf8();
        name.resize(32, '\0');
        page.setUserName(name.constData());
        page.findChild<QLineEdit *>("oldpassLineEdit")->setText(oldPass);
        page.findChild<QLineEdit *>("newpassLineEdit")->setText(newPass);
        page.findChild<QLineEdit *>("confirmpassLineEdit")->setText(confirm);
    }
};

QTEST_MAIN(TestQUserMgr)
#include "tst_qusermgr.moc"
