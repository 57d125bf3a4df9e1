#include "tools/camsim/simcamera.h"

#include <QHash>
#include <mutex>

namespace varno::camsim {

namespace {
std::mutex g_mutex;
QHash<QString, CameraFactory> &factories()
{
    static QHash<QString, CameraFactory> table;
    return table;
}
} // namespace

void registerCameraKind(const QString &kind, CameraFactory factory)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    factories().insert(kind, std::move(factory));
}

CameraFactory cameraFactory(const QString &kind)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return factories().value(kind);
}

} // namespace varno::camsim
