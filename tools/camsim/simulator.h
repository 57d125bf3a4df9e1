#pragma once

#include "tools/camsim/simcamera.h"
#include "tools/camsim/simconfig.h"

#include <QString>

#include <memory>
#include <vector>

namespace varno::camsim {

// All cameras of one configuration. Control lines (see control()) come from
// the program's standard input or from a test in the same process.
class Simulator
{
public:
    Simulator() = default;
    ~Simulator();
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // Builds and starts every camera; false with a reason on the first failure
    // (cameras already started are stopped again).
    bool start(const SimConfig &config, QString *error);
    void stop();

    // "<camera ID> <command> [args]" runs a camera's command; "all <command>"
    // runs it on every camera; "list" names the cameras; "ping" answers OK.
    // Returns one line starting with "OK" or "ERR".
    QString control(const QString &line);

    SimCamera *camera(const QString &id) const;
    const std::vector<std::unique_ptr<SimCamera>> &cameras() const { return m_cameras; }

private:
    std::vector<std::unique_ptr<SimCamera>> m_cameras;
};

} // namespace varno::camsim
