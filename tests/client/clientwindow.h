#pragma once

// Helpers for tests that drive a live main window: its camera tree, the
// state the probing gave a camera, the windows its live page uses.

#include "client/client.h"
#include "client/qtreewid.h"
#include "common/ui/promptscript.h"
#include "live/qvideoonly.h"
#include "live/realvideo.h"

#include <QByteArray>
#include <QPushButton>
#include <QString>
#include <QTest>
#include <QTreeWidgetItem>

namespace clienttest {

inline QTreeWid *tree(Client &c)
{
    return c.findChild<QTreeWid *>(QStringLiteral("treeDevice"));
}

// The tree item of the camera ID, or none.
inline QTreeWidgetItem *itemOf(Client &c, const QString &id)
{
    QTreeWidgetItem *root = tree(c)->invisibleRootItem();
    for (int i = 0; i < root->childCount(); ++i)
        if (root->child(i)->data(0, Client::kIdRole).toString() == id)
            return root->child(i);
    return nullptr;
}

// The camera's online state in the tree, -1 when it is not listed.
inline int stateOf(const Client &c, const QByteArray &id)
{
    for (const DevTreeEntry &e : c.treeEntries())
        if (QByteArray(e.devId) == id)
            return e.state;
    return -1;
}

inline QPushButton *button(QWidget *w, const char *name)
{
    return w->findChild<QPushButton *>(QString::fromLatin1(name));
}

inline QPushButton *button(QWidget &w, const char *name)
{
    return button(&w, name);
}

// Closes the window with its Close button, the question answered Yes: it
// stops, and so does its probing thread (after the camera it asks, without
// the window waiting for it).
inline void closeClient(Client &c, varno::ui::PromptScript &prompts)
{
    prompts.answer(QMessageBox::Yes);
    button(c, "btnWinClose")->click();
    QVERIFY(c.stopRequested());
    QTRY_VERIFY_WITH_TIMEOUT(!c.probeThreadRunning(), 30000);
}

// The registry has written every change to the store (on its own thread).
inline bool storeSettled(Client &c)
{
    return c.registry()->storeIdle();
}

inline int usedWindows(realvideo *page)
{
    int n = 0;
    for (int i = 0; i < QVideoOnly::kWinCount; ++i)
        n += page->videoOnly()->winState(i).used ? 1 : 0;
    return n;
}

} // namespace clienttest
