#pragma once

#include <QCoreApplication>
#include <QThread>

namespace varno {

// True on the thread of the application object (the user-interface thread),
// and when no application object exists (nothing to tell apart then).
inline bool onUiThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

} // namespace varno

// At the entry of a function that must run on the user-interface thread:
// stops a debug build that calls it from any other thread.
#define VARNO_ASSERT_UI_THREAD() Q_ASSERT_X(::varno::onUiThread(), Q_FUNC_INFO, "not on the user-interface thread")
