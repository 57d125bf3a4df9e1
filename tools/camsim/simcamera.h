#pragma once

#include "tools/camsim/simconfig.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace varno::camsim {

// One simulated camera of any kind. start() and stop() run on the
// simulator's main thread; control() too.
class SimCamera
{
public:
    virtual ~SimCamera() = default;
    // The ID control commands address the camera by (its device ID).
    virtual QString id() const = 0;
    virtual QString kind() const = 0;
    virtual bool start(QString *error) = 0;
    virtual void stop() = 0;
    // A control command without the leading camera ID, split into words.
    // Returns "OK ..." or "ERR ...".
    virtual QString control(const QStringList &args) = 0;
};

using CameraFactory = std::function<std::unique_ptr<SimCamera>(const CameraEntry &entry,
                                                               const SimConfig &config,
                                                               QString *error)>;

// Camera kinds known to the simulator ("p2p" is built in; other kinds
// register their factory before the simulator loads its configuration).
void registerCameraKind(const QString &kind, CameraFactory factory);
CameraFactory cameraFactory(const QString &kind);

} // namespace varno::camsim
