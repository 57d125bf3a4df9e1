#include "resources/resourcepath.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>
#include <QtTest>

class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void everyNamedPictureIsBuiltIn()
    {
        struct Picture { const char *name; int w, h; };
        const Picture pictures[] = {
            {"dvr_gray.png", 20, 20}, {"dvr_green.png", 20, 20}, {"dvr_lock.png", 20, 20}, {"varno.png", 64, 64},
            {"varno.ico", 32, 32},
            {"login_banner.png", 380, 90}, {"login_user.png", 20, 20}, {"login_password.png", 20, 20},
            {"Sys_Close.png", 24, 24}, {"Sys_Min.png", 24, 24}, {"Sys_Max.png", 24, 24}, {"Sys_Restore.png", 24, 24},
            {"check.png", 16, 16}, {"record_stop.ico", 20, 20}, {"record_normal.ico", 20, 20},
            {"record_alarm.ico", 20, 20}, {"PTZ_BACK.png", 120, 120}, {"PTZ_BTN_U.png", 32, 32},
            {"PTZ_BTN_D.png", 32, 32}, {"PTZ_BTN_L.png", 32, 32}, {"PTZ_BTN_R.png", 32, 32},
        };
        for (const Picture &p : pictures) {
            const QString name = QStringLiteral("./images/") + QLatin1String(p.name);
            const QString path = varno::resourcePath(name);
            QCOMPARE(path, QStringLiteral(":/images/") + QLatin1String(p.name));
            QImageReader reader(path);
            // The file is what its name says, not a PNG under an .ico name.
            QCOMPARE(reader.format(), name.endsWith(QLatin1String(".ico")) ? QByteArray("ico") : QByteArray("png"));
            const QImage image = reader.read();
            QVERIFY2(!image.isNull(), p.name);
            QCOMPARE(image.size(), QSize(p.w, p.h));
            // Something is drawn: not one colour all over.
            bool varied = false;
            for (int y = 0; y < image.height() && !varied; ++y)
                for (int x = 0; x < image.width() && !varied; ++x)
                    varied = image.pixel(x, y) != image.pixel(0, 0);
            QVERIFY2(varied, p.name);
        }
    }

    void workingDirectoryFirst()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QDir::setCurrent(dir.path()));
        QCOMPARE(varno::resourcePath(QStringLiteral("./images/dvr_gray.png")), QStringLiteral(":/images/dvr_gray.png"));

        // A copy in the working directory replaces the built-in one; a folder of
        // that name does not.
        QVERIFY(QDir().mkpath(QStringLiteral("images/dvr_green.png")));
        QImage red(5, 7, QImage::Format_ARGB32);
        red.fill(Qt::red);
        QVERIFY(red.save(QStringLiteral("images/dvr_gray.png")));
        QCOMPARE(varno::resourcePath(QStringLiteral("./images/dvr_gray.png")), QStringLiteral("./images/dvr_gray.png"));
        QCOMPARE(QImage(varno::resourcePath(QStringLiteral("./images/dvr_gray.png"))).size(), QSize(5, 7));
        QCOMPARE(varno::resourcePath(QStringLiteral("./images/dvr_green.png")), QStringLiteral(":/images/dvr_green.png"));

        // Other spellings, and names with nothing behind them.
        QCOMPARE(varno::resourcePath(QStringLiteral("images/check.png")), QStringLiteral(":/images/check.png"));
        QCOMPARE(varno::resourcePath(QStringLiteral("././language/translate_en.qm")),
                 QStringLiteral(":/language/translate_en.qm"));
        QCOMPARE(varno::resourcePath(QStringLiteral(":/images/check.png")), QStringLiteral(":/images/check.png"));
        QCOMPARE(varno::resourcePath(QStringLiteral("./images/none.png")), QStringLiteral("./images/none.png"));
        QCOMPARE(varno::resourcePath(QStringLiteral("/images/check.png")), QStringLiteral("/images/check.png"));
        QCOMPARE(varno::resourcePath(QString()), QString());
        QVERIFY(QDir::setCurrent(QDir::tempPath()));
    }
};

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
