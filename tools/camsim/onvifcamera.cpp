#include "tools/camsim/onvifcamera.h"

#include "platform/onvif/onvifptz.h"
#include "platform/onvif/onvifsoap.h"
#include "platform/onvif/onvifxml.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDateTime>
#include <QRandomGenerator>
#include <QTimeZone>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>

using onvif::xmlEscape;

namespace {

const char *kEnvelopeHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
    "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\""
    " xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\""
    " xmlns:trt=\"http://www.onvif.org/ver10/media/wsdl\""
    " xmlns:tev=\"http://www.onvif.org/ver10/events/wsdl\""
    " xmlns:tt=\"http://www.onvif.org/ver10/schema\""
    " xmlns:tptz=\"http://www.onvif.org/ver20/ptz/wsdl\""
    " xmlns:ter=\"http://www.onvif.org/ver10/error\""
    " xmlns:wsnt=\"http://docs.oasis-open.org/wsn/b-2\""
    " xmlns:wsa5=\"http://www.w3.org/2005/08/addressing\""
    " xmlns:tns1=\"http://www.onvif.org/ver10/topics\">"
    "<env:Header/><env:Body>";
const char *kEnvelopeTail = "</env:Body></env:Envelope>";

COnvifHttpServer::Response soap(const std::string &body, int status = 200)
{
    COnvifHttpServer::Response r;
    r.status = status;
    r.body = std::string(kEnvelopeHead) + body + kEnvelopeTail;
    return r;
}

COnvifHttpServer::Response fault(const std::string &code, const std::string &subcode, const std::string &reason,
                                 int status = 400)
{
    return soap("<env:Fault><env:Code><env:Value>" + code + "</env:Value><env:Subcode><env:Value>" + subcode +
                    "</env:Value></env:Subcode></env:Code><env:Reason><env:Text xml:lang=\"en\">" +
                    xmlEscape(reason) + "</env:Text></env:Reason></env:Fault>",
                status);
}

std::string md5Hex(const std::string &s)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(s), QCryptographicHash::Md5).toHex().toStdString();
}

// Value of key in a "Digest a=\"b\", c=d" header.
std::string digestParam(const std::string &header, const std::string &key)
{
    size_t pos = 0;
    while ((pos = header.find(key + "=", pos)) != std::string::npos) {
        if (pos > 0 && header[pos - 1] != ' ' && header[pos - 1] != ',') {
            pos += key.size();
            continue;
        }
        pos += key.size() + 1;
        if (pos < header.size() && header[pos] == '"') {
            const auto end = header.find('"', pos + 1);
            return header.substr(pos + 1, end == std::string::npos ? std::string::npos : end - pos - 1);
        }
        const auto end = header.find(',', pos);
        return header.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    }
    return std::string();
}

std::string utcDateTime(long long secs)
{
    const QDateTime t = QDateTime::fromSecsSinceEpoch(secs, QTimeZone::utc());
    const QDate d = t.date();
    const QTime tm = t.time();
    return "<tt:UTCDateTime><tt:Time><tt:Hour>" + std::to_string(tm.hour()) + "</tt:Hour><tt:Minute>" +
           std::to_string(tm.minute()) + "</tt:Minute><tt:Second>" + std::to_string(tm.second()) +
           "</tt:Second></tt:Time><tt:Date><tt:Year>" + std::to_string(d.year()) + "</tt:Year><tt:Month>" +
           std::to_string(d.month()) + "</tt:Month><tt:Day>" + std::to_string(d.day()) +
           "</tt:Day></tt:Date></tt:UTCDateTime>";
}

} // namespace

COnvifCamera::COnvifCamera(Settings settings)
    : m_settings(std::move(settings)),
      m_rtspPort(m_settings.rtspPort),
      m_http([this](const Request &req, const std::atomic<bool> &stop) { return handle(req, stop); })
{
    if (m_settings.profiles.empty()) {
        m_settings.profiles.push_back({"profile_main", "MainStream", 640, 360, "/" + m_settings.uuid + "/main"});
        m_settings.profiles.push_back({"profile_sub", "SubStream", 320, 180, "/" + m_settings.uuid + "/sub"});
    }
    m_password = m_settings.password;
}

COnvifCamera::~COnvifCamera()
{
    stop();
}

bool COnvifCamera::start(uint16_t port)
{
    return m_http.start(port);
}

void COnvifCamera::stop()
{
    m_http.stop();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_subs.clear();
}

std::string COnvifCamera::serviceAddr() const
{
    return "http://127.0.0.1:" + std::to_string(m_http.port()) + "/onvif/device_service";
}

std::string COnvifCamera::eventAddr() const
{
    return "http://127.0.0.1:" + std::to_string(m_http.port()) + "/onvif/event_service";
}

CDiscoveryResponder::Entry COnvifCamera::discoveryEntry() const
{
    CDiscoveryResponder::Entry e;
    e.endpoint = endpoint();
    e.serviceAddr = serviceAddr();
    e.name = m_settings.name;
    e.hardware = m_settings.hardware;
    return e;
}

void COnvifCamera::setPassword(const std::string &password)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_password = password;
}

int COnvifCamera::activeSubscriptions()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const long long t = now();
    int n = 0;
    for (const auto &[id, s] : m_subs)
        n += s.termination > t ? 1 : 0;
    return n;
}

long long COnvifCamera::now() const
{
    return static_cast<long long>(std::time(nullptr)) + m_settings.clockOffsetS;
}

const char *COnvifCamera::topicOf(Event event)
{
    switch (event) {
    case Event::Motion: return "tns1:RuleEngine/CellMotionDetector/Motion";
    case Event::MotionAlarm: return "tns1:VideoSource/MotionAlarm";
    case Event::DigitalInput: return "tns1:Device/Trigger/DigitalInput";
    case Event::Tamper: return "tns1:RuleEngine/TamperDetector/Tamper";
    case Event::SignalLoss: return "tns1:VideoSource/SignalLoss";
    }
    return "";
}

const char *COnvifCamera::itemOf(Event event)
{
    switch (event) {
    case Event::Motion: return "IsMotion";
    case Event::DigitalInput: return "LogicalState";
    case Event::Tamper: return "IsTamper";
    case Event::MotionAlarm:
    case Event::SignalLoss: return "State";
    }
    return "";
}

std::string COnvifCamera::notification(Event event, bool active, const char *operation) const
{
    std::string source = event == Event::DigitalInput
                             ? "<tt:SimpleItem Name=\"InputToken\" Value=\"DI_0\"/>"
                             : "<tt:SimpleItem Name=\"VideoSourceConfigurationToken\" Value=\"vsc_0\"/>";
    return "<wsnt:NotificationMessage><wsnt:Topic Dialect=\"http://www.onvif.org/ver10/tev/topicExpression/"
           "ConcreteSet\">" +
           std::string(topicOf(event)) + "</wsnt:Topic><wsnt:Message><tt:Message UtcTime=\"" + onvif::utcText(now()) +
           "\" PropertyOperation=\"" + operation + "\"><tt:Source>" + source + "</tt:Source><tt:Data>" +
           "<tt:SimpleItem Name=\"" + itemOf(event) + "\" Value=\"" + (active ? "true" : "false") +
           "\"/></tt:Data></tt:Message></wsnt:Message></wsnt:NotificationMessage>";
}

void COnvifCamera::raiseEvent(Event event, bool active)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_state[event] = active;
        const std::string msg = notification(event, active, "Changed");
        for (auto &[id, s] : m_subs) {
            if (s.queue.size() < 256)
                s.queue.push_back(msg);
        }
    }
    m_cv.notify_all();
}

bool COnvifCamera::checkDigest(const Request &req, Response *challenge)
{
    const auto it = req.headers.find("authorization");
    if (it != req.headers.end() && it->second.rfind("Digest ", 0) == 0) {
        const std::string &h = it->second;
        const std::string nonce = digestParam(h, "nonce");
        std::string password;
        bool known;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            known = m_digestNonces.count(nonce) > 0;
            password = m_password;
        }
        const std::string ha1 = md5Hex(digestParam(h, "username") + ":" + digestParam(h, "realm") + ":" + password);
        const std::string ha2 = md5Hex(req.method + ":" + digestParam(h, "uri"));
        const std::string qop = digestParam(h, "qop");
        const std::string expect =
            qop.empty() ? md5Hex(ha1 + ":" + nonce + ":" + ha2)
                        : md5Hex(ha1 + ":" + nonce + ":" + digestParam(h, "nc") + ":" + digestParam(h, "cnonce") +
                                 ":" + qop + ":" + ha2);
        if (known && digestParam(h, "username") == m_settings.user && digestParam(h, "response") == expect)
            return true;
        ++m_authFailures;
    }
    const std::string nonce = QByteArray::number(QRandomGenerator::system()->generate64(), 16).toStdString();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_digestNonces.size() > 1000)
            m_digestNonces.clear();
        m_digestNonces.insert(nonce);
    }
    challenge->status = 401;
    challenge->contentType = "text/plain";
    challenge->body = "Unauthorized";
    challenge->headers["WWW-Authenticate"] =
        "Digest realm=\"camsim\", qop=\"auth\", nonce=\"" + nonce + "\", algorithm=MD5";
    return false;
}

bool COnvifCamera::checkToken(const std::string &body)
{
    pugi::xml_document doc;
    if (!onvif::parseSafely(doc, body.data(), body.size(), 1 << 20, "camsim request"))
        return false;
    const pugi::xml_node token =
        onvif::path(doc.document_element(), {"Header", "Security", "UsernameToken"});
    if (!token)
        return false;
    const std::string user = onvif::text(onvif::child(token, "Username"));
    const pugi::xml_node pw = onvif::child(token, "Password");
    const std::string given = onvif::text(pw);
    const std::string nonce =
        QByteArray::fromBase64(QByteArray::fromStdString(onvif::text(onvif::child(token, "Nonce")))).toStdString();
    const std::string created = onvif::text(onvif::child(token, "Created"));
    std::lock_guard<std::mutex> lock(m_mutex);
    if (user != m_settings.user)
        return false;
    if (std::string(pw.attribute("Type").value()).find("PasswordDigest") != std::string::npos) {
        if (given != onvif::passwordDigest(nonce, created, m_password))
            return false;
        const long long t = onvif::parseUtc(created);
        if (t < 0 || std::llabs(t - now()) > 300)
            return false;
        for (const auto &n : m_nonces) {
            if (n == nonce)
                return false; // replayed
        }
        m_nonces.push_back(nonce);
        if (m_nonces.size() > 1000)
            m_nonces.pop_front();
        return true;
    }
    return given == m_password;
}

COnvifCamera::Response COnvifCamera::handle(const Request &req, const std::atomic<bool> &stop)
{
    ++m_requests;
    for (int waited = 0; waited < m_delayMs && !stop; waited += 20)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (stop)
        return Response{0, {}, {}, {}};
    if (m_garbage) {
        Response r;
        r.body = "<env:Envelope><<<this is &no; SOAP at all";
        return r;
    }
    if (req.method != "POST")
        return Response{404, "text/plain", "not found", {}};

    // HTTP authentication comes first, as on cameras: a client answering a
    // digest challenge sends its first request without a body.
    const bool timeRequest = req.body.find("GetSystemDateAndTime") != std::string::npos;
    if (m_settings.httpDigest && !timeRequest) {
        Response challenge;
        if (!checkDigest(req, &challenge))
            return challenge;
    }
    pugi::xml_document doc;
    if (!onvif::parseSafely(doc, req.body.data(), req.body.size(), 1 << 20, "camsim request"))
        return fault("env:Sender", "ter:WellFormed", "request is not well formed");
    const pugi::xml_node body = onvif::child(doc.document_element(), "Body");
    pugi::xml_node op = body.first_child();
    while (op && op.type() != pugi::node_element)
        op = op.next_sibling();
    const std::string action(onvif::localName(op.name()));
    if (action.empty())
        return fault("env:Sender", "ter:InvalidArgVal", "empty body");

    if (action != "GetSystemDateAndTime") {
        if (m_refuse || !checkToken(req.body)) {
            ++m_authFailures;
            return fault("env:Sender", "ter:NotAuthorized", "Sender not authorized");
        }
    }

    const std::string base = "http://127.0.0.1:" + std::to_string(m_http.port());
    if (action == "GetSystemDateAndTime") {
        return soap("<tds:GetSystemDateAndTimeResponse><tds:SystemDateAndTime><tt:DateTimeType>Manual"
                    "</tt:DateTimeType><tt:DaylightSavings>false</tt:DaylightSavings>" +
                    utcDateTime(now()) + "</tds:SystemDateAndTime></tds:GetSystemDateAndTimeResponse>");
    }
    if (action == "GetServices") {
        if (!m_settings.getServices)
            return fault("env:Receiver", "ter:ActionNotSupported", "GetServices not supported");
        auto service = [&](const char *ns, const std::string &path) {
            return "<tds:Service><tds:Namespace>" + std::string(ns) + "</tds:Namespace><tds:XAddr>" + base + path +
                   "</tds:XAddr><tds:Version><tt:Major>2</tt:Major><tt:Minor>60</tt:Minor></tds:Version>"
                   "</tds:Service>";
        };
        return soap("<tds:GetServicesResponse>" + service(onvif::kNsDevice, "/onvif/device_service") +
                    service(onvif::kNsMedia, "/onvif/media_service") +
                    service(onvif::kNsEvents, "/onvif/event_service") +
                    (m_settings.ptz ? service(onvif::kNsPtz, "/onvif/ptz_service") : std::string()) +
                    "</tds:GetServicesResponse>");
    }
    if (action == "GetCapabilities") {
        return soap("<tds:GetCapabilitiesResponse><tds:Capabilities><tt:Device><tt:XAddr>" + base +
                    "/onvif/device_service</tt:XAddr></tt:Device><tt:Events><tt:XAddr>" + base +
                    "/onvif/event_service</tt:XAddr><tt:WSPullPointSupport>true</tt:WSPullPointSupport>"
                    "</tt:Events><tt:Media><tt:XAddr>" + base +
                    "/onvif/media_service</tt:XAddr></tt:Media>" +
                    (m_settings.ptz ? "<tt:PTZ><tt:XAddr>" + base + "/onvif/ptz_service</tt:XAddr></tt:PTZ>"
                                    : std::string()) +
                    "</tds:Capabilities></tds:GetCapabilitiesResponse>");
    }
    if (action == "GetDeviceInformation") {
        return soap("<tds:GetDeviceInformationResponse><tds:Manufacturer>Varno</tds:Manufacturer><tds:Model>" +
                    xmlEscape(m_settings.model) + "</tds:Model><tds:FirmwareVersion>1.0</tds:FirmwareVersion><tds:SerialNumber>" +
                    xmlEscape(m_settings.uuid) + "</tds:SerialNumber><tds:HardwareId>sim</tds:HardwareId>"
                    "</tds:GetDeviceInformationResponse>");
    }
    if (action == "GetProfiles") {
        std::string out = "<trt:GetProfilesResponse>";
        for (const auto &p : m_settings.profiles) {
            out += "<trt:Profiles token=\"" + xmlEscape(p.token) + "\" fixed=\"true\"><tt:Name>" + xmlEscape(p.name) +
                   "</tt:Name><tt:VideoEncoderConfiguration token=\"vec_" + xmlEscape(p.token) +
                   "\"><tt:Name>venc</tt:Name><tt:Encoding>" + std::string(m_settings.h265 ? "H265" : "H264") +
                   "</tt:Encoding><tt:Resolution><tt:Width>" +
                   std::to_string(p.width) + "</tt:Width><tt:Height>" + std::to_string(p.height) +
                   "</tt:Height></tt:Resolution></tt:VideoEncoderConfiguration>"
                   "<tt:AudioEncoderConfiguration token=\"aec\"><tt:Name>aenc</tt:Name><tt:Encoding>G711"
                   "</tt:Encoding><tt:Bitrate>64</tt:Bitrate><tt:SampleRate>8</tt:SampleRate>"
                   "</tt:AudioEncoderConfiguration>" +
                   (m_settings.ptz ? "<tt:PTZConfiguration token=\"ptz_0\"><tt:Name>ptz</tt:Name><tt:NodeToken>"
                                     "ptz_node</tt:NodeToken></tt:PTZConfiguration>"
                                   : std::string()) +
                   "</trt:Profiles>";
        }
        return soap(out + "</trt:GetProfilesResponse>");
    }
    if (action == "GetStreamUri") {
        const std::string token = onvif::text(onvif::child(op, "ProfileToken"));
        for (const auto &p : m_settings.profiles) {
            if (p.token == token) {
                return soap("<trt:GetStreamUriResponse><trt:MediaUri><tt:Uri>rtsp://127.0.0.1:" +
                            std::to_string(m_rtspPort.load()) + xmlEscape(p.rtspPath) +
                            "</tt:Uri><tt:InvalidAfterConnect>false</tt:InvalidAfterConnect><tt:InvalidAfterReboot>"
                            "false</tt:InvalidAfterReboot><tt:Timeout>PT0S</tt:Timeout></trt:MediaUri>"
                            "</trt:GetStreamUriResponse>");
            }
        }
        return fault("env:Sender", "ter:NoProfile", "no such profile");
    }
    if (action == "CreatePullPointSubscription") {
        long long lifetime = onvif::parseDuration(onvif::text(onvif::child(op, "InitialTerminationTime")));
        if (lifetime <= 0)
            lifetime = 60;
        std::string id;
        long long termination;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            id = std::to_string(m_nextSub++);
            Subscription &s = m_subs[id];
            s.termination = termination = now() + lifetime;
            // The current state of every property, as cameras report it.
            for (const Event e : {Event::Motion, Event::DigitalInput, Event::Tamper})
                s.queue.push_back(notification(e, m_state[e], "Initialized"));
        }
        ++m_created;
        return soap("<tev:CreatePullPointSubscriptionResponse><tev:SubscriptionReference><wsa5:Address>" + base +
                    "/onvif/subscription/" + id + "</wsa5:Address></tev:SubscriptionReference><wsnt:CurrentTime>" +
                    onvif::utcText(now()) + "</wsnt:CurrentTime><wsnt:TerminationTime>" +
                    onvif::utcText(termination) + "</wsnt:TerminationTime></tev:CreatePullPointSubscriptionResponse>");
    }
    if (req.path == "/onvif/ptz_service") {
        if (!m_settings.ptz)
            return Response{404, "text/plain", "not found", {}};
        return ptz(action, op);
    }
    const std::string subPrefix = "/onvif/subscription/";
    if (req.path.rfind(subPrefix, 0) == 0) {
        const std::string id = req.path.substr(subPrefix.size());
        if (action == "PullMessages")
            return pull(id, req.body, stop);
        std::unique_lock<std::mutex> lock(m_mutex);
        auto it = m_subs.find(id);
        if (it == m_subs.end() || it->second.termination <= now()) {
            if (it != m_subs.end())
                m_subs.erase(it);
            return fault("env:Receiver", "wsrf-rw:ResourceUnknownFault", "no such subscription");
        }
        if (action == "Renew") {
            long long lifetime = onvif::parseDuration(onvif::text(onvif::child(op, "TerminationTime")));
            if (lifetime <= 0)
                lifetime = 60;
            it->second.termination = now() + lifetime;
            ++m_renews;
            return soap("<wsnt:RenewResponse><wsnt:TerminationTime>" + onvif::utcText(it->second.termination) +
                        "</wsnt:TerminationTime><wsnt:CurrentTime>" + onvif::utcText(now()) +
                        "</wsnt:CurrentTime></wsnt:RenewResponse>");
        }
        if (action == "Unsubscribe") {
            m_subs.erase(it);
            ++m_unsubscribes;
            lock.unlock();
            m_cv.notify_all();
            return soap("<wsnt:UnsubscribeResponse/>");
        }
    }
    return fault("env:Receiver", "ter:ActionNotSupported", "action " + action + " not supported");
}

COnvifCamera::Response COnvifCamera::pull(const std::string &id, const std::string &body,
                                          const std::atomic<bool> &stop)
{
    ++m_pulls;
    long long timeout = 5;
    int limit = 100;
    {
        pugi::xml_document doc;
        if (onvif::parseSafely(doc, body.data(), body.size(), 1 << 20, "camsim pull")) {
            const pugi::xml_node op = onvif::find(doc.document_element(), "PullMessages", 3);
            const long long t = onvif::parseDuration(onvif::text(onvif::child(op, "Timeout")));
            if (t >= 0)
                timeout = std::min<long long>(t, 30);
            const int l = onvif::child(op, "MessageLimit").text().as_int(0);
            if (l > 0)
                limit = l;
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout);
    std::unique_lock<std::mutex> lock(m_mutex);
    while (true) {
        auto it = m_subs.find(id);
        if (it == m_subs.end() || it->second.termination <= now()) {
            if (it != m_subs.end())
                m_subs.erase(it);
            lock.unlock();
            return fault("env:Receiver", "wsrf-rw:ResourceUnknownFault", "no such subscription");
        }
        if (!it->second.queue.empty() || stop || std::chrono::steady_clock::now() >= deadline) {
            std::string msgs;
            for (int i = 0; i < limit && !it->second.queue.empty(); ++i) {
                msgs += it->second.queue.front();
                it->second.queue.pop_front();
            }
            const long long termination = it->second.termination;
            lock.unlock();
            if (stop)
                return Response{0, {}, {}, {}};
            return soap("<tev:PullMessagesResponse><tev:CurrentTime>" + onvif::utcText(now()) +
                        "</tev:CurrentTime><tev:TerminationTime>" + onvif::utcText(termination) +
                        "</tev:TerminationTime>" + msgs + "</tev:PullMessagesResponse>");
        }
        m_cv.wait_for(lock, std::chrono::milliseconds(50));
    }
}

void COnvifCamera::advancePtz()
{
    const auto t = std::chrono::steady_clock::now();
    const double secs = std::chrono::duration<double>(t - m_ptzSince).count();
    m_ptzSince = t;
    // Generic velocity 1 crosses half the range per second.
    m_ptz.pan = std::clamp(m_ptz.pan + m_ptz.panSpeed * secs * 0.5, -1.0, 1.0);
    m_ptz.tilt = std::clamp(m_ptz.tilt + m_ptz.tiltSpeed * secs * 0.5, -1.0, 1.0);
    m_ptz.zoom = std::clamp(m_ptz.zoom + m_ptz.zoomSpeed * secs * 0.5, 0.0, 1.0);
}

COnvifCamera::PtzState COnvifCamera::ptzState()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    advancePtz();
    m_ptz.presets = static_cast<int>(m_presets.size());
    return m_ptz;
}

COnvifCamera::Response COnvifCamera::ptz(const std::string &action, pugi::xml_node op)
{
    if (onvif::text(onvif::child(op, "ProfileToken")).empty())
        return fault("env:Sender", "ter:InvalidArgVal", "no profile token");
    auto velocity = [](pugi::xml_node n, const char *axis) {
        const double v = onvif::attribute(n, axis).as_double(0);
        return std::isfinite(v) ? std::clamp(v, -1.0, 1.0) : 0.0;
    };
    std::lock_guard<std::mutex> lock(m_mutex);
    advancePtz();
    if (action == "ContinuousMove") {
        const pugi::xml_node vel = onvif::child(op, "Velocity");
        if (!vel)
            return fault("env:Sender", "ter:InvalidArgVal", "no velocity");
        const pugi::xml_node pt = onvif::child(vel, "PanTilt");
        const pugi::xml_node zoom = onvif::child(vel, "Zoom");
        m_ptz.panSpeed = m_ptz.lastPan = velocity(pt, "x");
        m_ptz.tiltSpeed = m_ptz.lastTilt = velocity(pt, "y");
        m_ptz.zoomSpeed = m_ptz.lastZoom = velocity(zoom, "x");
        ++m_ptz.moves;
        return soap("<tptz:ContinuousMoveResponse/>");
    }
    if (action == "Stop") {
        const bool panTilt = onvif::text(onvif::child(op, "PanTilt")) != "false";
        const bool zoom = onvif::text(onvif::child(op, "Zoom")) != "false";
        if (panTilt)
            m_ptz.panSpeed = m_ptz.tiltSpeed = 0;
        if (zoom)
            m_ptz.zoomSpeed = 0;
        ++m_ptz.stops;
        return soap("<tptz:StopResponse/>");
    }
    if (action == "GetPresets") {
        std::string out = "<tptz:GetPresetsResponse>";
        for (const auto &p : m_presets)
            out += "<tptz:Preset token=\"" + xmlEscape(p.token) + "\"><tt:Name>" + xmlEscape(p.name) +
                   "</tt:Name><tt:PTZPosition><tt:PanTilt x=\"" + onvif::PtzClient::number(p.pan) + "\" y=\"" +
                   onvif::PtzClient::number(p.tilt) + "\"/><tt:Zoom x=\"" + onvif::PtzClient::number(p.zoom) +
                   "\"/></tt:PTZPosition></tptz:Preset>";
        return soap(out + "</tptz:GetPresetsResponse>");
    }
    const std::string token = onvif::text(onvif::child(op, "PresetToken"));
    auto preset = std::find_if(m_presets.begin(), m_presets.end(), [&](const Preset &p) { return p.token == token; });
    if (action == "SetPreset") {
        const std::string name = onvif::text(onvif::child(op, "PresetName"));
        if (name.empty() || name.size() > 63)
            return fault("env:Sender", "ter:InvalidArgVal", "bad preset name");
        if (preset == m_presets.end()) {
            if (m_presets.size() >= 64)
                return fault("env:Receiver", "ter:TooManyPresets", "preset table full");
            m_presets.push_back({std::to_string(m_nextPreset++), name, 0, 0, 0});
            preset = m_presets.end() - 1;
        }
        preset->name = name;
        preset->pan = m_ptz.pan;
        preset->tilt = m_ptz.tilt;
        preset->zoom = m_ptz.zoom;
        return soap("<tptz:SetPresetResponse><tptz:PresetToken>" + xmlEscape(preset->token) +
                    "</tptz:PresetToken></tptz:SetPresetResponse>");
    }
    if (action == "GotoPreset" || action == "RemovePreset") {
        if (preset == m_presets.end())
            return fault("env:Sender", "ter:NoToken", "no such preset");
        if (action == "RemovePreset") {
            m_presets.erase(preset);
            return soap("<tptz:RemovePresetResponse/>");
        }
        m_ptz.pan = preset->pan;
        m_ptz.tilt = preset->tilt;
        m_ptz.zoom = preset->zoom;
        m_ptz.panSpeed = m_ptz.tiltSpeed = m_ptz.zoomSpeed = 0;
        return soap("<tptz:GotoPresetResponse/>");
    }
    return fault("env:Receiver", "ter:ActionNotSupported", "action " + action + " not supported");
}
