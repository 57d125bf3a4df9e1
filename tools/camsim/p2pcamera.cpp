#include "tools/camsim/p2pcamera.h"

#include "platform/p2p/p2p_client.h"

#include <QHash>

#include <mosquitto.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace varno::camsim {

using namespace varno::p2p;

namespace {

constexpr int kAlarmsPerMessage = 8;

std::vector<uint8_t> readWholeFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

QDateTime parseTimeText(const char *field, size_t size)
{
    // The first 19 characters "yyyy-MM-dd hh:mm:ss"; whatever follows (the
    // client may leave a file suffix there) is ignored.
    const size_t n = ::strnlen(field, size);
    if (n < 19)
        return QDateTime();
    return QDateTime::fromString(QString::fromLatin1(field, 19), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

} // namespace

P2pCamera::P2pCamera(const P2pCameraConfig &config, const BrokerConfig &broker, const QString &storage)
    : m_config(config), m_broker(broker), m_storageDir(storage), m_password(config.password.toStdString()),
      m_answerDelayMs(config.answerDelayMs)
{
}

P2pCamera::~P2pCamera()
{
    stop();
    if (m_mosq)
        mosquitto_destroy(m_mosq);
}

std::string P2pCamera::password() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_password;
}

void P2pCamera::setFrameObserver(std::function<void(int, uint32_t, int64_t)> observer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frameObserver = std::move(observer);
}

bool P2pCamera::start(QString *error)
{
    const uint32_t seed = uint32_t(qHash(m_config.deviceId)) | 1u;
    m_seed = seed;
    if (!m_hd.encode(m_config.hd, seed) || !m_sd.encode(m_config.sd, seed * 7u + 3u)) {
        if (error)
            *error = QStringLiteral("video: %1 %2").arg(QString::fromStdString(m_hd.error()),
                                                        QString::fromStdString(m_sd.error()));
        return false;
    }
    m_tone = alawTone(m_config.toneHz);
    std::string why;
    const std::string dir = (m_storageDir.isEmpty() ? QStringLiteral(".") : m_storageDir).toStdString()
                            + "/" + m_config.deviceId.toStdString();
    if (!m_storage.build(dir, m_config.deviceId.toStdString(), m_config.recordings.count,
                         m_config.recordings.seconds, m_config.recordings.first,
                         m_config.recordings.intervalSeconds, m_hd, m_tone, &why)) {
        if (error)
            *error = QString::fromStdString("storage: " + why);
        return false;
    }
    static const int32_t kTypes[] = {1, 2, 11, 12, 31, 32, 7};
    m_alarms.clear();
    for (int i = 0; i < m_config.alarms.count; ++i) {
        ALARM_ITEM_S a;
        std::memset(&a, 0, sizeof(a));
        a.type = kTypes[i % 7];
        a.time = int32_t(m_config.alarms.first.addSecs(qint64(i) * m_config.alarms.intervalSeconds)
                             .toSecsSinceEpoch());
        a.seq = i + 1;
        std::snprintf(a.text, sizeof(a.text), "%s alarm %d", m_config.deviceId.toUtf8().constData(), i + 1);
        m_alarms.push_back(a);
    }
    if (!connectRelay(error))
        return false;
    m_stop.store(false);
    m_pump = std::thread([this] { pumpLoop(); });
    return true;
}

void P2pCamera::stop()
{
    m_stop.store(true);
    m_cv.notify_all();
    if (m_pump.joinable())
        m_pump.join();
    disconnectRelay();
}

bool P2pCamera::connectRelay(QString *error)
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
    const std::string cam = m_config.p2pId.toStdString();
    if (!m_mosq) {
        m_mosq = mosquitto_new(("varno-cam-" + cam).c_str(), true, this);
        if (!m_mosq) {
            if (error)
                *error = QStringLiteral("mosquitto_new failed");
            return false;
        }
        mosquitto_connect_callback_set(m_mosq, &P2pCamera::onConnect);
        mosquitto_message_callback_set(m_mosq, &P2pCamera::onMessage);
        mosquitto_publish_callback_set(m_mosq, &P2pCamera::onPublished);
        mosquitto_reconnect_delay_set(m_mosq, 1, 2, false);
        const QString user = m_config.brokerUser.isEmpty() ? m_broker.user : m_config.brokerUser;
        const QString pass = m_config.brokerUser.isEmpty() ? m_broker.password : m_config.brokerPassword;
        if (!user.isEmpty())
            mosquitto_username_pw_set(m_mosq, user.toUtf8().constData(), pass.toUtf8().constData());
        if (!m_broker.caFile.isEmpty()
            && mosquitto_tls_set(m_mosq, m_broker.caFile.toUtf8().constData(), nullptr, nullptr, nullptr,
                                 nullptr)
                   != MOSQ_ERR_SUCCESS) {
            if (error)
                *error = QStringLiteral("TLS set-up failed with %1").arg(m_broker.caFile);
            return false;
        }
        // The relay announces the camera offline when the connection dies.
        const auto ident = identityBody();
        const auto offline = encode(Kind::Presence, cam, 0, 0, 0, 0, ident.data(), ident.size());
        mosquitto_will_set(m_mosq, cameraPresence(cam).c_str(), int(offline.size()), offline.data(), 1, true);
    }
    const int rc = mosquitto_connect(m_mosq, m_broker.host.toUtf8().constData(), m_broker.port, 10);
    if (rc != MOSQ_ERR_SUCCESS) {
        if (error)
            *error = QStringLiteral("cannot reach the relay %1:%2 (%3)")
                         .arg(m_broker.host)
                         .arg(m_broker.port)
                         .arg(QString::fromUtf8(mosquitto_strerror(rc)));
        return false;
    }
    m_leaving.store(false);
    mosquitto_loop_start(m_mosq);
    m_loop = true;
    const int64_t end = monotonicMs() + 5000;
    while (!m_online.load() && monotonicMs() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!m_online.load()) {
        if (error)
            *error = QStringLiteral("relay did not accept the camera");
        return false;
    }
    return true;
}

void P2pCamera::disconnectRelay()
{
    if (!m_mosq || !m_loop)
        return;
    const std::string cam = m_config.p2pId.toStdString();
    const auto ident = identityBody();
    const auto offline = encode(Kind::Presence, cam, 0, 0, 0, 0, ident.data(), ident.size());
    // From here on the camera answers nothing: a presence probe answered
    // after the offline announcement would tell the client it is back.
    m_leaving.store(true);
    publishConfirmed(cameraPresence(cam), offline, true, 2000);
    mosquitto_disconnect(m_mosq);
    mosquitto_loop_stop(m_mosq, false);
    m_loop = false;
    m_online.store(false);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sessions.clear();
    m_delayed.clear();
}

// Presence and License bodies: camera ID, device ID, and from version 2 on
// the protocol version the camera speaks.
std::vector<uint8_t> P2pCamera::identityBody() const
{
    const bool v2 = m_config.protocol >= 2;
    std::vector<uint8_t> b(v2 ? body::kPresenceV2 : body::kPresence, 0);
    putField(b.data(), kCameraIdSize, m_config.p2pId.toStdString());
    putField(b.data() + kCameraIdSize, kDeviceIdSize, m_config.deviceId.toStdString());
    if (v2)
        putU32(b.data() + body::kPresence, uint32_t(m_config.protocol));
    return b;
}

void P2pCamera::onConnect(mosquitto *, void *obj, int rc)
{
    auto *self = static_cast<P2pCamera *>(obj);
    if (rc != 0)
        return;
    self->announce();
    self->m_online.store(true);
}

void P2pCamera::announce()
{
    const std::string cam = m_config.p2pId.toStdString();
    const std::string dev = m_config.deviceId.toStdString();
    mosquitto_subscribe(m_mosq, nullptr, cameraInbox(cam).c_str(), 1);
    if (m_config.protocol >= 2)
        mosquitto_subscribe(m_mosq, nullptr, lookupTopic(dev).c_str(), 1);
    const auto body = identityBody();
    publish(cameraPresence(cam), encode(Kind::Presence, cam, 0, 0, 0, 1, body.data(), body.size()), 1, true);
    publish(licenseTopic(dev), encode(Kind::License, cam, 0, 0, 0, 0, body.data(), body.size()), 1, true);
}

void P2pCamera::onMessage(mosquitto *, void *obj, const mosquitto_message *msg)
{
    auto *self = static_cast<P2pCamera *>(obj);
    if (self->m_leaving.load())
        return;
    Envelope env;
    if (!msg || decode(msg->payload, msg->payloadlen > 0 ? size_t(msg->payloadlen) : 0, env)
                    != DecodeError::Ok)
        return;
    self->handle(env);
}

void P2pCamera::onPublished(mosquitto *, void *obj, int mid)
{
    auto *self = static_cast<P2pCamera *>(obj);
    {
        std::lock_guard<std::mutex> lock(self->m_ackMutex);
        self->m_acked.push_back(mid);
        if (self->m_acked.size() > 64)
            self->m_acked.erase(self->m_acked.begin());
    }
    self->m_ackCv.notify_all();
}

bool P2pCamera::publishConfirmed(const std::string &topic, const std::vector<uint8_t> &payload,
                                 bool retain, int timeoutMs)
{
    if (!m_mosq)
        return false;
    std::unique_lock<std::mutex> lock(m_ackMutex);
    int mid = 0;
    if (mosquitto_publish(m_mosq, &mid, topic.c_str(), int(payload.size()), payload.data(), 1, retain)
        != MOSQ_ERR_SUCCESS)
        return false;
    return m_ackCv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return std::find(m_acked.begin(), m_acked.end(), mid) != m_acked.end();
    });
}

void P2pCamera::publish(const std::string &topic, const std::vector<uint8_t> &payload, int qos, bool retain)
{
    if (m_mosq)
        mosquitto_publish(m_mosq, nullptr, topic.c_str(), int(payload.size()), payload.data(), qos, retain);
}

// Version 3 cameras answer on the client's inbox topic that names them,
// which the relay's rules let no other camera write.
std::string P2pCamera::replyTopic(const std::string &client) const
{
    if (m_config.protocol >= kVersionProvenSender)
        return clientInboxFrom(client, m_config.p2pId.toStdString());
    return clientInbox(client);
}

void P2pCamera::reply(const std::string &client, const Session &s, Kind kind, uint32_t request,
                      uint32_t channel, int32_t status, const void *body, size_t size, int qos)
{
    auto bytes = encode(kind, m_config.p2pId.toStdString(), s.id, request, channel, status, body, size);
    // A slow camera answers requests late; a ping is the relay's business.
    if (m_answerDelayMs > 0 && request != 0 && kind != Kind::Pong) {
        m_delayed.push_back({monotonicMs() + m_answerDelayMs, replyTopic(client), std::move(bytes)});
        return;
    }
    publish(replyTopic(client), bytes, qos, false);
}

void P2pCamera::sendMessage(const std::string &client, const Session &s, int32_t type,
                            const void *payload, size_t size)
{
    // m_mutex held. Faults apply to camera messages only.
    if (m_dropReplies > 0) {
        --m_dropReplies;
        return;
    }
    auto bytes = encode(Kind::Message, m_config.p2pId.toStdString(), s.id, 0, 0, type, payload, size);
    const int delayMs = std::max(m_delayMs, m_answerDelayMs);
    if (delayMs > 0) {
        m_delayed.push_back({monotonicMs() + delayMs, replyTopic(client), std::move(bytes)});
        return;
    }
    publish(replyTopic(client), bytes, 1, false);
}

bool P2pCamera::authOk(const uint8_t *auth) const
{
    // m_mutex held.
    if (m_refusePassword)
        return false;
    return checkToken(m_password.c_str(), int32_t(getU32(auth)), auth + 4);
}

bool P2pCamera::tokenOk(const char *token, int32_t number) const
{
    if (m_refusePassword)
        return false;
    return checkToken(m_password.c_str(), number, reinterpret_cast<const uint8_t *>(token));
}

std::vector<uint8_t> P2pCamera::descriptions() const
{
    // m_mutex held.
    const int count = std::clamp(m_descrCount, 0, 2);
    std::vector<uint8_t> out(4 + size_t(count) * P2P_STREAM_DESCR_SIZE, 0);
    putU32(out.data(), uint32_t(count));
    for (int i = 0; i < count; ++i) {
        const VideoLoop &v = video(i);
        P2P_STREAM_DESCR_S d;
        std::memset(&d, 0, sizeof(d));
        std::strncpy(d.devId, m_config.deviceId.toUtf8().constData(), sizeof(d.devId) - 1);
        d.streamIndex = i;
        d.videoCodec = v.h265() ? P2P_VIDEO_H265 : P2P_VIDEO_H264;
        d.enabled = 0;
        d.audioCodec = P2P_AUDIO_G711A;
        d.videoBitRate = v.settings().kbps;
        d.keyInterval = v.settings().fps * v.settings().keySeconds;
        d.frameRate = uint8_t(v.settings().fps);
        d.audioChannels = 1;
        d.width = v.settings().width;
        d.height = v.settings().height;
        d.audioBitRate = 64000;
        d.audioBits = 8;
        d.audioSampleRate = 8000;
        // H.264 parameter sets only: an H.265 stream needs its VPS as
        // well, which has no place here; its frames carry all three.
        const bool fits = !v.h265() && v.sps().size() <= sizeof(d.sps) && v.pps().size() <= sizeof(d.pps);
        d.spsLen = fits ? uint8_t(v.sps().size()) : 0;
        d.ppsLen = fits ? uint8_t(v.pps().size()) : 0;
        std::memcpy(d.sps, v.sps().data(), d.spsLen);
        std::memcpy(d.pps, v.pps().data(), d.ppsLen);
        std::memcpy(out.data() + 4 + size_t(i) * P2P_STREAM_DESCR_SIZE, &d, sizeof(d));
    }
    return out;
}

void P2pCamera::handle(const Envelope &env)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string &client = env.from;
    if (!validTopicId(client))
        return;
    // A camera of version 1 does not know newer envelopes.
    if (env.version > m_config.protocol)
        return;
    if (env.kind == Kind::Lookup || env.kind == Kind::PresenceProbe) {
        // Answered on the asker's inbox, outside any session: the relay may
        // not have handed the retained License or Presence to that client.
        const auto ident = identityBody();
        const Kind kind = env.kind == Kind::Lookup ? Kind::License : Kind::Presence;
        const int32_t status = env.kind == Kind::Lookup ? 0 : 1;
        publish(replyTopic(client),
                encode(kind, m_config.p2pId.toStdString(), 0, env.request, 0, status, ident.data(),
                       ident.size()),
                1, false);
        return;
    }
    if (env.kind == Kind::SessionOpen) {
        Session &s = m_sessions[client];
        // A new session, or the same one coming back after a relay outage:
        // everything it had open is asked for again by the client.
        if (s.id != env.session)
            sessionEnds(client);
        s = Session();
        s.id = env.session;
        s.lastHeardMs = monotonicMs();
        uint8_t b[body::kSessionAcceptV2] = {};
        putField(b, kDeviceIdSize, m_config.deviceId.toStdString());
        putU32(b + kDeviceIdSize, uint32_t(std::clamp(m_descrCount, 0, 2)));
        putU32(b + kDeviceIdSize + 4, uint32_t(monotonicUs()));
        putU32(b + body::kSessionAccept, uint32_t(m_config.protocol));
        reply(client, s, Kind::SessionAccept, env.request, 0, kOk, b,
              m_config.protocol >= 2 ? body::kSessionAcceptV2 : body::kSessionAccept);
        return;
    }
    auto it = m_sessions.find(client);
    if (it == m_sessions.end() || it->second.id != env.session) {
        Session none;
        none.id = env.session;
        if (env.kind != Kind::DownloadAck && env.kind != Kind::Ping)
            reply(client, none, Kind::Error, env.request, env.channel, kErrNoSession, nullptr, 0);
        return;
    }
    Session &s = it->second;
    s.lastHeardMs = monotonicMs();
    switch (env.kind) {
    case Kind::Ping:
        reply(client, s, Kind::Pong, env.request, 0, kOk, nullptr, 0, 0);
        break;
    case Kind::SessionClose:
        sessionEnds(client);
        m_sessions.erase(it);
        break;
    case Kind::DescrReq: {
        if (m_failDescr > 0) {
            --m_failDescr;
            reply(client, s, Kind::DescrRsp, env.request, 0, kErrRefused, nullptr, 0);
            break;
        }
        const auto d = descriptions();
        reply(client, s, Kind::DescrRsp, env.request, 0, kOk, d.data(), d.size());
        break;
    }
    case Kind::StreamOpen: {
        if (env.bodySize < body::kStreamOpen) {
            reply(client, s, Kind::StreamOpenRsp, env.request, env.channel, kErrBadRequest, nullptr, 0);
            break;
        }
        // Only the streams the camera describes exist.
        if (env.channel >= uint32_t(std::clamp(m_descrCount, 0, 2))) {
            reply(client, s, Kind::StreamOpenRsp, env.request, env.channel, kErrNoSuchStream, nullptr, 0);
            break;
        }
        if (!authOk(env.body)) {
            reply(client, s, Kind::StreamOpenRsp, env.request, env.channel, kErrRefused, nullptr, 0);
            const int32_t index = int32_t(env.channel);
            sendMessage(client, s, P2P_MSG_STREAM_PASSWORD, &index, sizeof(index));
            break;
        }
        LiveSub &sub = s.live[env.channel];
        sub = LiveSub();
        sub.open = true;
        sub.nextDueUs = monotonicUs() + int64_t(m_answerDelayMs) * 1000;
        sub.t0Ms = monotonicMs();
        if (m_config.ptz) {
            // The picture follows the head: encoded as it is sent.
            sub.view = std::make_shared<LiveVideo>();
            const uint32_t seed = env.channel == 0 ? m_seed : m_seed * 7u + 3u;
            if (!sub.view->open(video(int(env.channel)).settings(), seed))
                sub.view.reset();
        }
        reply(client, s, Kind::StreamOpenRsp, env.request, env.channel, kOk, nullptr, 0);
        break;
    }
    case Kind::StreamClose:
        if (env.channel <= 1)
            s.live[env.channel].open = false;
        break;
    case Kind::PlayStart: {
        if (env.bodySize < body::kPlayStart) {
            reply(client, s, Kind::PlayStartRsp, env.request, env.channel, kErrBadRequest, nullptr, 0);
            break;
        }
        if (!authOk(env.body)) {
            reply(client, s, Kind::PlayStartRsp, env.request, env.channel, kErrRefused, nullptr, 0);
            break;
        }
        const int32_t startSecond = int32_t(getU32(env.body + body::kAuth));
        bool terminated = false;
        const std::string name = fieldString(env.body + body::kAuth + 4, kFileNameSize, &terminated);
        const Recording *rec = terminated ? m_storage.find(name) : nullptr;
        Playback pb;
        CAMFILE_HEADER_S header;
        std::string why;
        if (!rec || !readCameraFile(rec->path, header, pb.chunks, &why) || pb.chunks.empty()) {
            reply(client, s, Kind::PlayStartRsp, env.request, env.channel, kErrNoSuchFile, nullptr, 0);
            break;
        }
        pb.name = name;
        pb.file = readWholeFile(rec->path);
        pb.fileStartTs = pb.chunks.front().timestampUs;
        // Start at the first key frame at or after the second asked for
        // (the last key frame when the file ends before it).
        size_t startIdx = 0;
        bool found = false;
        for (size_t i = 0; i < pb.chunks.size(); ++i) {
            const auto &c = pb.chunks[i];
            if (!c.video || !c.key)
                continue;
            startIdx = i;
            if (c.timestampUs - pb.fileStartTs >= uint64_t(std::max(0, startSecond)) * 1000000) {
                found = true;
                break;
            }
        }
        (void)found;
        pb.next = startIdx;
        pb.baseTs = pb.chunks[startIdx].timestampUs;
        // Message 14 goes out now; the data follows 100 ms later so that
        // the client has the length before the first frame.
        pb.wallStartUs = monotonicUs() + 100000 + int64_t(m_answerDelayMs) * 1000;
        const int32_t length = header.duration;
        uint8_t rsp[body::kPlayStartRsp];
        putU32(rsp, uint32_t(length));
        reply(client, s, Kind::PlayStartRsp, env.request, env.channel, kOk, rsp, sizeof(rsp));
        // The length of the file goes first as message 14.
        PLAY_LENGTH_S len{length, 0};
        sendMessage(client, s, P2P_MSG_PLAY_LENGTH, &len, sizeof(len));
        s.playbacks[env.channel] = std::move(pb);
        break;
    }
    case Kind::PlayStop:
        s.playbacks.erase(env.channel);
        break;
    case Kind::DownloadStart: {
        if (env.bodySize < body::kDownloadStart) {
            reply(client, s, Kind::DownloadStartRsp, env.request, env.channel, kErrBadRequest, nullptr, 0);
            break;
        }
        if (!authOk(env.body)) {
            reply(client, s, Kind::DownloadStartRsp, env.request, env.channel, kErrRefused, nullptr, 0);
            break;
        }
        const uint32_t offset = getU32(env.body + body::kAuth);
        bool terminated = false;
        const std::string name = fieldString(env.body + body::kAuth + 4, kFileNameSize, &terminated);
        const Recording *rec = terminated ? m_storage.find(name) : nullptr;
        if (!rec) {
            reply(client, s, Kind::DownloadStartRsp, env.request, env.channel, kErrNoSuchFile, nullptr, 0);
            break;
        }
        Download dl;
        dl.name = name;
        dl.file = readWholeFile(rec->path);
        dl.offset = std::min<uint32_t>(offset, uint32_t(dl.file.size()));
        dl.acked = dl.offset;
        dl.notBeforeMs = monotonicMs() + m_answerDelayMs;
        dl.lastAckMs = dl.notBeforeMs;
        uint8_t rsp[body::kDownloadStartRsp];
        putU32(rsp, uint32_t(dl.file.size()));
        reply(client, s, Kind::DownloadStartRsp, env.request, env.channel, kOk, rsp, sizeof(rsp));
        s.downloads[env.channel] = std::move(dl);
        break;
    }
    case Kind::DownloadAck: {
        auto d = s.downloads.find(env.channel);
        if (d != s.downloads.end() && env.bodySize >= body::kDownloadAck) {
            const uint32_t next = getU32(env.body);
            if (next > d->second.acked && next <= d->second.offset) {
                d->second.acked = next;
                d->second.lastAckMs = monotonicMs();
            }
        }
        break;
    }
    case Kind::DownloadStop:
        s.downloads.erase(env.channel);
        break;
    case Kind::Message:
        handleMessage(s, client, env);
        break;
    default:
        reply(client, s, Kind::Error, env.request, env.channel, kErrBadRequest, nullptr, 0);
        break;
    }
}

void P2pCamera::handleMessage(Session &s, const std::string &client, const Envelope &env)
{
    const int32_t type = env.status;
    const uint8_t *p = env.body;
    const size_t n = env.bodySize;
    switch (type) {
    case P2P_MSG_RECORD_SEARCH:
        recordSearch(s, client, p, n);
        break;
    case P2P_MSG_PASSWORD_CHECK: {
        if (n < sizeof(PASSWORD_CHECK_REQ_S))
            break;
        PASSWORD_CHECK_REQ_S req;
        std::memcpy(&req, p, sizeof(req));
        PASSWORD_CHECK_RSP_S rsp;
        std::memset(&rsp, 0, sizeof(rsp));
        rsp.random = req.random;
        rsp.result = tokenOk(req.token, req.random) ? 0 : 1;
        sendMessage(client, s, P2P_MSG_PASSWORD_CHECK_RSP, &rsp, sizeof(rsp));
        break;
    }
    case P2P_MSG_PASSWORD_CHECK2: {
        if (n < sizeof(PASSWORD_CHECK2_REQ_S))
            break;
        PASSWORD_CHECK2_REQ_S req;
        std::memcpy(&req, p, sizeof(req));
        PASSWORD_CHECK2_RSP_S rsp;
        std::memset(&rsp, 0, sizeof(rsp));
        rsp.random = req.random;
        rsp.result = tokenOk(req.token, req.random) ? 0 : 1;
        sendMessage(client, s, P2P_MSG_PASSWORD_CHECK2_RSP, &rsp, sizeof(rsp));
        break;
    }
    case P2P_MSG_PASSWORD_CHANGE: {
        if (n < sizeof(PASSWORD_CHANGE_REQ_S))
            break;
        PASSWORD_CHANGE_REQ_S req;
        std::memcpy(&req, p, sizeof(req));
        PASSWORD_CHANGE_RSP_S rsp;
        std::memset(&rsp, 0, sizeof(rsp));
        rsp.random = req.random;
        const size_t len = ::strnlen(req.newPassword, sizeof(req.newPassword));
        bool valid = len >= 1 && len < sizeof(req.newPassword);
        for (size_t i = 0; valid && i < len; ++i)
            valid = std::isalnum(static_cast<unsigned char>(req.newPassword[i])) != 0;
        if (valid && tokenOk(req.token, req.random)) {
            m_password.assign(req.newPassword, len);
            rsp.result = 0;
        } else {
            rsp.result = 1;
        }
        sendMessage(client, s, P2P_MSG_PASSWORD_CHANGE_RSP, &rsp, sizeof(rsp));
        break;
    }
    case P2P_MSG_ALARM_SEARCH:
        alarmSearch(s, client, p, n);
        break;
    default:
        handlePtz(s, client, type, p, n);
        break;
    }
}

void P2pCamera::recordSearch(Session &s, const std::string &client, const uint8_t *p, size_t n)
{
    if (n < sizeof(RECORD_SEARCH_REQ_S))
        return;
    RECORD_SEARCH_REQ_S req;
    std::memcpy(&req, p, sizeof(req));
    const bool extended = m_config.recordings.extendedForm;
    const int32_t replyType = extended ? P2P_MSG_RECORD_LIST_EX : P2P_MSG_RECORD_LIST;
    RECORD_SEARCH_RSP_S head;
    std::memset(&head, 0, sizeof(head));
    if (!tokenOk(req.token, req.seq)) {
        head.result = 1;
        sendMessage(client, s, replyType, &head, sizeof(head));
        return;
    }
    const QDateTime start = parseTimeText(req.startTime, sizeof(req.startTime));
    const QDateTime end = parseTimeText(req.endTime, sizeof(req.endTime));
    const auto &recs = m_storage.recordings();
    std::vector<const Recording *> page;
    size_t cursor = 0;
    QDateTime rangeEnd = end;
    // A request with the same start whose end is the last entry sent asks
    // for the page that follows it (the client's paging rule).
    if (s.search.valid && start.isValid() && start == s.search.start && end == s.search.lastSent) {
        cursor = s.search.cursor;
        rangeEnd = s.search.end;
    } else {
        s.search = SearchState();
        cursor = 0;
        if (start.isValid() && end.isValid())
            while (cursor < recs.size() && recs[cursor].start < start)
                ++cursor;
        else
            cursor = recs.size();
    }
    size_t i = cursor;
    for (; i < recs.size() && page.size() < P2P_RECORD_PAGE; ++i) {
        if (recs[i].start > rangeEnd) {
            i = recs.size();
            break;
        }
        page.push_back(&recs[i]);
    }
    if (!page.empty()) {
        s.search.valid = true;
        s.search.start = start;
        s.search.end = rangeEnd;
        s.search.lastSent = page.back()->start;
        s.search.cursor = i;
    }
    head.result = 0;
    head.count = int32_t(page.size());
    std::vector<uint8_t> out(sizeof(head));
    std::memcpy(out.data(), &head, sizeof(head));
    const VideoSettings &v = m_hd.settings();
    for (const Recording *r : page) {
        if (extended) {
            RECORD_ITEM_EX_S item;
            std::memset(&item, 0, sizeof(item));
            std::strncpy(item.name, r->name.c_str(), sizeof(item.name) - 1);
            item.size = r->size;
            item.resolution = searchResolutionCode(v.width, v.height);
            item.frameRate = uint8_t(v.fps);
            item.videoType = m_hd.h265() ? 1 : 0;
            item.audioType = 0;
            item.audioBitRate = 64000;
            item.audioSampleRate = 8000;
            const auto *b = reinterpret_cast<const uint8_t *>(&item);
            out.insert(out.end(), b, b + sizeof(item));
        } else {
            RECORD_ITEM_S item;
            std::memset(&item, 0, sizeof(item));
            std::strncpy(item.name, r->name.c_str(), sizeof(item.name) - 1);
            item.size = r->size;
            item.resolution = searchResolutionCode(v.width, v.height);
            item.frameRate = uint8_t(v.fps);
            const auto *b = reinterpret_cast<const uint8_t *>(&item);
            out.insert(out.end(), b, b + sizeof(item));
        }
    }
    sendMessage(client, s, replyType, out.data(), out.size());
}

void P2pCamera::alarmSearch(Session &s, const std::string &client, const uint8_t *p, size_t n)
{
    if (n < sizeof(ALARM_SEARCH_REQ_S))
        return;
    ALARM_SEARCH_REQ_S req;
    std::memcpy(&req, p, sizeof(req));
    ALARM_STATUS_S status{P2P_ALARM_SYNC_RUNNING};
    if (!tokenOk(req.token, req.nonce)) {
        status.status = P2P_ALARM_SYNC_PASSWORD;
        sendMessage(client, s, P2P_MSG_ALARM_STATUS, &status, sizeof(status));
        return;
    }
    sendMessage(client, s, P2P_MSG_ALARM_STATUS, &status, sizeof(status));
    std::vector<ALARM_ITEM_S> found;
    for (const auto &a : m_alarms)
        if (a.time >= req.startTime && a.time <= req.endTime)
            found.push_back(a);
    // Entries leave in groups, newest group first and each group in reverse
    // order; every group after the first repeats the previous group's last
    // entry, as cameras resend what they are not sure was delivered.
    std::vector<std::vector<ALARM_ITEM_S>> groups;
    for (size_t i = 0; i < found.size(); i += kAlarmsPerMessage) {
        std::vector<ALARM_ITEM_S> g(found.begin() + long(i),
                                    found.begin() + long(std::min(found.size(), i + kAlarmsPerMessage)));
        groups.push_back(std::move(g));
    }
    std::reverse(groups.begin(), groups.end());
    const ALARM_ITEM_S *previousLast = nullptr;
    for (auto &g : groups) {
        std::vector<ALARM_ITEM_S> items(g.rbegin(), g.rend());
        if (previousLast)
            items.push_back(*previousLast);
        std::vector<uint8_t> out(4 + items.size() * sizeof(ALARM_ITEM_S));
        putU32(out.data(), uint32_t(items.size()));
        std::memcpy(out.data() + 4, items.data(), items.size() * sizeof(ALARM_ITEM_S));
        sendMessage(client, s, P2P_MSG_ALARM_LIST, out.data(), out.size());
        previousLast = &g.back();
    }
    status.status = found.empty() ? P2P_ALARM_SYNC_EMPTY : P2P_ALARM_SYNC_DONE;
    sendMessage(client, s, P2P_MSG_ALARM_STATUS, &status, sizeof(status));
}

QString P2pCamera::control(const QStringList &args)
{
    if (args.isEmpty())
        return QStringLiteral("ERR no command");
    const QString cmd = args.at(0);
    auto arg = [&](int i) { return i < args.size() ? args.at(i) : QString(); };
    if (cmd == QLatin1String("offline")) {
        disconnectRelay();
        return QStringLiteral("OK offline");
    }
    if (cmd == QLatin1String("online")) {
        if (m_loop)
            return QStringLiteral("OK online");
        QString error;
        if (!connectRelay(&error))
            return QStringLiteral("ERR ") + error;
        return QStringLiteral("OK online");
    }
    if (cmd == QLatin1String("unretain")) {
        if (!m_loop)
            return QStringLiteral("ERR offline");
        // An empty retained message deletes the retained one.
        const std::string cam = m_config.p2pId.toStdString();
        const bool done = publishConfirmed(cameraPresence(cam), {}, true, 5000)
                          && publishConfirmed(licenseTopic(m_config.deviceId.toStdString()), {}, true, 5000);
        return done ? QStringLiteral("OK unretain") : QStringLiteral("ERR relay did not confirm");
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    if (cmd == QLatin1String("stall")) {
        const bool on = arg(2) != QLatin1String("off");
        if (arg(1) == QLatin1String("all") || arg(1) == QLatin1String("0"))
            m_stalled[0] = on;
        if (arg(1) == QLatin1String("all") || arg(1) == QLatin1String("1"))
            m_stalled[1] = on;
        return QStringLiteral("OK stall");
    }
    if (cmd == QLatin1String("notice")) {
        bool ok = false;
        const int type = arg(1).toInt(&ok);
        if (!ok)
            return QStringLiteral("ERR notice needs a type");
        const int32_t value = arg(2).toInt();
        int sent = 0;
        for (auto &[client, s] : m_sessions) {
            sendMessage(client, s, type, &value, sizeof(value));
            ++sent;
        }
        return QStringLiteral("OK notice %1").arg(sent);
    }
    if (cmd == QLatin1String("raw")) {
        // Any payload, also one that breaks its type's layout.
        bool ok = false;
        const int type = arg(1).toInt(&ok);
        const QByteArray bytes = QByteArray::fromHex(arg(2).toLatin1());
        if (!ok || bytes.size() * 2 != arg(2).size())
            return QStringLiteral("ERR raw needs a type and hex bytes");
        int sent = 0;
        for (auto &[client, s] : m_sessions) {
            sendMessage(client, s, type, bytes.constData(), size_t(bytes.size()));
            ++sent;
        }
        return QStringLiteral("OK raw %1").arg(sent);
    }
    if (cmd == QLatin1String("refuse-password")) {
        m_refusePassword = arg(1) != QLatin1String("off");
        return QStringLiteral("OK refuse-password");
    }
    if (cmd == QLatin1String("drop-replies")) {
        m_dropReplies = std::max(0, arg(1).toInt());
        return QStringLiteral("OK drop-replies");
    }
    if (cmd == QLatin1String("delay-replies")) {
        m_delayMs = std::max(0, arg(1).toInt());
        return QStringLiteral("OK delay-replies");
    }
    if (cmd == QLatin1String("slow-answers")) {
        m_answerDelayMs = std::max(0, arg(1).toInt());
        return QStringLiteral("OK slow-answers");
    }
    if (cmd == QLatin1String("held-replies"))
        return QStringLiteral("OK held-replies %1").arg(m_delayed.size());
    if (cmd == QLatin1String("cut-download")) {
        m_cutDownload = uint32_t(std::max(0, arg(1).toInt()));
        return QStringLiteral("OK cut-download");
    }
    if (cmd == QLatin1String("fail-descr")) {
        m_failDescr = std::max(0, arg(1).toInt());
        return QStringLiteral("OK fail-descr");
    }
    if (cmd == QLatin1String("descr-count")) {
        bool ok = false;
        const int n = arg(1).toInt(&ok);
        if (!ok || n < 0 || n > 2)
            return QStringLiteral("ERR descr-count needs 0, 1 or 2");
        m_descrCount = n;
        return QStringLiteral("OK descr-count");
    }
    if (cmd == QLatin1String("skip-frames")) {
        bool ok = false;
        const int n = arg(1).toInt(&ok);
        if (!ok || n < 0 || n > 1000)
            return QStringLiteral("ERR skip-frames needs 0 to 1000");
        m_skipFrames = n;
        return QStringLiteral("OK skip-frames");
    }
    if (cmd == QLatin1String("no-key")) {
        m_noKey = arg(1) != QLatin1String("off");
        return QStringLiteral("OK no-key");
    }
    if (cmd == QLatin1String("password"))
        return QStringLiteral("OK ") + QString::fromStdString(m_password);
    if (cmd == QLatin1String("ptz")) {
        if (!m_config.ptz)
            return QStringLiteral("ERR no head");
        advancePtz();
        return QStringLiteral("OK pan=%1 tilt=%2 zoom=%3 moves=%4 stops=%5 last=%6,%7,%8 presets=%9 moving=%10")
            .arg(m_head.pan, 0, 'f', 3)
            .arg(m_head.tilt, 0, 'f', 3)
            .arg(m_head.zoom, 0, 'f', 3)
            .arg(m_head.moves)
            .arg(m_head.stops)
            .arg(m_head.lastPan)
            .arg(m_head.lastTilt)
            .arg(m_head.lastZoom)
            .arg(m_presets.size())
            .arg(m_head.panSpeed || m_head.tiltSpeed || m_head.zoomSpeed ? 1 : 0);
    }
    if (cmd == QLatin1String("stats")) {
        int streams = 0;
        int transfers = 0;
        for (auto &[client, s] : m_sessions) {
            streams += int(s.live[0].open) + int(s.live[1].open);
            transfers += int(s.playbacks.size() + s.downloads.size());
        }
        return QStringLiteral("OK sessions=%1 streams=%2 transfers=%3 frames=%4")
            .arg(m_sessions.size())
            .arg(streams)
            .arg(transfers)
            .arg(m_framesSent.load());
    }
    return QStringLiteral("ERR unknown command ") + cmd;
}

void P2pCamera::pumpLoop()
{
    while (!m_stop.load()) {
        pumpOnce();
        std::unique_lock<std::mutex> lock(m_mutex);
        bool busy = false;
        for (auto &[c, s] : m_sessions)
            if (!s.downloads.empty())
                busy = true;
        m_cv.wait_for(lock, std::chrono::milliseconds(busy ? 1 : 4), [this] { return m_stop.load(); });
    }
}

void P2pCamera::pumpOnce()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_online.load() || m_leaving.load())
        return;
    const int64_t nowUs = monotonicUs();
    const int64_t nowMs = nowUs / 1000;
    const std::string cam = m_config.p2pId.toStdString();
    // Replies held back by the delay fault.
    for (auto it = m_delayed.begin(); it != m_delayed.end();) {
        if (it->dueMs <= nowMs) {
            publish(it->topic, it->payload, 1, false);
            it = m_delayed.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        if (nowMs - it->second.lastHeardMs > kSessionIdleMs) {
            sessionEnds(it->first);
            it = m_sessions.erase(it);
            continue;
        }
        const std::string &client = it->first;
        Session &s = it->second;
        const std::string topic = replyTopic(client);
        for (int i = 0; i < 2; ++i) {
            LiveSub &sub = s.live[i];
            if (!sub.open)
                continue;
            const VideoLoop &v = video(i);
            const int fps = std::max(1, v.settings().fps);
            const int64_t frameUs = 1000000 / fps;
            int guard = 0;
            while (sub.nextDueUs <= nowUs && guard++ < 5) {
                if (m_stalled[i]) {
                    sub.nextDueUs = nowUs + frameUs;
                    break;
                }
                const bool key = v.frames()[sub.pos].key;
                if (m_noKey ? key : (m_skipFrames > 0 && !key)) {
                    // Left out (no key frames, or frames a relay lost): the
                    // stream and its numbers go on.
                    if (!key)
                        --m_skipFrames;
                    sub.pos = (sub.pos + 1) % v.frames().size();
                    ++sub.frameNo;
                    sub.nextDueUs += frameUs;
                    continue;
                }
                AccessUnit viewed;
                if (sub.view) {
                    advancePtz();
                    viewed = sub.view->next(int(sub.frameNo % 0x7fffffffu), m_head.pan, m_head.tilt, m_head.zoom);
                }
                const AccessUnit &au = sub.view ? viewed : v.frames()[sub.pos];
                if (au.data.empty()) {   // the encoder gave nothing for this picture
                    ++sub.frameNo;
                    sub.nextDueUs += frameUs;
                    continue;
                }
                const int64_t sentUs = monotonicUs();
                const uint32_t tsMs = uint32_t(sub.frameNo * uint64_t(1000) / uint64_t(fps));
                std::vector<uint8_t> b(body::kFrameHead + au.data.size());
                b[0] = kMediaVideo;
                b[1] = au.key ? kFlagKey : 0;
                putU32(b.data() + 4, sub.frameNo);
                putU32(b.data() + 8, tsMs);
                putU64(b.data() + 16, uint64_t(sentUs));
                std::memcpy(b.data() + body::kFrameHead, au.data.data(), au.data.size());
                publish(topic, encode(Kind::StreamFrame, cam, s.id, 0, uint32_t(i), 0, b.data(), b.size()), 0,
                        false);
                if (m_frameObserver)
                    m_frameObserver(i, sub.frameNo, sentUs);
                // 1/fps seconds of the tone.
                const size_t samples = size_t(8000 / fps);
                std::vector<uint8_t> a(body::kFrameHead + samples);
                a[0] = kMediaAudio;
                putU32(a.data() + 4, sub.frameNo);
                putU32(a.data() + 8, tsMs);
                putU64(a.data() + 16, uint64_t(sentUs));
                for (size_t k = 0; k < samples; ++k) {
                    a[body::kFrameHead + k] = m_tone[sub.tonePos];
                    sub.tonePos = (sub.tonePos + 1) % m_tone.size();
                }
                publish(topic, encode(Kind::StreamFrame, cam, s.id, 0, uint32_t(i), 0, a.data(), a.size()), 0,
                        false);
                m_framesSent.fetch_add(1);
                sub.pos = (sub.pos + 1) % v.frames().size();
                ++sub.frameNo;
                sub.nextDueUs += frameUs;
            }
            if (sub.nextDueUs < nowUs - 200000)
                sub.nextDueUs = nowUs;   // do not burst after a hold-up
        }
        for (auto pit = s.playbacks.begin(); pit != s.playbacks.end();) {
            Playback &pb = pit->second;
            while (pb.next < pb.chunks.size()) {
                const FileChunk &c = pb.chunks[pb.next];
                const int64_t dueUs = pb.wallStartUs + int64_t(c.timestampUs - pb.baseTs);
                if (dueUs > nowUs)
                    break;
                std::vector<uint8_t> b(body::kPlayHead + c.size);
                b[0] = c.video ? kMediaVideo : kMediaAudio;
                b[1] = c.key ? kFlagKey : 0;
                putU32(b.data() + 4, uint32_t((c.timestampUs - pb.fileStartTs) / 1000000));
                putU32(b.data() + 8, pb.seq++);
                std::memcpy(b.data() + body::kPlayHead, pb.file.data() + c.payloadOffset, c.size);
                publish(topic, encode(Kind::PlayData, cam, s.id, 0, pit->first, 0, b.data(), b.size()), 1,
                        false);
                ++pb.next;
            }
            if (pb.next >= pb.chunks.size()) {
                reply(client, s, Kind::PlayEnd, 0, pit->first, kOk, nullptr, 0);
                pit = s.playbacks.erase(pit);
            } else {
                ++pit;
            }
        }
        for (auto dit = s.downloads.begin(); dit != s.downloads.end();) {
            Download &dl = dit->second;
            if (nowMs < dl.notBeforeMs) {
                ++dit;
                continue;
            }
            const uint32_t size = uint32_t(dl.file.size());
            const uint32_t limit = m_cutDownload ? std::min(size, m_cutDownload) : size;
            while (dl.offset < limit && dl.offset - dl.acked < kDownloadWindow) {
                const uint32_t n = std::min(kDownloadPiece, limit - dl.offset);
                std::vector<uint8_t> b(body::kDownloadHead + n);
                putU32(b.data(), dl.offset);
                std::memcpy(b.data() + body::kDownloadHead, dl.file.data() + dl.offset, n);
                publish(topic, encode(Kind::DownloadData, cam, s.id, 0, dit->first, 0, b.data(), b.size()), 1,
                        false);
                dl.offset += n;
            }
            bool done = false;
            if (dl.offset >= limit && dl.acked >= limit) {
                uint8_t e[body::kDownloadEnd];
                putU32(e, dl.offset);
                reply(client, s, Kind::DownloadEnd, 0, dit->first, limit < size ? kErrCut : kOk, e, sizeof(e));
                done = true;
            } else if (nowMs - dl.lastAckMs > 10000) {
                uint8_t e[body::kDownloadEnd];
                putU32(e, dl.offset);
                reply(client, s, Kind::DownloadEnd, 0, dit->first, kErrCut, e, sizeof(e));
                done = true;
            }
            dit = done ? s.downloads.erase(dit) : std::next(dit);
        }
        ++it;
    }
}

} // namespace varno::camsim
