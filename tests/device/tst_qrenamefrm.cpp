// The camera editor page: the refusals, the edited record, the "Rename:"
// entry, and that nothing but the client's record changes.
#include "common/metatypes.h"
#include "common/textfield.h"
#include "common/ui/promptscript.h"
#include "device/qrenamefrm.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QtTest>

#include <cstring>

using varno::ui::PromptScript;

namespace {

DvrListInfo_s camera(const char *id, const char *name, const char *password)
{
    DvrListInfo_s info;
    std::memset(&info, 0, sizeof(info));
    varno::setText(info.dev.devId, id);
    varno::setText(info.dev.devName, name);
    varno::setText(info.dev.password, password);
    varno::setText(info.dev.p2pId, "VRNB-765432-KXPQT");
    varno::setText(info.dev.ipAddr, "127.0.0.1");
    info.dev.p2pFlag = 1;
    info.config.profileCount = 2;
    return info;
}

} // namespace

class TestQRenameFrm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { varno::registerMetaTypes(); }

    void longIdIsShownWhole()
    {
        // The ID of a camera found by discovery (a UUID of 36 characters).
        QRenameFrm page;
        const QByteArray uuid = "5a5a5a5a-0000-4000-8000-d33000000001";
        page.setDevInfo(camera(uuid.constData(), "Lobby", "583"));
        QCOMPARE(page.findChild<QLineEdit *>("idLineEdit")->text(), QString::fromLatin1(uuid));
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("message");
        QTest::newRow("no name, no password") << "" << "" << "Name can not be empty!";
        QTest::newRow("no password") << "Yard" << "" << "Password can not be empty!";
    }

    void refusals()
    {
        QFETCH(QString, name);
        QFETCH(QString, password);
        QFETCH(QString, message);
        PromptScript script;
        QRenameFrm page;
        page.setDevInfo(camera("B765432", "Front door", "secret1"));
        QSignalSpy renamed(&page, &QRenameFrm::sendDevRename);
        QSignalSpy logged(&page, &QRenameFrm::sendLogInfo);
        page.findChild<QLineEdit *>("nameLineEdit")->setText(name);
        page.findChild<QLineEdit *>("passwdLineEdit")->setText(password);
        page.on_confirmButton_clicked();
        const auto requests = script.take();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].title, QStringLiteral("Settings"));
        QCOMPARE(requests[0].text, message);
        QCOMPARE(renamed.count(), 0);
        QCOMPARE(logged.count(), 0);
        QCOMPARE(varno::fieldText(page.devInfo().dev.devName), QStringLiteral("Front door"));
    }

    void renameEmitsRecordAndLogEntry()
    {
        PromptScript script;
        QRenameFrm page;
        char user[32];
        std::memset(user, 0, sizeof(user));
        std::strcpy(user, "operator7");
        page.setUserName(user);
        const DvrListInfo_s before = camera("B765432", "Front door", "secret1");
        page.setDevInfo(before);
        QSignalSpy renamed(&page, &QRenameFrm::sendDevRename);
        QSignalSpy logged(&page, &QRenameFrm::sendLogInfo);
        page.findChild<QLineEdit *>("nameLineEdit")->setText(QStringLiteral("Hof Süd"));
        page.findChild<QLineEdit *>("passwdLineEdit")->setText(QStringLiteral("new55pass"));
        page.on_confirmButton_clicked();

        QCOMPARE(renamed.count(), 1);
        const auto dev = renamed[0][0].value<DeviceInfo_s>();
        QCOMPARE(varno::fieldText(dev.devName), QStringLiteral("Hof Süd"));
        QCOMPARE(varno::fieldText(dev.password), QStringLiteral("new55pass"));
        // Every other field is the camera's as it was.
        QCOMPARE(QByteArray(dev.devId), QByteArray("B765432"));
        QCOMPARE(QByteArray(dev.p2pId), QByteArray("VRNB-765432-KXPQT"));
        QCOMPARE(QByteArray(dev.ipAddr), QByteArray("127.0.0.1"));
        QCOMPARE(int(dev.p2pFlag), 1);
        // Zero-filled behind the new texts.
        for (size_t i = std::strlen(dev.password); i < sizeof(dev.password); ++i)
            QCOMPARE(int(dev.password[i]), 0);

        QCOMPARE(logged.count(), 1);
        const auto entry = logged[0][0].value<LogInfo_s>();
        QCOMPARE(QByteArray(entry.content), QByteArray("Rename:B765432"));
        QCOMPARE(QByteArray(entry.user), QByteArray("operator7"));
        QVERIFY(QDateTime::fromString(QString::fromLatin1(entry.time), QStringLiteral("yyyy-MM-dd hh:mm:ss")).isValid());

        const auto requests = script.take();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].text, QStringLiteral("Modify successful !"));
        QCOMPARE(requests[0].title, QStringLiteral("Settings"));
    }

    void longNameIsCutWholeLetters()
    {
        PromptScript script;
        QRenameFrm page;
        page.setDevInfo(camera("B765432", "x", "p"));
        QSignalSpy renamed(&page, &QRenameFrm::sendDevRename);
        // 31 letters of two bytes each do not fit the 32-byte field: it holds
        // 15 whole letters and its terminator.
        auto *name = page.findChild<QLineEdit *>("nameLineEdit");
        name->setMaxLength(64);
        name->setText(QString(31, QChar(0x00e4)));
        page.on_confirmButton_clicked();
        QCOMPARE(renamed.count(), 1);
        const auto dev = renamed[0][0].value<DeviceInfo_s>();
        QCOMPARE(varno::fieldText(dev.devName), QString(15, QChar(0x00e4)));
        QCOMPARE(int(dev.devName[31]), 0);
    }
};

QTEST_MAIN(TestQRenameFrm)
#include "tst_qrenamefrm.moc"
