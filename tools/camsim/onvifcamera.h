#pragma once

#include "tools/camsim/discoveryresponder.h"
#include "tools/camsim/onvifhttpserver.h"

#include <pugixml.hpp>

#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

// One simulated ONVIF camera: device, media and event services over SOAP
// on a loopback HTTP port, with UsernameToken checking (password digest,
// time stamp within five minutes of the camera's clock, no nonce replayed),
// optional HTTP digest, pull-point subscriptions fed by events raised on
// command, and scripted faults.
class COnvifCamera
{
public:
    struct Profile
    {
        std::string token;
        std::string name;
        int width = 0;
        int height = 0;
        std::string rtspPath;      // path on the RTSP server, "/<uuid>/main"
    };
    struct Settings
    {
        std::string uuid;          // without "urn:uuid:"
        std::string name = "Camera";   // name scope of the discovery answer; empty: none
        std::string hardware = "VarnoSim"; // hardware scope; empty: none
        std::string model = "CamSim";  // GetDeviceInformation's model
        std::string user = "admin";
        std::string password = "admin";
        std::vector<Profile> profiles; // empty: HD and SD profiles
        uint16_t rtspPort = 554;
        long long clockOffsetS = 0;    // camera clock minus real time
        bool httpDigest = false;       // asks for HTTP digest as well
        bool getServices = true;       // false: only GetCapabilities
        bool h265 = false;             // the profiles' encoding is H265
        bool ptz = false;              // a PTZ service and a PTZ configuration in every profile
    };
    // Where the simulated head points: pan and tilt -1 .. 1, zoom 0 .. 1,
    // moving at the commanded velocity (generic velocity 1 crosses half
    // the range per second) until Stop or the end of the range.
    struct PtzState
    {
        double pan = 0;
        double tilt = 0;
        double zoom = 0;
        double panSpeed = 0;           // velocity of the move that runs, 0 when stopped
        double tiltSpeed = 0;
        double zoomSpeed = 0;
        int moves = 0;                 // ContinuousMove requests taken
        int stops = 0;                 // Stop requests taken
        double lastPan = 0;            // velocity of the last ContinuousMove
        double lastTilt = 0;
        double lastZoom = 0;
        int presets = 0;
    };
    enum class Event {
        Motion,            // tns1:RuleEngine/CellMotionDetector/Motion, IsMotion
        MotionAlarm,       // tns1:VideoSource/MotionAlarm, State
        DigitalInput,      // tns1:Device/Trigger/DigitalInput, LogicalState
        Tamper,            // tns1:RuleEngine/TamperDetector/Tamper, IsTamper
        SignalLoss,        // tns1:VideoSource/SignalLoss, State
    };

    explicit COnvifCamera(Settings settings);
    ~COnvifCamera();
    Q_DISABLE_COPY_MOVE(COnvifCamera)

    bool start(uint16_t port = 0);
    void stop();
    uint16_t port() const { return m_http.port(); }

    const Settings &settings() const { return m_settings; }
    std::string endpoint() const { return "urn:uuid:" + m_settings.uuid; }
    std::string serviceAddr() const;
    std::string eventAddr() const;
    CDiscoveryResponder::Entry discoveryEntry() const;

    // Sends the event to every live subscription.
    void raiseEvent(Event event, bool active);

    // Faults.
    void setPassword(const std::string &password);
    // Every credential is taken as wrong (the fault NotAuthorized), as a
    // camera whose password was changed behind the client's back.
    void setRefusePassword(bool on) { m_refuse = on; }
    void setReplyDelayMs(int ms) { m_delayMs = ms; }
    void setGarbageReplies(bool on) { m_garbage = on; }
    // The stream address GetStreamUri hands out from now on (its server moved).
    void setRtspPort(uint16_t port) { m_rtspPort = port; }

    int activeSubscriptions();
    int subscriptionsCreated() const { return m_created; }
    int renewCount() const { return m_renews; }
    int unsubscribeCount() const { return m_unsubscribes; }
    int pullCount() const { return m_pulls; }
    int authFailures() const { return m_authFailures; }
    int requestCount() const { return m_requests; }
    PtzState ptzState();

    static const char *topicOf(Event event);
    static const char *itemOf(Event event);

private:
    struct Subscription
    {
        long long termination = 0;     // camera clock, seconds
        std::deque<std::string> queue; // NotificationMessage elements
    };
    using Response = COnvifHttpServer::Response;
    using Request = COnvifHttpServer::Request;

    Response handle(const Request &req, const std::atomic<bool> &stop);
    bool checkDigest(const Request &req, Response *challenge);
    bool checkToken(const std::string &body);
    long long now() const;
    std::string notification(Event event, bool active, const char *operation) const;
    Response pull(const std::string &id, const std::string &body, const std::atomic<bool> &stop);
    Response ptz(const std::string &action, pugi::xml_node op);
    void advancePtz();                 // m_mutex held

    struct Preset
    {
        std::string token;
        std::string name;
        double pan = 0;
        double tilt = 0;
        double zoom = 0;
    };

    Settings m_settings;
    std::atomic<uint16_t> m_rtspPort{0}; // settings' port until moved
    COnvifHttpServer m_http;
    std::atomic<int> m_delayMs{0};
    std::atomic<bool> m_garbage{false};
    std::atomic<bool> m_refuse{false};
    std::atomic<int> m_created{0};
    std::atomic<int> m_renews{0};
    std::atomic<int> m_unsubscribes{0};
    std::atomic<int> m_pulls{0};
    std::atomic<int> m_authFailures{0};
    std::atomic<int> m_requests{0};

    std::mutex m_mutex;                // guards everything below
    std::condition_variable m_cv;
    std::string m_password;
    std::map<std::string, Subscription> m_subs;
    int m_nextSub = 1;
    std::map<Event, bool> m_state;
    std::deque<std::string> m_nonces;  // recent UsernameToken nonces
    std::set<std::string> m_digestNonces;
    PtzState m_ptz;
    std::chrono::steady_clock::time_point m_ptzSince = std::chrono::steady_clock::now();
    std::vector<Preset> m_presets;
    int m_nextPreset = 1;
};
