#include "platform/onvif/onvifptz.h"

#include "common/logfile.h"
#include "common/secretmask.h"
#include "platform/onvif/onvifsoap.h"
#include "platform/onvif/onvifxml.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ctime>

namespace onvif {

namespace {

constexpr const char *kActionBase = "http://www.onvif.org/ver20/ptz/wsdl/";
constexpr const char *kPanTiltSpace = "http://www.onvif.org/ver10/tptz/PanTiltSpaces/VelocityGenericSpace";
constexpr const char *kZoomSpace = "http://www.onvif.org/ver10/tptz/ZoomSpaces/VelocityGenericSpace";

std::string profileElement(const PtzTarget &t)
{
    return "<tptz:ProfileToken>" + xmlEscape(t.profileToken) + "</tptz:ProfileToken>";
}

} // namespace

std::string PtzClient::number(double value)
{
    if (!std::isfinite(value))
        value = 0;
    const long milli = std::lround(std::clamp(value, -1e6, 1e6) * 1000.0);
    const long whole = std::labs(milli) / 1000;
    const long frac = std::labs(milli) % 1000;
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, whole);
    std::string s = (milli < 0 ? "-" : "") + std::string(buf, r.ptr);
    if (frac != 0) {
        char f[4] = {char('0' + frac / 100), char('0' + frac / 10 % 10), char('0' + frac % 10), 0};
        std::string fs(f);
        while (!fs.empty() && fs.back() == '0')
            fs.pop_back();
        s += "." + fs;
    }
    return s;
}

int PtzClient::find(const std::string &deviceAddr, const std::string &wantedProfile, PtzTarget *out,
                    const std::atomic<bool> *abort)
{
    *out = PtzTarget();
    SoapClient soap(m_cfg);
    // The camera's clock first: the UsernameToken must fall within its window.
    SoapReply clock;
    int rc = soap.call(deviceAddr, "http://www.onvif.org/ver10/device/wsdl/GetSystemDateAndTime",
                       "<tds:GetSystemDateAndTime/>", false, &clock, abort);
    if (rc == kSoapNetwork || rc == kSoapTimeout || rc == kSoapAborted)
        return rc;
    if (rc == kSoapOk) {
        const long long camera = parseSystemDateAndTime(clock.body());
        if (camera >= 0) {
            const long long offset = camera - static_cast<long long>(std::time(nullptr));
            setClockOffset(deviceAddr, std::llabs(offset) > 2 ? offset : 0);
        }
    }

    ServiceAddrs svc;
    SoapReply r;
    rc = soap.call(deviceAddr, "http://www.onvif.org/ver10/device/wsdl/GetServices",
                   "<tds:GetServices><tds:IncludeCapability>false</tds:IncludeCapability></tds:GetServices>", true,
                   &r, abort);
    if (rc == kSoapAuth || rc == kSoapNetwork || rc == kSoapTimeout || rc == kSoapAborted)
        return rc;
    if (rc != kSoapOk || !parseServices(r.body(), &svc) || svc.media.empty()) {
        // Older cameras only know GetCapabilities.
        svc = ServiceAddrs();
        SoapReply c;
        rc = soap.call(deviceAddr, "http://www.onvif.org/ver10/device/wsdl/GetCapabilities",
                       "<tds:GetCapabilities><tds:Category>All</tds:Category></tds:GetCapabilities>", true, &c, abort);
        if (rc != kSoapOk)
            return rc;
        if (!parseCapabilities(c.body(), &svc))
            return kSoapReply;
    }
    if (svc.ptz.empty() || svc.media.empty())
        return kSoapOk; // no PTZ service

    SoapReply p;
    rc = soap.call(svc.media, "http://www.onvif.org/ver10/media/wsdl/GetProfiles", "<trt:GetProfiles/>", true, &p,
                   abort);
    if (rc != kSoapOk)
        return rc;
    std::vector<MediaProfile> list;
    if (!parseProfiles(p.body(), &list))
        return kSoapReply;
    const MediaProfile *chosen = nullptr;
    for (const auto &m : list) {
        if (m.ptzConfig.empty())
            continue;
        if (!chosen || (!wantedProfile.empty() && m.token == wantedProfile))
            chosen = &m;
    }
    if (!chosen)
        return kSoapOk; // a PTZ service, but no profile it steers
    out->ptzAddr = svc.ptz;
    out->profileToken = chosen->token;
    return kSoapOk;
}

int PtzClient::continuousMove(const PtzTarget &t, double pan, double tilt, double zoom,
                              const std::atomic<bool> *abort)
{
    auto unit = [](double v) { return std::isfinite(v) ? std::clamp(v, -1.0, 1.0) : 0.0; };
    const std::string body = "<tptz:ContinuousMove>" + profileElement(t) + "<tptz:Velocity><tt:PanTilt x=\"" +
                             number(unit(pan)) + "\" y=\"" + number(unit(tilt)) + "\" space=\"" + kPanTiltSpace +
                             "\"/><tt:Zoom x=\"" + number(unit(zoom)) + "\" space=\"" + kZoomSpace +
                             "\"/></tptz:Velocity></tptz:ContinuousMove>";
    return SoapClient(m_cfg).call(t.ptzAddr, std::string(kActionBase) + "ContinuousMove", body, true, nullptr, abort);
}

int PtzClient::stop(const PtzTarget &t, const std::atomic<bool> *abort)
{
    const std::string body = "<tptz:Stop>" + profileElement(t) +
                             "<tptz:PanTilt>true</tptz:PanTilt><tptz:Zoom>true</tptz:Zoom></tptz:Stop>";
    return SoapClient(m_cfg).call(t.ptzAddr, std::string(kActionBase) + "Stop", body, true, nullptr, abort);
}

int PtzClient::presets(const PtzTarget &t, std::vector<PtzPreset> *out, const std::atomic<bool> *abort)
{
    out->clear();
    SoapReply r;
    const int rc = SoapClient(m_cfg).call(t.ptzAddr, std::string(kActionBase) + "GetPresets",
                                          "<tptz:GetPresets>" + profileElement(t) + "</tptz:GetPresets>", true, &r,
                                          abort);
    if (rc != kSoapOk)
        return rc;
    if (!parsePresets(r.body(), out)) {
        WriteLog(2, "%s(%d):PTZ service(%s) sent no preset list!!!", "onvif::PtzClient::presets", __LINE__,
                 varno::maskCredentials(t.ptzAddr.substr(0, 128)).c_str());
        return kSoapReply;
    }
    return kSoapOk;
}

int PtzClient::gotoPreset(const PtzTarget &t, const std::string &token, const std::atomic<bool> *abort)
{
    const std::string body = "<tptz:GotoPreset>" + profileElement(t) + "<tptz:PresetToken>" + xmlEscape(token) +
                             "</tptz:PresetToken></tptz:GotoPreset>";
    return SoapClient(m_cfg).call(t.ptzAddr, std::string(kActionBase) + "GotoPreset", body, true, nullptr, abort);
}

int PtzClient::setPreset(const PtzTarget &t, const std::string &name, std::string *token,
                         const std::atomic<bool> *abort)
{
    token->clear();
    SoapReply r;
    const std::string body = "<tptz:SetPreset>" + profileElement(t) + "<tptz:PresetName>" + xmlEscape(name) +
                             "</tptz:PresetName></tptz:SetPreset>";
    const int rc = SoapClient(m_cfg).call(t.ptzAddr, std::string(kActionBase) + "SetPreset", body, true, &r, abort);
    if (rc != kSoapOk)
        return rc;
    *token = parseSetPreset(r.body());
    if (token->empty()) {
        WriteLog(2, "%s(%d):PTZ service(%s) sent no preset token!!!", "onvif::PtzClient::setPreset", __LINE__,
                 varno::maskCredentials(t.ptzAddr.substr(0, 128)).c_str());
        return kSoapReply;
    }
    return kSoapOk;
}

int PtzClient::removePreset(const PtzTarget &t, const std::string &token, const std::atomic<bool> *abort)
{
    const std::string body = "<tptz:RemovePreset>" + profileElement(t) + "<tptz:PresetToken>" + xmlEscape(token) +
                             "</tptz:PresetToken></tptz:RemovePreset>";
    return SoapClient(m_cfg).call(t.ptzAddr, std::string(kActionBase) + "RemovePreset", body, true, nullptr, abort);
}

} // namespace onvif
