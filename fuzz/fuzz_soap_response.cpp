// SOAP response readers of the device manager and the event library.
#include "platform/onvif/onvifparse.h"
#include "platform/onvif/onvifsoap.h"
#include "platform/onvif/onvifxml.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *text = reinterpret_cast<const char *>(data);
    pugi::xml_document doc;
    if (onvif::parseSafely(doc, text, size, 1 << 20, "fuzz")) {
        const pugi::xml_node env = doc.document_element();
        const pugi::xml_node body = onvif::child(env, "Body");
        std::string code;
        std::string reason;
        onvif::soapFault(env, &code, &reason);
        onvif::parseSystemDateAndTime(body);
        onvif::ServiceAddrs s;
        onvif::parseServices(body, &s);
        onvif::parseCapabilities(body, &s);
        std::vector<onvif::MediaProfile> profiles;
        onvif::parseProfiles(body, &profiles);
        if (profiles.size() > 64)
            __builtin_trap();
        const std::string uri = onvif::parseStreamUri(body);
        onvif::withCredentials(uri, "admin", "p@ss");
        onvif::Subscription sub;
        onvif::parseCreatePullPoint(body, &sub);
        long long a = 0;
        long long b = 0;
        onvif::parseRenew(body, &a, &b);
        std::vector<onvif::EventItem> events;
        onvif::parsePullMessages(body, &events, &a, &b);
        if (events.size() > size_t(onvif::kMaxEventsPerPull))
            __builtin_trap();
        std::vector<onvif::PtzPreset> presets;
        onvif::parsePresets(body, &presets);
        if (presets.size() > size_t(onvif::kMaxPtzPresets))
            __builtin_trap();
        for (const auto &p : presets) {
            if (p.token.empty() || p.token.size() >= 64 || p.name.size() >= 64)
                __builtin_trap();
        }
        if (onvif::parseSetPreset(body).size() >= 64)
            __builtin_trap();
        for (const auto &p : profiles) {
            if (p.ptzConfig.size() >= 64)
                __builtin_trap();
        }
    }
    const std::string s(text, size);
    onvif::parseDuration(s);
    onvif::parseUtc(s.substr(0, 64));
    onvif::withCredentials(s, s.substr(0, 8), s.substr(0, 16));
    onvif::xmlEscape(s);
    return 0;
}
