#include "common/ui/infobox.h"

#include "common/logfile.h"

#include <QApplication>
#include <QCoreApplication>
#include <QInputDialog>
#include <QPushButton>
#include <QThread>

#include <mutex>

namespace varno::ui {

namespace {

struct Seam
{
    std::mutex mutex;
    PromptHandler handler;
    PromptHandler passwordDialog;
};

Seam &seam()
{
    static Seam *s = new Seam; // process-wide, never destroyed
    return *s;
}

bool onUiThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

PromptAnswer runMessageBox(const PromptRequest &request)
{
    const bool question = request.kind == PromptKind::Question;
    QMessageBox box(request.parent);
    box.setWindowTitle(request.title);
    box.setText(request.text);
    box.setIcon(question ? QMessageBox::Question : QMessageBox::Information);
    box.setStyleSheet(QString::fromLatin1(kInfoBoxStyle));
    if (question) {
        box.addButton(QMessageBox::Yes)->setText(QCoreApplication::translate("InfoBox", "Yes"));
        QPushButton *no = box.addButton(QMessageBox::No);
        no->setText(QCoreApplication::translate("InfoBox", "No"));
        box.setDefaultButton(no);
        box.setEscapeButton(no);
    } else {
        QPushButton *ok = box.addButton(QMessageBox::Ok);
        ok->setText(QCoreApplication::translate("InfoBox", "OK"));
        box.setDefaultButton(ok);
        box.setEscapeButton(ok);
    }
    box.exec();
    PromptAnswer answer;
    answer.button = box.standardButton(box.clickedButton());
    if (answer.button == QMessageBox::NoButton)
        answer.button = question ? QMessageBox::No : QMessageBox::Ok;
    return answer;
}

} // namespace

PromptAnswer prompt(const PromptRequest &request)
{
    PromptHandler handler;
    PromptHandler passwordDialog;
    {
        std::lock_guard<std::mutex> lock(seam().mutex);
        handler = seam().handler;
        passwordDialog = seam().passwordDialog;
    }
    if (handler)
        return handler(request);

    if (!onUiThread() || !qobject_cast<QApplication *>(QCoreApplication::instance())) {
        WriteLog(2, "%s(%d):Dialog(%s) refused outside the user interface thread!!!",
                 "varno::ui::prompt", __LINE__, request.title.toUtf8().constData());
        return {};
    }
    if (request.kind == PromptKind::Password) {
        if (!passwordDialog) {
            WriteLog(2, "%s(%d):No password dialog registered!!!", "varno::ui::prompt", __LINE__);
            return {QMessageBox::Cancel, QString()};
        }
        return passwordDialog(request);
    }
    if (request.kind == PromptKind::Text) {
        QInputDialog dialog(request.parent);
        dialog.setWindowTitle(request.title);
        dialog.setLabelText(request.text);
        dialog.setStyleSheet(QString::fromLatin1(kInfoBoxStyle));
        dialog.setOkButtonText(QCoreApplication::translate("InfoBox", "OK"));
        dialog.setCancelButtonText(QCoreApplication::translate("InfoBox", "Cancel"));
        const bool ok = dialog.exec() == QDialog::Accepted;
        return {ok ? QMessageBox::Ok : QMessageBox::Cancel, ok ? dialog.textValue() : QString()};
    }
    return runMessageBox(request);
}

PromptHandler setPromptHandler(PromptHandler handler)
{
    std::lock_guard<std::mutex> lock(seam().mutex);
    PromptHandler previous = std::move(seam().handler);
    seam().handler = std::move(handler);
    return previous;
}

void setPasswordDialog(PromptHandler dialog)
{
    std::lock_guard<std::mutex> lock(seam().mutex);
    seam().passwordDialog = std::move(dialog);
}

QMessageBox::StandardButton InfoBox(QWidget *parent, const QString &title, const QString &text,
                                    bool question)
{
    PromptRequest request;
    request.kind = question ? PromptKind::Question : PromptKind::Information;
    request.title = title;
    request.text = text;
    request.parent = parent;
    const QMessageBox::StandardButton button = prompt(request).button;
    if (question)
        return button == QMessageBox::Yes ? QMessageBox::Yes : QMessageBox::No;
    return QMessageBox::Ok;
}

} // namespace varno::ui
