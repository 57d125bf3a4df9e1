#include "client/qlogin.h"

#include "common/installdir.h"
#include "common/localusr.h"
#include "common/textfield.h"
#include "common/ui/promptscript.h"
#include "tests/support/testenv.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTranslator>
#include <QtTest>

#include <sys/stat.h>

using varno::ui::PromptKind;
using varno::ui::PromptScript;

namespace {

QString dbPath()
{
    return varno::test::installDir() + QStringLiteral("/localusr.db");
}

QByteArray readDb()
{
    QFile f(dbPath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeDb(const QByteArray &data)
{
    QDir().mkpath(varno::test::installDir());
    QFile f(dbPath());
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(data), data.size());
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

LocalUsr_s recordAt(const QByteArray &db, int index)
{
    LocalUsr_s r;
    std::memset(&r, 0, sizeof(r));
    if (db.size() >= (index + 1) * int(sizeof(r)))
        std::memcpy(&r, db.constData() + index * sizeof(r), sizeof(r));
    return r;
}

QByteArray logText()
{
    QFile f(varno::test::installDir() + QStringLiteral("/log/Varno.log"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
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
    void init();
    void cleanup();

    void firstStartCreatesThePrivateFile();
    void loginSavesTheRecord();
    void hundredByteFileHoldsOneRecord();
    void newUserIsAppendedThenReplacedInPlace();
    void untickedRememberStoresZeroPassword();
    void badFilesNeverBlockLogin_data();
    void badFilesNeverBlockLogin();
    void oversizedFileIsReadInPart();
    void fileThatIsAFolder();
    void emptyFieldsAreRefused();
    void storeRefusals();
    void noLocalIpEndsTheProgram();
    void keypadEnterLogsIn();
    void returnKeyLogsIn();
    void escapeAndOtherKeysDoNothing();
    void cancelRefuses();
    void settingsAreaGrowsAndShrinks();
    void helpText();
    void languageSwitch();
    void rememberedLanguageAtFirstDisplay();
    void languageBeforeTranslatorIsRefused();
    void longNamesAreCut();
};

void TestQLogin::init()
{
    QFile::remove(dbPath());
    QDir(dbPath()).removeRecursively();
}

void TestQLogin::cleanup()
{
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
}

void TestQLogin::firstStartCreatesThePrivateFile()
{
    QLogin dialog;
    QVERIFY(QFile::exists(dbPath()));
    QCOMPARE(readDb().size(), 0);
    struct stat st {};
    QCOMPARE(::stat(dbPath().toLocal8Bit().constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, mode_t(0600));
    // The user name comes from the user store: the default operator.
    QCOMPARE(child<QLineEdit>(&dialog, "usernameEdit")->text(), QStringLiteral("admin"));
    QVERIFY(child<QLineEdit>(&dialog, "passwordEdit")->text().isEmpty());
    QVERIFY(!child<QCheckBox>(&dialog, "rememberCheck")->isChecked());
    QVERIFY(!dialog.isAccepted());
    QCOMPARE(QByteArray(dialog.userName()), QByteArray());
    QVERIFY(child<QComboBox>(&dialog, "ipCombo")->count() >= 1); // loopback at least
}

void TestQLogin::loginSavesTheRecord()
{
    PromptScript prompts;
    QLogin dialog;
    dialog.show();
    login(dialog, QStringLiteral("admin"), QStringLiteral("admin"), true);
    QCOMPARE(prompts.count(), 0);
    QVERIFY(dialog.isAccepted());
    QVERIFY(!dialog.isVisible());
    QCOMPARE(QByteArray(dialog.userName()), QByteArray("admin"));
    QCOMPARE(QByteArray(dialog.password()), QByteArray("admin"));
    QCOMPARE(QByteArray(dialog.localIp()), child<QComboBox>(&dialog, "ipCombo")->currentText().toLatin1());
    QVERIFY(logText().contains("[LOGIN]User name(admin) login success!!!\r\n"));

    const QByteArray db = readDb();
    QCOMPARE(db.size(), 72);
    QCOMPARE(db, record("admin", "admin", true, 0));
    struct stat st {};
    QCOMPARE(::stat(dbPath().toLocal8Bit().constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, mode_t(0600));
    QVERIFY(!QFile::exists(dbPath() + QStringLiteral(".tmp")));
}

void TestQLogin::hundredByteFileHoldsOneRecord()
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

void TestQLogin::newUserIsAppendedThenReplacedInPlace()
{
    const QByteArray other = record("operator2", "", false, 1);
    writeDb(other);
    {
        PromptScript prompts;
        QLogin dialog;
        login(dialog, QStringLiteral("admin"), QStringLiteral("admin"), true);
        QVERIFY(dialog.isAccepted());
    }
    QCOMPARE(readDb(), other + record("admin", "admin", true, 0));
    {
        PromptScript prompts;
        QLogin dialog;
        child<QComboBox>(&dialog, "languageCombo")->setCurrentIndex(1);
        login(dialog, QStringLiteral("admin"), QStringLiteral("admin"), true);
        QVERIFY(dialog.isAccepted());
    }
    // Same user: replaced where it stood, nothing appended.
    QCOMPARE(readDb(), other + record("admin", "admin", true, 1));
}

void TestQLogin::untickedRememberStoresZeroPassword()
{
    {
        PromptScript prompts;
        QLogin dialog;
        login(dialog, QStringLiteral("admin"), QStringLiteral("admin"), true);
    }
    QCOMPARE(recordAt(readDb(), 0).remember, uint8_t(1));
    {
        PromptScript prompts;
        QLogin dialog;
        QCOMPARE(child<QLineEdit>(&dialog, "passwordEdit")->text(), QStringLiteral("admin"));
        login(dialog, QStringLiteral("admin"), QStringLiteral("admin"), false);
        QVERIFY(dialog.isAccepted());
    }
    const QByteArray db = readDb();
    QCOMPARE(db.size(), 72);
    const LocalUsr_s r = recordAt(db, 0);
    QCOMPARE(QByteArray(r.password, 32), QByteArray(32, '\0'));
    QCOMPARE(r.remember, uint8_t(0));
    QLogin dialog;
    QVERIFY(child<QLineEdit>(&dialog, "passwordEdit")->text().isEmpty());
    QVERIFY(!child<QCheckBox>(&dialog, "rememberCheck")->isChecked());
}

void TestQLogin::badFilesNeverBlockLogin_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("recordsBefore");
    QByteArray garbage(720, '\0');
    QRandomGenerator rng(20190225);
    for (char &c : garbage)
        c = char(rng.bounded(256));
    garbage[64] = 1;                  // the first record claims a remembered password
    std::memset(garbage.data() + 68, 0x7f, 4); // and a language that does not exist
    QTest::newRow("random bytes") << garbage << 10;
    QTest::newRow("short") << QByteArray(71, 'x') << 0;
    QTest::newRow("all 0xff") << QByteArray(144, '\xff') << 2;
    QTest::newRow("empty") << QByteArray() << 0;
}

void TestQLogin::badFilesNeverBlockLogin()
{
    QFETCH(QByteArray, content);
    QFETCH(int, recordsBefore);
    writeDb(content);
    PromptScript prompts;
    QLogin dialog;
    QCOMPARE(child<QComboBox>(&dialog, "languageCombo")->currentIndex(), 0);
    login(dialog, QStringLiteral("admin"), QStringLiteral("admin"), false);
    QVERIFY(dialog.isAccepted());
    QCOMPARE(prompts.count(), 0);
    const QByteArray db = readDb();
    QCOMPARE(db.size(), (recordsBefore + 1) * 72);
    QCOMPARE(db.right(72), record("admin", "", false, 0));
    // The records that were there are kept byte for byte.
    QCOMPARE(db.left(recordsBefore * 72), content.left(recordsBefore * 72));
}

void TestQLogin::oversizedFileIsReadInPart()
{
    // A sparse file far beyond any real number of users.
    QDir().mkpath(varno::test::installDir());
    {
        QFile f(dbPath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.write(record("admin", "admin", true, 1)) == 72);
        QVERIFY(f.resize(qint64(72) * 2000000));
    }
    PromptScript prompts;
    QLogin dialog;
    QVERIFY(logText().contains("holds 2000000 users, only 1024 are read!!!"));
    QCOMPARE(child<QLineEdit>(&dialog, "passwordEdit")->text(), QStringLiteral("admin"));
    child<QPushButton>(&dialog, "loginButton")->click();
    QVERIFY(dialog.isAccepted());
    QCOMPARE(readDb().size(), QLogin::kMaxRecords * 72);
}

void TestQLogin::fileThatIsAFolder()
{
    // Neither read nor written: the login still goes through.
    QVERIFY(QDir().mkpath(dbPath()));
    PromptScript prompts;
    QLogin dialog;
    login(dialog, QStringLiteral("admin"), QStringLiteral("admin"), true);
    QVERIFY(dialog.isAccepted());
    QVERIFY(QFileInfo(dbPath()).isDir());
    QVERIFY(logText().contains("QLogin::SaveUsrInfo"));
    QVERIFY(!QFile::exists(dbPath() + QStringLiteral(".tmp")));
}

void TestQLogin::emptyFieldsAreRefused()
{
    PromptScript prompts;
    QLogin dialog;
    dialog.show();
    login(dialog, QString(), QStringLiteral("admin"), false);
    login(dialog, QStringLiteral("admin"), QString(), false);
    const QList<varno::ui::PromptRequest> seen = prompts.requests();
    QCOMPARE(seen.size(), 2);
    QCOMPARE(seen[0].kind, PromptKind::Information);
    QCOMPARE(seen[0].title, QStringLiteral("Login"));
    QCOMPARE(seen[0].text, QStringLiteral("User name can not be empty!"));
    QCOMPARE(seen[1].title, QStringLiteral("Login"));
    QCOMPARE(seen[1].text, QStringLiteral("Password can not be empty!"));
    QVERIFY(!dialog.isAccepted());
    QVERIFY(dialog.isVisible());
    QCOMPARE(readDb().size(), 0);
}

void TestQLogin::storeRefusals()
{
    PromptScript prompts;
    QLogin dialog;
    dialog.show();
    login(dialog, QStringLiteral("nobody"), QStringLiteral("admin"), true);
    login(dialog, QStringLiteral("admin"), QStringLiteral("wrong"), true);
    const QList<varno::ui::PromptRequest> seen = prompts.requests();
    QCOMPARE(seen.size(), 2);
    QCOMPARE(seen[0].title, QStringLiteral("Login"));
    QCOMPARE(seen[0].text, QStringLiteral("Username does not exist!"));
    QCOMPARE(seen[1].text, QStringLiteral("Password incorrect, please have a check and try again."));
    const QByteArray log = logText();
    QVERIFY(log.contains("QLogin::login_clicked(389):User name(nobody) does not exist!!!\r\n"));
    QVERIFY(log.contains("QLogin::login_clicked(395):Password incorrect!!!\r\n"));
    QVERIFY(!dialog.isAccepted());
    QVERIFY(dialog.isVisible());
    QCOMPARE(readDb().size(), 0); // refused logins are not remembered

    // Then the right password gets in.
    login(dialog, QStringLiteral("admin"), QStringLiteral("admin"), true);
    QVERIFY(dialog.isAccepted());
}

void TestQLogin::noLocalIpEndsTheProgram()
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

void TestQLogin::keypadEnterLogsIn()
{
    PromptScript prompts;
    QLogin dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QLineEdit *password = child<QLineEdit>(&dialog, "passwordEdit");
    password->setText(QStringLiteral("admin"));
    password->setFocus();
    QTest::keyClick(password, Qt::Key_Enter, Qt::KeypadModifier);
    QVERIFY(dialog.isAccepted());
    QCOMPARE(prompts.count(), 0);
}

void TestQLogin::returnKeyLogsIn()
{
    PromptScript prompts;
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

void TestQLogin::escapeAndOtherKeysDoNothing()
{
    PromptScript prompts;
    QLogin dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    child<QLineEdit>(&dialog, "passwordEdit")->setText(QStringLiteral("admin"));
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QTest::keyClick(&dialog, Qt::Key_F1);
    QTest::keyClick(&dialog, Qt::Key_Space);
    QTest::qWait(50);
    QVERIFY(dialog.isVisible());
    QVERIFY(!dialog.isAccepted());
    QCOMPARE(prompts.count(), 0);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(readDb().size(), 0);
}

void TestQLogin::cancelRefuses()
{
    PromptScript prompts;
    QLogin dialog;
    dialog.show();
    child<QLineEdit>(&dialog, "passwordEdit")->setText(QStringLiteral("admin"));
    child<QPushButton>(&dialog, "cancelButton")->click();
    QVERIFY(!dialog.isVisible());
    QVERIFY(!dialog.isAccepted());
    QCOMPARE(readDb().size(), 0);
}

void TestQLogin::settingsAreaGrowsAndShrinks()
{
    QLogin dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QFrame *area = child<QFrame>(&dialog, "settingsFrame");
    QPushButton *settings = child<QPushButton>(&dialog, "setButton");
    const QSize closed = dialog.size();
    QVERIFY(!area->isVisible());

    QTest::mousePress(settings, Qt::LeftButton);
    QTest::mouseRelease(settings, Qt::LeftButton);
    QVERIFY(area->isVisible());
    QCOMPARE(dialog.size(), QSize(closed.width(), closed.height() + area->height()));
    QVERIFY(area->height() > 0);
    // Everything in the area shows inside the dialog.
    const QRect inDialog(area->mapTo(&dialog, QPoint(0, 0)), area->size());
    QVERIFY(dialog.rect().contains(inDialog));
    QVERIFY(child<QComboBox>(&dialog, "languageCombo")->isVisible());
    QVERIFY(child<QComboBox>(&dialog, "ipCombo")->isVisible());

    QTest::mousePress(settings, Qt::LeftButton);
    QTest::mouseRelease(settings, Qt::LeftButton);
    QVERIFY(!area->isVisible());
    QCOMPARE(dialog.size(), closed);

    // Many presses end where they started.
    for (int i = 0; i < 10; ++i)
        QTest::mousePress(settings, Qt::LeftButton);
    QCOMPARE(dialog.size(), closed);
}

void TestQLogin::helpText()
{
    PromptScript prompts;
    QLogin dialog;
    QTest::mousePress(child<QPushButton>(&dialog, "helpButton"), Qt::LeftButton);
    QCOMPARE(prompts.count(), 1);
    const varno::ui::PromptRequest r = prompts.requests().at(0);
    QCOMPARE(r.kind, PromptKind::Information);
    QCOMPARE(r.title, QStringLiteral("Login"));
    QCOMPARE(r.text, QStringLiteral("Login Password Instruction:\n"
                                    "1. Initial login username: admin\n"
                                    "2. Initial login password: admin\n"
                                    "3. Please change the login password later in the software:\n"
                                    "   Config Management -> Login Password\n"
                                    "4. In case you forget the login password, please uninstall\n"
                                    "   and then install the VarnoPC"));
}

void TestQLogin::languageSwitch()
{
    QTranslator translator;
    PromptScript prompts;
    QLogin dialog;
    dialog.SetTranslator(&translator, QCoreApplication::instance());
    QComboBox *language = child<QComboBox>(&dialog, "languageCombo");
    QCOMPARE(language->currentIndex(), 0); // the test runs without a German locale
    QCOMPARE(child<QPushButton>(&dialog, "loginButton")->text(), QStringLiteral("Login"));

    language->setCurrentIndex(1);
    QVERIFY(logText().contains("[LOGIN]Change language, index(1)!!!\r\n"));
    QCOMPARE(child<QPushButton>(&dialog, "loginButton")->text(), QStringLiteral("Anmelden"));
    QCOMPARE(child<QPushButton>(&dialog, "cancelButton")->text(), QStringLiteral("Abbrechen"));
    QCOMPARE(child<QPushButton>(&dialog, "setButton")->text(), QStringLiteral("Einstellungen"));
    QCOMPARE(child<QPushButton>(&dialog, "helpButton")->text(), QStringLiteral("Hilfe"));
    QCOMPARE(child<QLabel>(&dialog, "usernameLabel")->text(), QStringLiteral("Benutzername"));
    QCOMPARE(child<QLabel>(&dialog, "passwordLabel")->text(), QStringLiteral("Passwort"));
    QCOMPARE(child<QCheckBox>(&dialog, "rememberCheck")->text(), QStringLiteral("Passwort merken"));
    QCOMPARE(child<QLabel>(&dialog, "languageLabel")->text(), QStringLiteral("Sprache:"));
    QCOMPARE(child<QLabel>(&dialog, "ipLabel")->text(), QStringLiteral("Lokale IP:"));
    QCOMPARE(language->itemText(0), QStringLiteral("Englisch"));
    QCOMPARE(language->itemText(1), QStringLiteral("Deutsch"));
    QCOMPARE(language->currentIndex(), 1);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Anmelden"));

    // Messages speak German too.
    login(dialog, QString(), QStringLiteral("x"), false);
    QCOMPARE(prompts.requests().last().title, QStringLiteral("Anmelden"));
    QCOMPARE(prompts.requests().last().text, QStringLiteral("Der Benutzername darf nicht leer sein!"));

    language->setCurrentIndex(0);
    QCOMPARE(child<QPushButton>(&dialog, "loginButton")->text(), QStringLiteral("Login"));
    QCOMPARE(language->itemText(1), QStringLiteral("German"));

    // The chosen language is remembered with the login.
    language->setCurrentIndex(1);
    login(dialog, QStringLiteral("admin"), QStringLiteral("admin"), true);
    QVERIFY(dialog.isAccepted());
    QCOMPARE(recordAt(readDb(), 0).language, 1);
    QCoreApplication::removeTranslator(&translator);
}

void TestQLogin::rememberedLanguageAtFirstDisplay()
{
    writeDb(record("admin", "admin", true, 1));
    QTranslator translator;
    QLogin dialog;
    dialog.SetTranslator(&translator, QCoreApplication::instance());
    QCOMPARE(child<QPushButton>(&dialog, "loginButton")->text(), QStringLiteral("Anmelden"));
    QCoreApplication::removeTranslator(&translator);
}

void TestQLogin::languageBeforeTranslatorIsRefused()
{
    QLogin dialog;
    child<QComboBox>(&dialog, "languageCombo")->setCurrentIndex(1);
    QVERIFY(logText().contains(
        "QLogin::on_languageCombo_currentIndexChanged(521):Translator or app is not inited!!!\r\n"));
    QCOMPARE(child<QPushButton>(&dialog, "loginButton")->text(), QStringLiteral("Login"));
}

void TestQLogin::longNamesAreCut()
{
    // The fields hold 31 characters; longer text in the edits is cut, never
    // written past the buffers.
    PromptScript prompts;
    QLogin dialog;
    QLineEdit *user = child<QLineEdit>(&dialog, "usernameEdit");
    user->setMaxLength(100);
    user->setText(QString(40, QLatin1Char('u')));
    QLineEdit *password = child<QLineEdit>(&dialog, "passwordEdit");
    password->setMaxLength(100);
    password->setText(QString(40, QChar(0x00e4))); // two bytes each in UTF-8
    child<QPushButton>(&dialog, "loginButton")->click();
    QCOMPARE(QByteArray(dialog.userName()), QByteArray(31, 'u'));
    QCOMPARE(QString::fromUtf8(dialog.password()), QString(15, QChar(0x00e4)));
    QCOMPARE(prompts.requests().at(0).text, QStringLiteral("Username does not exist!"));
}

QTEST_MAIN(TestQLogin)
#include "tst_qlogin.moc"
