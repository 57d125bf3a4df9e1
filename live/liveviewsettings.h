#pragma once

#include <QString>

namespace varno::live {

// The live view's choices of each user, kept in "live.conf" in the
// installation directory (keys per login name): the stores of fixed layout
// have no room for them. A choice made before anyone logged in (empty user
// name) is not stored.
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
};

} // namespace varno::live
