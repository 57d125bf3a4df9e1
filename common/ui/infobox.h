#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

// Every message the program shows to the user, and every question it asks,
// goes through prompt(): one replaceable seam. By default it runs the real
// modal dialog; a test (or a headless run) installs a handler that records
// the request and answers it, so that nothing ever blocks on a dialog.
namespace varno::ui {

enum class PromptKind {
    Information, // information icon, OK
    Question,    // question icon, Yes and No (No refuses the action)
    Password,    // camera password prompt: OK with the text entered, or Cancel
    Text,        // one line of text (a name): OK with the text entered, or Cancel
};

struct PromptRequest
{
    PromptKind kind = PromptKind::Information;
    QString title;
    QString text;              // message, or the camera's name for a password prompt
    QWidget *parent = nullptr;
    QString devId;             // password prompt: the camera's ID, shown when not empty
};

struct PromptAnswer
{
    QMessageBox::StandardButton button = QMessageBox::NoButton;
    QString text;              // the password or line entered (Password and Text prompts only)
};

using PromptHandler = std::function<PromptAnswer(const PromptRequest &)>;

// The seam. Runs the installed handler, or else the real dialog of the kind.
// Only the user-interface thread may show a real dialog: on any other thread
// the request is refused (NoButton) and logged.
PromptAnswer prompt(const PromptRequest &request);

// Installs a handler that answers every request in place of the dialogs;
// an empty handler restores the dialogs. Returns the previous handler.
PromptHandler setPromptHandler(PromptHandler handler);

// Registers the real camera password dialog (the information and question
// boxes are built in). An empty dialog unregisters it; without one a
// password prompt is answered Cancel.
void setPasswordDialog(PromptHandler dialog);

// The information box: title and text with an information icon and OK, or
// with a question icon and Yes and No. Returns the button pressed
// (QMessageBox::Ok, Yes or No; No also when the box was closed otherwise).
QMessageBox::StandardButton InfoBox(QWidget *parent, const QString &title, const QString &text,
                                    bool question = false);

// Style sheet of the information box and the text prompt: the dark panels
// of the main window and its dialogs.
inline constexpr const char *kInfoBoxStyle =
    "QMessageBox, QInputDialog { background-color: rgb(38, 43, 51); }"
    "QLabel { color: rgb(220, 224, 230); background: transparent; }"
    "QLineEdit { min-height: 24px; padding: 0 6px; border: 1px solid rgb(74, 82, 94); border-radius: 3px;"
    " background: rgb(24, 27, 32); color: rgb(235, 238, 242); selection-background-color: rgb(47, 109, 181); }"
    "QPushButton { background-color: rgb(60, 67, 78); color: rgb(230, 233, 237); border: 1px solid rgb(78, 86, 99);"
    " border-radius: 3px; min-width: 80px; min-height: 26px; padding: 0 12px; }"
    "QPushButton:hover { background-color: rgb(72, 80, 93); }"
    "QPushButton:default { border-color: rgb(59, 143, 224); }";

} // namespace varno::ui
