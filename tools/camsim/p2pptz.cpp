// The head of a simulated P2P camera: the pan, tilt and zoom messages.
#include "common/ptzrecords.h"
#include "common/textfield.h"
#include "platform/p2p/p2p_client.h"
#include "tools/camsim/p2pcamera.h"

#include <algorithm>
#include <cstring>

namespace varno::camsim {

namespace {

constexpr size_t kMaxPresets = 64;

bool velocityOk(int32_t v)
{
    return v >= -PTZ_VELOCITY_MAX && v <= PTZ_VELOCITY_MAX;
}

bool presetOk(int32_t n)
{
    return n >= PTZ_PRESET_MIN && n <= PTZ_PRESET_MAX;
}

} // namespace

P2pCamera::PtzHead P2pCamera::ptzHead()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    advancePtz();
    return m_head;
}

void P2pCamera::advancePtz()
{
    const int64_t now = p2p::monotonicUs();
    const double secs = m_headSinceUs ? double(now - m_headSinceUs) / 1e6 : 0.0;
    m_headSinceUs = now;
    // Velocity 1000 crosses half the range per second; the head stops at its ends.
    auto step = [secs](double pos, int32_t &speed, double lo, double hi) {
        const double next = std::clamp(pos + speed / 1000.0 * secs * 0.5, lo, hi);
        if ((next == hi && speed > 0) || (next == lo && speed < 0))
            speed = 0;
        return next;
    };
    m_head.pan = step(m_head.pan, m_head.panSpeed, -1.0, 1.0);
    m_head.tilt = step(m_head.tilt, m_head.tiltSpeed, -1.0, 1.0);
    m_head.zoom = step(m_head.zoom, m_head.zoomSpeed, 0.0, 1.0);
}

void P2pCamera::sessionEnds(const std::string &client)
{
    if (!m_config.ptz || m_head.mover != client)
        return;
    // No session left to send the stop: the head does not turn on alone.
    advancePtz();
    m_head.panSpeed = m_head.tiltSpeed = m_head.zoomSpeed = 0;
    m_head.mover.clear();
}

bool P2pCamera::handlePtz(Session &s, const std::string &client, int32_t type, const uint8_t *p, size_t n)
{
    size_t need = 0;
    switch (type) {
    case P2P_MSG_PTZ_CAPS:
    case P2P_MSG_PTZ_STOP:
    case P2P_MSG_PTZ_PRESETS: need = sizeof(PTZ_REQ_S); break;
    case P2P_MSG_PTZ_MOVE: need = sizeof(PTZ_MOVE_REQ_S); break;
    case P2P_MSG_PTZ_PRESET_GOTO:
    case P2P_MSG_PTZ_PRESET_REMOVE: need = sizeof(PTZ_PRESET_REQ_S); break;
    case P2P_MSG_PTZ_PRESET_SET: need = sizeof(PTZ_PRESET_SET_REQ_S); break;
    default: return false;
    }
    if (n < need)
        return true; // shorter than its layout: ignored
    PTZ_REQ_S head;
    std::memcpy(&head, p, sizeof head);
    const bool tokenRight = tokenOk(head.token, head.nonce);
    advancePtz();

    if (type == P2P_MSG_PTZ_CAPS) {
        PTZ_CAPS_RSP_S rsp{};
        rsp.nonce = head.nonce;
        rsp.result = !tokenRight ? PTZ_RESULT_PASSWORD : m_config.ptz ? PTZ_RESULT_OK : PTZ_RESULT_NO_PTZ;
        if (rsp.result == PTZ_RESULT_OK) {
            rsp.caps = PTZ_CAP_PAN_TILT | PTZ_CAP_ZOOM | PTZ_CAP_PRESETS;
            rsp.maxPresets = uint16_t(kMaxPresets);
        }
        sendMessage(client, s, P2P_MSG_PTZ_CAPS_RSP, &rsp, sizeof rsp);
        return true;
    }
    if (type == P2P_MSG_PTZ_PRESETS) {
        PTZ_PRESET_LIST_S list{};
        list.nonce = head.nonce;
        list.result = !tokenRight ? PTZ_RESULT_PASSWORD : m_config.ptz ? PTZ_RESULT_OK : PTZ_RESULT_NO_PTZ;
        std::vector<uint8_t> out(sizeof list);
        if (list.result == PTZ_RESULT_OK) {
            for (const auto &[number, preset] : m_presets) {
                PTZ_PRESET_ITEM_S item{};
                item.preset = number;
                varno::setText(item.name, preset.name);
                const auto *b = reinterpret_cast<const uint8_t *>(&item);
                out.insert(out.end(), b, b + sizeof item);
            }
            list.count = int32_t(m_presets.size());
        }
        std::memcpy(out.data(), &list, sizeof list);
        sendMessage(client, s, P2P_MSG_PTZ_PRESET_LIST, out.data(), out.size());
        return true;
    }

    PTZ_RESULT_S rsp{};
    rsp.nonce = head.nonce;
    rsp.request = type;
    rsp.result = !tokenRight ? PTZ_RESULT_PASSWORD : m_config.ptz ? PTZ_RESULT_OK : PTZ_RESULT_NO_PTZ;
    if (rsp.result == PTZ_RESULT_OK) {
        switch (type) {
        case P2P_MSG_PTZ_MOVE: {
            PTZ_MOVE_REQ_S req;
            std::memcpy(&req, p, sizeof req);
            if (!velocityOk(req.pan) || !velocityOk(req.tilt) || !velocityOk(req.zoom)) {
                rsp.result = PTZ_RESULT_BAD_REQUEST;
                break;
            }
            m_head.panSpeed = m_head.lastPan = req.pan;
            m_head.tiltSpeed = m_head.lastTilt = req.tilt;
            m_head.zoomSpeed = m_head.lastZoom = req.zoom;
            m_head.mover = client;
            ++m_head.moves;
            break;
        }
        case P2P_MSG_PTZ_STOP:
            m_head.panSpeed = m_head.tiltSpeed = m_head.zoomSpeed = 0;
            m_head.mover.clear();
            ++m_head.stops;
            break;
        case P2P_MSG_PTZ_PRESET_GOTO:
        case P2P_MSG_PTZ_PRESET_REMOVE: {
            PTZ_PRESET_REQ_S req;
            std::memcpy(&req, p, sizeof req);
            const auto it = m_presets.find(req.preset);
            if (!presetOk(req.preset)) {
                rsp.result = PTZ_RESULT_BAD_REQUEST;
            } else if (it == m_presets.end()) {
                rsp.result = PTZ_RESULT_NO_PRESET;
            } else if (type == P2P_MSG_PTZ_PRESET_REMOVE) {
                m_presets.erase(it);
            } else {
                m_head.pan = it->second.pan;
                m_head.tilt = it->second.tilt;
                m_head.zoom = it->second.zoom;
                m_head.panSpeed = m_head.tiltSpeed = m_head.zoomSpeed = 0;
                m_head.mover.clear();
            }
            break;
        }
        case P2P_MSG_PTZ_PRESET_SET: {
            PTZ_PRESET_SET_REQ_S req;
            std::memcpy(&req, p, sizeof req);
            const size_t len = varno::textLength(req.name);
            if ((req.preset != 0 && !presetOk(req.preset)) || len == 0 || len >= sizeof req.name) {
                rsp.result = PTZ_RESULT_BAD_REQUEST;
                break;
            }
            int32_t number = req.preset;
            if (number == 0) {
                for (int32_t k = PTZ_PRESET_MIN; k <= PTZ_PRESET_MAX && number == 0; ++k)
                    if (!m_presets.count(k))
                        number = k;
            }
            if (number == 0 || (!m_presets.count(number) && m_presets.size() >= kMaxPresets)) {
                rsp.result = PTZ_RESULT_FULL;
                break;
            }
            m_presets[number] = PtzPreset{std::string(req.name, len), m_head.pan, m_head.tilt, m_head.zoom};
            rsp.preset = number;
            break;
        }
        }
    }
    sendMessage(client, s, P2P_MSG_PTZ_RESULT, &rsp, sizeof rsp);
    return true;
}

} // namespace varno::camsim
