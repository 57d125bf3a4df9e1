#pragma once

#include "platform/onvif/onvifconf.h"
#include "platform/onvif/onvifparse.h"

#include <atomic>
#include <string>
#include <vector>

// Pan, tilt and zoom of an ONVIF camera (PTZ service, ver20): the service
// and the media profile that carries a PTZ configuration, continuous moves
// in the generic velocity spaces, stop and presets. Every call is a SOAP
// request with the WS-UsernameToken of the camera's password
// (onvif::setPassword) and returns a SoapError; none may run on a thread
// that must not wait on the network.
namespace onvif {

struct PtzTarget
{
    std::string ptzAddr;       // PTZ service address; empty: the camera cannot pan, tilt or zoom
    std::string profileToken;  // media profile with a PTZ configuration
};

class PtzClient
{
public:
    explicit PtzClient(const Config &cfg) : m_cfg(cfg) {}

    // Asks the camera (device service address) for its PTZ service and the
    // media profile to steer (wantedProfile when it has a PTZ configuration,
    // else the first that has one). kSoapOk with an empty ptzAddr: the
    // camera has no PTZ service or no profile with a PTZ configuration.
    int find(const std::string &deviceAddr, const std::string &wantedProfile, PtzTarget *out,
             const std::atomic<bool> *abort = nullptr);

    // Velocities in the generic spaces, each -1 .. 1 (clamped).
    int continuousMove(const PtzTarget &t, double pan, double tilt, double zoom,
                       const std::atomic<bool> *abort = nullptr);
    // Stops pan/tilt and zoom.
    int stop(const PtzTarget &t, const std::atomic<bool> *abort = nullptr);
    int presets(const PtzTarget &t, std::vector<PtzPreset> *out, const std::atomic<bool> *abort = nullptr);
    int gotoPreset(const PtzTarget &t, const std::string &token, const std::atomic<bool> *abort = nullptr);
    // Stores the current position under name; *token gets the new preset's token.
    int setPreset(const PtzTarget &t, const std::string &name, std::string *token,
                  const std::atomic<bool> *abort = nullptr);
    int removePreset(const PtzTarget &t, const std::string &token, const std::atomic<bool> *abort = nullptr);

    // "0.25" for 0.25: decimal point whatever the locale, at most 3 places.
    static std::string number(double value);

private:
    Config m_cfg;
};

} // namespace onvif
