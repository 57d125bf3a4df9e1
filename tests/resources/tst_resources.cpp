#include "resources/resourcepath.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QTranslator>
#include <QtTest>

class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void everyNamedPictureIsBuiltIn_data();
    void everyNamedPictureIsBuiltIn();
    void workingDirectoryCopyWins();
    void lookupOfOddNames();
    void bothLanguagesLoad();
};

void TestResources::init()
{
    QVERIFY(QDir::setCurrent(QDir::tempPath()));
}

void TestResources::everyNamedPictureIsBuiltIn_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    const QSize tree(20, 20);
    QTest::newRow("tree offline") << "./images/dvr_gray.png" << tree;
    QTest::newRow("tree online") << "./images/dvr_green.png" << tree;
    QTest::newRow("app icon") << "./images/varno.png" << QSize(64, 64);
    QTest::newRow("app icon ico") << "./images/varno.ico" << QSize(32, 32);
    QTest::newRow("login banner") << "./images/login_banner.png" << QSize(380, 90);
    QTest::newRow("login user") << "./images/login_user.png" << tree;
    QTest::newRow("login password") << "./images/login_password.png" << tree;
    QTest::newRow("close") << "./images/Sys_Close.png" << QSize(24, 24);
    QTest::newRow("minimise") << "./images/Sys_Min.png" << QSize(24, 24);
    QTest::newRow("maximise") << "./images/Sys_Max.png" << QSize(24, 24);
    QTest::newRow("restore") << "./images/Sys_Restore.png" << QSize(24, 24);
    QTest::newRow("check") << "./images/check.png" << QSize(16, 16);
    QTest::newRow("record stop") << "./images/record_stop.ico" << tree;
    QTest::newRow("record normal") << "./images/record_normal.ico" << tree;
    QTest::newRow("record alarm") << "./images/record_alarm.ico" << tree;
    QTest::newRow("ptz back") << "./images/PTZ_BACK.png" << QSize(120, 120);
    QTest::newRow("ptz up") << "./images/PTZ_BTN_U.png" << QSize(32, 32);
    QTest::newRow("ptz down") << "./images/PTZ_BTN_D.png" << QSize(32, 32);
    QTest::newRow("ptz left") << "./images/PTZ_BTN_L.png" << QSize(32, 32);
    QTest::newRow("ptz right") << "./images/PTZ_BTN_R.png" << QSize(32, 32);
}

void TestResources::everyNamedPictureIsBuiltIn()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);
    const QString path = varno::resourcePath(name);
    QVERIFY2(path.startsWith(QLatin1String(":/images/")), qPrintable(path));
    QImageReader reader(path);
    // The file is what its name says, not a PNG under an .ico name.
    QCOMPARE(reader.format(), name.endsWith(QLatin1String(".ico")) ? QByteArray("ico") : QByteArray("png"));
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(image.size(), size);
    // Something is drawn: not every pixel is transparent, and not all alike.
    bool drawn = false;
    bool varied = false;
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            drawn = drawn || qAlpha(p) > 0;
            varied = varied || p != first;
        }
    }
    QVERIFY(drawn);
    QVERIFY(varied);
}

void TestResources::workingDirectoryCopyWins()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir::setCurrent(dir.path()));
    QCOMPARE(varno::resourcePath(QStringLiteral("./images/dvr_gray.png")), QStringLiteral(":/images/dvr_gray.png"));

    QVERIFY(QDir().mkpath(QStringLiteral("images")));
    QImage red(5, 7, QImage::Format_ARGB32);
    red.fill(Qt::red);
    QVERIFY(red.save(QStringLiteral("images/dvr_gray.png")));
    const QString path = varno::resourcePath(QStringLiteral("./images/dvr_gray.png"));
    QCOMPARE(path, QStringLiteral("./images/dvr_gray.png"));
    QCOMPARE(QImage(path).size(), QSize(5, 7));
    // The other pictures still come from the built-in copies.
    QCOMPARE(varno::resourcePath(QStringLiteral("./images/dvr_green.png")), QStringLiteral(":/images/dvr_green.png"));

    // A folder of that name is no picture.
    QVERIFY(QDir().mkpath(QStringLiteral("images/dvr_green.png")));
    QCOMPARE(varno::resourcePath(QStringLiteral("./images/dvr_green.png")), QStringLiteral(":/images/dvr_green.png"));
    QVERIFY(QDir::setCurrent(QDir::tempPath()));
}

void TestResources::lookupOfOddNames()
{
    QCOMPARE(varno::resourcePath(QString()), QString());
    QCOMPARE(varno::resourcePath(QStringLiteral("images/check.png")), QStringLiteral(":/images/check.png"));
    QCOMPARE(varno::resourcePath(QStringLiteral(":/images/check.png")), QStringLiteral(":/images/check.png"));
    QCOMPARE(varno::resourcePath(QStringLiteral("./images/none.png")), QStringLiteral("./images/none.png"));
    QCOMPARE(varno::resourcePath(QStringLiteral("/images/check.png")), QStringLiteral("/images/check.png"));
    QCOMPARE(varno::resourcePath(QStringLiteral("././language/translate_en.qm")),
             QStringLiteral(":/language/translate_en.qm"));
}

void TestResources::bothLanguagesLoad()
{
    QTranslator english;
    QVERIFY(english.load(varno::resourcePath(QStringLiteral("./language/translate_en.qm"))));
    QCOMPARE(english.translate("QLogin", "Login"), QStringLiteral("Login"));
    QTranslator german;
    QVERIFY(german.load(varno::resourcePath(QStringLiteral("./language/translate_en2gm.qm"))));
    QCOMPARE(german.translate("QLogin", "Login"), QStringLiteral("Anmelden"));
    QCOMPARE(german.translate("Client", "Are you sure to close the client?"),
             QStringLiteral("M\u00f6chten Sie den Client wirklich schlie\u00dfen?"));
    QCOMPARE(german.translate("InfoBox", "No"), QStringLiteral("Nein"));
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
