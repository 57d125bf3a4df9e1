// ONVIF half of the device manager: configuration block and stream address
// of a camera, over SOAP 1.2 (platform/onvif/onvifsoap.h).

#include "platform/devmgr/sdk_dvrmgr.h"

#include "common/logfile.h"
#include "common/textfield.h"
#include "platform/onvif/onvifconf.h"
#include "platform/onvif/onvifprobe.h"
#include "platform/onvif/onvifsoap.h"
#include "platform/onvif/onvifxml.h"
#include "platform/onvif/onvifparse.h"

#include <QDateTime>
#include <QTimeZone>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>

namespace {

using namespace onvif;

// Media service address by device service address, from GetDevConfig.
std::mutex g_cacheMutex;
std::map<std::string, std::string> g_mediaAddr;
// Model reported by GetDeviceInformation, by device service address.
std::map<std::string, std::string> g_model;

int mapError(int soapError)
{
    switch (soapError) {
    case kSoapOk: return 0;
    case kSoapNetwork:
    case kSoapTimeout:
    case kSoapAborted: return DVRMGR_ERR_NETWORK;
    case kSoapAuth: return DVRMGR_ERR_AUTH;
    default: return DVRMGR_ERR_REPLY;
    }
}

// Reads the camera's clock and keeps the offset for the UsernameToken.
int measureClock(SoapClient &soap, const std::string &addr)
{
    SoapReply r;
    const int rc = soap.call(addr, "http://www.onvif.org/ver10/device/wsdl/GetSystemDateAndTime",
                             "<tds:GetSystemDateAndTime/>", false, &r);
    if (rc == kSoapNetwork || rc == kSoapTimeout || rc == kSoapReply)
        return rc;
    if (rc != kSoapOk)
        return kSoapOk; // some cameras want credentials even here; go on without an offset
    const long long camera = onvif::parseSystemDateAndTime(r.body());
    if (camera < 0) {
        WriteLog(3, "%s(%d):Device(%s) sent no usable time!!!", "SDK_DVRMGR_GetDevConfig", __LINE__, addr.c_str());
        return kSoapOk;
    }
    const long long offset = camera - static_cast<long long>(std::time(nullptr));
    // A few seconds are transfer time, not a clock difference.
    setClockOffset(addr, std::llabs(offset) > 2 ? offset : 0);
    if (std::llabs(offset) > 2)
        WriteLog(4, "[DEVICE]Device(%s) clock differs by %llds!!!", addr.c_str(), offset);
    return kSoapOk;
}

int services(SoapClient &soap, const std::string &addr, onvif::ServiceAddrs *out)
{
    SoapReply r;
    int rc = soap.call(addr, "http://www.onvif.org/ver10/device/wsdl/GetServices",
                       "<tds:GetServices><tds:IncludeCapability>false</tds:IncludeCapability></tds:GetServices>",
                       true, &r);
    if (rc == kSoapOk && onvif::parseServices(r.body(), out) && !out->media.empty())
        return kSoapOk;
    if (rc == kSoapAuth || rc == kSoapNetwork || rc == kSoapTimeout)
        return rc;
    // Older cameras only know GetCapabilities.
    SoapReply c;
    rc = soap.call(addr, "http://www.onvif.org/ver10/device/wsdl/GetCapabilities",
                   "<tds:GetCapabilities><tds:Category>All</tds:Category></tds:GetCapabilities>", true, &c);
    if (rc != kSoapOk)
        return rc;
    if (!onvif::parseCapabilities(c.body(), out) || out->media.empty()) {
        WriteLog(2, "%s(%d):Device(%s) names no media service!!!", "SDK_DVRMGR_GetDevConfig", __LINE__,
                 addr.c_str());
        return kSoapReply;
    }
    return kSoapOk;
}

int profiles(SoapClient &soap, const std::string &mediaAddr, std::vector<onvif::MediaProfile> *out)
{
    SoapReply r;
    const int rc = soap.call(mediaAddr, "http://www.onvif.org/ver10/media/wsdl/GetProfiles", "<trt:GetProfiles/>",
                             true, &r);
    if (rc != kSoapOk)
        return rc;
    if (!onvif::parseProfiles(r.body(), out) || out->empty()) {
        WriteLog(2, "%s(%d):Media service(%s) reports no usable profile!!!", "SDK_DVRMGR_GetDevConfig", __LINE__,
                 mediaAddr.c_str());
        return kSoapReply;
    }
    return kSoapOk;
}

std::string mediaAddrFor(SoapClient &soap, const std::string &addr, int *rc)
{
    {
        std::lock_guard<std::mutex> lock(g_cacheMutex);
        const auto it = g_mediaAddr.find(addr);
        if (it != g_mediaAddr.end()) {
            *rc = kSoapOk;
            return it->second;
        }
    }
    *rc = measureClock(soap, addr);
    if (*rc != kSoapOk)
        return std::string();
    onvif::ServiceAddrs s;
    *rc = services(soap, addr, &s);
    if (*rc != kSoapOk)
        return std::string();
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    if (g_mediaAddr.size() > 4096)
        g_mediaAddr.clear();
    g_mediaAddr[addr] = s.media;
    return s.media;
}

} // namespace

extern "C" {

int SDK_DVRMGR_SetOnvifCredentials(const char *serviceAddr, const char *password)
{
    if (!serviceAddr || !password)
        return DVRMGR_ERR_PARAM;
    const std::string addr(serviceAddr, strnlen(serviceAddr, 128));
    if (addr.rfind("http://", 0) != 0 && addr.rfind("https://", 0) != 0)
        return DVRMGR_ERR_PARAM;
    onvif::setPassword(addr, std::string(password, strnlen(password, 64)));
    return 0;
}

int SDK_DVRMGR_GetDevConfig(const char *serviceAddr, DevConfig_s *config)
{
    if (!serviceAddr || !config)
        return DVRMGR_ERR_PARAM;
    const std::string addr(serviceAddr, strnlen(serviceAddr, 128));
    if (addr.empty())
        return DVRMGR_ERR_PARAM;
    const onvif::Config cfg = onvif::loadConfig();
    SoapClient soap(cfg);

    int rc = measureClock(soap, addr);
    if (rc != kSoapOk) {
        WriteLog(2, "%s(%d):Device(%s) time request failed: %s!!!", "SDK_DVRMGR_GetDevConfig", __LINE__,
                 addr.c_str(), soapErrorText(rc));
        return mapError(rc);
    }
    onvif::ServiceAddrs svc;
    rc = services(soap, addr, &svc);
    if (rc != kSoapOk)
        return mapError(rc);

    SoapReply info;
    rc = soap.call(addr, "http://www.onvif.org/ver10/device/wsdl/GetDeviceInformation",
                   "<tds:GetDeviceInformation/>", true, &info);
    if (rc != kSoapOk)
        return mapError(rc);
    const pugi::xml_node di = onvif::child(info.body(), "GetDeviceInformationResponse");
    WriteLog(4, "[DEVICE]Device(%s): %s %s firmware %s!!!", addr.c_str(),
             onvif::text(onvif::child(di, "Manufacturer")).substr(0, 64).c_str(),
             onvif::text(onvif::child(di, "Model")).substr(0, 64).c_str(),
             onvif::text(onvif::child(di, "FirmwareVersion")).substr(0, 64).c_str());

    {
        std::lock_guard<std::mutex> lock(g_cacheMutex);
        if (g_model.size() > 4096)
            g_model.clear();
        g_model[addr] = onvif::text(onvif::child(di, "Model")).substr(0, 255);
    }

    std::vector<onvif::MediaProfile> list;
    rc = profiles(soap, svc.media, &list);
    if (rc != kSoapOk)
        return mapError(rc);

    DevConfig_s c{};
    c.profileCount = static_cast<int32_t>(list.size());
    varno::setText(c.mainToken, list[0].token);
    varno::setText(c.subToken, list.size() > 1 ? list[1].token : list[0].token);
    if (svc.events.size() < sizeof(c.eventAddr))
        varno::setText(c.eventAddr, svc.events);
    else
        WriteLog(3, "%s(%d):Device(%s) event address too long, left empty!!!", "SDK_DVRMGR_GetDevConfig", __LINE__,
                 addr.c_str());
    *config = c;
    {
        std::lock_guard<std::mutex> lock(g_cacheMutex);
        if (g_mediaAddr.size() > 4096)
            g_mediaAddr.clear();
        g_mediaAddr[addr] = svc.media;
    }
    return 0;
}

int SDK_DVRMGR_GetDevModel(const char *serviceAddr, char *model, int size)
{
    if (!serviceAddr || !model || size < 1)
        return DVRMGR_ERR_PARAM;
    model[0] = '\0';
    const std::string addr(serviceAddr, strnlen(serviceAddr, 128));
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    const auto it = g_model.find(addr);
    if (it == g_model.end() || it->second.empty())
        return DVRMGR_ERR_REPLY;
    // Cut on a character boundary: the model is UTF-8 text.
    size_t n = std::min(it->second.size(), size_t(size - 1));
    while (n > 0 && n < it->second.size() && (static_cast<unsigned char>(it->second[n]) & 0xC0) == 0x80)
        --n;
    std::memcpy(model, it->second.data(), n);
    model[n] = '\0';
    return 0;
}

int SDK_DVRMGR_GetStreamUri(OnvifStreamUriReq_s request, OnvifStreamUriInfo_s *out, char *uri)
{
    if (!uri)
        return DVRMGR_ERR_PARAM;
    uri[0] = '\0';
    const std::string addr = varno::fieldText(request.serviceAddr).toStdString();
    if (addr.empty() || request.channel < 0)
        return DVRMGR_ERR_PARAM;
    const onvif::Config cfg = onvif::loadConfig();
    SoapClient soap(cfg);

    int rc = kSoapOk;
    std::string media = mediaAddrFor(soap, addr, &rc);
    if (rc != kSoapOk)
        return mapError(rc);
    std::vector<onvif::MediaProfile> list;
    rc = profiles(soap, media, &list);
    if (rc != kSoapOk)
        return mapError(rc);

    const std::string wanted = varno::fieldText(request.mainToken).toStdString();
    const onvif::MediaProfile *chosen = nullptr;
    if (request.channel == 0) {
        for (const auto &p : list) {
            if (!wanted.empty() && p.token == wanted)
                chosen = &p;
        }
        if (!chosen)
            chosen = &list[0];
    } else {
        chosen = &list[std::min<size_t>(static_cast<size_t>(request.channel), list.size() - 1)];
    }

    SoapReply r;
    rc = soap.call(media, "http://www.onvif.org/ver10/media/wsdl/GetStreamUri",
                   "<trt:GetStreamUri><trt:StreamSetup><tt:Stream>RTP-Unicast</tt:Stream><tt:Transport>"
                   "<tt:Protocol>RTSP</tt:Protocol></tt:Transport></trt:StreamSetup><trt:ProfileToken>" +
                       xmlEscape(chosen->token) + "</trt:ProfileToken></trt:GetStreamUri>",
                   true, &r);
    if (rc != kSoapOk)
        return mapError(rc);
    const std::string plain = onvif::parseStreamUri(r.body());
    if (plain.rfind("rtsp://", 0) != 0 && plain.rfind("rtsps://", 0) != 0) {
        WriteLog(2, "%s(%d):Device(%s) sent no RTSP address(%s)!!!", "SDK_DVRMGR_GetStreamUri", __LINE__,
                 addr.c_str(), plain.substr(0, 128).c_str());
        return DVRMGR_ERR_REPLY;
    }
    const std::string full = onvif::withCredentials(plain, cfg.user, onvif::passwordFor(addr));
    if (full.size() >= static_cast<size_t>(kOnvifUriSize)) {
        WriteLog(2, "%s(%d):Device(%s) RTSP address too long(%zu)!!!", "SDK_DVRMGR_GetStreamUri", __LINE__,
                 addr.c_str(), full.size());
        return DVRMGR_ERR_REPLY;
    }
    varno::setText(uri, kOnvifUriSize, full);
    if (out) {
        OnvifStreamUriInfo_s o{};
        varno::setText(o.profileToken, chosen->token);
        o.width = chosen->width;
        o.height = chosen->height;
        o.videoCodec = chosen->videoCodec;
        o.audioCodec = chosen->audioCodec;
        *out = o;
    }
    return 0;
}

} // extern "C"
