#include "live/streamchoice.h"

#include <algorithm>

namespace varno::live {

int StreamChoice::pick(QSize area, QSize mainSize, QSize subSize, int current)
{
    current = current == 1 ? 1 : 0;
    if (mainSize.isEmpty())
        return current; // nothing known of the streams yet
    // One stream, or a "sub" stream that is not smaller: the main stream.
    if (subSize.isEmpty() || (subSize.width() >= mainSize.width() && subSize.height() >= mainSize.height()))
        return 0;
    if (area.isEmpty())
        return current;
    const double share = std::min(double(area.width()) / mainSize.width(), double(area.height()) / mainSize.height());
    if (current == 1)
        return share >= kMainFrom ? 0 : 1;
    return share < kSubBelow ? 1 : 0;
}

} // namespace varno::live
