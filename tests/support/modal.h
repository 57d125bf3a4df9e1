#pragma once

// Dialogs run modally by the code under test, answered from the test.

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

namespace varno::test {

// Runs open(), which runs a dialog of type T modally. Once that dialog is
// the active modal window, inside(dialog) runs and the dialog is closed.
// Whatever modal window is still up after timeoutMs is closed, so that the
// test never hangs. Returns whether the dialog was seen.
template <typename T, typename Open, typename Inside>
bool runModal(Open open, Inside inside, int timeoutMs = 30000)
{
    bool seen = false;
    QTimer timer;
    timer.setInterval(10);
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *dialog = qobject_cast<T *>(modal)) {
            timer.stop();
            seen = true;
            inside(dialog);
            if (dialog->isVisible())
                dialog->close();
        } else if (clock.elapsed() > timeoutMs) {
            timer.stop();
            if (modal)
                modal->close();
        }
    });
    timer.start();
    open();
    timer.stop();
    return seen;
}

} // namespace varno::test
