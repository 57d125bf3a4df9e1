#include "tools/camsim/onvifsimulation.h"

#include "common/logfile.h"

#include <atomic>
#include <cstdio>
#include <memory>

COnvifSimulation::COnvifSimulation() = default;

COnvifSimulation::~COnvifSimulation()
{
    stop();
}

bool COnvifSimulation::start(const std::vector<CameraSetup> &cameras, uint16_t discoveryPort)
{
    stop();
    m_discovery = std::make_unique<CDiscoveryResponder>();
    if (!m_discovery->start("127.0.0.1", discoveryPort)) {
        WriteLog(2, "%s(%d):Discovery port %u failed!!!", "COnvifSimulation::start", __LINE__, discoveryPort);
        stop();
        return false;
    }
    for (size_t i = 0; i < cameras.size(); ++i) {
        COnvifCamera::Settings s;
        s.uuid = cameras[i].uuid;
        if (s.uuid.empty()) {
            char buf[64];
            std::snprintf(buf, sizeof(buf), "5a5a5a5a-0000-4000-8000-%012zu", i + 1);
            s.uuid = buf;
        }
        s.name = cameras[i].name.empty() ? "ONVIF " + std::to_string(i + 1) : cameras[i].name;
        if (!cameras[i].nameScope) {
            s.name.clear();
            s.hardware.clear();
        }
        if (!cameras[i].model.empty())
            s.model = cameras[i].model;
        s.password = cameras[i].password;
        s.httpDigest = cameras[i].httpDigest;
        s.clockOffsetS = cameras[i].clockOffsetS;
        s.h265 = cameras[i].h265;
        s.ptz = cameras[i].ptz;
        auto rtsp = std::make_unique<CRtspServer>();
        for (auto stream : CRtspServer::cameraStreams(s.uuid, static_cast<int>(i), s.h265)) {
            stream.turnable = s.ptz;
            if (s.ptz) // a scene of its own colour, so that the black edge of a turn shows
                stream.background = 0xff3a6ea5;
            rtsp->addStream(stream);
        }
        // The picture shows where the head points (the camera is made
        // below; the RTSP servers are stopped before the cameras).
        auto head = std::make_shared<std::atomic<COnvifCamera *>>(nullptr);
        if (s.ptz) {
            rtsp->setViewOffset([head](double *pan, double *tilt) {
                if (COnvifCamera *cam = head->load()) {
                    const COnvifCamera::PtzState st = cam->ptzState();
                    *pan = st.pan;
                    *tilt = st.tilt;
                }
            });
        }
        rtsp->setCredentials(s.user, s.password);
        if (!rtsp->start()) {
            WriteLog(2, "%s(%d):RTSP server of camera %zu failed!!!", "COnvifSimulation::start", __LINE__, i);
            stop();
            return false;
        }
        s.rtspPort = rtsp->port();
        auto cam = std::make_unique<COnvifCamera>(s);
        if (!cam->start(cameras[i].httpPort)) {
            WriteLog(2, "%s(%d):Camera %zu cannot listen!!!", "COnvifSimulation::start", __LINE__, i);
            stop();
            return false;
        }
        head->store(cam.get());
        m_entries.push_back(m_discovery->addEntry(cam->discoveryEntry()));
        m_cameras.push_back(std::move(cam));
        m_rtsp.push_back(std::move(rtsp));
    }
    return true;
}

CRtspServer *COnvifSimulation::rtsp(int index)
{
    return index >= 0 && index < static_cast<int>(m_rtsp.size()) ? m_rtsp[static_cast<size_t>(index)].get() : nullptr;
}

void COnvifSimulation::stop()
{
    m_rtsp.clear(); // first: a turnable stream reads its camera's head
    m_cameras.clear();
    m_entries.clear();
    m_discovery.reset();
}

COnvifCamera *COnvifSimulation::camera(int index)
{
    return index >= 0 && index < count() ? m_cameras[static_cast<size_t>(index)].get() : nullptr;
}

void COnvifSimulation::setRefusePassword(int index, bool on)
{
    if (COnvifCamera *cam = camera(index))
        cam->setRefusePassword(on);
}

void COnvifSimulation::setDiscoverable(int index, bool on)
{
    if (m_discovery && index >= 0 && index < static_cast<int>(m_entries.size()))
        m_discovery->setVisible(m_entries[static_cast<size_t>(index)], on);
}

std::string COnvifSimulation::probeTargetLine() const
{
    return "probe_target = 127.0.0.1:" + std::to_string(discoveryPort());
}
