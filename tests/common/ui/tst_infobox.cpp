#include "common/ui/infobox.h"
#include "common/ui/promptscript.h"

#include "resources/resourcepath.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>
#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

using namespace varno::ui;

class TestInfoBox : public QObject
{
    Q_OBJECT

private slots:
    void scriptedAnswersAndRecords();
    void unscriptedAnswersRefuse();
    void handlerIsRestored();
    void passwordPromptThroughTheSameSeam();
    void realBoxLooksAndAnswers_data();
    void realBoxLooksAndAnswers();
    void realBoxClosedCountsAsRefusal();
    void realBoxSpeaksGerman();
    void neverBlocksOffTheUiThread();
    void manyThreadsThroughOneScript();

private:
    // What the box showed, kept before it goes away.
    struct Seen
    {
        bool shown = false;
        QString title;
        QString text;
        QString style;
        int icon = -1;
        QStringList buttons;
    };
    // Presses the button with the given text on the next modal box, from
    // the event loop the box runs; gives up (ending the box) after ~5 s.
    std::shared_ptr<Seen> pressLater(const QString &buttonText);
};

std::shared_ptr<TestInfoBox::Seen> TestInfoBox::pressLater(const QString &buttonText)
{
    auto seen = std::make_shared<Seen>();
    auto tries = std::make_shared<int>(0);
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [=]() {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            if (++*tries < 500)
                QTimer::singleShot(10, *poll);
            return;
        }
        seen->shown = true;
        seen->title = box->windowTitle();
        seen->text = box->text();
        seen->style = box->styleSheet();
        seen->icon = int(box->icon());
        const QList<QPushButton *> buttons = box->findChildren<QPushButton *>();
        for (QPushButton *b : buttons)
            seen->buttons << b->text();
        seen->buttons.sort();
        for (QPushButton *b : buttons) {
            if (b->text() == buttonText) {
                b->click();
                return;
            }
        }
        box->done(0); // the button is missing: end the box, the test fails
    };
    QTimer::singleShot(0, *poll);
    return seen;
}

void TestInfoBox::scriptedAnswersAndRecords()
{
    PromptScript script;
    script.answer(QMessageBox::Yes);
    script.answer(QMessageBox::No);
    QWidget parent;
    QCOMPARE(InfoBox(&parent, QStringLiteral("PC Client"), QStringLiteral("Are you sure?"), true),
             QMessageBox::Yes);
    QCOMPARE(InfoBox(nullptr, QStringLiteral("T2"), QStringLiteral("second"), true), QMessageBox::No);
    QCOMPARE(InfoBox(nullptr, QStringLiteral("T3"), QStringLiteral("third")), QMessageBox::Ok);

    const QList<PromptRequest> seen = script.requests();
    QCOMPARE(seen.size(), 3);
    QCOMPARE(seen[0].kind, PromptKind::Question);
    QCOMPARE(seen[0].title, QStringLiteral("PC Client"));
    QCOMPARE(seen[0].text, QStringLiteral("Are you sure?"));
    QCOMPARE(seen[0].parent, &parent);
    QCOMPARE(seen[1].title, QStringLiteral("T2"));
    QCOMPARE(seen[2].kind, PromptKind::Information);
    QCOMPARE(seen[2].text, QStringLiteral("third"));
    QCOMPARE(script.unscripted(), 1);
    QCOMPARE(script.take().size(), 3);
    QCOMPARE(script.count(), 0);
}

void TestInfoBox::unscriptedAnswersRefuse()
{
    PromptScript script;
    QCOMPARE(InfoBox(nullptr, QStringLiteral("t"), QStringLiteral("q"), true), QMessageBox::No);
    PromptRequest password{PromptKind::Password, QStringLiteral("Password"), QStringLiteral("cam"), nullptr};
    const PromptAnswer answer = prompt(password);
    QCOMPARE(answer.button, QMessageBox::Cancel);
    QVERIFY(answer.text.isEmpty());
    QCOMPARE(script.unscripted(), 2);

    // A handler answering something odd to a question still means No.
    script.answer(QMessageBox::Ok);
    QCOMPARE(InfoBox(nullptr, QStringLiteral("t"), QStringLiteral("q"), true), QMessageBox::No);
}

void TestInfoBox::handlerIsRestored()
{
    int outerCalls = 0;
    PromptHandler before = setPromptHandler([&](const PromptRequest &) {
        ++outerCalls;
        return PromptAnswer{QMessageBox::Yes, QString()};
    });
    {
        PromptScript inner;
        QCOMPARE(InfoBox(nullptr, QString(), QString(), true), QMessageBox::No);
        QCOMPARE(outerCalls, 0);
    }
    QCOMPARE(InfoBox(nullptr, QString(), QString(), true), QMessageBox::Yes);
    QCOMPARE(outerCalls, 1);
    setPromptHandler(before);
}

void TestInfoBox::passwordPromptThroughTheSameSeam()
{
    // Without a handler the registered password dialog answers.
    QString asked;
    setPasswordDialog([&](const PromptRequest &r) {
        asked = r.text;
        return PromptAnswer{QMessageBox::Ok, QStringLiteral("secret")};
    });
    PromptRequest request{PromptKind::Password, QStringLiteral("Password"), QStringLiteral("Front door"), nullptr};
    PromptAnswer answer = prompt(request);
    QCOMPARE(asked, QStringLiteral("Front door"));
    QCOMPARE(answer.button, QMessageBox::Ok);
    QCOMPARE(answer.text, QStringLiteral("secret"));

    // A script takes precedence over the real dialog.
    {
        PromptScript script;
        script.answer(QMessageBox::Ok, QStringLiteral("typed"));
        asked.clear();
        answer = prompt(request);
        QCOMPARE(answer.text, QStringLiteral("typed"));
        QVERIFY(asked.isEmpty());
        QCOMPARE(script.requests().at(0).kind, PromptKind::Password);
    }

    // Unregistered: a password prompt is cancelled, never shown.
    setPasswordDialog(PromptHandler());
    answer = prompt(request);
    QCOMPARE(answer.button, QMessageBox::Cancel);
}

void TestInfoBox::realBoxLooksAndAnswers_data()
{
    QTest::addColumn<bool>("question");
    QTest::addColumn<QString>("press");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QStringList>("buttons");
    QTest::newRow("information") << false << "OK" << int(QMessageBox::Ok) << QStringList{"OK"};
    QTest::newRow("question yes") << true << "Yes" << int(QMessageBox::Yes) << QStringList{"No", "Yes"};
    QTest::newRow("question no") << true << "No" << int(QMessageBox::No) << QStringList{"No", "Yes"};
}

void TestInfoBox::realBoxLooksAndAnswers()
{
    QFETCH(bool, question);
    QFETCH(QString, press);
    QFETCH(int, expected);
    QFETCH(QStringList, buttons);
    const auto seen = pressLater(press);
    const auto result = InfoBox(nullptr, QStringLiteral("Login"), QStringLiteral("User name can not be empty!"),
                                question);
    QVERIFY(seen->shown);
    QCOMPARE(int(result), expected);
    QCOMPARE(seen->title, QStringLiteral("Login"));
    QCOMPARE(seen->text, QStringLiteral("User name can not be empty!"));
    QCOMPARE(seen->style, QStringLiteral("color:black; background-color:rgb(222, 222, 222);"));
    QCOMPARE(seen->icon, int(question ? QMessageBox::Question : QMessageBox::Information));
    QCOMPARE(seen->buttons, buttons);
}

void TestInfoBox::realBoxClosedCountsAsRefusal()
{
    // Escape on a question box is a No. The timer keeps trying until the
    // box is up, and gives up after ~5 s so that a fault cannot hang here.
    int tries = 0;
    QTimer guard;
    guard.setInterval(20);
    connect(&guard, &QTimer::timeout, [&] {
        if (QWidget *box = QApplication::activeModalWidget())
            QTest::keyClick(box, Qt::Key_Escape);
        else if (++tries > 250)
            guard.stop();
    });
    guard.start();
    QCOMPARE(InfoBox(nullptr, QStringLiteral("t"), QStringLiteral("close me"), true), QMessageBox::No);
    guard.stop();
}

void TestInfoBox::realBoxSpeaksGerman()
{
    QTranslator german;
    QVERIFY(german.load(varno::resourcePath(QStringLiteral("./language/translate_en2gm.qm"))));
    QCoreApplication::installTranslator(&german);
    const auto seen = pressLater(QStringLiteral("Ja"));
    const auto result = InfoBox(nullptr, QStringLiteral("t"), QStringLiteral("q"), true);
    QCoreApplication::removeTranslator(&german);
    QVERIFY(seen->shown);
    QCOMPARE(result, QMessageBox::Yes);
    QCOMPARE(seen->buttons, (QStringList{"Ja", "Nein"}));
}

void TestInfoBox::neverBlocksOffTheUiThread()
{
    // No handler installed: another thread may not open a dialog; it gets a
    // refusal at once instead of a box nobody can see.
    QMessageBox::StandardButton result = QMessageBox::Yes;
    std::thread worker([&] {
        result = InfoBox(nullptr, QStringLiteral("t"), QStringLiteral("from a worker"), true);
    });
    worker.join();
    QCOMPARE(result, QMessageBox::No);
    QVERIFY(!QApplication::activeModalWidget());
}

void TestInfoBox::manyThreadsThroughOneScript()
{
    PromptScript script;
    constexpr int kThreads = 8;
    constexpr int kEach = 200;
    for (int i = 0; i < kThreads * kEach / 2; ++i)
        script.answer(QMessageBox::Yes);
    std::atomic<int> yes{0};
    std::atomic<int> no{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                const auto r = InfoBox(nullptr, QString::number(t), QString::number(i), true);
                (r == QMessageBox::Yes ? yes : no)++;
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    QCOMPARE(yes.load(), kThreads * kEach / 2);
    QCOMPARE(no.load(), kThreads * kEach / 2);
    QCOMPARE(script.count(), kThreads * kEach);
    QCOMPARE(script.unscripted(), kThreads * kEach / 2);
}

QTEST_MAIN(TestInfoBox)
#include "tst_infobox.moc"
