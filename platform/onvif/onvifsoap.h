#pragma once

#include "platform/onvif/onvifconf.h"

#include <pugixml.hpp>

#include <atomic>
#include <string>

// SOAP 1.2 over HTTP for the ONVIF requests of the device manager and the
// event library: libcurl with connect and total time-outs, a response size
// cap, HTTP digest when the camera asks, and a WS-Security UsernameToken
// with a password digest whose time stamp follows the camera's clock.
namespace onvif {

enum SoapError {
    kSoapOk = 0,
    kSoapNetwork = -1,     // not reachable, connection broken
    kSoapTimeout = -2,     // connect or total time-out
    kSoapAuth = -3,        // credentials refused (fault NotAuthorized, HTTP 401)
    kSoapReply = -4,       // HTTP error, not SOAP, malformed, too large
    kSoapFault = -5,       // a SOAP fault other than an authentication one
    kSoapAborted = -6,     // the abort flag was raised
};

const char *soapErrorText(int code);

// ONVIF namespaces used in requests.
inline constexpr const char *kNsDevice = "http://www.onvif.org/ver10/device/wsdl";
inline constexpr const char *kNsMedia = "http://www.onvif.org/ver10/media/wsdl";
inline constexpr const char *kNsEvents = "http://www.onvif.org/ver10/events/wsdl";
inline constexpr const char *kNsPtz = "http://www.onvif.org/ver20/ptz/wsdl";
inline constexpr const char *kNsSchema = "http://www.onvif.org/ver10/schema";
inline constexpr const char *kNsNotification = "http://docs.oasis-open.org/wsn/b-2";
inline constexpr const char *kNsAddressing = "http://www.w3.org/2005/08/addressing";

struct SoapReply
{
    pugi::xml_document doc;    // the whole envelope when the call succeeded
    long httpStatus = 0;
    std::string faultCode;     // innermost subcode of a fault
    std::string faultReason;

    pugi::xml_node body() const;
};

// The WS-Security header for user and password, created at the given UTC
// time (seconds since the epoch) with the given 16-byte nonce.
std::string usernameToken(const std::string &user, const std::string &password, long long createdUtc,
                          const std::string &nonce);
// Base64(SHA-1(nonce + created + password)).
std::string passwordDigest(const std::string &nonce, const std::string &created, const std::string &password);
// "yyyy-MM-ddThh:mm:ssZ" of seconds since the epoch, and back (-1 when bad).
std::string utcText(long long secs);
long long parseUtc(const std::string &text);
// An xs:duration such as "PT5S", "PT1M30S", "P1D" in seconds, -1 when bad.
long long parseDuration(const std::string &text);

// Clock offset (camera minus local, seconds) by scheme, host and port;
// a URL without an entry of its own takes one of the same host.
void setClockOffset(const std::string &url, long long seconds);
long long clockOffset(const std::string &url);

// Camera passwords by service address. A request URL finds the password of
// the same scheme, host and port, else of the same host.
void setPassword(const std::string &serviceAddr, const std::string &password);
std::string passwordFor(const std::string &url);
void clearPasswords();

class SoapClient
{
public:
    explicit SoapClient(const Config &cfg);

    // Posts an envelope whose body is bodyXml (already escaped). With auth
    // the UsernameToken of the configured user and the URL's password is
    // added, and HTTP digest is answered when the camera asks for it.
    int call(const std::string &url, const std::string &action, const std::string &bodyXml, bool auth,
             SoapReply *reply, const std::atomic<bool> *abort = nullptr, int extraTimeoutMs = 0);

    // Adds WS-Addressing Action and To headers to every request, followed
    // by referenceParams (XML taken from a subscription reference).
    void setAddressing(bool on, const std::string &referenceParams = std::string());

private:
    Config m_cfg;
    bool m_addressing = false;
    std::string m_referenceParams;
};

} // namespace onvif
