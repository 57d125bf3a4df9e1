#pragma once

#include <QSize>

namespace varno::live {

// Which of a camera's streams a live window shows when the stream follows
// the window's size: the main stream (0, the camera's largest) or the sub
// stream (1, the smaller one sent for walls of windows).
//
// A window whose picture area is smaller than about 60 % of the main
// stream's picture in either direction shows the sub stream; a larger one
// (maximised, full screen, a wall of few windows on a large screen) shows
// the main stream. Between the two thresholds the window keeps what it
// shows, so that a resize drag across the line does not flip streams.
struct StreamChoice
{
    // Below this share of the main picture (width or height) the sub
    // stream is taken; the main stream again from kMainFrom on.
    static constexpr double kSubBelow = 0.55;
    static constexpr double kMainFrom = 0.65;

    // area: the window's picture area in pixels (empty: hidden, nothing
    // changes); mainSize / subSize: the streams' pictures (an empty subSize:
    // the camera has one stream only, or its second is not smaller);
    // current: 0 or 1, what the window shows now. Returns 0 or 1.
    static int pick(QSize area, QSize mainSize, QSize subSize, int current);
};

} // namespace varno::live
