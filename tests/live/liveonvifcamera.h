#pragma once

#include "common/devicerecords.h"
#include "common/onvifrecords.h"
#include "common/textfield.h"
#include "tools/camsim/onvifcamera.h"
#include "tools/camsim/rtspserver.h"

#include <cstring>
#include <memory>
#include <string>

namespace varno::test {

// One simulated ONVIF camera in the test's process: SOAP services and its
// RTSP server (main and sub stream of the given sizes).
template <int MainW, int MainH, int SubW, int SubH>
struct LiveOnvifCamera
{
    std::unique_ptr<CRtspServer> rtsp;
    std::unique_ptr<COnvifCamera> cam;
    std::string uuid;

    bool start(const std::string &id, int index)
    {
        uuid = id;
        rtsp = std::make_unique<CRtspServer>();
        for (CRtspServer::Stream s : CRtspServer::cameraStreams(uuid, index)) {
            const bool sub = s.path.find("/sub") != std::string::npos;
            s.width = sub ? SubW : MainW;
            s.height = sub ? SubH : MainH;
            rtsp->addStream(s);
        }
        rtsp->setCredentials("admin", "admin");
        if (!rtsp->start(0))
            return false;
        COnvifCamera::Settings st;
        st.uuid = uuid;
        st.name = "Onvif " + std::to_string(index);
        st.password = "admin";
        st.rtspPort = rtsp->port();
        st.profiles.push_back({"profile_main", "MainStream", MainW, MainH, "/" + uuid + "/main"});
        st.profiles.push_back({"profile_sub", "SubStream", SubW, SubH, "/" + uuid + "/sub"});
        cam = std::make_unique<COnvifCamera>(st);
        return cam->start(0);
    }
    DeviceInfo_s device() const
    {
        DeviceInfo_s d;
        std::memset(&d, 0, sizeof d);
        varno::setText(d.devId, uuid);
        varno::setText(d.devName, cam->settings().name);
        varno::setText(d.serviceAddr, cam->serviceAddr());
        varno::setText(d.password, "admin");
        return d;
    }
    OnvifAccessInfo_s access() const
    {
        OnvifAccessInfo_s a;
        std::memset(&a, 0, sizeof a);
        varno::setText(a.devId, uuid);
        varno::setText(a.configText3, cam->eventAddr());
        varno::setText(a.mainToken, "profile_main");
        a.rtspPort = 554;
        varno::setText(a.serviceAddr, cam->serviceAddr());
        return a;
    }
    DvrListInfo_s listed() const
    {
        DvrListInfo_s l;
        std::memset(&l, 0, sizeof l);
        l.dev = device();
        l.config.profileCount = 2;
        varno::setText(l.config.mainToken, "profile_main");
        varno::setText(l.config.subToken, "profile_sub");
        varno::setText(l.config.eventAddr, cam->eventAddr());
        return l;
    }
    void stop()
    {
        if (cam)
            cam->stop();
        if (rtsp)
            rtsp->stop();
    }
};

} // namespace varno::test
