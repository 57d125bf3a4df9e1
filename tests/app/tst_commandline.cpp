#include "app/commandline.h"

#include <QtTest>

#include <vector>

using varno::CommandLine;

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("action");
        QTest::addColumn<bool>("connectAll");
        QTest::addColumn<QString>("textHas");

        const int run = int(CommandLine::Action::Run);
        const int help = int(CommandLine::Action::Help);
        const int version = int(CommandLine::Action::Version);
        const int error = int(CommandLine::Action::Error);
        const QString number = QStringLiteral("varno-pc " VARNO_PROJECT_VERSION "\n");
        QTest::newRow("none") << QStringList() << run << false << QString();
        QTest::newRow("connect-all") << QStringList{"--connect-all"} << run << true << QString();
        QTest::newRow("help") << QStringList{"--help"} << help << false << QStringLiteral("--connect-all");
        QTest::newRow("-h") << QStringList{"-h"} << help << false << QStringLiteral("--version");
        QTest::newRow("version") << QStringList{"--version"} << version << false << number;
        QTest::newRow("-v with connect-all") << QStringList{"-v", "--connect-all"} << version << true << number;
        // Information wins over what the program does not know.
        QTest::newRow("help beside unknown") << QStringList{"--bogus", "--help"} << help << false
                                             << QStringLiteral("--help");
        QTest::newRow("unknown") << QStringList{"--conect-all"} << error << false
                                 << QStringLiteral("Unknown option 'conect-all'.");
        QTest::newRow("argument") << QStringList{"camera.db"} << error << false
                                  << QStringLiteral("Unexpected argument 'camera.db'.");
        QTest::newRow("value for a flag") << QStringList{"--connect-all=yes"} << error << false
                                          << QStringLiteral("connect-all");
    }

    void parse()
    {
        QFETCH(QStringList, args);
        QFETCH(int, action);
        QFETCH(bool, connectAll);
        QFETCH(QString, textHas);
        args.prepend(QStringLiteral("varno-pc"));
        const CommandLine line = varno::parseCommandLine(args);
        QCOMPARE(int(line.action), action);
        QCOMPARE(line.connectAll, connectAll);
        if (textHas.isEmpty())
            QVERIFY(line.text.isEmpty());
        else
            QVERIFY2(line.text.contains(textHas), qPrintable(line.text));
        if (line.action == CommandLine::Action::Version)
            QCOMPARE(line.text, textHas); // exactly "varno-pc <version>"
        QCOMPARE(varno::answerCommandLine(line), line.action == CommandLine::Action::Error ? 2 : 0);
    }

    void informationIsAnsweredBeforeTheDisplay_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("early");
        QTest::newRow("none") << QStringList() << false;
        QTest::newRow("connect-all") << QStringList{"--connect-all"} << false;
        QTest::newRow("help") << QStringList{"--connect-all", "--help"} << true;
        QTest::newRow("-h") << QStringList{"-h"} << true;
        QTest::newRow("-v") << QStringList{"-v"} << true;
        QTest::newRow("version after toolkit option") << QStringList{"-platform", "xcb", "--version"} << true;
        // "--" ends the options.
        QTest::newRow("after --") << QStringList{"--", "--help"} << false;
        QTest::newRow("prefix only") << QStringList{"--helpful"} << false;
    }

    void informationIsAnsweredBeforeTheDisplay()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, early);
        args.prepend(QStringLiteral("varno-pc"));
        std::vector<QByteArray> bytes;
        for (const QString &a : args)
            bytes.push_back(a.toLocal8Bit());
        std::vector<char *> argv;
        for (QByteArray &b : bytes)
            argv.push_back(b.data());
        argv.push_back(nullptr);
        QCOMPARE(varno::asksForInformation(int(bytes.size()), argv.data()), early);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
