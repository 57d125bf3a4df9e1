#include "client/qlogin.h"

#include "common/localusr.h"
#include "common/textfield.h"
#include "common/ui/promptscript.h"
#include "tests/support/filecaps.h"
#include "tests/support/files.h"
#include "tests/support/testenv.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSettings>
#include <QTimer>
#include <QTranslator>
#include <QtTest>

#include <memory>
#include <optional>

#include <sys/stat.h>

using varno::ui::PromptKind;
using varno::ui::PromptScript;
using varno::test::logText;

namespace {

QString dbPath()
{
    return varno::test::installDir() + QStringLiteral("/localusr.db");
}

QByteArray readDb()
{
    return varno::test::readFile(dbPath());
}

void writeDb(const QByteArray &data)
{
    QDir().mkpath(varno::test::installDir());
    QVERIFY(varno::test::writeFile(dbPath(), data));
}

mode_t dbMode()
{
    struct stat st {};
    return ::stat(dbPath().toLocal8Bit().constData(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

QByteArray record(const char *user, const char *password, bool remember, int32_t language)
{
    LocalUsr_s r;
    std::memset(&r, 0, sizeof(r));
    varno::setText(r.user, user);
    varno::setText(r.password, password);
    r.remember = remember ? 1 : 0;
    r.language = language; // little-endian host
    return QByteArray(reinterpret_cast<const char *>(&r), sizeof(r));
}

template <typename T>
T *child(QWidget *parent, const char *name)
{
    T *w = parent->findChild<T *>(QString::fromLatin1(name));
    if (!w)
        qFatal("no widget %s", name);
    return w;
}

// Fills the dialog and presses Login.
void login(QLogin &dialog, const QString &user, const QString &password, bool remember)
{
    child<QLineEdit>(&dialog, "usernameEdit")->setText(user);
    child<QLineEdit>(&dialog, "passwordEdit")->setText(password);
    child<QCheckBox>(&dialog, "rememberCheck")->setChecked(remember);
    child<QPushButton>(&dialog, "loginButton")->click();
}

} // namespace

class TestQLogin : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QFile::remove(dbPath());
        QDir(dbPath()).removeRecursively();
    }

    void cleanup()
    {
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }

    void rememberedLogins()
    {
        PromptScript prompts;
        const QByteArray other = record("operator2", "", false, 1);
        {
            // First start: an empty private file; the user name from the store.
            QLogin dialog;
            QCOMPARE(readDb().size(), 0);
            QCOMPARE(dbMode(), mode_t(0600));
            QCOMPARE(child<QLineEdit>(&dialog, "usernameEdit")->text(), QStringLiteral("admin"));
            QVERIFY(child<QLineEdit>(&dialog, "passwordEdit")->text().isEmpty());
            QVERIFY(child<QComboBox>(&dialog, "ipCombo")->count() >= 1); // loopback at least
            dialog.show();
            login(dialog, QStringLiteral("admin"), QStringLiteral("admin"), true);
            QVERIFY(dialog.isAccepted());
            QVERIFY(!dialog.isVisible());
            QCOMPARE(QByteArray(dialog.userName()), QByteArray("admin"));
            QCOMPARE(QByteArray(dialog.password()), QByteArray("admin"));
            QCOMPARE(QByteArray(dialog.localIp()), child<QComboBox>(&dialog, "ipCombo")->currentText().toLatin1());
            QVERIFY(logText().contains("[LOGIN]User name(admin) login success!!!\r\n"));
        }
        QCOMPARE(readDb(), record("admin", "admin", true, 0));
        QCOMPARE(dbMode(), mode_t(0600));
        QVERIFY(!QFile::exists(dbPath() + QStringLiteral(".tmp")));

        // A user not in the file yet is appended.
        writeDb(other);
        {
            QLogin dialog;
            login(dialog, QStringLiteral("admin"), QStringLiteral("admin"), true);
        }
        QCOMPARE(readDb(), other + record("admin", "admin", true, 0));

        // The same user again: replaced where it stands; unticked, the password
        // is stored as zeros.
        {
            QLogin dialog;
            child<QComboBox>(&dialog, "languageCombo")->setCurrentIndex(1);
            login(dialog, QStringLiteral("admin"), QStringLiteral("admin"), false);
            QVERIFY(dialog.isAccepted());
        }
        QCOMPARE(readDb(), other + record("admin", "", false, 1));
        QCOMPARE(prompts.count(), 0);

        // The first record is admin's with nothing remembered: nothing is filled in.
        writeDb(record("admin", "", false, 1));
        QLogin dialog;
        QVERIFY(child<QLineEdit>(&dialog, "passwordEdit")->text().isEmpty());
        QVERIFY(!child<QCheckBox>(&dialog, "rememberCheck")->isChecked());
        QCOMPARE(child<QComboBox>(&dialog, "languageCombo")->currentIndex(), 0);
    }

    void hundredByteFileHoldsOneRecord()
    {
        writeDb(record("admin", "admin", true, 1) + QByteArray(28, 'z'));
        PromptScript prompts;
        QLogin dialog;
        QVERIFY(logText().contains("[LOGIN]User count is 1!!!\r\n"));
        QCOMPARE(child<QLineEdit>(&dialog, "passwordEdit")->text(), QStringLiteral("admin"));
        QVERIFY(child<QCheckBox>(&dialog, "rememberCheck")->isChecked());
        QCOMPARE(child<QComboBox>(&dialog, "languageCombo")->currentIndex(), 1);
        child<QPushButton>(&dialog, "loginButton")->click();
        QVERIFY(dialog.isAccepted());
        // The 28 bytes behind the record are gone after the save.
        QCOMPARE(readDb(), record("admin", "admin", true, 1));
    }

    void plantedLinksAreNotFollowed()
    {
        // Links planted at the file's name and at its temporary name: neither
        // target is created or written, and the remembered login still lands
        // in the file itself.
        PromptScript prompts;
        QDir().mkpath(varno::test::installDir());
        const QString created = varno::test::tempRoot() + QStringLiteral("/created-through-link");
        const QString victim = varno::test::tempRoot() + QStringLiteral("/victim");
        QVERIFY(QFile::link(created, dbPath()));
        {
            QLogin dialog;
            QVERIFY(!QFile::exists(created));
        }
        QVERIFY(QFile::remove(dbPath()));
        QVERIFY(varno::test::writeFile(victim, "keep"));
        QVERIFY(QFile::link(victim, dbPath() + QStringLiteral(".tmp")));
        {
            QLogin dialog;
            login(dialog, QStringLiteral("admin"), QStringLiteral("admin"), true);
            QVERIFY(dialog.isAccepted());
        }
        QCOMPARE(varno::test::readFile(victim), QByteArray("keep"));
        QCOMPARE(readDb(), record("admin", "admin", true, 0));
        QCOMPARE(dbMode(), mode_t(0600));
        QVERIFY(!QFileInfo::exists(dbPath() + QStringLiteral(".tmp")));
        QVERIFY(!QFileInfo(dbPath() + QStringLiteral(".tmp")).isSymLink());
    }

    void badFilesNeverBlockLogin_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("kept");      // whole records kept in front of admin's
        QTest::addColumn<qint64>("sparse"); // > 0: the file is grown to this size
        QByteArray garbage(720, '\0');
        QRandomGenerator rng(20190225);
        for (char &c : garbage)
            c = char(rng.bounded(256));
        garbage[64] = 1;                           // a remembered password, unterminated
        std::memset(garbage.data() + 68, 0x7f, 4); // and a language that does not exist
        QTest::newRow("random bytes") << garbage << 10 << qint64(0);
        QTest::newRow("short") << QByteArray(71, 'x') << 0 << qint64(0);
        QTest::newRow("all 0xff") << QByteArray(144, '\xff') << 2 << qint64(0);
        // Far beyond any real number of users: only the first 1,024 are read.
        QTest::newRow("oversized") << QByteArray(72, 'o') << 1024 << qint64(72) * 2000000;
        QTest::newRow("a folder") << QByteArray() << -1 << qint64(0);
    }

    void badFilesNeverBlockLogin()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, kept);
        QFETCH(qint64, sparse);
        if (kept < 0) {
            QVERIFY(QDir().mkpath(dbPath())); // neither readable nor writable as a file
        } else {
            writeDb(content);
            if (sparse > 0)
                QVERIFY(QFile::resize(dbPath(), sparse));
        }
        PromptScript prompts;
        QLogin dialog;
        QCOMPARE(child<QComboBox>(&dialog, "languageCombo")->currentIndex(), 0);
        login(dialog, QStringLiteral("admin"), QStringLiteral("admin"), false);
        QVERIFY(dialog.isAccepted());
        QCOMPARE(prompts.count(), 0);
        if (kept < 0) {
            QVERIFY(QFileInfo(dbPath()).isDir());
            QVERIFY(logText().contains("QLogin::SaveUsrInfo"));
            QVERIFY(!QFile::exists(dbPath() + QStringLiteral(".tmp")));
            return;
        }
        if (sparse > 0)
            QVERIFY(logText().contains("holds 2000000 users, only 1024 are read!!!"));
        const QByteArray db = readDb();
        QCOMPARE(db.size(), (kept + 1) * 72);
        QCOMPARE(db.right(72), record("admin", "", false, 0));
        // The records that were read are written back byte for byte.
        QCOMPARE(db.left(qMin(kept * 72, int(content.size()))), content.left(kept * 72));
    }

    void messages()
    {
        PromptScript prompts;
        QLogin dialog;
        dialog.show();
        login(dialog, QString(), QStringLiteral("admin"), true);
        login(dialog, QStringLiteral("admin"), QString(), true);
        login(dialog, QStringLiteral("nobody"), QStringLiteral("admin"), true);
        login(dialog, QStringLiteral("admin"), QStringLiteral("wrong"), true);
        // Over-long text is cut to the 31 bytes of the buffers, whole letters only.
        QLineEdit *user = child<QLineEdit>(&dialog, "usernameEdit");
        QLineEdit *password = child<QLineEdit>(&dialog, "passwordEdit");
        user->setMaxLength(100);
        password->setMaxLength(100);
        login(dialog, QString(40, QLatin1Char('u')), QString(40, QChar(0x00e4)), true);
        QCOMPARE(QByteArray(dialog.userName()), QByteArray(31, 'u'));
        QCOMPARE(QString::fromUtf8(dialog.password()), QString(15, QChar(0x00e4)));
        QTest::mousePress(child<QPushButton>(&dialog, "helpButton"), Qt::LeftButton);

        const QStringList expected{
            QStringLiteral("User name can not be empty!"),
            QStringLiteral("Password can not be empty!"),
            QStringLiteral("Username does not exist!"),
            QStringLiteral("Password incorrect, please have a check and try again."),
            QStringLiteral("Username does not exist!"),
            QStringLiteral("Login Password Instruction:\n"
                           "1. Initial login username: admin\n"
                           "2. Initial login password: admin\n"
                           "3. Please change the login password later in the software:\n"
                           "   Config Management -> Login Password\n"
                           "4. In case you forget the login password, please uninstall\n"
                           "   and then install the VarnoPC"),
        };
        const QList<varno::ui::PromptRequest> seen = prompts.requests();
        QCOMPARE(seen.size(), expected.size());
        for (int i = 0; i < seen.size(); ++i) {
            QCOMPARE(seen[i].kind, PromptKind::Information);
            QCOMPARE(seen[i].title, QStringLiteral("Login"));
            QCOMPARE(seen[i].text, expected[i]);
        }
        const QByteArray log = logText();
        QVERIFY(log.contains("QLogin::login_clicked(389):User name(nobody) does not exist!!!\r\n"));
        QVERIFY(log.contains("QLogin::login_clicked(395):Password incorrect!!!\r\n"));
        QVERIFY(!dialog.isAccepted());
        QVERIFY(dialog.isVisible());
        QCOMPARE(readDb().size(), 0); // refused logins are not remembered

        login(dialog, QStringLiteral("admin"), QStringLiteral("admin"), true);
        QVERIFY(dialog.isAccepted());
    }

    void noLocalIpEndsTheProgram()
    {
        PromptScript prompts;
        QLogin dialog;
        dialog.show();
        child<QComboBox>(&dialog, "ipCombo")->clear();
        login(dialog, QStringLiteral("admin"), QStringLiteral("admin"), true);
        QCOMPARE(prompts.count(), 1);
        QCOMPARE(prompts.requests().at(0).text, QStringLiteral("Can't get local ip, exit!"));
        QVERIFY(logText().contains("QLogin::login_clicked(380):Can't get local ip, exit!!!\r\n"));
        QVERIFY(!dialog.isAccepted());
        QVERIFY(!dialog.isVisible());
        QCOMPARE(readDb().size(), 72); // the login itself was good and is remembered
    }

    void keys()
    {
        PromptScript prompts;
        {
            // Escape and other keys do nothing; Cancel closes without accepting.
            QLogin dialog;
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            child<QLineEdit>(&dialog, "passwordEdit")->setText(QStringLiteral("admin"));
            for (Qt::Key key : {Qt::Key_Escape, Qt::Key_F1, Qt::Key_Space})
                QTest::keyClick(&dialog, key);
            // Whatever the keys queued has run once an event posted behind them has.
            bool drained = false;
            QTimer::singleShot(0, &dialog, [&drained] { drained = true; });
            QTRY_VERIFY(drained);
            QVERIFY(dialog.isVisible());
            QVERIFY(!dialog.isAccepted());
            child<QPushButton>(&dialog, "cancelButton")->click();
            QVERIFY(!dialog.isVisible());
            QVERIFY(!dialog.isAccepted());
            QCOMPARE(readDb().size(), 0);
        }
        {
            // The keypad's Enter logs in, also from inside a text field.
            QLogin dialog;
            dialog.show();
            QLineEdit *password = child<QLineEdit>(&dialog, "passwordEdit");
            password->setText(QStringLiteral("admin"));
            QTest::keyClick(password, Qt::Key_Enter, Qt::KeypadModifier);
            QVERIFY(dialog.isAccepted());
        }
        {
            // So does Return (the Login button's shortcut).
            QLogin dialog;
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            QApplication::setActiveWindow(&dialog);
            QLineEdit *password = child<QLineEdit>(&dialog, "passwordEdit");
            password->setText(QStringLiteral("admin"));
            password->setFocus();
            QTest::keyClick(password, Qt::Key_Return);
            QTRY_VERIFY(dialog.isAccepted());
        }
        QCOMPARE(prompts.count(), 0);
    }

    void settingsAreaGrowsAndShrinks()
    {
        QLogin dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QFrame *area = child<QFrame>(&dialog, "settingsFrame");
        QPushButton *settings = child<QPushButton>(&dialog, "setButton");
        const QSize closed = dialog.size();
        QVERIFY(!area->isVisible());

        QTest::mousePress(settings, Qt::LeftButton);
        QVERIFY(area->isVisible());
        QVERIFY(area->height() > 0);
        QCOMPARE(dialog.size(), QSize(closed.width(), closed.height() + area->height()));
        // The whole area shows inside the dialog.
        QVERIFY(dialog.rect().contains(QRect(area->mapTo(&dialog, QPoint(0, 0)), area->size())));
        QVERIFY(child<QComboBox>(&dialog, "ipCombo")->isVisible());

        QTest::mousePress(settings, Qt::LeftButton);
        QVERIFY(!area->isVisible());
        QCOMPARE(dialog.size(), closed);
        for (int i = 0; i < 10; ++i) // an even number of presses ends where it started
            QTest::mousePress(settings, Qt::LeftButton);
        QCOMPARE(dialog.size(), closed);
    }

    void languages()
    {
        QTranslator translator;
        PromptScript prompts;
        {
            // Before the hand-over from start-up a change is refused.
            QLogin early;
            child<QComboBox>(&early, "languageCombo")->setCurrentIndex(1);
            QCOMPARE(child<QPushButton>(&early, "loginButton")->text(), QStringLiteral("Login"));
        }
        QLogin dialog;
        dialog.SetTranslator(&translator, QCoreApplication::instance());
        QComboBox *language = child<QComboBox>(&dialog, "languageCombo");
        QCOMPARE(language->currentIndex(), 0); // no German locale in the test
        QCOMPARE(child<QPushButton>(&dialog, "loginButton")->text(), QStringLiteral("Login"));

        language->setCurrentIndex(1);
        QVERIFY(logText().contains("[LOGIN]Change language, index(1)!!!\r\n"));
        QCOMPARE(child<QPushButton>(&dialog, "loginButton")->text(), QStringLiteral("Anmelden"));
        QCOMPARE(child<QLabel>(&dialog, "usernameLabel")->text(), QStringLiteral("Benutzername"));
        QCOMPARE(language->itemText(0), QStringLiteral("Englisch"));
        QCOMPARE(language->itemText(1), QStringLiteral("Deutsch"));
        QCOMPARE(language->currentIndex(), 1);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Anmelden"));
        login(dialog, QString(), QStringLiteral("x"), false);
        QCOMPARE(prompts.requests().last().title, QStringLiteral("Anmelden"));
        QCOMPARE(prompts.requests().last().text, QStringLiteral("Der Benutzername darf nicht leer sein!"));

        language->setCurrentIndex(0);
        QCOMPARE(child<QPushButton>(&dialog, "loginButton")->text(), QStringLiteral("Login"));
        QCOMPARE(language->itemText(1), QStringLiteral("German"));

        // The language is remembered with the login and shown first next time.
        language->setCurrentIndex(1);
        login(dialog, QStringLiteral("admin"), QStringLiteral("admin"), true);
        QCOMPARE(readDb(), record("admin", "admin", true, 1));
        QCoreApplication::removeTranslator(&translator);
        QTranslator next;
        QLogin again;
        again.SetTranslator(&next, QCoreApplication::instance());
        QCOMPARE(child<QPushButton>(&again, "loginButton")->text(), QStringLiteral("Anmelden"));
        QCoreApplication::removeTranslator(&next);
    }

    void localIpRememberedPerUser()
    {
        PromptScript prompts;
        const QString settingsFile = varno::test::installDir() + QStringLiteral("/login.conf");
        QFile::remove(settingsFile);
        QStringList addresses;
        {
            QLogin dialog;
            auto *ips = child<QComboBox>(&dialog, "ipCombo");
            for (int i = 0; i < ips->count(); ++i)
                addresses << ips->itemText(i);
            QCOMPARE(ips->currentIndex(), 0);
            if (addresses.size() < 2)
                QSKIP("this host has one IPv4 address: there is nothing to choose");
            dialog.show();
            child<QPushButton>(&dialog, "setButton")->click();
            ips->setCurrentIndex(addresses.size() - 1);
            login(dialog, QStringLiteral("admin"), QStringLiteral("admin"), false);
            QVERIFY(dialog.isAccepted());
            QCOMPARE(QString::fromLatin1(dialog.localIp()), addresses.last());
        }
        // Kept in a file of our own; localusr.db keeps its fixed records.
        QVERIFY(QFile::exists(settingsFile));
        QCOMPARE(readDb().size(), qsizetype(sizeof(LocalUsr_s)));
        {
            // The next start offers the last choice; another user gets the
            // first address, and the choice follows the name typed.
            QLogin dialog;
            auto *ips = child<QComboBox>(&dialog, "ipCombo");
            QCOMPARE(ips->currentText(), addresses.last());
            auto *name = child<QLineEdit>(&dialog, "usernameEdit");
            name->setText(QStringLiteral("operator"));
            emit name->editingFinished();
            QCOMPARE(ips->currentIndex(), 0);
            name->setText(QStringLiteral("admin"));
            emit name->editingFinished();
            QCOMPARE(ips->currentText(), addresses.last());
        }
        {
            // An address this host no longer has: the first one.
            QSettings settings(settingsFile, QSettings::IniFormat);
            settings.setValue(QStringLiteral("LocalIp/admin"), QStringLiteral("203.0.113.77"));
            settings.sync();
        }
        QLogin dialog;
        QCOMPARE(child<QComboBox>(&dialog, "ipCombo")->currentIndex(), 0);
        QCOMPARE(prompts.count(), 0);
    }

    // A login.conf that cannot be read is never written over: it is set aside
    // (and its remembered addresses forgotten), the log names it, the user is
    // told once when the dialog shows, and the login saves a fresh file.
    void damagedLoginSettingsAreSetAside_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<qint64>("sparse"); // > 0: the file is grown to this size
        QTest::addColumn<int>("kind");      // 0 file, 1 folder, 2 unreadable file
        QByteArray garbage(4096, '\0');
        QRandomGenerator rng(20261207);
        for (char &c : garbage)
            c = char(rng.bounded(256));
        QTest::newRow("random bytes") << garbage << qint64(0) << 0;
        QTest::newRow("too large") << QByteArray("[LocalIp]\nadmin=127.0.0.1\n") << qint64(2) * 1024 * 1024 << 0;
        QTest::newRow("a folder") << QByteArray() << qint64(0) << 1;
        QTest::newRow("unreadable") << QByteArray("[LocalIp]\nadmin=127.0.0.1\n") << qint64(0) << 2;
    }

    void damagedLoginSettingsAreSetAside()
    {
        QFETCH(QByteArray, content);
        QFETCH(qint64, sparse);
        QFETCH(int, kind);
        const QString file = varno::test::installDir() + QStringLiteral("/login.conf");
        QFile::remove(file);
        QDir(file).removeRecursively();
        const QDir dir(varno::test::installDir());
        for (const QString &old : dir.entryList({QStringLiteral("login.conf.corrupt-*")}))
            QVERIFY(QFile::remove(dir.filePath(old)) || QDir(dir.filePath(old)).removeRecursively());
        if (kind == 1) {
            QVERIFY(QDir().mkpath(file + QStringLiteral("/inside")));
        } else {
            QVERIFY(varno::test::writeFile(file, content));
            if (sparse > 0)
                QVERIFY(QFile::resize(file, sparse));
            if (kind == 2)
                QVERIFY(QFile::setPermissions(file, {}));
        }
        PromptScript prompts;
        {
            std::optional<varno::test::WithoutFileCapabilities> unreadable;
            if (kind == 2)
                unreadable.emplace();
            QLogin dialog;
            dialog.show();
            QTRY_COMPARE(prompts.count(), 1);
            const QStringList aside = dir.entryList({QStringLiteral("login.conf.corrupt-*")});
            QCOMPARE(aside.size(), 1);
            QCOMPARE(prompts.requests()[0].text,
                     QStringLiteral("The login settings could not be read and were reset. The old file was kept as %1.")
                         .arg(dir.filePath(aside[0])));
            QVERIFY(logText().contains("login.conf(" + QFile::encodeName(file) + ") set aside as("));
            login(dialog, QStringLiteral("admin"), QStringLiteral("admin"), false);
            QVERIFY(dialog.isAccepted());
        }
        // Kept as it was; a fresh file holds the new choice.
        const QString kept = dir.filePath(dir.entryList({QStringLiteral("login.conf.corrupt-*")}).value(0));
        if (kind == 1) {
            QVERIFY(QFileInfo::exists(kept + QStringLiteral("/inside")));
        } else {
            QVERIFY(QFile::setPermissions(kept, QFile::ReadOwner | QFile::WriteOwner));
            QFile f(kept);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.read(content.size()), content);
            QCOMPARE(f.size(), sparse > 0 ? sparse : content.size());
        }
        QVERIFY(QFileInfo(file).isFile());
        QCOMPARE(QSettings(file, QSettings::IniFormat).value(QStringLiteral("LocalIp/admin")).toString(),
                 child<QComboBox>(std::make_unique<QLogin>().get(), "ipCombo")->itemText(0));
        QCOMPARE(prompts.count(), 1);
    }

    // Hiding the window at destruction ends the name field's editing: the
    // dialog's own handler must not run on the half-destroyed dialog (the
    // sanitizer build reported a bad downcast and the freed form here).
    void closedWhileTheNameFieldHasTheFocus()
    {
        PromptScript prompts;
        auto *dialog = new QLogin;
        dialog->show();
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        auto *name = child<QLineEdit>(dialog, "usernameEdit");
        name->setFocus();
        QTRY_VERIFY(name->hasFocus());
        QSignalSpy finished(name, &QLineEdit::editingFinished);
        delete dialog;
        QCOMPARE(finished.count(), 1); // the path was taken
    }

    void unreadableUserStoreIsNamed()
    {
        PromptScript prompts;
        { QLogin made; } // the store exists with its default account
        const QString store = varno::test::installDir() + QStringLiteral("/userstore.json");
        QVERIFY(QFile::exists(store));
        const QByteArray before = varno::test::readFile(store);
        QVERIFY(QFile::setPermissions(store, {}));
        {
            varno::test::WithoutFileCapabilities unreadable;
            QLogin dialog;
            login(dialog, QStringLiteral("admin"), QStringLiteral("admin"), false);
            QVERIFY(!dialog.isAccepted());
            QCOMPARE(prompts.count(), 1);
            QCOMPARE(prompts.requests()[0].text,
                     QStringLiteral("The user store %1 cannot be read. Check that the file is readable by this user.")
                         .arg(store));
            // Mended while the dialog is open: the next press logs in.
            QVERIFY(QFile::setPermissions(store, QFile::ReadOwner | QFile::WriteOwner));
            login(dialog, QStringLiteral("admin"), QStringLiteral("admin"), false);
            QVERIFY(dialog.isAccepted());
        }
        QFile f(store);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before); // never replaced by a default store
        QCOMPARE(prompts.count(), 1);
    }
};

QTEST_MAIN(TestQLogin)
#include "tst_qlogin.moc"
