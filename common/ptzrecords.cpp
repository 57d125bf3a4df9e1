#include "common/ptzrecords.h"

#include "common/textfield.h"

#include <cmath>
#include <cstring>

namespace varno::ptz {

namespace {

bool refuse(const char **why, const char *text)
{
    if (why)
        *why = text;
    return false;
}

} // namespace

bool readCaps(const char *data, size_t size, int32_t nonce, PTZ_CAPS_RSP_S *out, const char **why)
{
    if (!data || size < sizeof(PTZ_CAPS_RSP_S))
        return refuse(why, "capability answer too short");
    PTZ_CAPS_RSP_S rsp;
    std::memcpy(&rsp, data, sizeof rsp);
    if (rsp.nonce != nonce)
        return refuse(why, "answer to another request");
    *out = rsp;
    return true;
}

bool readResult(const char *data, size_t size, int32_t nonce, int32_t request, PTZ_RESULT_S *out, const char **why)
{
    if (!data || size < sizeof(PTZ_RESULT_S))
        return refuse(why, "result too short");
    PTZ_RESULT_S rsp;
    std::memcpy(&rsp, data, sizeof rsp);
    if (rsp.nonce != nonce)
        return refuse(why, "answer to another request");
    if (rsp.request != request)
        return refuse(why, "result of another request type");
    *out = rsp;
    return true;
}

bool readPresetList(const char *data, size_t size, int32_t nonce, int32_t *result, std::vector<Preset> *out,
                    const char **why)
{
    if (!data || size < sizeof(PTZ_PRESET_LIST_S))
        return refuse(why, "preset list too short");
    PTZ_PRESET_LIST_S head;
    std::memcpy(&head, data, sizeof head);
    if (head.nonce != nonce)
        return refuse(why, "answer to another request");
    if (head.count < 0 || head.count > PTZ_PRESET_MAX)
        return refuse(why, "preset count out of range");
    const size_t count = static_cast<size_t>(head.count);
    if ((size - sizeof head) / sizeof(PTZ_PRESET_ITEM_S) < count)
        return refuse(why, "preset count beyond the answer");
    std::vector<Preset> list;
    list.reserve(count);
    bool seen[PTZ_PRESET_MAX + 1] = {};
    for (size_t k = 0; k < count; ++k) {
        PTZ_PRESET_ITEM_S item;
        std::memcpy(&item, data + sizeof head + k * sizeof item, sizeof item);
        if (item.preset < PTZ_PRESET_MIN || item.preset > PTZ_PRESET_MAX)
            return refuse(why, "preset number out of range");
        if (seen[item.preset])
            return refuse(why, "preset number twice");
        seen[item.preset] = true;
        // Cut at 63 bytes when the NUL is missing.
        list.push_back(Preset{item.preset, std::string(item.name, textLength(item.name, sizeof(item.name) - 1))});
    }
    *result = head.result;
    *out = std::move(list);
    return true;
}

int32_t velocityUnits(double v)
{
    if (!std::isfinite(v))
        return 0;
    constexpr double kMax = PTZ_VELOCITY_MAX;
    const double units = std::round(v * kMax);
    if (units > kMax)
        return PTZ_VELOCITY_MAX;
    if (units < -kMax)
        return -PTZ_VELOCITY_MAX;
    return static_cast<int32_t>(units);
}

} // namespace varno::ptz
