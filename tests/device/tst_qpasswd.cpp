// The camera password prompt: an empty password is refused and the dialog
// stays; Cancel, close and Escape give no password; the prompt seam runs
// the dialog and answers with what was typed.
#include "common/ui/infobox.h"
#include "common/ui/promptscript.h"
#include "device/qpasswd.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

using varno::ui::PromptScript;

namespace {

// Runs action on the next modal dialog of type T once it is showing.
template <typename T>
void onModal(std::function<void(T *)> action)
{
    auto tries = std::make_shared<int>(0);
    // The pending timer holds the poll; the poll itself only a weak link to
    // itself, so nothing is left over once it has answered or given up.
    auto poll = std::make_shared<std::function<void()>>();
    const std::weak_ptr<std::function<void()>> self = poll;
    *poll = [=]() {
        auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible()) {
            if (auto again = self.lock(); again && ++*tries < 500)
                QTimer::singleShot(10, [again] { (*again)(); });
            return;
        }
        action(dialog);
    };
    QTimer::singleShot(0, [poll] { (*poll)(); });
}

} // namespace

class TestQPasswd : public QObject
{
    Q_OBJECT

private slots:
    void focusAndIdRow()
    {
        QPasswd dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.setDevInfo("B765432", "Front door");
        QTRY_VERIFY(dialog.findChild<QLineEdit *>("passwdLineEdit")->hasFocus());
        // Without an ID its row is not shown.
        dialog.setDevInfo(nullptr, "Yard");
        QVERIFY(!dialog.findChild<QLineEdit *>("idLineEdit")->isVisible());
        QVERIFY(!dialog.findChild<QLabel *>("idLabel")->isVisible());
    }

    void emptyPasswordKeepsTheDialogOpen()
    {
        PromptScript script;
        QPasswd dialog;
        dialog.setDevInfo("B765432", "Front door");
        dialog.show();
        dialog.on_confirmButton_clicked();
        const auto requests = script.take();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].title, QStringLiteral("Property"));
        QCOMPARE(requests[0].text, QStringLiteral("Please input password."));
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));

        dialog.findChild<QLineEdit *>("passwdLineEdit")->setText(QStringLiteral("abc123"));
        dialog.on_confirmButton_clicked();
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.getPasswd(), QStringLiteral("abc123"));
        QCOMPARE(script.count(), 0);
    }

    void everyWayOutClearsThePassword()
    {
        for (int way = 0; way < 3; ++way) {
            QPasswd dialog;
            dialog.setDevInfo("B765432", "Front door");
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            auto *password = dialog.findChild<QLineEdit *>("passwdLineEdit");
            password->setText(QStringLiteral("typed99"));
            if (way == 0)
                dialog.on_cancelButton_clicked();
            else if (way == 1)
                dialog.on_closeButton_clicked();
            else
                QTest::keyClick(password, Qt::Key_Escape);
            QVERIFY2(!dialog.isVisible(), qPrintable(QString::number(way)));
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
            QCOMPARE(dialog.getPasswd(), QString());
        }
    }

    void seamRunsTheDialog_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("text");
        QTest::newRow("confirm") << "confirmButton" << int(QMessageBox::Ok) << "cam777";
        QTest::newRow("cancel") << "cancelButton" << int(QMessageBox::Cancel) << "";
    }

    void seamRunsTheDialog()
    {
        QFETCH(QString, button);
        QFETCH(int, answer);
        QFETCH(QString, text);
        QPasswd::registerAsPasswordPrompt();
        QString shownName;
        onModal<QPasswd>([&](QPasswd *dialog) {
            shownName = dialog->findChild<QLineEdit *>("nameLineEdit")->text();
            QTest::keyClicks(dialog->findChild<QLineEdit *>("passwdLineEdit"), QStringLiteral("cam777"));
            dialog->findChild<QPushButton *>(button)->click();
        });
        varno::ui::PromptRequest request;
        request.kind = varno::ui::PromptKind::Password;
        request.title = QStringLiteral("Password");
        request.text = QStringLiteral("Front door");
        const varno::ui::PromptAnswer got = varno::ui::prompt(request);
        QCOMPARE(shownName, QStringLiteral("Front door"));
        QCOMPARE(int(got.button), answer);
        QCOMPARE(got.text, text);
        varno::ui::setPasswordDialog({});
    }
};

QTEST_MAIN(TestQPasswd)
#include "tst_qpasswd.moc"
