#pragma once

#include <pugixml.hpp>

#include <string>
#include <vector>

// Readers of the SOAP responses the ONVIF libraries use. Each takes the
// Body element of a response that went through onvif::parseSafely and
// returns what it found; missing or oversized values are left out, never
// trusted.
namespace onvif {

// Longest address taken from a response.
inline constexpr size_t kMaxAddressBytes = 512;

struct ServiceAddrs
{
    std::string device;
    std::string media;
    std::string events;
    std::string ptz;           // empty: the camera names no PTZ service
};

struct MediaProfile
{
    std::string token;
    std::string name;
    int width = 0;
    int height = 0;
    int videoCodec = 0;    // 1 H.264, 2 H.265
    int audioCodec = 0;    // 1 G.711, 2 AAC
    std::string ptzConfig; // token of the profile's PTZ configuration; empty: none
};

// One stored position of a PTZ camera.
struct PtzPreset
{
    std::string token;
    std::string name;
};

// Most presets taken from one GetPresetsResponse.
inline constexpr int kMaxPtzPresets = 256;

// Camera clock (UTC seconds since the epoch) of GetSystemDateAndTimeResponse, -1 when absent.
long long parseSystemDateAndTime(pugi::xml_node body);
// GetServicesResponse and GetCapabilitiesResponse; false when neither was found.
bool parseServices(pugi::xml_node body, ServiceAddrs *out);
bool parseCapabilities(pugi::xml_node body, ServiceAddrs *out);
// GetProfilesResponse: profiles with a token shorter than 64 bytes, at most 64.
bool parseProfiles(pugi::xml_node body, std::vector<MediaProfile> *out);
// GetStreamUriResponse: the Uri text, empty when absent or too long.
std::string parseStreamUri(pugi::xml_node body);
// GetPresetsResponse: presets with a token of 1..63 bytes (at most
// kMaxPtzPresets; names cut to 63 bytes); false when it is no such response.
bool parsePresets(pugi::xml_node body, std::vector<PtzPreset> *out);
// SetPresetResponse: the new preset's token, empty when absent or unusable.
std::string parseSetPreset(pugi::xml_node body);

// The RTSP address with user and password (percent-encoded) as its user
// information; an existing user information is replaced. No password: the
// user alone.
std::string withCredentials(const std::string &uri, const std::string &user, const std::string &password);
// Percent-encodes every byte but the unreserved ones of RFC 3986.
std::string percentEncode(const std::string &text);

// Pull-point subscription as created or renewed.
struct Subscription
{
    std::string address;           // subscription reference address
    std::string referenceParams;   // ReferenceParameters children, echoed in the header
    long long currentTime = -1;    // camera clock
    long long terminationTime = -1;
};

bool parseCreatePullPoint(pugi::xml_node body, Subscription *out);
// RenewResponse: termination and current time (-1 when absent).
bool parseRenew(pugi::xml_node body, long long *termination, long long *current);

// One event of a PullMessagesResponse.
struct EventItem
{
    std::string topic;
    std::string operation;         // "Initialized", "Changed", "Deleted"
    std::string utcTime;
    std::string item;              // name of the first data item
    std::string value;             // its value
    int alarmType = -1;            // EVENT_ALARM_TYPE_E, -1: not an alarm topic
};

// Most events taken from one PullMessagesResponse.
inline constexpr int kMaxEventsPerPull = 256;

bool parsePullMessages(pugi::xml_node body, std::vector<EventItem> *out, long long *current,
                       long long *termination);

// Alarm type of a topic and its state (EVENT_ALARM_* of
// common/alarmrecords.h, EVENT_ALARM_DISARM when the state is false), or
// -1 for a topic that is not an alarm. docs/onvif.md has the table.
int alarmTypeOf(const std::string &topic, const std::string &value);

} // namespace onvif
