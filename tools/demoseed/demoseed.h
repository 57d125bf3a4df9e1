#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

#include <cstdint>

// The demo's cameras and ports: what the camera simulator runs, what the
// broker listens on, and what the client's data directory says about them.
namespace varno::demo {

struct DemoCamera
{
    bool p2p = true;
    QString deviceId;      // P2P: device ID; ONVIF: the UUID
    QString p2pId;         // P2P camera ID (P2P only)
    QString name;
    QString password;
    uint16_t httpPort = 0; // ONVIF device service port
    bool h265 = false;     // P2P: the camera sends and keeps H.265
    bool ptz = false;      // the camera pans, tilts and zooms (ONVIF and P2P)
};

struct DemoPlan
{
    uint16_t brokerPort = 0;
    uint16_t discoveryPort = 0;
    QList<DemoCamera> cameras;
};

// Four P2P and two ONVIF cameras on the given ports (httpPorts: two).
DemoPlan defaultPlan(uint16_t brokerPort, uint16_t discoveryPort, uint16_t httpPort1, uint16_t httpPort2);

// The simulator's configuration (varno-camsim) for the plan.
QJsonObject simulatorConfig(const DemoPlan &plan, const QString &storageDir);
// A private Mosquitto configuration: loopback listener, anonymous, no
// persistence, log to stdout.
QByteArray brokerConfig(const DemoPlan &plan);

// Writes p2p.conf and onvif.conf into installDir and replaces the camera
// list of its device store by the plan's cameras (passwords enciphered).
// False with a reason when a file or the store could not be written.
bool seedClientData(const DemoPlan &plan, const QString &installDir, QString *error);

// A free TCP port on 127.0.0.1 that is not in `taken` (0 when none found).
uint16_t freeLoopbackPort(const QList<uint16_t> &taken);

} // namespace varno::demo
