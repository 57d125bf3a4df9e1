// The two translations are complete: every text of the program's sources
// has an English and a German translation. lupdate collects the texts of the
// source tree into copies of the committed .ts files; any text it adds, or
// any translation left empty or unfinished, is reported.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

struct Message
{
    QString context;
    QString source;
    QString translation;
    bool finished = true;
};

QList<Message> readTs(const QString &path, QString *error)
{
    QList<Message> messages;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return messages;
    }
    QXmlStreamReader xml(&file);
    QString context;
    Message current;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.name() == QLatin1String("name"))
                context = xml.readElementText();
            else if (xml.name() == QLatin1String("message"))
                current = Message{context, QString(), QString(), true};
            else if (xml.name() == QLatin1String("source"))
                current.source = xml.readElementText();
            else if (xml.name() == QLatin1String("translation")) {
                const QStringView type = xml.attributes().value(QLatin1String("type"));
                current.finished = type.isEmpty();
                current.translation = xml.readElementText();
            }
        } else if (xml.isEndElement() && xml.name() == QLatin1String("message")) {
            messages.append(current);
        }
    }
    if (xml.hasError())
        *error = xml.errorString();
    return messages;
}

} // namespace

class TestTranslations : public QObject
{
    Q_OBJECT

private slots:
    void complete_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("language");
        QTest::newRow("English") << "translate_en.ts" << "en";
        QTest::newRow("German") << "translate_en2gm.ts" << "de";
    }

    void complete()
    {
        QFETCH(QString, file);
        QFETCH(QString, language);
        const QString source = QStringLiteral(VARNO_SOURCE_TREE);
        QTemporaryDir temp;
        QVERIFY(temp.isValid());
        const QString copy = temp.filePath(file);
        QVERIFY(QFile::copy(source + QStringLiteral("/resources/translations/") + file, copy));
        QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);

        QStringList args{QStringLiteral("-no-obsolete"), QStringLiteral("-locations"), QStringLiteral("none"),
                         QStringLiteral("-I"), source, QStringLiteral("-source-language"), QStringLiteral("en"),
                         QStringLiteral("-target-language"), language};
        const QStringList folders{"app", "client", "common", "live", "record", "playback", "device", "alarm", "config"};
        for (const QString &folder : folders) {
            if (QDir(source + QLatin1Char('/') + folder).exists())
                args << source + QLatin1Char('/') + folder;
        }
        args << QStringLiteral("-ts") << copy;
        QProcess lupdate;
        lupdate.start(QStringLiteral(VARNO_LUPDATE), args);
        QVERIFY(lupdate.waitForFinished(120000));
        QCOMPARE(lupdate.exitCode(), 0);

        QString error;
        const QList<Message> messages = readTs(copy, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(!messages.isEmpty()); // lupdate found the texts
        QStringList missing;
        for (const Message &m : messages) {
            if (!m.finished || m.translation.isEmpty())
                missing << m.context + QStringLiteral(": ") + m.source;
        }
        QVERIFY2(missing.isEmpty(),
                 qPrintable(QStringLiteral("untranslated (run scripts/update-translations, then translate):\n")
                            + missing.join(QLatin1Char('\n'))));
        // German, not English copied over: only a few words ("OK") are the same.
        int same = 0;
        for (const Message &m : messages)
            same += m.translation == m.source ? 1 : 0;
        if (language == QLatin1String("de"))
            QVERIFY2(same * 2 < messages.size(), qPrintable(QString::number(same)));
    }
};

QTEST_GUILESS_MAIN(TestTranslations)
#include "tst_translations.moc"
