#include "platform/onvif/onvifparse.h"

#include "common/alarmrecords.h"
#include "platform/onvif/onvifsoap.h"
#include "platform/onvif/onvifxml.h"

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <QTimeZone>

#include <cstdlib>
#include <sstream>

namespace onvif {

namespace {

bool isHttp(const std::string &s)
{
    return (s.rfind("http://", 0) == 0 || s.rfind("https://", 0) == 0) && s.size() < kMaxAddressBytes;
}

int intOf(pugi::xml_node n, int min, int max)
{
    const std::string t = text(n);
    if (t.empty() || t.size() > 10)
        return -1;
    char *end = nullptr;
    const long v = std::strtol(t.c_str(), &end, 10);
    if (*end != '\0' || v < min || v > max)
        return -1;
    return static_cast<int>(v);
}

} // namespace

long long parseSystemDateAndTime(pugi::xml_node body)
{
    const pugi::xml_node utc =
        path(body, {"GetSystemDateAndTimeResponse", "SystemDateAndTime", "UTCDateTime"});
    if (!utc)
        return -1;
    const QDate d(intOf(path(utc, {"Date", "Year"}), 1970, 9999), intOf(path(utc, {"Date", "Month"}), 1, 12),
                  intOf(path(utc, {"Date", "Day"}), 1, 31));
    const QTime t(intOf(path(utc, {"Time", "Hour"}), 0, 23), intOf(path(utc, {"Time", "Minute"}), 0, 59),
                  intOf(path(utc, {"Time", "Second"}), 0, 60) == 60 ? 59 : intOf(path(utc, {"Time", "Second"}), 0, 59));
    if (!d.isValid() || !t.isValid())
        return -1;
    return QDateTime(d, t, QTimeZone::utc()).toSecsSinceEpoch();
}

bool parseServices(pugi::xml_node body, ServiceAddrs *out)
{
    const pugi::xml_node resp = child(body, "GetServicesResponse");
    if (!resp)
        return false;
    int n = 0;
    for (pugi::xml_node s = resp.first_child(); s && n < 256; s = s.next_sibling(), ++n) {
        if (localName(s.name()) != "Service")
            continue;
        const std::string ns = text(child(s, "Namespace"));
        const std::string x = text(child(s, "XAddr"));
        if (!isHttp(x))
            continue;
        if (ns == kNsDevice && out->device.empty())
            out->device = x;
        else if (ns == kNsMedia && out->media.empty())
            out->media = x;
        else if (ns == kNsEvents && out->events.empty())
            out->events = x;
        else if (ns == kNsPtz && out->ptz.empty())
            out->ptz = x;
    }
    return true;
}

bool parseCapabilities(pugi::xml_node body, ServiceAddrs *out)
{
    const pugi::xml_node caps = path(body, {"GetCapabilitiesResponse", "Capabilities"});
    if (!caps)
        return false;
    auto take = [&](const char *name, std::string *field) {
        const std::string x = text(path(caps, {name, "XAddr"}));
        if (isHttp(x) && field->empty())
            *field = x;
    };
    take("Device", &out->device);
    take("Media", &out->media);
    take("Events", &out->events);
    take("PTZ", &out->ptz);
    return true;
}

bool parseProfiles(pugi::xml_node body, std::vector<MediaProfile> *out)
{
    const pugi::xml_node resp = child(body, "GetProfilesResponse");
    if (!resp)
        return false;
    int n = 0;
    for (pugi::xml_node p = resp.first_child(); p && n < 1024; p = p.next_sibling(), ++n) {
        if (localName(p.name()) != "Profiles" || out->size() >= 64)
            continue;
        MediaProfile m;
        m.token = attribute(p, "token").value();
        if (m.token.empty() || m.token.size() >= 64)
            continue;
        m.name = text(child(p, "Name")).substr(0, 64);
        const pugi::xml_node v = child(p, "VideoEncoderConfiguration");
        const std::string venc = text(child(v, "Encoding"));
        m.videoCodec = venc == "H264" ? 1 : (venc == "H265" ? 2 : 0);
        m.width = std::max(0, intOf(path(v, {"Resolution", "Width"}), 0, 100000));
        m.height = std::max(0, intOf(path(v, {"Resolution", "Height"}), 0, 100000));
        const std::string aenc = text(child(child(p, "AudioEncoderConfiguration"), "Encoding"));
        m.audioCodec = aenc == "G711" ? 1 : (aenc == "AAC" ? 2 : 0);
        const std::string ptz = attribute(child(p, "PTZConfiguration"), "token").value();
        if (ptz.size() < 64)
            m.ptzConfig = ptz;
        out->push_back(std::move(m));
    }
    return true;
}

std::string parseStreamUri(pugi::xml_node body)
{
    const std::string uri = text(path(body, {"GetStreamUriResponse", "MediaUri", "Uri"}));
    return uri.size() < kMaxAddressBytes ? uri : std::string();
}

bool parsePresets(pugi::xml_node body, std::vector<PtzPreset> *out)
{
    const pugi::xml_node resp = child(body, "GetPresetsResponse");
    if (!resp)
        return false;
    int n = 0;
    for (pugi::xml_node p = resp.first_child(); p && n < 4096; p = p.next_sibling(), ++n) {
        if (localName(p.name()) != "Preset" || out->size() >= static_cast<size_t>(kMaxPtzPresets))
            continue;
        PtzPreset preset;
        preset.token = attribute(p, "token").value();
        if (preset.token.empty() || preset.token.size() >= 64)
            continue;
        preset.name = text(child(p, "Name")).substr(0, 63);
        out->push_back(std::move(preset));
    }
    return true;
}

std::string parseSetPreset(pugi::xml_node body)
{
    const std::string token = text(path(body, {"SetPresetResponse", "PresetToken"}));
    return token.size() < 64 ? token : std::string();
}

std::string percentEncode(const std::string &text)
{
    static const char *hex = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string withCredentials(const std::string &uri, const std::string &user, const std::string &password)
{
    const auto schemeEnd = uri.find("://");
    if (schemeEnd == std::string::npos)
        return uri;
    const size_t start = schemeEnd + 3;
    const size_t authorityEnd = std::min(uri.find_first_of("/?#", start), uri.size());
    const auto at = uri.rfind('@', authorityEnd == std::string::npos ? std::string::npos : authorityEnd - 1);
    const size_t hostStart = (at != std::string::npos && at >= start && at < authorityEnd) ? at + 1 : start;
    std::string info = percentEncode(user);
    if (!password.empty())
        info += ":" + percentEncode(password);
    if (info.empty())
        return uri.substr(0, start) + uri.substr(hostStart);
    return uri.substr(0, start) + info + "@" + uri.substr(hostStart);
}

bool parseCreatePullPoint(pugi::xml_node body, Subscription *out)
{
    const pugi::xml_node resp = child(body, "CreatePullPointSubscriptionResponse");
    const pugi::xml_node ref = child(resp, "SubscriptionReference");
    const std::string addr = text(child(ref, "Address"));
    if (!isHttp(addr))
        return false;
    out->address = addr;
    out->referenceParams.clear();
    const pugi::xml_node params = child(ref, "ReferenceParameters");
    int n = 0;
    for (pugi::xml_node p = params.first_child(); p && n < 8; p = p.next_sibling(), ++n) {
        if (p.type() != pugi::node_element)
            continue;
        // A copy that declares its own prefix: the response declared it
        // further up, the request that echoes it must declare it again.
        pugi::xml_document copy;
        pugi::xml_node c = copy.append_copy(p);
        const std::string name = p.name();
        const auto colon = name.find(':');
        if (colon != std::string::npos) {
            const std::string attr = "xmlns:" + name.substr(0, colon);
            if (!c.attribute(attr.c_str())) {
                for (pugi::xml_node a = p; a; a = a.parent()) {
                    const pugi::xml_attribute decl = a.attribute(attr.c_str());
                    if (decl) {
                        c.append_attribute(attr.c_str()) = decl.value();
                        break;
                    }
                }
            }
        }
        std::ostringstream os;
        c.print(os, "", pugi::format_raw);
        if (out->referenceParams.size() + os.str().size() < 4096)
            out->referenceParams += os.str();
    }
    out->currentTime = parseUtc(text(child(resp, "CurrentTime")));
    out->terminationTime = parseUtc(text(child(resp, "TerminationTime")));
    return true;
}

bool parseRenew(pugi::xml_node body, long long *termination, long long *current)
{
    const pugi::xml_node resp = child(body, "RenewResponse");
    if (!resp)
        return false;
    *termination = parseUtc(text(child(resp, "TerminationTime")));
    *current = parseUtc(text(child(resp, "CurrentTime")));
    return true;
}

int alarmTypeOf(const std::string &topic, const std::string &value)
{
    // Strip the namespace prefix: "tns1:RuleEngine/..." -> "RuleEngine/...".
    std::string t = topic;
    const auto colon = t.find(':');
    if (colon != std::string::npos && colon < t.find('/'))
        t = t.substr(colon + 1);
    int type = -1;
    if (t == "RuleEngine/CellMotionDetector/Motion" || t == "VideoSource/MotionAlarm" ||
        t == "RuleEngine/MotionRegionDetector/Motion" || t == "VideoAnalytics/Motion")
        type = EVENT_ALARM_MOTION;
    else if (t == "Device/Trigger/DigitalInput" || t == "Device/IO/DigitalInput" || t == "Device/IO/Port")
        type = EVENT_ALARM_IO;
    else if (t == "RuleEngine/TamperDetector/Tamper" || t == "VideoSource/GlobalSceneChange/ImagingService" ||
             t == "VideoSource/GlobalSceneChange/AnalyticsService" || t == "VideoSource/SignalLoss" ||
             t == "VideoSource/ImageTooDark/ImagingService" || t == "VideoSource/ImageTooBlurry/ImagingService" ||
             t == "VideoSource/ImageTooBright/ImagingService")
        type = EVENT_ALARM_VIDEO_BLOCK;
    if (type < 0)
        return -1;
    if (value == "true" || value == "1" || value == "active")
        return type;
    if (value == "false" || value == "0" || value == "inactive")
        return EVENT_ALARM_DISARM;
    return -1;
}

bool parsePullMessages(pugi::xml_node body, std::vector<EventItem> *out, long long *current, long long *termination)
{
    const pugi::xml_node resp = child(body, "PullMessagesResponse");
    if (!resp)
        return false;
    *current = parseUtc(text(child(resp, "CurrentTime")));
    *termination = parseUtc(text(child(resp, "TerminationTime")));
    int n = 0;
    for (pugi::xml_node m = resp.first_child(); m; m = m.next_sibling()) {
        if (localName(m.name()) != "NotificationMessage")
            continue;
        if (++n > kMaxEventsPerPull)
            break;
        EventItem e;
        e.topic = text(child(m, "Topic")).substr(0, 256);
        const pugi::xml_node msg = path(m, {"Message", "Message"});
        e.operation = attribute(msg, "PropertyOperation").value();
        e.utcTime = attribute(msg, "UtcTime").value();
        const pugi::xml_node data = child(msg, "Data");
        for (pugi::xml_node item = data.first_child(); item; item = item.next_sibling()) {
            if (localName(item.name()) == "SimpleItem") {
                e.item = attribute(item, "Name").value();
                e.value = attribute(item, "Value").value();
                break;
            }
        }
        e.alarmType = alarmTypeOf(e.topic, e.value);
        out->push_back(std::move(e));
    }
    return true;
}

} // namespace onvif
