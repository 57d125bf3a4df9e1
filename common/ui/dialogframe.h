#pragma once

#include <QString>

class QAbstractButton;
class QDialog;
class QWidget;

// The look shared by the program's dialogs: dark panels, a title bar drawn
// like the main window's, blue buttons for the action a dialog is for.
namespace varno::ui {

// Style sheet of a dialog. Object names it knows: titleFrame, titleLabel,
// closeButton; a button with the dynamic property primary=true is drawn
// as the dialog's main action.
QString dialogStyleSheet();

// Gives the dialog the style sheet and makes it frameless: pressing the
// left button on titleArea drags the dialog, closeButton (may be null) gets
// the close picture and the "Close" tooltip (translated by the caller).
void makeFramelessDialog(QDialog *dialog, QWidget *titleArea, QAbstractButton *closeButton);

} // namespace varno::ui
