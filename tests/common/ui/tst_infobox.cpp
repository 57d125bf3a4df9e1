#include "common/ui/infobox.h"
#include "common/ui/promptscript.h"

#include "resources/resourcepath.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>
#include <QtTest>

#include <functional>
#include <memory>
#include <thread>

using namespace varno::ui;

namespace {

// What a real box showed, kept before it goes away.
struct Seen
{
    bool shown = false;
    QString title, text, style;
    int icon = -1;
    QStringList buttons;
};

// Presses the button with that text (or the key) on the next modal box from
// inside the box's own event loop; ends the box after ~5 s at the latest.
std::shared_ptr<Seen> answerLater(const QString &buttonText, Qt::Key key = Qt::Key_unknown)
{
    auto seen = std::make_shared<Seen>();
    auto tries = std::make_shared<int>(0);
    // The pending timer holds the poll; the poll itself only a weak link to
    // itself, so nothing is left over once it has answered or given up.
    auto poll = std::make_shared<std::function<void()>>();
    const std::weak_ptr<std::function<void()>> self = poll;
    *poll = [=]() {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            if (auto again = self.lock(); again && ++*tries < 500)
                QTimer::singleShot(10, [again] { (*again)(); });
            return;
        }
        *seen = Seen{true, box->windowTitle(), box->text(), box->styleSheet(), int(box->icon()), {}};
        const QList<QPushButton *> buttons = box->findChildren<QPushButton *>();
        for (QPushButton *b : buttons)
            seen->buttons << b->text();
        seen->buttons.sort();
        if (key != Qt::Key_unknown) {
            QTest::keyClick(box, key);
            return;
        }
        for (QPushButton *b : buttons) {
            if (b->text() == buttonText)
                return b->click();
        }
        box->done(0); // no such button: end the box, the test fails
    };
    QTimer::singleShot(0, [poll] { (*poll)(); });
    return seen;
}

} // namespace

class TestInfoBox : public QObject
{
    Q_OBJECT

private slots:
    void passwordPromptThroughTheSameSeam()
    {
        QString asked;
        setPasswordDialog([&](const PromptRequest &r) {
            asked = r.text;
            return PromptAnswer{QMessageBox::Ok, QStringLiteral("secret")};
        });
        const PromptRequest request{PromptKind::Password, QStringLiteral("Password"), QStringLiteral("Front door"),
                                    nullptr, {}};
        PromptAnswer answer = prompt(request);
        QCOMPARE(std::tuple(asked, answer.button, answer.text),
                 std::tuple(QStringLiteral("Front door"), QMessageBox::Ok, QStringLiteral("secret")));
        {
            // A script goes before the real dialog; an odd answer to a question is a No.
            PromptScript script;
            script.answer(QMessageBox::Ok, QStringLiteral("typed"));
            script.answer(QMessageBox::Ok);
            asked.clear();
            QCOMPARE(prompt(request).text, QStringLiteral("typed"));
            QVERIFY(asked.isEmpty());
            QCOMPARE(InfoBox(nullptr, QStringLiteral("T"), QStringLiteral("odd"), true), QMessageBox::No);
        }
        // Without a registered dialog a password prompt is cancelled, never shown.
        setPasswordDialog(PromptHandler());
        answer = prompt(request);
        QCOMPARE(answer.button, QMessageBox::Cancel);
        QVERIFY(answer.text.isEmpty());
    }

    void realBox_data()
    {
        QTest::addColumn<bool>("question");
        QTest::addColumn<QString>("press");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("expected");
        QTest::addColumn<QStringList>("buttons");
        const QStringList yesNo{"No", "Yes"};
        QTest::newRow("information") << false << "OK" << 0 << int(QMessageBox::Ok) << QStringList{"OK"};
        QTest::newRow("yes") << true << "Yes" << 0 << int(QMessageBox::Yes) << yesNo;
        QTest::newRow("no") << true << "No" << 0 << int(QMessageBox::No) << yesNo;
        QTest::newRow("escape is no") << true << "" << int(Qt::Key_Escape) << int(QMessageBox::No) << yesNo;
        QTest::newRow("return is no") << true << "" << int(Qt::Key_Return) << int(QMessageBox::No) << yesNo;
    }

    void realBox()
    {
        QFETCH(bool, question);
        QFETCH(QString, press);
        QFETCH(int, key);
        QFETCH(int, expected);
        QFETCH(QStringList, buttons);
        const auto seen = answerLater(press, key ? Qt::Key(key) : Qt::Key_unknown);
        const auto result = InfoBox(nullptr, QStringLiteral("Login"), QStringLiteral("User name can not be empty!"),
                                    question);
        QVERIFY(seen->shown);
        QCOMPARE(int(result), expected);
        QCOMPARE(std::tuple(seen->title, seen->text, seen->icon, seen->buttons),
                 std::tuple(QStringLiteral("Login"), QStringLiteral("User name can not be empty!"),
                            int(question ? QMessageBox::Question : QMessageBox::Information), buttons));
    }

    void realBoxSpeaksGerman()
    {
        QTranslator german;
        QVERIFY(german.load(varno::resourcePath(QStringLiteral("./language/translate_en2gm.qm"))));
        QCoreApplication::installTranslator(&german);
        const auto seen = answerLater(QStringLiteral("Ja"));
        const auto result = InfoBox(nullptr, QStringLiteral("t"), QStringLiteral("q"), true);
        QCoreApplication::removeTranslator(&german);
        QCOMPARE(result, QMessageBox::Yes);
        QCOMPARE(seen->buttons, (QStringList{"Ja", "Nein"}));
    }

    void neverBlocksOffTheUiThread()
    {
        // Another thread may not open a dialog nobody could answer: it gets a
        // refusal at once.
        QMessageBox::StandardButton result = QMessageBox::Yes;
        std::thread worker([&] { result = InfoBox(nullptr, QStringLiteral("t"), QStringLiteral("worker"), true); });
        worker.join();
        QCOMPARE(result, QMessageBox::No);
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }
};

QTEST_MAIN(TestInfoBox)
#include "tst_infobox.moc"
