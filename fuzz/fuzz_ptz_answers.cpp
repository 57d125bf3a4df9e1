// libFuzzer target: a P2P camera's answers to the pan/tilt/zoom requests
// (capability 161, result 163, preset list 166) as the client reads them.
//
// Input: reader pick (1 byte), nonce the client waits for (4 bytes), then
// the answer's payload. The payload is copied into a buffer of exactly its
// size, so that any read beyond it is caught.

#include "common/ptzrecords.h"

#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 5)
        return 0;
    const uint8_t pick = data[0];
    int32_t nonce = 0;
    std::memcpy(&nonce, data + 1, sizeof nonce);
    const std::vector<char> answer(data + 5, data + size);
    const char *p = answer.empty() ? nullptr : answer.data();
    const char *why = nullptr;
    switch (pick % 3) {
    case 0: {
        PTZ_CAPS_RSP_S out{};
        if (varno::ptz::readCaps(p, answer.size(), nonce, &out, &why) && out.nonce != nonce)
            __builtin_trap();
        break;
    }
    case 1: {
        PTZ_RESULT_S out{};
        const int32_t request = P2P_MSG_PTZ_MOVE + (pick / 3) % 8;
        if (varno::ptz::readResult(p, answer.size(), nonce, request, &out, &why) &&
            (out.nonce != nonce || out.request != request))
            __builtin_trap();
        break;
    }
    default: {
        int32_t result = 0;
        std::vector<varno::ptz::Preset> list;
        if (varno::ptz::readPresetList(p, answer.size(), nonce, &result, &list, &why)) {
            // What was taken keeps the promises of the reader.
            if (list.size() > PTZ_PRESET_MAX || 12 + 68 * list.size() > answer.size())
                __builtin_trap();
            for (const auto &preset : list)
                if (preset.number < PTZ_PRESET_MIN || preset.number > PTZ_PRESET_MAX || preset.name.size() > 63)
                    __builtin_trap();
        } else if (!why) {
            __builtin_trap();   // a refusal names its reason
        }
        break;
    }
    }
    return 0;
}
