#include "platform/p2p/p2p_client.h"

#include "common/callabort.h"
#include "common/configfile.h"
#include "common/logfile.h"
#include "common/p2precords.h"
#include "common/randomsource.h"

#include <arpa/inet.h>
#include <mosquitto.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>

namespace varno::p2p {

namespace {

thread_local int64_t t_frameSentUs = 0;

constexpr size_t kLiveMaxItems = 100;            // 4 s of 25 fps video
constexpr size_t kLiveMaxBytes = 8u << 20;
constexpr size_t kPlayMaxItems = 250;
constexpr size_t kPlayMaxBytes = 16u << 20;
constexpr size_t kDownloadMaxItems = 64;
constexpr size_t kDownloadMaxBytes = kDownloadWindow + 4 * kDownloadPiece;
constexpr size_t kDispatchMaxItems = 1024;
constexpr size_t kDispatchMaxBytes = 32u << 20;
constexpr int kStopWaitMs = 5000;
constexpr int kOrderWaitMs = 2000;   // a stuck message callback delays a playback no longer
// After the relay connection comes back: how long the retained presence of
// a camera may take before the camera is asked directly, and how often a
// camera believed offline is asked while its session is lost.
constexpr int kProbeWindowMs = 500;
constexpr int kProbeIntervalMs = 5000;

uint32_t randomU32()
{
    uint32_t v = 0;
    while (v == 0)
        v = varno::systemRandom32();
    return v;
}

std::string trim(const std::string &s)
{
    size_t b = 0;
    size_t e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

// A camera ID handed in by the caller, checked before it becomes a topic.
bool takeCameraId(const char *text, std::string &out)
{
    if (!text)
        return false;
    const size_t n = ::strnlen(text, kCameraIdSize);
    if (n == kCameraIdSize)
        return false;
    out.assign(text, n);
    return validTopicId(out);
}

// The call result of a camera's refusal: a wrong token, a camera that
// cannot take another stream or transfer now, or anything else (no such
// stream, file or session; a bad request).
int refusalResult(int32_t status)
{
    if (status == kErrRefused)
        return P2P_ERR_REFUSED;
    if (status == kErrBusy)
        return P2P_ERR_BUSY;
    return P2P_ERR_NOT_FOUND;
}

// A relay on this machine: the only place where the built-in account may
// log in without the user having named one.
bool isLoopbackHost(const std::string &host)
{
    if (host == "localhost" || host == "::1")
        return true;
    in_addr address {};
    return ::inet_pton(AF_INET, host.c_str(), &address) == 1 && (ntohl(address.s_addr) >> 24) == 127;
}

bool hasPrefix(const char *s, const std::string &prefix)
{
    return std::strncmp(s, prefix.c_str(), prefix.size()) == 0;
}

bool hasSuffix(const char *s, const char *suffix)
{
    const size_t n = std::strlen(s);
    const size_t m = std::strlen(suffix);
    return n >= m && std::strcmp(s + n - m, suffix) == 0;
}

} // namespace

int64_t currentFrameSentUs()
{
    return t_frameSentUs;
}

ClientConfig readConfig(const std::string &path)
{
    ClientConfig config;
    if (varno::checkConfigFile(path, "p2p.conf") != varno::ConfigFileState::Usable)
        return config;
    std::ifstream in(path);
    std::string line;
    varno::IgnoredLines ignored("p2p.conf");
    while (std::getline(in, line)) {
        const size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.resize(hash);
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = trim(line.substr(0, eq));
        const std::string value = trim(line.substr(eq + 1));
        char *end = nullptr;
        const long number = std::strtol(value.c_str(), &end, 10);
        const bool isNumber = !value.empty() && end && *end == '\0';
        if (key == "host" && !value.empty())
            config.host = value;
        else if (key == "port" && isNumber && number > 0 && number < 65536)
            config.port = int(number);
        else if (key == "keepalive" && isNumber && number >= 5 && number <= 3600)
            config.keepAliveS = int(number);
        else if (key == "timeout_ms" && isNumber && number >= 100 && number <= 60000)
            config.requestTimeoutMs = int(number);
        else if (key == "tls" && isNumber)
            config.tls = number != 0;
        else if (key == "cafile")
            config.caFile = value;
        else if (key == "user")
            config.user = value;
        else if (key == "password")
            config.password = value;
        else if (key == "lookup_ms" && isNumber && number >= 100 && number <= 10000)
            config.lookupMs = int(number);
        else if (ignored.add())
            WriteLog(3, "%s(%d):p2p.conf: ignored line(%s)!!!", "varno::p2p::readConfig", __LINE__,
                     line.c_str());
    }
    ignored.finish("varno::p2p::readConfig");
    return config;
}

Client::Client(const ClientConfig &config, const std::string &account, const std::string &appKey)
    : m_config(config), m_account(account), m_appKey(appKey)
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
    // An installation with a broker account of its own is known by that
    // account's name: the relay binds the inbox and the MQTT client
    // identifier to the account, so no other account can read the inbox or
    // take the connection's place. The built-in account (a relay on this
    // machine only) is shared: a random client ID per start.
    if (!m_config.user.empty() && validTopicId(m_config.user)) {
        m_clientId = m_config.user;
    } else {
        char id[24];
        std::snprintf(id, sizeof(id), "c%08x%08x", randomU32(), randomU32());
        m_clientId = id;
    }
    // The MQTT client identifier is the client ID itself.
    m_mosq = mosquitto_new(m_clientId.c_str(), true, this);
    if (m_mosq) {
        mosquitto_connect_callback_set(m_mosq, &Client::onConnect);
        mosquitto_disconnect_callback_set(m_mosq, &Client::onDisconnect);
        mosquitto_message_callback_set(m_mosq, &Client::onMessage);
        mosquitto_reconnect_delay_set(m_mosq, 1, 2, false);
        if (!m_config.user.empty())
            mosquitto_username_pw_set(m_mosq, m_config.user.c_str(), m_config.password.c_str());
        else if (!m_account.empty() && isLoopbackHost(m_config.host))
            mosquitto_username_pw_set(m_mosq, m_account.c_str(), m_appKey.c_str());
        if (m_config.tls && !setUpTls())
            WriteLog(2, "%s(%d):Relay TLS set-up failed, cafile(%s)!!!", "varno::p2p::Client", __LINE__,
                     m_config.caFile.c_str());
    }
    m_dispatcher = std::thread([this] { dispatcherLoop(); });
    m_housekeeper = std::thread([this] { housekeepingLoop(); });
}

Client::~Client()
{
    unregisterRelay();
    m_stop.store(true);
    m_dispatchCv.notify_all();
    m_cv.notify_all();
    if (m_dispatcher.joinable())
        m_dispatcher.join();
    if (m_housekeeper.joinable())
        m_housekeeper.join();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto &[id, s] : m_sessions)
            stopAllChannels(s, false);
    }
    std::vector<std::shared_ptr<Channel>> retired;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        retired.swap(m_retired);
    }
    for (auto &c : retired)
        c->join(kStopWaitMs);
    if (m_mosq)
        mosquitto_destroy(m_mosq);
    if (m_tlsContext)
        SSL_CTX_free(m_tlsContext);
}

// TLS 1.2 or newer; the relay's certificate must chain to the CA file of
// p2p.conf (the system's store when none is named) and name the relay's
// host or address. Without a usable context the client does not fall back
// to plain MQTT: the connection then fails.
bool Client::setUpTls()
{
    SSL_CTX *ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx)
        return false;
    m_tlsContext = ctx;
    SSL_CTX_set_app_data(ctx, this);
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    const bool trusted = m_config.caFile.empty()
                             ? SSL_CTX_set_default_verify_paths(ctx) == 1
                             : SSL_CTX_load_verify_locations(ctx, m_config.caFile.c_str(), nullptr) == 1;
    X509_VERIFY_PARAM *param = SSL_CTX_get0_param(ctx);
    in6_addr address {};
    const bool isAddress = ::inet_pton(AF_INET, m_config.host.c_str(), &address) == 1
                           || ::inet_pton(AF_INET6, m_config.host.c_str(), &address) == 1;
    const bool named = isAddress ? X509_VERIFY_PARAM_set1_ip_asc(param, m_config.host.c_str()) == 1
                                 : X509_VERIFY_PARAM_set1_host(param, m_config.host.c_str(), 0) == 1;
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, &Client::verifyPeer);
    // The library takes its own reference; ours is released with the client.
    mosquitto_int_option(m_mosq, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0);
    const bool used = mosquitto_void_option(m_mosq, MOSQ_OPT_SSL_CTX, ctx) == MOSQ_ERR_SUCCESS;
    return trusted && named && used;
}

// Runs on the network thread for every certificate of the relay's chain;
// the first refusal is kept for the log line of the failed connection.
int Client::verifyPeer(int preverified, x509_store_ctx_st *store)
{
    if (preverified)
        return 1;
    const auto *ssl = static_cast<SSL *>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto *self = ssl ? static_cast<Client *>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl))) : nullptr;
    if (self) {
        const int error = X509_STORE_CTX_get_error(store);
        std::lock_guard<std::mutex> lock(self->m_tlsMutex);
        if (self->m_certificateProblem.empty())
            self->m_certificateProblem = X509_verify_cert_error_string(error);
    }
    return 0;
}

std::string Client::takeCertificateProblem()
{
    std::lock_guard<std::mutex> lock(m_tlsMutex);
    std::string problem;
    problem.swap(m_certificateProblem);
    return problem;
}

void Client::setStatusCallback(P2P_STATUS_CB cb, intptr_t user)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_statusCb = cb;
    m_statusUser = user;
}

void Client::setMessageCallback(P2P_MSG_CB cb, void *user)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_msgCb = cb;
    m_msgUser = user;
}

// ---------------------------------------------------------------- relay

int Client::registerRelay()
{
    std::lock_guard<std::mutex> reg(m_registerMutex);
    if (!m_mosq)
        return P2P_ERR_NO_MEMORY;
    if (m_connected.load())
        return 0;
    if (m_config.user.empty() && !isLoopbackHost(m_config.host)) {
        // The built-in account is the same in every copy of the client: on
        // a shared relay it would let every installation take the place of
        // every other one.
        if (m_relayDownLogged != "account")
            WriteLog(2, "%s(%d):Relay %s:%d: p2p.conf names no broker user, and the built-in account "
                        "is used only on a relay on this machine!!!",
                     "P2P_Client_SDK_Register", __LINE__, m_config.host.c_str(), m_config.port);
        m_relayDownLogged = "account";
        return P2P_ERR_BROKER;
    }
    if (!m_config.user.empty() && m_clientId != m_config.user) {
        // The account names the inbox: a name that cannot be a topic level
        // cannot be this installation's client ID.
        if (m_relayDownLogged != "user")
            WriteLog(2, "%s(%d):Relay %s:%d: the broker user of p2p.conf is no valid client ID "
                        "(1-39 letters, digits, '-' or '_')!!!",
                     "P2P_Client_SDK_Register", __LINE__, m_config.host.c_str(), m_config.port);
        m_relayDownLogged = "user";
        return P2P_ERR_BROKER;
    }
    if (!m_loopRunning) {
        // Connecting synchronously tells a refused or unreachable relay at
        // once; afterwards the network thread keeps the connection up.
        const int rc = mosquitto_connect(m_mosq, m_config.host.c_str(), m_config.port,
                                         m_config.keepAliveS);
        if (rc != MOSQ_ERR_SUCCESS) {
            noteRelayFailure(rc);
            return P2P_ERR_BROKER;
        }
        m_relayDownLogged.clear();
        if (mosquitto_loop_start(m_mosq) != MOSQ_ERR_SUCCESS) {
            mosquitto_disconnect(m_mosq);
            return P2P_ERR_BROKER;
        }
        m_loopRunning = true;
    }
    bool connected = false;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait_for(lock, std::chrono::milliseconds(m_config.requestTimeoutMs),
                      [this] { return m_connected.load(); });
        connected = m_connected.load();
    }
    // The TLS handshake may end on the network thread: a certificate it
    // refused is said here.
    if (!connected)
        noteRelayFailure(MOSQ_ERR_SUCCESS);
    return connected ? 0 : P2P_ERR_BROKER;
}

// Under m_registerMutex. Said once while the relay keeps failing the same
// way, not at every retry. A relay whose certificate we refuse is
// reachable: the reason is named. rc 0: connected, but no answer came.
void Client::noteRelayFailure(int rc)
{
    const std::string certificate = takeCertificateProblem();
    if (certificate.empty() && rc == MOSQ_ERR_SUCCESS)
        return;
    const std::string failure = certificate.empty() ? std::to_string(rc) : certificate;
    if (failure != m_relayDownLogged) {
        if (!certificate.empty())
            WriteLog(2, "%s(%d):Relay %s:%d certificate refused: %s!!!", "P2P_Client_SDK_Register", __LINE__,
                     m_config.host.c_str(), m_config.port, certificate.c_str());
        else if (rc == MOSQ_ERR_TLS)
            WriteLog(2, "%s(%d):Relay %s:%d TLS handshake failed, rc(%d)!!!", "P2P_Client_SDK_Register", __LINE__,
                     m_config.host.c_str(), m_config.port, rc);
        else
            WriteLog(3, "%s(%d):Relay %s:%d not reachable, rc(%d)!!!", "P2P_Client_SDK_Register", __LINE__,
                     m_config.host.c_str(), m_config.port, rc);
    }
    m_relayDownLogged = failure;
}

int Client::unregisterRelay()
{
    std::lock_guard<std::mutex> reg(m_registerMutex);
    if (!m_mosq || !m_loopRunning)
        return 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto &[id, s] : m_sessions) {
            if (s.state == kSessionUp)
                sendToCamera(s, Kind::SessionClose, 0, 0, 0, nullptr, 0);
            stopAllChannels(s, false);
        }
        m_sessions.clear();
    }
    mosquitto_disconnect(m_mosq);
    mosquitto_loop_stop(m_mosq, false);
    m_loopRunning = false;
    m_connected.store(false);
    m_everConnected = false;
    return 0;
}

void Client::onConnect(mosquitto *, void *obj, int rc)
{
    enterLibraryThread();
    static_cast<Client *>(obj)->relayConnected(rc);
}

void Client::onDisconnect(mosquitto *, void *obj, int rc)
{
    enterLibraryThread();
    static_cast<Client *>(obj)->relayDisconnected(rc);
}

void Client::onMessage(mosquitto *, void *obj, const mosquitto_message *msg)
{
    enterLibraryThread();
    if (msg && msg->topic)
        static_cast<Client *>(obj)->handleIncoming(msg->topic, msg->payload,
                                                    msg->payloadlen > 0 ? size_t(msg->payloadlen) : 0);
}

void Client::relayConnected(int rc)
{
    if (rc != 0) {
        WriteLog(3, "%s(%d):Relay refused the connection, rc(%d)!!!", "varno::p2p::Client", __LINE__, rc);
        return;
    }
    mosquitto_subscribe(m_mosq, nullptr, clientInbox(m_clientId).c_str(), 1);
    // Cameras of version 3 send on a topic of their own below the inbox.
    mosquitto_subscribe(m_mosq, nullptr, (clientInbox(m_clientId) + "/+").c_str(), 1);
    bool again = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        again = m_everConnected;
        m_everConnected = true;
        const int64_t now = monotonicMs();
        for (auto &[id, s] : m_sessions) {
            mosquitto_subscribe(m_mosq, nullptr, cameraPresence(id).c_str(), 1);
            // A relay that keeps retained messages on one node may never
            // hand over this camera's presence: ask the camera itself when
            // nothing came within the window.
            s.probeDueMs = now + kProbeWindowMs;
            if (s.state == kSessionUp || s.state == kSessionLost) {
                s.state = kSessionLost;
                s.lastRetryMs = 0;   // the housekeeper re-establishes at once
            }
        }
        m_connected.store(true);
    }
    m_cv.notify_all();
    if (again)
        WriteLog(0, "[P2P]Relay connection re-established!!!");
    dispatch(DispatchItem{true, kEventRelayUp, 0, std::string(), {}});
}

void Client::relayDisconnected(int rc)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_connected.store(false);
        for (auto &[id, s] : m_sessions)
            if (s.state == kSessionUp)
                markLost(s, "relay connection lost");
    }
    m_cv.notify_all();
    if (rc != 0)
        WriteLog(3, "%s(%d):Relay connection lost, rc(%d)!!!", "varno::p2p::Client", __LINE__, rc);
    dispatch(DispatchItem{true, kEventRelayDown, rc, std::string(), {}});
}

int Client::publish(const std::string &topic, const std::vector<uint8_t> &payload, int qos)
{
    if (!m_mosq)
        return P2P_ERR_BROKER;
    const int rc = mosquitto_publish(m_mosq, nullptr, topic.c_str(), int(payload.size()),
                                     payload.data(), qos, false);
    return rc == MOSQ_ERR_SUCCESS ? 0 : P2P_ERR_BROKER;
}

int Client::sendToCamera(const Session &s, Kind kind, uint32_t request, uint32_t channel,
                         int32_t status, const void *body, size_t size, int qos)
{
    if (kind == Kind::SessionOpen)
        m_sessionOpens.fetch_add(1);
    return publish(cameraInbox(s.cameraId),
                   encode(kind, m_clientId, s.id, request, channel, status, body, size), qos);
}

uint32_t Client::nextRequest()
{
    // m_mutex held.
    ++m_requestCounter;
    if (m_requestCounter == 0)
        m_requestCounter = 1;
    return m_requestCounter;
}

std::shared_ptr<Client::Pending> Client::addPending(uint32_t request, Kind expect)
{
    auto p = std::make_shared<Pending>();
    p->expect = expect;
    m_pending[request] = p;
    return p;
}

bool Client::waitPending(std::unique_lock<std::mutex> &lock, uint32_t request,
                         const std::shared_ptr<Pending> &pending, int timeoutMs)
{
    m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                  [&] { return pending->done || m_stop.load(); });
    m_pending.erase(request);
    return pending->done;
}

Client::Session *Client::findSession(const std::string &cameraId)
{
    auto it = m_sessions.find(cameraId);
    return it == m_sessions.end() ? nullptr : &it->second;
}

Client::Session *Client::sessionForEnvelope(const Envelope &env)
{
    Session *s = findSession(env.from);
    if (!s || s->id != env.session)
        return nullptr;
    return s;
}

void Client::authBody(uint8_t *out, const std::string &password)
{
    const int32_t nonce = varno::authNonce();
    putU32(out, uint32_t(nonce));
    makeToken(password.c_str(), nonce, out + 4);
}

// ---------------------------------------------------------------- calls

int Client::sessionStatus(const char *cameraId, int32_t *status)
{
    std::string cam;
    if (!status || !takeCameraId(cameraId, cam))
        return P2P_ERR_PARAM;
    std::lock_guard<std::mutex> lock(m_mutex);
    const Session *s = findSession(cam);
    *status = s ? s->state : kSessionNone;
    return 0;
}

int Client::peerPresence(const char *cameraId, int32_t *online, int32_t *version)
{
    std::string cam;
    if (!online || !version || !takeCameraId(cameraId, cam))
        return P2P_ERR_PARAM;
    std::lock_guard<std::mutex> lock(m_mutex);
    const Session *s = findSession(cam);
    if (!s || !s->presenceSeen)
        return P2P_ERR_NOT_FOUND;
    *online = s->online ? 1 : 0;
    *version = int32_t(s->version);
    return 0;
}

int Client::connectPeer(const char *cameraId)
{
    std::string cam;
    if (!takeCameraId(cameraId, cam))
        return P2P_ERR_PARAM;
    // The caller's thread stop (CallAbortScope) ends the wait for the
    // camera: the connect then fails as one the camera did not answer.
    // Registered before the lock is taken, removed after it is let go.
    const varno::CallAbortWaker abortWaker([this] {
        { std::lock_guard<std::mutex> wake(m_mutex); }
        m_cv.notify_all();
    });
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_connected.load())
        return P2P_ERR_NOT_REGISTERED;
    if (abortWaker.raised())
        return P2P_ERR_TIMEOUT;
    Session &s = m_sessions[cam];
    if (s.state == kSessionUp)
        return 0;
    if (s.state == kSessionConnecting)
        return P2P_ERR_CONNECTING;
    // The presence this client holds says offline: no session is asked for.
    // A lost session comes back by itself when the camera does; a camera of
    // version 2 whose return went to another relay node answers a probe.
    if (s.presenceSeen && !s.online) {
        if (monotonicMs() - s.lastProbeMs >= kProbeIntervalMs)
            sendProbe(s);
        return P2P_ERR_NOT_FOUND;
    }
    const bool fresh = s.cameraId.empty();
    s.cameraId = cam;
    if (s.id == 0)
        s.id = randomU32();
    s.state = kSessionConnecting;
    if (fresh)
        mosquitto_subscribe(m_mosq, nullptr, cameraPresence(cam).c_str(), 1);
    const uint32_t request = nextRequest();
    auto pending = addPending(request, Kind::SessionAccept);
    sendToCamera(s, Kind::SessionOpen, request, 0, 0, nullptr, 0);
    const int64_t end = monotonicMs() + m_config.requestTimeoutMs;
    // Wait for the camera, but give up early when its presence says offline.
    while (!pending->done && !m_stop.load() && !abortWaker.raised()) {
        if (m_cv.wait_until(lock, std::chrono::steady_clock::now()
                                      + std::chrono::milliseconds(std::max<int64_t>(0, end - monotonicMs())))
            == std::cv_status::timeout)
            break;
        Session *cur = findSession(cam);
        if (!cur || (cur->presenceSeen && !cur->online))
            break;
    }
    m_pending.erase(request);
    Session *cur = findSession(cam);
    if (!cur)
        return P2P_ERR_NOT_FOUND;
    if (pending->done && pending->status == kOk && pending->body.size() >= body::kSessionAccept) {
        cur->deviceId = fieldString(pending->body.data(), kDeviceIdSize);
        cur->version = announcedVersion(pending->body.data(), pending->body.size(), body::kSessionAccept);
        cur->state = kSessionUp;
        cur->lastHeardMs = monotonicMs();
        cur->lastPingMs = cur->lastHeardMs;
        const uint32_t id = cur->id;
        lock.unlock();
        dispatch(DispatchItem{true, kEventSessionUp, int32_t(id), cam, {}});
        resumeChannelsFor(cam);
        return 0;
    }
    const bool offline = cur->presenceSeen && !cur->online;
    const bool neverSeen = !cur->presenceSeen;
    // Channels survive a failed attempt only when the session had been up.
    bool hasChannels = cur->streams[0] || cur->streams[1] || !cur->transfers.empty();
    cur->state = hasChannels ? kSessionLost : kSessionNone;
    if (pending->done)
        return refusalResult(pending->status);
    if (offline || neverSeen)
        return P2P_ERR_NOT_FOUND;
    return P2P_ERR_TIMEOUT;
}

int Client::streamDescr(const char *cameraId, int32_t *count, char *buffer)
{
    std::string cam;
    if (!count || !buffer || !takeCameraId(cameraId, cam))
        return P2P_ERR_PARAM;
    std::unique_lock<std::mutex> lock(m_mutex);
    Session *s = findSession(cam);
    if (!s || s->state != kSessionUp)
        return P2P_ERR_NO_SESSION;
    const uint32_t request = nextRequest();
    auto pending = addPending(request, Kind::DescrRsp);
    sendToCamera(*s, Kind::DescrReq, request, 0, 0, nullptr, 0);
    if (!waitPending(lock, request, pending, m_config.requestTimeoutMs))
        return P2P_ERR_TIMEOUT;
    if (pending->status != kOk)
        return P2P_ERR_REFUSED;
    const auto &b = pending->body;
    if (b.size() < 4)
        return P2P_ERR_TIMEOUT;
    const int32_t n = int32_t(getU32(b.data()));
    if (n < 0 || n > P2P_STREAM_DESCR_COUNT || b.size() != 4 + size_t(n) * P2P_STREAM_DESCR_SIZE) {
        WriteLog(3, "%s(%d):Camera(%s) sent a bad stream description, count(%d) size(%zu)!!!",
                 "P2P_Client_SDK_Get_StreamDescr", __LINE__, cam.c_str(), n, b.size());
        return P2P_ERR_REFUSED;
    }
    std::memset(buffer, 0, P2P_STREAM_DESCR_BUFFER);
    if (n > 0)
        std::memcpy(buffer, b.data() + 4, size_t(n) * P2P_STREAM_DESCR_SIZE);
    *count = n;
    return 0;
}

std::shared_ptr<Channel> Client::makeLiveChannel(Session &, int index,
                                                 const std::vector<uint8_t> &descr, P2P_FRAME_CB cb,
                                                 void *user)
{
    auto ch = std::make_shared<Channel>(Channel::Type::Live, ++m_channelCounter, kLiveMaxItems,
                                        kLiveMaxBytes);
    ch->descr = descr;
    ch->streamIndex = index;
    Channel *raw = ch.get();
    const P2P_HANDLE handle = P2P_HANDLE(raw->id());
    ch->start([raw, cb, user, handle](DeliveryItem &item) {
        if (!cb)
            return;
        const char *descrPtr = reinterpret_cast<const char *>(raw->descr.data());
        const uint8_t *p = item.data.data();
        const size_t n = item.data.size();
        struct SentTime
        {
            explicit SentTime(int64_t us) { t_frameSentUs = us; }
            ~SentTime() { t_frameSentUs = 0; }
        } sentTime(item.sentUs);
        if (item.media != kMediaVideo) {
            const int32_t info[2] = {0, item.value};
            cb(handle, descrPtr, info, item.media, reinterpret_cast<const char *>(p), int32_t(n), user);
            return;
        }
        // One NAL unit per call, each with a 4-byte start code; the first
        // frame-information value is its NAL type by the stream's codec.
        P2P_STREAM_DESCR_S sd{};
        std::memcpy(&sd, raw->descr.data(), std::min(sizeof sd, raw->descr.size()));
        const bool h265 = sd.videoCodec == P2P_VIDEO_H265 || sd.videoCodec == 11; // 10 or 11: H.265
        size_t i = 0;
        size_t nalStart = 0;     // first byte after the start code
        size_t codeStart = 0;    // first byte of that start code
        bool inNal = false;
        std::vector<uint8_t> copy;
        auto emit = [&](size_t codeAt, size_t from, size_t to) {
            if (to <= from || raw->stopping())
                return;
            const int32_t info[2] = {h265 ? int32_t((p[from] >> 1) & 0x3F) : int32_t(p[from] & 0x1F), item.value};
            if (from - codeAt == 4) {
                cb(handle, descrPtr, info, kMediaVideo, reinterpret_cast<const char *>(p + codeAt),
                   int32_t(to - codeAt), user);
            } else {
                copy.assign({0, 0, 0, 1});
                copy.insert(copy.end(), p + from, p + to);
                cb(handle, descrPtr, info, kMediaVideo, reinterpret_cast<const char *>(copy.data()),
                   int32_t(copy.size()), user);
            }
        };
        while (i + 3 <= n) {
            if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) {
                const size_t code = (i > 0 && p[i - 1] == 0) ? i - 1 : i;
                if (inNal)
                    emit(codeStart, nalStart, code);
                codeStart = code;
                nalStart = i + 3;
                inNal = true;
                i += 3;
            } else {
                ++i;
            }
        }
        if (inNal)
            emit(codeStart, nalStart, n);
    });
    return ch;
}

int Client::openStream(const char *cameraId, char *descr, P2P_FRAME_CB cb, void *user,
                       const int32_t params[3], const char *password)
{
    std::string cam;
    if (!descr || !cb || !takeCameraId(cameraId, cam))
        return P2P_ERR_PARAM;
    int32_t index = 0;
    std::memcpy(&index, descr + 64, 4);
    if (index < 0 || index >= P2P_STREAM_DESCR_COUNT)
        return P2P_ERR_PARAM;
    std::string pwd = password ? std::string(password, ::strnlen(password, 64)) : std::string();
    std::shared_ptr<Channel> old;
    std::unique_lock<std::mutex> lock(m_mutex);
    Session *s = findSession(cam);
    if (!s || s->state != kSessionUp)
        return P2P_ERR_NO_SESSION;
    old = std::move(s->streams[index]);
    std::vector<uint8_t> d(reinterpret_cast<uint8_t *>(descr),
                           reinterpret_cast<uint8_t *>(descr) + P2P_STREAM_DESCR_SIZE);
    auto ch = makeLiveChannel(*s, index, d, cb, user);
    ch->password = pwd;
    if (params)
        std::memcpy(ch->params, params, sizeof(ch->params));
    s->streams[index] = ch;
    if (old)
        retire(old);
    uint8_t b[body::kStreamOpen] = {};
    authBody(b, pwd);
    for (int i = 0; i < 3; ++i)
        putU32(b + body::kAuth + 4 * i, uint32_t(ch->params[i]));
    const uint32_t request = nextRequest();
    auto pending = addPending(request, Kind::StreamOpenRsp);
    sendToCamera(*s, Kind::StreamOpen, request, uint32_t(index), 0, b, sizeof(b));
    const bool answered = waitPending(lock, request, pending, m_config.requestTimeoutMs);
    s = findSession(cam);
    if (answered && pending->status == kOk)
        return int(ch->id());
    if (s && s->streams[index] == ch) {
        s->streams[index].reset();
        retire(ch);
    }
    if (!answered)
        return P2P_ERR_TIMEOUT;
    return refusalResult(pending->status);
}

int Client::closeStream(const char *cameraId, const char *descr)
{
    std::string cam;
    if (!descr || !takeCameraId(cameraId, cam))
        return P2P_ERR_PARAM;
    int32_t index = 0;
    std::memcpy(&index, descr + 64, 4);
    if (index < 0 || index >= P2P_STREAM_DESCR_COUNT)
        return P2P_ERR_PARAM;
    std::lock_guard<std::mutex> lock(m_mutex);
    Session *s = findSession(cam);
    if (!s || !s->streams[index])
        return P2P_ERR_NO_SESSION;
    // No wait for a callback that runs now: callers close streams while
    // holding the lock their frame callback takes.
    retire(s->streams[index]);
    s->streams[index].reset();
    if (s->state == kSessionUp)
        sendToCamera(*s, Kind::StreamClose, nextRequest(), uint32_t(index), 0, nullptr, 0);
    return 0;
}

int Client::startPlayback(const char *cameraId, const char *fileName, P2P_PLAYBACK_CB cb, void *user,
                          int32_t startSecond, const char *password)
{
    std::string cam;
    if (!fileName || !cb || !takeCameraId(cameraId, cam) || startSecond < 0)
        return P2P_ERR_PARAM;
    const size_t nameLen = ::strnlen(fileName, kFileNameSize);
    if (nameLen == 0 || nameLen == kFileNameSize)
        return P2P_ERR_PARAM;
    std::string pwd = password ? std::string(password, ::strnlen(password, 64)) : std::string();
    std::unique_lock<std::mutex> lock(m_mutex);
    Session *s = findSession(cam);
    if (!s || s->state != kSessionUp)
        return P2P_ERR_NO_SESSION;
    for (auto &[id, ch] : s->transfers)
        if (ch->type() == Channel::Type::Playback && ch->fileName == fileName)
            return P2P_ERR_BUSY;
    auto ch = std::make_shared<Channel>(Channel::Type::Playback, ++m_channelCounter, kPlayMaxItems,
                                        kPlayMaxBytes);
    ch->fileName.assign(fileName, nameLen);
    ch->camera = cam;
    ch->password = pwd;
    ch->lastSecond.store(startSecond);
    Channel *raw = ch.get();
    ch->start([raw, cb, user, progress = m_progress, first = true](DeliveryItem &item) mutable {
        if (first) {
            first = false;
            progress->waitFor(item.dispatchMark, *raw, kOrderWaitMs);
        }
        raw->lastSecond.store(item.value);
        cb(item.media, reinterpret_cast<const char *>(item.data.data()), int32_t(item.data.size()),
           item.value, user);
    });
    s->transfers[ch->id()] = ch;
    uint8_t b[body::kPlayStart] = {};
    authBody(b, pwd);
    putU32(b + body::kAuth, uint32_t(startSecond));
    putField(b + body::kAuth + 4, kFileNameSize, ch->fileName);
    const uint32_t request = nextRequest();
    auto pending = addPending(request, Kind::PlayStartRsp);
    sendToCamera(*s, Kind::PlayStart, request, ch->id(), 0, b, sizeof(b));
    const bool answered = waitPending(lock, request, pending, m_config.requestTimeoutMs);
    if (answered && pending->status == kOk)
        return int(ch->id());
    return abandonTransfer(cam, ch, answered, pending->status);
}

// A playback or download the camera did not start: the channel leaves the
// session (still under m_mutex) and the camera's answer becomes the result.
int Client::abandonTransfer(const std::string &cam, const std::shared_ptr<Channel> &ch, bool answered,
                            int status)
{
    if (Session *s = findSession(cam))
        s->transfers.erase(ch->id());
    retire(ch);
    if (!answered)
        return P2P_ERR_TIMEOUT;
    return refusalResult(status);
}

int Client::stopPlayback(const char *cameraId, const char *fileName)
{
    return stopTransfer(cameraId, fileName, Channel::Type::Playback, Kind::PlayStop, "Playback",
                        "P2P_Client_SDK_Stop_Playback");
}

// Ends the playback or download of a file: the camera is told (while the
// session is up), the delivery thread gets up to kStopWaitMs to leave the
// user's callback, and the channel is retired.
int Client::stopTransfer(const char *cameraId, const char *fileName, Channel::Type type, Kind stopKind,
                         const char *what, const char *caller)
{
    std::string cam;
    if (!fileName || !takeCameraId(cameraId, cam))
        return P2P_ERR_PARAM;
    const std::string name(fileName, ::strnlen(fileName, kFileNameSize));
    std::shared_ptr<Channel> ch;
    std::vector<std::shared_ptr<Channel>> retired;
    int missing = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Session *s = findSession(cam);
        if (s) {
            for (auto it = s->transfers.begin(); it != s->transfers.end(); ++it) {
                if (it->second->type() == type && it->second->fileName == name) {
                    ch = it->second;
                    s->transfers.erase(it);
                    break;
                }
            }
        }
        if (!ch) {
            missing = s ? P2P_ERR_NOT_FOUND : P2P_ERR_NO_SESSION;
            retired = takeRetired(cam, name, type);
        } else if (s->state == kSessionUp) {
            sendToCamera(*s, stopKind, nextRequest(), ch->id(), 0, nullptr, 0);
        }
    }
    if (!ch) {
        // The session went (logout, release) and retired the channel with
        // it: its callback may still run with the caller's pointer, which
        // the caller frees once this returns. It is waited for all the same.
        for (auto &r : retired) {
            if (r->join(kStopWaitMs))
                continue;
            WriteLog(3, "%s(%d):%s callback still busy after %d ms!!!", caller, __LINE__, what, kStopWaitMs);
            std::lock_guard<std::mutex> lock(m_mutex);
            m_retired.push_back(r);
        }
        return missing;
    }
    ch->requestStop();
    if (!ch->join(kStopWaitMs))
        WriteLog(3, "%s(%d):%s callback still busy after %d ms!!!", caller, __LINE__, what, kStopWaitMs);
    std::lock_guard<std::mutex> lock(m_mutex);
    retire(ch);
    return 0;
}

int Client::startDownload(const char *cameraId, const char *fileName, P2P_DOWNLOAD_CB cb, void *user,
                          uint32_t offset, const char *password)
{
    std::string cam;
    if (!fileName || !cb || !takeCameraId(cameraId, cam))
        return P2P_ERR_PARAM;
    const size_t nameLen = ::strnlen(fileName, kFileNameSize);
    if (nameLen == 0 || nameLen == kFileNameSize)
        return P2P_ERR_PARAM;
    std::string pwd = password ? std::string(password, ::strnlen(password, 64)) : std::string();
    std::unique_lock<std::mutex> lock(m_mutex);
    Session *s = findSession(cam);
    if (!s || s->state != kSessionUp)
        return P2P_ERR_NO_SESSION;
    for (auto &[id, ch] : s->transfers)
        if (ch->type() == Channel::Type::Download && ch->fileName == fileName)
            return P2P_ERR_BUSY;
    auto ch = std::make_shared<Channel>(Channel::Type::Download, ++m_channelCounter,
                                        kDownloadMaxItems, kDownloadMaxBytes);
    ch->fileName.assign(fileName, nameLen);
    ch->camera = cam;
    ch->password = pwd;
    ch->nextOffset.store(offset);
    ch->queuedEnd = offset;
    Channel *raw = ch.get();
    const std::string camCopy = cam;
    ch->start([this, raw, cb, user, camCopy](DeliveryItem &item) {
        cb(1, reinterpret_cast<const char *>(item.data.data()), int32_t(item.data.size()), item.value,
           user);
        const uint32_t next = uint32_t(item.value) + uint32_t(item.data.size());
        raw->nextOffset.store(next);
        // Acknowledge what the user has had: the camera keeps at most one
        // window of unacknowledged bytes in flight.
        uint8_t ack[body::kDownloadAck];
        putU32(ack, next);
        std::lock_guard<std::mutex> lock(m_mutex);
        Session *s = findSession(camCopy);
        if (s && s->state == kSessionUp)
            sendToCamera(*s, Kind::DownloadAck, 0, raw->id(), 0, ack, sizeof(ack), 0);
    });
    s->transfers[ch->id()] = ch;
    uint8_t b[body::kDownloadStart] = {};
    authBody(b, pwd);
    putU32(b + body::kAuth, offset);
    putField(b + body::kAuth + 4, kFileNameSize, ch->fileName);
    const uint32_t request = nextRequest();
    auto pending = addPending(request, Kind::DownloadStartRsp);
    sendToCamera(*s, Kind::DownloadStart, request, ch->id(), 0, b, sizeof(b));
    const bool answered = waitPending(lock, request, pending, m_config.requestTimeoutMs);
    if (answered && pending->status == kOk && pending->body.size() >= body::kDownloadStartRsp) {
        ch->fileSize = getU32(pending->body.data());
        return int(ch->id());
    }
    return abandonTransfer(cam, ch, answered, pending->status);
}

int Client::stopDownload(const char *cameraId, const char *fileName)
{
    return stopTransfer(cameraId, fileName, Channel::Type::Download, Kind::DownloadStop, "Download",
                        "P2P_Client_SDK_Stop_Download");
}

int Client::deliverMessage(const char *cameraId, int32_t type, const char *payload, int32_t length)
{
    std::string cam;
    if (!takeCameraId(cameraId, cam) || length < 0 || size_t(length) > kMaxBody
        || (length > 0 && !payload))
        return P2P_ERR_PARAM;
    std::lock_guard<std::mutex> lock(m_mutex);
    Session *s = findSession(cam);
    if (!s || s->state != kSessionUp)
        return P2P_ERR_NO_SESSION;
    const int ret = sendToCamera(*s, Kind::Message, nextRequest(), 0, type, payload, size_t(length));
    if (ret >= 0 && type == P2P_MSG_PASSWORD_CHANGE && size_t(length) >= sizeof(PASSWORD_CHANGE_REQ_S)) {
        PASSWORD_CHANGE_REQ_S req;
        std::memcpy(&req, payload, sizeof(req));
        const size_t n = ::strnlen(req.newPassword, sizeof(req.newPassword));
        if (n > 0 && n < sizeof(req.newPassword)) {
            // At most a few in flight: an unanswered one is forgotten first.
            if (s->passwordChanges.size() >= 4)
                s->passwordChanges.erase(s->passwordChanges.begin());
            s->passwordChanges.emplace_back(req.random, std::string(req.newPassword, n));
        }
    }
    return ret;
}

int Client::deviceLicense(const char *deviceId, char p2pId[64])
{
    std::string dev;
    if (!p2pId || !takeCameraId(deviceId, dev))
        return P2P_ERR_PARAM;
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_connected.load())
        return P2P_ERR_NOT_REGISTERED;
    auto license = std::make_shared<Pending>();
    license->expect = Kind::License;
    m_licenses[dev] = license;
    const uint32_t request = nextRequest();
    auto marker = addPending(request, Kind::Marker);
    const std::string topic = licenseTopic(dev);
    mosquitto_subscribe(m_mosq, nullptr, topic.c_str(), 1);
    // The relay hands over a retained license right after the subscription;
    // the marker sent to our own inbox afterwards comes back behind it.
    publish(clientInbox(m_clientId), encode(Kind::Marker, m_clientId, 0, request, 0, 0, nullptr, 0), 1);
    const int64_t end = monotonicMs() + m_config.requestTimeoutMs;
    int64_t markerSeenAt = 0;
    while (!license->done && !m_stop.load()) {
        const int64_t now = monotonicMs();
        if (marker->done && markerSeenAt == 0)
            markerSeenAt = now;
        // After the marker, a short grace for relays that do not keep order
        // across topics.
        const int64_t limit = markerSeenAt ? std::min(end, markerSeenAt + 150) : end;
        if (now >= limit)
            break;
        m_cv.wait_for(lock, std::chrono::milliseconds(limit - now));
    }
    m_pending.erase(request);
    m_licenses.erase(dev);
    mosquitto_unsubscribe(m_mosq, nullptr, topic.c_str());
    if (!license->done && !m_stop.load() && m_connected.load() && monotonicMs() < end) {
        // No retained license: the relay may keep it on another node. Cameras
        // of version 2 answer a lookup on our inbox.
        const uint32_t ask = nextRequest();
        m_lookups[ask] = Lookup{dev, license};
        publish(lookupTopic(dev), encode(Kind::Lookup, m_clientId, 0, ask, 0, 0, nullptr, 0), 1);
        const int64_t limit = std::min(end, monotonicMs() + m_config.lookupMs);
        m_cv.wait_for(lock, std::chrono::milliseconds(std::max<int64_t>(0, limit - monotonicMs())),
                      [&] { return license->done || m_stop.load(); });
        m_lookups.erase(ask);
    }
    if (!license->done || license->body.size() < body::kLicense)
        return P2P_ERR_NOT_FOUND;
    bool terminated = false;
    const std::string cam = fieldString(license->body.data(), kCameraIdSize, &terminated);
    if (!terminated || !validTopicId(cam))
        return P2P_ERR_NOT_FOUND;
    std::memset(p2pId, 0, 64);
    std::memcpy(p2pId, cam.data(), cam.size());
    return 0;
}

// ---------------------------------------------------------------- incoming

void Client::dropEnvelope(const char *topic, const char *reason)
{
    m_badEnvelopes.fetch_add(1);
    // At most 20 lines a second: a flood of junk must not flood the log.
    const int64_t now = monotonicMs();
    uint32_t suppressed = 0;
    {
        std::lock_guard<std::mutex> lock(m_logMutex);
        if (now - m_logWindowMs >= 1000) {
            suppressed = m_logSuppressed;
            m_logSuppressed = 0;
            m_logWindowMs = now;
            m_logLines = 0;
        }
        if (m_logLines >= 20) {
            ++m_logSuppressed;
            return;
        }
        ++m_logLines;
    }
    if (suppressed)
        WriteLog(3, "%s(%d):%u more dropped messages not logged!!!", "varno::p2p::Client::handleIncoming",
                 __LINE__, suppressed);
    WriteLog(3, "%s(%d):Dropped message on topic(%s): %s!!!", "varno::p2p::Client::handleIncoming",
             __LINE__, topic, reason);
}

void Client::handleIncoming(const char *topic, const void *data, size_t size)
{
    if (!topic)
        return;
    static const std::string licPrefix = "varno/v1/lic/";
    static const std::string camPrefix = "varno/v1/cam/";
    // An empty message on a presence or license topic is a camera (or the
    // relay's operator) removing its retained message: nothing to take.
    if (size == 0 && (hasPrefix(topic, licPrefix) || hasPrefix(topic, camPrefix)))
        return;
    Envelope env;
    const DecodeError err = decode(data, size, env);
    if (err != DecodeError::Ok) {
        dropEnvelope(topic, decodeErrorText(err));
        return;
    }
    if (hasPrefix(topic, licPrefix)) {
        if (env.kind == Kind::License)
            handleLicense(topic, env);
        else
            dropEnvelope(topic, "not a license");
        return;
    }
    if (hasPrefix(topic, camPrefix) && hasSuffix(topic, "/presence")) {
        // Only the camera (and the relay, with its last will) can write its
        // presence topic: the topic names the sender.
        const size_t topicLength = std::strlen(topic);
        const size_t idLength = topicLength > camPrefix.size() + std::strlen("/presence")
                                    ? topicLength - camPrefix.size() - std::strlen("/presence")
                                    : 0;
        if (env.kind != Kind::Presence)
            dropEnvelope(topic, "not a presence");
        else if (env.from.compare(0, std::string::npos, topic + camPrefix.size(), idLength) != 0)
            dropEnvelope(topic, "sender is not the camera of the topic");
        else
            handlePresence(env, false);
        return;
    }
    // The inbox: cameras of version 3 send on inbox/<camera ID>, which the
    // relay's rules let only that camera write; older cameras and the
    // client's own Marker use the shared inbox, where the sender ID is only
    // claimed by the envelope.
    const std::string inbox = clientInbox(m_clientId);
    if (std::strncmp(topic, inbox.c_str(), inbox.size()) != 0
        || (topic[inbox.size()] != '\0' && topic[inbox.size()] != '/')) {
        dropEnvelope(topic, "topic not subscribed");
        return;
    }
    if (topic[inbox.size()] == '/') {
        if (env.from != topic + inbox.size() + 1) {
            dropEnvelope(topic, "sender ID differs from the topic");
            return;
        }
    } else if (env.kind != Kind::Marker && claimsProvenSender(env.from)) {
        dropEnvelope(topic, "camera of version 3 on the shared inbox");
        return;
    }
    switch (env.kind) {
    case Kind::License:
        handleLookupAnswer(env);
        break;
    case Kind::Presence:
        handlePresence(env, true);
        break;
    case Kind::Marker:
    case Kind::SessionAccept:
    case Kind::DescrRsp:
    case Kind::StreamOpenRsp:
    case Kind::PlayStartRsp:
    case Kind::DownloadStartRsp:
    case Kind::Error:
    case Kind::Pong:
    case Kind::SessionClose:
        handleReply(env);
        break;
    case Kind::StreamFrame:
        handleFrame(env);
        break;
    case Kind::PlayData:
        handlePlayData(env);
        break;
    case Kind::DownloadData:
        handleDownloadData(env);
        break;
    case Kind::PlayEnd:
    case Kind::DownloadEnd:
        handleTransferEnd(env);
        break;
    case Kind::Message:
        handleMessage(env);
        break;
    default:
        dropEnvelope(topic, "kind not expected by a client");
        break;
    }
}

void Client::handleLicense(const char *topic, const Envelope &env)
{
    const std::string dev(topic + std::strlen("varno/v1/lic/"));
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_licenses.find(dev);
    if (it == m_licenses.end())
        return;
    if (env.bodySize < body::kLicense) {
        dropEnvelope(topic, "license body too short");
        return;
    }
    it->second->body.assign(env.body, env.body + env.bodySize);
    it->second->done = true;
    m_cv.notify_all();
}

// A camera's License sent to our inbox in answer to a lookup request. It
// counts only for a lookup in progress, and only when it names the device
// asked for and a camera ID that belongs to that device.
void Client::handleLookupAnswer(const Envelope &env)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_lookups.find(env.request);
    if (it == m_lookups.end())
        return;
    if (env.bodySize < body::kLicense) {
        dropEnvelope("inbox", "license body too short");
        return;
    }
    bool camOk = false;
    bool devOk = false;
    const std::string cam = fieldString(env.body, kCameraIdSize, &camOk);
    const std::string dev = fieldString(env.body + kCameraIdSize, kDeviceIdSize, &devOk);
    if (!camOk || !devOk || cam != env.from || dev != it->second.deviceId
        || deviceIdFromCameraId(cam) != dev) {
        dropEnvelope("inbox", "license does not match the lookup");
        return;
    }
    Pending &p = *it->second.answer;
    p.body.assign(env.body, env.body + env.bodySize);
    p.done = true;
    m_cv.notify_all();
}

void Client::sendProbe(Session &s)
{
    // m_mutex held. Cameras of version 1 would drop the probe.
    s.probeDueMs = 0;
    if (s.version < 2 || !m_connected.load())
        return;
    s.lastProbeMs = monotonicMs();
    s.probeRequest = nextRequest();
    sendToCamera(s, Kind::PresenceProbe, s.probeRequest, 0, 0, nullptr, 0);
}

bool Client::claimsProvenSender(const std::string &cameraId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const Session *s = findSession(cameraId);
    return s && s->version >= kVersionProvenSender;
}

void Client::handlePresence(const Envelope &env, bool onInbox)
{
    if (env.bodySize < body::kPresence) {
        dropEnvelope("presence", "presence body too short");
        return;
    }
    bool terminated = false;
    const std::string cam = fieldString(env.body, kCameraIdSize, &terminated);
    if (!terminated || cam != env.from)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    Session *s = findSession(cam);
    if (onInbox) {
        // On the inbox a Presence is only the answer to our last probe of
        // that camera, and a camera that answers is online: anything else
        // is someone speaking for the camera.
        if (!s || s->probeRequest == 0 || env.request != s->probeRequest || env.status != 1) {
            dropEnvelope("inbox", "presence that answers no probe");
            return;
        }
        s->probeRequest = 0;
    }
    if (!s)
        return;
    s->presenceSeen = true;
    s->online = env.status == 1;
    s->probeDueMs = 0;
    if (env.bodySize >= body::kPresenceV2)
        s->version = std::max(s->version, announcedVersion(env.body, env.bodySize, body::kPresence));
    if (!s->online && s->state == kSessionUp)
        markLost(*s, "camera offline");
    if (s->online && s->state == kSessionLost)
        s->lastRetryMs = 0;
    m_cv.notify_all();
}

void Client::handleReply(const Envelope &env)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (env.kind == Kind::Pong || env.kind == Kind::SessionClose) {
        Session *s = sessionForEnvelope(env);
        if (!s)
            return;
        if (env.kind == Kind::Pong)
            s->lastHeardMs = monotonicMs();
        else if (s->state == kSessionUp)
            markLost(*s, "camera closed the session");
        return;
    }
    if (env.kind != Kind::Marker) {
        // Replies come from the camera of the session they belong to.
        if (!sessionForEnvelope(env))
            return;
    }
    auto it = m_pending.find(env.request);
    if (it != m_pending.end()) {
        Pending &p = *it->second;
        if (p.expect != env.kind && env.kind != Kind::Error)
            return;
        if (env.kind == Kind::Marker && env.from != m_clientId)
            return;
        p.status = env.kind == Kind::Error && env.status == kOk ? kErrBadRequest : env.status;
        p.body.assign(env.body, env.body + env.bodySize);
        p.done = true;
        if (Session *s = findSession(env.from))
            s->lastHeardMs = monotonicMs();
        m_cv.notify_all();
        return;
    }
    // Answer to a background re-establishment.
    auto re = m_reopening.find(env.request);
    if (re == m_reopening.end())
        return;
    const std::string cam = re->second;
    m_reopening.erase(re);
    Session *s = findSession(cam);
    if (!s || env.kind != Kind::SessionAccept || s->state != kSessionLost)
        return;
    if (env.status != kOk || env.bodySize < body::kSessionAccept)
        return;
    s->state = kSessionUp;
    s->version = announcedVersion(env.body, env.bodySize, body::kSessionAccept);
    s->lastHeardMs = monotonicMs();
    s->lastPingMs = s->lastHeardMs;
    WriteLog(0, "[P2P]Session with camera(%s) re-established!!!", cam.c_str());
    const uint32_t id = s->id;
    resumeChannels(*s);
    lock.unlock();
    dispatch(DispatchItem{true, kEventSessionUp, int32_t(id), cam, {}});
}

void Client::handleFrame(const Envelope &env)
{
    std::shared_ptr<Channel> ch;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Session *s = sessionForEnvelope(env);
        if (!s || env.channel >= P2P_STREAM_DESCR_COUNT)
            return;
        s->lastHeardMs = monotonicMs();
        ch = s->streams[env.channel];
    }
    if (!ch)
        return;
    if (env.bodySize < body::kFrameHead) {
        dropEnvelope("frame", "frame shorter than its head");
        return;
    }
    DeliveryItem item;
    item.media = env.body[0];
    item.flags = env.body[1];
    if (item.media != kMediaVideo && item.media != kMediaAudio) {
        dropEnvelope("frame", "unknown media type");
        return;
    }
    item.value = int32_t(getU32(env.body + 8));
    item.sentUs = int64_t(getU64(env.body + 16));
    if (item.media == kMediaVideo) {
        // Frames the relay lost: what follows up to a key frame would only
        // decode (and be recorded) as garbage.
        if (const uint32_t missing = ch->noteVideoNumber(getU32(env.body + 4))) {
            m_missing.fetch_add(missing);
            WriteLog(3, "%s(%d):Stream(%u) of camera(%s) lost %u frame(s) on the way, waiting for a key frame!!!",
                     "varno::p2p::Client", __LINE__, unsigned(env.channel), env.from.c_str(), unsigned(missing));
        }
    }
    item.data.assign(env.body + body::kFrameHead, env.body + env.bodySize);
    if (!ch->push(std::move(item)))
        m_dropped.fetch_add(1);
}

void Client::handlePlayData(const Envelope &env)
{
    std::shared_ptr<Channel> ch;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Session *s = sessionForEnvelope(env);
        if (!s)
            return;
        auto it = s->transfers.find(env.channel);
        if (it == s->transfers.end() || it->second->type() != Channel::Type::Playback)
            return;
        ch = it->second;
    }
    if (env.bodySize < body::kPlayHead) {
        dropEnvelope("playback", "data shorter than its head");
        return;
    }
    DeliveryItem item;
    item.media = env.body[0];
    item.flags = env.body[1];
    if (item.media != kMediaVideo && item.media != kMediaAudio) {
        dropEnvelope("playback", "unknown media type");
        return;
    }
    item.value = int32_t(getU32(env.body + 4));
    item.dispatchMark = m_progress->queued.load();
    item.data.assign(env.body + body::kPlayHead, env.body + env.bodySize);
    if (!ch->push(std::move(item)))
        m_dropped.fetch_add(1);
}

void Client::handleDownloadData(const Envelope &env)
{
    std::shared_ptr<Channel> ch;
    std::string cam;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Session *s = sessionForEnvelope(env);
        if (!s)
            return;
        auto it = s->transfers.find(env.channel);
        if (it == s->transfers.end() || it->second->type() != Channel::Type::Download)
            return;
        ch = it->second;
        cam = s->cameraId;
    }
    if (env.bodySize < body::kDownloadHead) {
        dropEnvelope("download", "data shorter than its head");
        return;
    }
    const uint32_t offset = getU32(env.body);
    const size_t n = env.bodySize - body::kDownloadHead;
    std::lock_guard<std::mutex> lock(m_mutex);
    // Pieces must continue where the queued data ends; repeats after a
    // re-establishment are trimmed, a gap is dropped (the camera is asked
    // again from the queued end when the session is re-established).
    const uint32_t queuedEnd = ch->queuedEnd;
    if (offset > queuedEnd) {
        dropEnvelope("download", "gap in the data");
        return;
    }
    const uint64_t end = uint64_t(offset) + n;
    if (end <= queuedEnd || end > 0xffffffffull)
        return;
    const size_t skip = queuedEnd - offset;
    DeliveryItem item;
    item.media = 0;
    item.value = int32_t(queuedEnd);
    item.data.assign(env.body + body::kDownloadHead + skip, env.body + env.bodySize);
    if (!ch->push(std::move(item))) {
        dropEnvelope("download", "camera ignored the flow-control window");
        return;
    }
    ch->queuedEnd = uint32_t(end);
    (void)cam;
}

void Client::handleTransferEnd(const Envelope &env)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Session *s = sessionForEnvelope(env);
    if (!s)
        return;
    auto it = s->transfers.find(env.channel);
    if (it == s->transfers.end())
        return;
    it->second->ended = true;
    if (env.status != kOk)
        WriteLog(3, "%s(%d):Camera(%s) ended transfer of file(%s), status(%d)!!!",
                 "varno::p2p::Client", __LINE__, s->cameraId.c_str(), it->second->fileName.c_str(),
                 env.status);
}

void Client::handleMessage(const Envelope &env)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Session *s = findSession(env.from);
        // Messages from cameras this client never asked are not passed on.
        if (!s)
            return;
        s->lastHeardMs = monotonicMs();
        if (env.status == P2P_MSG_PASSWORD_CHANGE_RSP)
            notePasswordChange(*s, env.body, env.bodySize);
    }
    DispatchItem item;
    item.type = env.status;
    item.cameraId = env.from;
    item.payload.assign(env.body, env.body + env.bodySize);
    dispatch(std::move(item));
}

void Client::notePasswordChange(Session &s, const uint8_t *reply, size_t size)
{
    // m_mutex held.
    if (s.passwordChanges.empty() || size < sizeof(PASSWORD_CHANGE_RSP_S))
        return;
    PASSWORD_CHANGE_RSP_S rsp;
    std::memcpy(&rsp, reply, sizeof(rsp));
    // The answer echoes the request's number; a camera that does not echo
    // it still answers the one change in flight.
    auto it = std::find_if(s.passwordChanges.begin(), s.passwordChanges.end(),
                           [&](const auto &c) { return c.first == rsp.random; });
    if (it == s.passwordChanges.end()) {
        if (s.passwordChanges.size() != 1)
            return;
        it = s.passwordChanges.begin();
    }
    const std::string password = it->second;
    s.passwordChanges.erase(it);
    if (rsp.result != 0)
        return;
    for (auto &ch : s.streams)
        if (ch)
            ch->password = password;
    for (auto &[id, ch] : s.transfers)
        ch->password = password;
    WriteLog(0, "[P2P]Camera(%s) password changed, open streams follow it!!!", s.cameraId.c_str());
}

// ---------------------------------------------------------------- threads

void Client::dispatch(DispatchItem &&item)
{
    std::lock_guard<std::mutex> lock(m_dispatchMutex);
    if (m_dispatchQueue.size() >= kDispatchMaxItems
        || m_dispatchBytes + item.payload.size() > kDispatchMaxBytes) {
        WriteLog(3, "%s(%d):Message queue full, message type(%d) from(%s) dropped!!!",
                 "varno::p2p::Client::dispatch", __LINE__, item.type, item.cameraId.c_str());
        return;
    }
    m_dispatchBytes += item.payload.size();
    m_dispatchQueue.push_back(std::move(item));
    m_progress->queued.fetch_add(1);
    m_dispatchCv.notify_one();
}

void Client::dispatcherLoop()
{
    enterLibraryThread();
    for (;;) {
        DispatchItem item;
        {
            std::unique_lock<std::mutex> lock(m_dispatchMutex);
            m_dispatchCv.wait(lock, [this] { return m_stop.load() || !m_dispatchQueue.empty(); });
            if (m_stop.load()) {
                m_progress->stopped.store(true);
                return;
            }
            item = std::move(m_dispatchQueue.front());
            m_dispatchQueue.pop_front();
            m_dispatchBytes -= item.payload.size();
        }
        P2P_STATUS_CB statusCb;
        intptr_t statusUser;
        P2P_MSG_CB msgCb;
        void *msgUser;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            statusCb = m_statusCb;
            statusUser = m_statusUser;
            msgCb = m_msgCb;
            msgUser = m_msgUser;
        }
        if (item.isStatus) {
            if (statusCb)
                statusCb(item.type, item.value, 0, int32_t(statusUser));
        } else if (msgCb) {
            // The camera ID text is NUL-terminated; the payload lives until
            // the callback returns.
            msgCb(item.type, reinterpret_cast<const char *>(item.payload.data()),
                  int32_t(item.payload.size()), item.cameraId.c_str(), msgUser);
        }
        m_progress->done.fetch_add(1);
    }
}

void Client::markLost(Session &s, const char *why)
{
    // m_mutex held.
    if (s.state != kSessionUp)
        return;
    s.state = kSessionLost;
    s.lastRetryMs = monotonicMs();
    WriteLog(3, "%s(%d):Session with camera(%s) lost: %s!!!", "varno::p2p::Client", __LINE__,
             s.cameraId.c_str(), why);
    DispatchItem item{true, kEventSessionLost, int32_t(s.id), s.cameraId, {}};
    // dispatch takes only its own lock.
    dispatch(std::move(item));
}

void Client::reestablish(Session &s)
{
    // m_mutex held; the session is Lost and the relay is up.
    const uint32_t request = nextRequest();
    m_reopening[request] = s.cameraId;
    s.lastRetryMs = monotonicMs();
    sendToCamera(s, Kind::SessionOpen, request, 0, 0, nullptr, 0);
}

void Client::resumeChannelsFor(const std::string &cameraId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (Session *s = findSession(cameraId))
        resumeChannels(*s);
}

void Client::resumeChannels(Session &s)
{
    // m_mutex held; the session has just come up again. Streams, playbacks
    // and downloads that were running are asked for again; their answers
    // are not waited for.
    for (int i = 0; i < P2P_STREAM_DESCR_COUNT; ++i) {
        const auto &ch = s.streams[i];
        if (!ch)
            continue;
        uint8_t b[body::kStreamOpen] = {};
        authBody(b, ch->password);
        for (int k = 0; k < 3; ++k)
            putU32(b + body::kAuth + 4 * k, uint32_t(ch->params[k]));
        sendToCamera(s, Kind::StreamOpen, nextRequest(), uint32_t(i), 0, b, sizeof(b));
    }
    for (auto &[id, ch] : s.transfers) {
        if (ch->ended)
            continue;
        if (ch->type() == Channel::Type::Playback) {
            uint8_t b[body::kPlayStart] = {};
            authBody(b, ch->password);
            putU32(b + body::kAuth, uint32_t(ch->lastSecond.load()));
            putField(b + body::kAuth + 4, kFileNameSize, ch->fileName);
            sendToCamera(s, Kind::PlayStart, nextRequest(), id, 0, b, sizeof(b));
        } else {
            // Resume behind what is already queued for the user.
            const uint32_t from = ch->queuedEnd;
            uint8_t b[body::kDownloadStart] = {};
            authBody(b, ch->password);
            putU32(b + body::kAuth, from);
            putField(b + body::kAuth + 4, kFileNameSize, ch->fileName);
            sendToCamera(s, Kind::DownloadStart, nextRequest(), id, 0, b, sizeof(b));
        }
    }
}

std::vector<std::shared_ptr<Channel>> Client::takeRetired(const std::string &cameraId, const std::string &fileName,
                                                          Channel::Type type)
{
    // m_mutex held. Out of the list, so that only the caller joins them.
    std::vector<std::shared_ptr<Channel>> taken;
    for (auto it = m_retired.begin(); it != m_retired.end();) {
        if ((*it)->type() == type && (*it)->camera == cameraId && (*it)->fileName == fileName) {
            taken.push_back(*it);
            it = m_retired.erase(it);
        } else {
            ++it;
        }
    }
    return taken;
}

void Client::retire(const std::shared_ptr<Channel> &channel)
{
    // m_mutex held.
    channel->requestStop();
    m_retired.push_back(channel);
}

void Client::stopAllChannels(Session &s, bool)
{
    // m_mutex held.
    for (auto &ch : s.streams)
        if (ch) {
            retire(ch);
            ch.reset();
        }
    for (auto &[id, ch] : s.transfers)
        retire(ch);
    s.transfers.clear();
}

void Client::housekeepingLoop()
{
    enterLibraryThread();
    while (!m_stop.load()) {
        std::vector<std::shared_ptr<Channel>> finished;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_cv.wait_for(lock, std::chrono::milliseconds(200), [this] { return m_stop.load(); });
            if (m_stop.load())
                break;
            const int64_t now = monotonicMs();
            for (auto &[id, s] : m_sessions) {
                if (s.probeDueMs && now >= s.probeDueMs)
                    sendProbe(s);
                else if (s.state == kSessionLost && s.presenceSeen && !s.online
                         && now - s.lastProbeMs >= kProbeIntervalMs)
                    sendProbe(s);   // its coming back may have gone to another node
                if (s.state == kSessionUp) {
                    if (now - s.lastPingMs >= kPingIntervalMs) {
                        s.lastPingMs = now;
                        sendToCamera(s, Kind::Ping, 0, 0, 0, nullptr, 0, 0);
                    }
                    if (now - s.lastHeardMs >= kSessionLostMs)
                        markLost(s, "no answer to pings");
                } else if (s.state == kSessionLost && m_connected.load()
                           && (!s.presenceSeen || s.online) && now - s.lastRetryMs >= 2000) {
                    reestablish(s);
                }
            }
            for (auto it = m_retired.begin(); it != m_retired.end();) {
                if ((*it)->finished() || it->use_count() == 1) {
                    finished.push_back(*it);
                    it = m_retired.erase(it);
                } else {
                    ++it;
                }
            }
        }
        for (auto &c : finished)
            c->join(kStopWaitMs);
    }
}

void Client::addTestSession(const std::string &cameraId, uint32_t sessionId, P2P_FRAME_CB liveCallback,
                            void *liveUser)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Session &s = m_sessions[cameraId];
    s.cameraId = cameraId;
    s.id = sessionId;
    s.state = kSessionUp;
    s.lastHeardMs = monotonicMs();
    s.lastPingMs = s.lastHeardMs;
    std::vector<uint8_t> descr(P2P_STREAM_DESCR_SIZE, 0);
    P2P_FRAME_CB none = [](P2P_HANDLE, const char *, const int32_t *, int32_t, const char *, int32_t, void *) {
        return 0;
    };
    s.streams[0] = makeLiveChannel(s, 0, descr, liveCallback ? liveCallback : none, liveUser);
    auto play = std::make_shared<Channel>(Channel::Type::Playback, ++m_channelCounter, kPlayMaxItems,
                                          kPlayMaxBytes);
    play->fileName = "test-playback";
    play->start([](DeliveryItem &) {});
    s.transfers[play->id()] = play;
    auto dl = std::make_shared<Channel>(Channel::Type::Download, ++m_channelCounter,
                                        kDownloadMaxItems, kDownloadMaxBytes);
    dl->fileName = "test-download";
    dl->start([](DeliveryItem &) {});
    s.transfers[dl->id()] = dl;
}

} // namespace varno::p2p
