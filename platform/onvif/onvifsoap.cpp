#include "platform/onvif/onvifsoap.h"

#include "common/callabort.h"
#include "common/logfile.h"
#include "platform/onvif/onvifprobe.h"
#include "platform/onvif/onvifxml.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDateTime>
#include <QRandomGenerator>
#include <QTimeZone>

#include <curl/curl.h>

#include <ctime>
#include <map>
#include <mutex>

namespace onvif {

const char *soapErrorText(int code)
{
    switch (code) {
    case kSoapOk: return "ok";
    case kSoapNetwork: return "network";
    case kSoapTimeout: return "time-out";
    case kSoapAuth: return "not authorized";
    case kSoapReply: return "bad reply";
    case kSoapFault: return "fault";
    case kSoapAborted: return "aborted";
    }
    return "unknown";
}

pugi::xml_node SoapReply::body() const
{
    return child(doc.document_element(), "Body");
}

std::string utcText(long long secs)
{
    const QDateTime t = QDateTime::fromSecsSinceEpoch(secs, QTimeZone::utc());
    return t.toString(QStringLiteral("yyyy-MM-ddThh:mm:ssZ")).toStdString();
}

long long parseUtc(const std::string &text)
{
    QDateTime t = QDateTime::fromString(QString::fromStdString(text), Qt::ISODateWithMs);
    if (!t.isValid())
        t = QDateTime::fromString(QString::fromStdString(text), Qt::ISODate);
    if (!t.isValid())
        return -1;
    return t.toSecsSinceEpoch();
}

long long parseDuration(const std::string &text)
{
    if (text.size() < 2 || text.size() > 40 || text[0] != 'P')
        return -1;
    long long total = 0;
    long long value = 0;
    bool digits = false;
    bool inTime = false;
    for (size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
            if (value > 100000000)
                return -1;
            digits = true;
            continue;
        }
        if (c == '.') { // fractions of a second are ignored
            while (i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '9')
                ++i;
            continue;
        }
        if (c == 'T') {
            inTime = true;
            continue;
        }
        if (!digits)
            return -1;
        long long unit = 0;
        switch (c) {
        case 'Y': unit = inTime ? -1 : 365 * 86400LL; break;
        case 'M': unit = inTime ? 60 : 30 * 86400LL; break;
        case 'W': unit = inTime ? -1 : 7 * 86400LL; break;
        case 'D': unit = inTime ? -1 : 86400; break;
        case 'H': unit = inTime ? 3600 : -1; break;
        case 'S': unit = inTime ? 1 : -1; break;
        default: unit = -1;
        }
        if (unit < 0)
            return -1;
        total += value * unit;
        value = 0;
        digits = false;
    }
    return digits ? -1 : total;
}

namespace {

std::mutex g_tableMutex;
std::map<std::string, long long> g_offsets;          // by scheme://host:port
std::map<std::string, std::string> g_passwords;      // by scheme://host:port
constexpr size_t kMaxTableEntries = 4096;

// "scheme://host:port" of a URL (port filled in), or empty.
std::string authorityOf(const std::string &url)
{
    std::string scheme;
    std::string rest;
    if (url.rfind("http://", 0) == 0) {
        scheme = "http";
        rest = url.substr(7);
    } else if (url.rfind("https://", 0) == 0) {
        scheme = "https";
        rest = url.substr(8);
    } else {
        return std::string();
    }
    std::string authority = rest.substr(0, rest.find_first_of("/?#"));
    const auto at = authority.rfind('@');
    if (at != std::string::npos)
        authority = authority.substr(at + 1);
    const std::string host = urlHost(url);
    std::string port = scheme == "http" ? "80" : "443";
    size_t colon = std::string::npos;
    if (!authority.empty() && authority[0] == '[') {
        const auto close = authority.find(']');
        if (close == std::string::npos)
            return std::string();
        if (close + 1 < authority.size() && authority[close + 1] == ':')
            colon = close + 1;
    } else {
        colon = authority.find(':');
    }
    if (colon != std::string::npos && colon + 1 < authority.size())
        port = authority.substr(colon + 1);
    return scheme + "://" + host + ":" + port;
}

size_t writeCapped(char *data, size_t size, size_t n, void *user)
{
    auto *ctx = static_cast<std::pair<std::string *, size_t> *>(user);
    const size_t len = size * n;
    if (ctx->first->size() + len > ctx->second)
        return 0; // aborts the transfer
    ctx->first->append(data, len);
    return len;
}

int progress(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto *abort = static_cast<const std::atomic<bool> *>(user);
    return abort && abort->load() ? 1 : 0;
}

// curl_easy_perform, but an abort flag raised meanwhile ends the transfer
// within a poll interval (the connection is closed), also while the
// camera stays silent.
CURLcode performWatched(CURL *curl, const std::atomic<bool> *abort)
{
    if (!abort)
        return curl_easy_perform(curl);
    if (abort->load())
        return CURLE_ABORTED_BY_CALLBACK;
    CURLM *multi = curl_multi_init();
    if (!multi)
        return CURLE_OUT_OF_MEMORY;
    curl_multi_add_handle(multi, curl);
    CURLcode result = CURLE_OK;
    bool finished = false;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_RECV_ERROR;
            break;
        }
        int left = 0;
        while (CURLMsg *msg = curl_multi_info_read(multi, &left)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == curl) {
                result = msg->data.result;
                finished = true;
            }
        }
        if (finished || running == 0)
            break;
        if (abort->load()) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        curl_multi_poll(multi, nullptr, 0, 50, nullptr);
    }
    curl_multi_remove_handle(multi, curl);
    curl_multi_cleanup(multi);
    return result;
}

void initCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace

void setClockOffset(const std::string &url, long long seconds)
{
    const std::string key = authorityOf(url);
    if (key.empty())
        return;
    std::lock_guard<std::mutex> lock(g_tableMutex);
    if (g_offsets.size() >= kMaxTableEntries && !g_offsets.count(key))
        g_offsets.erase(g_offsets.begin());
    g_offsets[key] = seconds;
}

long long clockOffset(const std::string &url)
{
    const std::string key = authorityOf(url);
    std::lock_guard<std::mutex> lock(g_tableMutex);
    const auto it = g_offsets.find(key);
    if (it != g_offsets.end())
        return it->second;
    // Another service of the same camera (other port), same host.
    const std::string host = urlHost(url);
    for (const auto &[k, v] : g_offsets) {
        if (urlHost(k) == host)
            return v;
    }
    return 0;
}

void setPassword(const std::string &serviceAddr, const std::string &password)
{
    const std::string key = authorityOf(serviceAddr);
    if (key.empty())
        return;
    std::lock_guard<std::mutex> lock(g_tableMutex);
    if (g_passwords.size() >= kMaxTableEntries && !g_passwords.count(key))
        g_passwords.erase(g_passwords.begin());
    g_passwords[key] = password;
}

std::string passwordFor(const std::string &url)
{
    const std::string key = authorityOf(url);
    if (key.empty())
        return std::string();
    std::lock_guard<std::mutex> lock(g_tableMutex);
    const auto it = g_passwords.find(key);
    if (it != g_passwords.end())
        return it->second;
    const std::string host = urlHost(url);
    for (const auto &[k, v] : g_passwords) {
        if (urlHost(k) == host)
            return v;
    }
    return std::string();
}

void clearPasswords()
{
    std::lock_guard<std::mutex> lock(g_tableMutex);
    g_passwords.clear();
    g_offsets.clear();
}

std::string passwordDigest(const std::string &nonce, const std::string &created, const std::string &password)
{
    QCryptographicHash sha(QCryptographicHash::Sha1);
    sha.addData(QByteArrayView(nonce.data(), static_cast<qsizetype>(nonce.size())));
    sha.addData(QByteArrayView(created.data(), static_cast<qsizetype>(created.size())));
    sha.addData(QByteArrayView(password.data(), static_cast<qsizetype>(password.size())));
    return sha.result().toBase64().toStdString();
}

std::string usernameToken(const std::string &user, const std::string &password, long long createdUtc,
                          const std::string &nonce)
{
    const std::string created = utcText(createdUtc);
    const QByteArray nonce64 = QByteArray(nonce.data(), static_cast<qsizetype>(nonce.size())).toBase64();
    std::string s;
    s += "<wsse:Security s:mustUnderstand=\"1\""
         " xmlns:wsse=\"http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd\""
         " xmlns:wsu=\"http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd\">"
         "<wsse:UsernameToken><wsse:Username>";
    s += xmlEscape(user);
    s += "</wsse:Username><wsse:Password Type=\"http://docs.oasis-open.org/wss/2004/01/"
         "oasis-200401-wss-username-token-profile-1.0#PasswordDigest\">";
    s += passwordDigest(nonce, created, password);
    s += "</wsse:Password><wsse:Nonce EncodingType=\"http://docs.oasis-open.org/wss/2004/01/"
         "oasis-200401-wss-soap-message-security-1.0#Base64Binary\">";
    s += nonce64.toStdString();
    s += "</wsse:Nonce><wsu:Created>";
    s += created;
    s += "</wsu:Created></wsse:UsernameToken></wsse:Security>";
    return s;
}

SoapClient::SoapClient(const Config &cfg) : m_cfg(cfg)
{
    initCurlOnce();
}

void SoapClient::setAddressing(bool on, const std::string &referenceParams)
{
    m_addressing = on;
    m_referenceParams = referenceParams;
}

int SoapClient::call(const std::string &url, const std::string &action, const std::string &bodyXml, bool auth,
                     SoapReply *reply, const std::atomic<bool> *abort, int extraTimeoutMs)
{
    if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0) {
        WriteLog(2, "%s(%d):Address(%s) is no http address!!!", "onvif::SoapClient::call", __LINE__,
                 url.substr(0, 128).c_str());
        return kSoapReply;
    }
    const std::string password = auth ? passwordFor(url) : std::string();
    std::string envelope =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
        "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\""
        " xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\""
        " xmlns:trt=\"http://www.onvif.org/ver10/media/wsdl\""
        " xmlns:tev=\"http://www.onvif.org/ver10/events/wsdl\""
        " xmlns:tptz=\"http://www.onvif.org/ver20/ptz/wsdl\""
        " xmlns:tt=\"http://www.onvif.org/ver10/schema\""
        " xmlns:wsnt=\"http://docs.oasis-open.org/wsn/b-2\""
        " xmlns:wsa=\"http://www.w3.org/2005/08/addressing\"><s:Header>";
    if (auth) {
        char nonce[16];
        for (char &c : nonce)
            c = static_cast<char>(QRandomGenerator::system()->bounded(256));
        envelope += usernameToken(m_cfg.user, password, static_cast<long long>(std::time(nullptr)) + clockOffset(url),
                                  std::string(nonce, sizeof(nonce)));
    }
    if (m_addressing) {
        envelope += "<wsa:Action>" + xmlEscape(action) + "</wsa:Action><wsa:To>" + xmlEscape(url) + "</wsa:To>";
        envelope += m_referenceParams;
    }
    envelope += "</s:Header><s:Body>";
    envelope += bodyXml;
    envelope += "</s:Body></s:Envelope>";

    // Without a flag of its own the call watches its thread's stop.
    if (!abort) {
        if (const varno::CallAbort *threadAbort = varno::currentCallAbort())
            abort = threadAbort->flag();
    }
    std::string response;
    long status = 0;
    CURLcode rc = CURLE_OK;
    // HTTP digest only when the camera answers 401: with digest armed,
    // libcurl sends the first request of a post without its body.
    for (int attempt = 0; attempt < 2; ++attempt) {
        CURL *curl = curl_easy_init();
        if (!curl)
            return kSoapNetwork;
        response.clear();
        std::pair<std::string *, size_t> sink(&response, static_cast<size_t>(m_cfg.maxResponseBytes));
        const std::string contentType =
            "Content-Type: application/soap+xml; charset=utf-8; action=\"" + xmlEscape(action) + "\"";
        curl_slist *headers = curl_slist_append(nullptr, contentType.c_str());
        headers = curl_slist_append(headers, "Expect:");
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, envelope.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(envelope.size()));
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &writeCapped);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(m_cfg.connectTimeoutMs));
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(m_cfg.requestTimeoutMs + extraTimeoutMs));
        curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
        if (abort) {
            curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &progress);
            curl_easy_setopt(curl, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool> *>(abort));
            curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        }
        if (attempt == 1) {
            curl_easy_setopt(curl, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_DIGEST));
            curl_easy_setopt(curl, CURLOPT_USERNAME, m_cfg.user.c_str());
            curl_easy_setopt(curl, CURLOPT_PASSWORD, password.c_str());
        }
        rc = performWatched(curl, abort);
        status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        curl_slist_free_all(headers);
        curl_easy_cleanup(curl);
        if (rc != CURLE_OK || status != 401 || !auth)
            break;
    }

    if (reply)
        reply->httpStatus = status;
    if (rc != CURLE_OK) {
        int code = kSoapNetwork;
        if (rc == CURLE_OPERATION_TIMEDOUT)
            code = kSoapTimeout;
        else if (rc == CURLE_WRITE_ERROR)
            code = kSoapReply;
        else if (rc == CURLE_ABORTED_BY_CALLBACK)
            code = kSoapAborted;
        if (code != kSoapAborted)
            WriteLog(2, "%s(%d):%s to %s failed: %s (%s)!!!", "onvif::SoapClient::call", __LINE__,
                     action.c_str(), url.substr(0, 128).c_str(), curl_easy_strerror(rc),
                     rc == CURLE_WRITE_ERROR ? "response too large" : soapErrorText(code));
        return code;
    }
    if (status == 401) {
        WriteLog(2, "%s(%d):%s to %s refused with HTTP 401!!!", "onvif::SoapClient::call", __LINE__,
                 action.c_str(), url.substr(0, 128).c_str());
        return kSoapAuth;
    }
    SoapReply local;
    SoapReply *r = reply ? reply : &local;
    r->httpStatus = status;
    if (!parseSafely(r->doc, response.data(), response.size(), static_cast<size_t>(m_cfg.maxResponseBytes),
                     "SOAP response")) {
        WriteLog(2, "%s(%d):%s to %s: unusable reply, HTTP %ld!!!", "onvif::SoapClient::call", __LINE__,
                 action.c_str(), url.substr(0, 128).c_str(), status);
        return kSoapReply;
    }
    const pugi::xml_node env = r->doc.document_element();
    if (localName(env.name()) != "Envelope" || !child(env, "Body")) {
        WriteLog(2, "%s(%d):%s to %s: reply is no SOAP envelope!!!", "onvif::SoapClient::call", __LINE__,
                 action.c_str(), url.substr(0, 128).c_str());
        return kSoapReply;
    }
    if (soapFault(env, &r->faultCode, &r->faultReason)) {
        const bool authFault = r->faultCode.find("NotAuthorized") != std::string::npos ||
                               r->faultCode.find("FailedAuthentication") != std::string::npos;
        WriteLog(2, "%s(%d):%s to %s: fault %s (%s)!!!", "onvif::SoapClient::call", __LINE__, action.c_str(),
                 url.substr(0, 128).c_str(), r->faultCode.substr(0, 64).c_str(), r->faultReason.substr(0, 128).c_str());
        return authFault ? kSoapAuth : kSoapFault;
    }
    if (status != 200) {
        WriteLog(2, "%s(%d):%s to %s: HTTP %ld!!!", "onvif::SoapClient::call", __LINE__, action.c_str(),
                 url.substr(0, 128).c_str(), status);
        return kSoapReply;
    }
    return kSoapOk;
}

} // namespace onvif
