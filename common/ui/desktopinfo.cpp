#include "common/ui/desktopinfo.h"

#include "common/logfile.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

CDesktopInfo *CDesktopInfo::instance()
{
    static CDesktopInfo *info = new CDesktopInfo;
    return info;
}

int CDesktopInfo::pickMonitor(const std::vector<QRect> &rects, QPoint cursor, int previous)
{
    if (rects.empty())
        return -1;
    for (size_t i = 0; i < rects.size(); ++i) {
        // Every pixel of the monitor counts, its last column and row included.
        if (rects[i].contains(cursor))
            return int(i);
    }
    if (previous < 0 || previous >= int(rects.size()))
        return 0;
    return previous;
}

QRect CDesktopInfo::currentMonitorRect()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rects.clear();
    const QList<QScreen *> screens = QGuiApplication::screens();
    m_count = int(screens.size());
    WriteLog(0, "[DESKTOP]Monitor num(%d)!!!", m_count);
    for (int i = 0; i < m_count; ++i) {
        const QRect r = screens.at(i)->availableGeometry();
        m_rects.push_back(r);
        WriteLog(0, "[DESKTOP]Monitor(%d), rect(%d,%d,%d,%d)!!!", i, r.left(), r.top(),
                 r.right() - r.left() + 1, r.bottom() - r.top() + 1);
    }
    const int picked = pickMonitor(m_rects, QCursor::pos(), m_current);
    if (picked < 0) {
        // No monitor at all (a display server without outputs): a plain
        // area at the origin keeps every caller's arithmetic sound.
        m_current = 0;
        return QRect(0, 0, 1024, 768);
    }
    m_current = picked;
    return m_rects[size_t(m_current)];
}

int CDesktopInfo::currentIndex()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_current;
}

int CDesktopInfo::monitorCount()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_count;
}
