#pragma once

#include <QString>

namespace varno::live {

// The video pages' choices of each user (live view and playback), kept in
// "live.conf" in the installation directory (keys per login name): the
// stores of fixed layout have no room for them. A choice made before anyone
// logged in (empty user name) is not stored.
class LiveViewSettings
{
public:
    static QString filePath();

    // Pictures letter-boxed to their own shape (true, the default) or
    // stretched to the window (false).
    static bool keepAspect(const QString &user);
    // False when the file could not be written (logged).
    static bool setKeepAspect(const QString &user, bool on);
    // Each window shows the camera's stream that fits its size (true, the
    // default), or the stream chosen by hand (false).
    static bool autoStream(const QString &user);
    static bool setAutoStream(const QString &user, bool on);
    // The playback page's pictures: letter-boxed (true, the default) or
    // stretched, chosen apart from the live view's.
    static bool playbackKeepAspect(const QString &user);
    static bool setPlaybackKeepAspect(const QString &user, bool on);
    // The width of the playback page's search panel in pixels; 0 when the
    // user never set it.
    static int playbackPanelWidth(const QString &user);
    static bool setPlaybackPanelWidth(const QString &user, int width);
};

} // namespace varno::live
