#pragma once

// Helpers for tests that drive a live main window: its camera tree, the
// state the probing gave a camera, the windows its live page uses.

#include "client/client.h"
#include "client/qtreewid.h"
#include "common/ui/promptscript.h"
#include "live/qvideoonly.h"
#include "live/realvideo.h"
#include "resources/resourcepath.h"
#include "tests/support/modal.h"
#include "tests/support/testenv.h"

#include <QByteArray>
#include <QIcon>
#include <QImage>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QTreeWidgetItem>

namespace clienttest {

using varno::test::runModal;

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

// A real double click on the camera's row.
inline void doubleClick(Client &c, const QString &id)
{
    QTreeWidgetItem *item = itemOf(c, id);
    QVERIFY(item);
    QTest::mouseDClick(tree(c)->viewport(), Qt::LeftButton, {}, tree(c)->visualItemRect(item).center());
}

// The icon as an image to compare, at the tree's size.
inline QImage iconImage(const QIcon &icon)
{
    return icon.pixmap(QSize(20, 20)).toImage().convertToFormat(QImage::Format_ARGB32);
}

// The camera's icon in the tree (none when it is not listed).
inline QImage treeIcon(Client &c, const QByteArray &id)
{
    QTreeWidgetItem *item = itemOf(c, QString::fromLatin1(id));
    return item ? iconImage(item->icon(0)) : QImage();
}

// One of the pictures the tree shows, e.g. "./images/dvr_gray.png".
inline QImage resourceIcon(const char *name)
{
    return iconImage(QIcon(varno::resourcePath(QString::fromLatin1(name))));
}

// The camera's record in a list; all zero when it is not listed.
inline DvrListInfo_s recordOf(const QList<DvrListInfo_s> &list, const QByteArray &id)
{
    for (const DvrListInfo_s &d : list)
        if (QByteArray(d.dev.devId) == id)
            return d;
    return DvrListInfo_s{};
}

inline bool holds(const QList<DvrListInfo_s> &list, const QByteArray &id)
{
    return QByteArray(recordOf(list, id).dev.devId) == id;
}

// The texts of the prompts asked so far, in order.
inline QStringList promptTexts(const varno::ui::PromptScript &prompts)
{
    QStringList out;
    for (const varno::ui::PromptRequest &r : prompts.requests())
        out << r.text;
    return out;
}

// Starts the window's P2P channel and waits until it is registered.
inline void registerP2p(Client &client)
{
    const qsizetype before = varno::test::logText().count("P2P_Client_SDK_Register success !!!");
    client.startP2PRegistration();
    QTRY_VERIFY_WITH_TIMEOUT(varno::test::logText().count("P2P_Client_SDK_Register success !!!") > before, 15000);
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
