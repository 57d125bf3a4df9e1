#pragma once

#include <QPoint>
#include <QRect>

#include <mutex>
#include <vector>

// Monitor geometry: which monitor is under the mouse cursor and what its
// available area (without panels and docks) is. Process-wide, created on
// first use (on the user-interface thread) and never destroyed.
class CDesktopInfo
{
public:
    static CDesktopInfo *instance();

    // Re-reads the monitors, makes the one under the cursor current (a
    // cursor outside every monitor keeps the previous choice) and returns
    // the current monitor's available rectangle. Logs the monitors.
    QRect currentMonitorRect();

    int currentIndex();
    int monitorCount();

    // The monitor choice itself: the first rectangle that holds the point,
    // else the previous index, else 0 when the previous index no longer
    // names a monitor. -1 when there is no monitor at all.
    static int pickMonitor(const std::vector<QRect> &rects, QPoint cursor, int previous);

    CDesktopInfo(const CDesktopInfo &) = delete;
    CDesktopInfo &operator=(const CDesktopInfo &) = delete;

private:
    CDesktopInfo() = default;

    std::mutex m_mutex;
    int m_current = 0;
    int m_count = 0;
    std::vector<QRect> m_rects;
};
