#pragma once

#include "tools/camsim/discoveryresponder.h"
#include "tools/camsim/onvifcamera.h"
#include "tools/camsim/rtspserver.h"

#include <QtGlobal>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A set of simulated ONVIF cameras behind one discovery port, each with its
// SOAP services and an RTSP server of its own (own password, own faults),
// as the simulator program and the tests run them.
class COnvifSimulation
{
public:
    struct CameraSetup
    {
        std::string uuid;              // empty: derived from the index
        std::string name;              // empty: "ONVIF <index>"
        bool nameScope = true;         // false: the answer carries neither name nor hardware scope
        std::string model;             // GetDeviceInformation's model; empty: "CamSim"
        std::string password = "admin";
        uint16_t httpPort = 0;         // 0: a free port
        bool httpDigest = false;
        long long clockOffsetS = 0;
        bool h265 = false;             // main and sub stream in H.265
        bool ptz = false;              // a PTZ service; the head's position is drawn into the picture
    };

    COnvifSimulation();
    ~COnvifSimulation();
    Q_DISABLE_COPY_MOVE(COnvifSimulation)

    bool start(const std::vector<CameraSetup> &cameras, uint16_t discoveryPort = 0);
    void stop();

    int count() const { return static_cast<int>(m_cameras.size()); }
    COnvifCamera *camera(int index);
    // Valid between start() and stop().
    CDiscoveryResponder *discovery() { return m_discovery.get(); }
    CRtspServer *rtsp(int index);
    uint16_t discoveryPort() const { return m_discovery ? m_discovery->port() : 0; }

    // The camera refuses every credential (on) or takes its password again.
    void setRefusePassword(int index, bool on);
    // A camera that vanishes from discovery (and comes back).
    void setDiscoverable(int index, bool on);
    // The onvif.conf line that points the client at this simulation.
    std::string probeTargetLine() const;

private:
    std::unique_ptr<CDiscoveryResponder> m_discovery;
    std::vector<std::unique_ptr<CRtspServer>> m_rtsp;
    std::vector<std::unique_ptr<COnvifCamera>> m_cameras;
    std::vector<int> m_entries;
};
