#pragma once

#include <QtGlobal>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// RTSP side of the simulated ONVIF cameras, built on gst-rtsp-server: each
// stream is real H.264 (x264) or H.265 (x265) of a moving test picture with G.711 mu-law
// audio, listening on loopback only. Streams and credentials are set
// before start; stop() and restart() script a camera whose RTSP server
// goes away and comes back on the same port.
class CRtspServer
{
public:
    struct Stream
    {
        std::string path;          // "/<uuid>/main"
        int width = 640;
        int height = 360;
        int fps = 25;
        int motion = 0;            // 0 wavy, 1 sweep, 2 horizontal sweep
        uint32_t foreground = 0xffffffff;  // ARGB of the moving ball
        uint32_t background = 0xff000000;
        bool audio = true;
        bool h265 = false;         // H.265 (x265: AUD, two slices per picture) instead of H.264
        bool turnable = false;     // the picture shifts by the view offset (setViewOffset)
    };
    // Where a turnable camera looks: -1 .. 1 across and up the range.
    using ViewOffset = std::function<void(double *pan, double *tilt)>;

    CRtspServer();
    ~CRtspServer();
    Q_DISABLE_COPY_MOVE(CRtspServer)

    // Streams of an ONVIF camera: HD "/<uuid>/main" and SD "/<uuid>/sub"
    // with colours and motion derived from the index; both H.265 when asked
    // (then at 320x180 and 160x90: x265 costs several times what x264 does).
    static std::vector<Stream> cameraStreams(const std::string &uuid, int index, bool h265 = false);

    void addStream(const Stream &s);
    // The offset of the turnable streams, read ten times a second while
    // they play; set before start.
    void setViewOffset(ViewOffset offset) { m_offset = std::move(offset); }
    // Basic and digest authentication with this user; none when empty.
    void setCredentials(const std::string &user, const std::string &password);

    // Listens on 127.0.0.1:port (0: a free port) and serves.
    bool start(uint16_t port = 0);
    // Closes the listening socket and every client session.
    void stop();
    // Listens again on the port of the last start.
    bool restart();
    bool running() const;
    uint16_t port() const { return m_port; }

    // The pipeline description of one stream (for logs and tests).
    static std::string launchLine(const Stream &s);

    struct Impl;   // the server's GLib context and loop

private:
    std::unique_ptr<Impl> m_impl;
    std::vector<Stream> m_streams;
    ViewOffset m_offset;
    std::string m_user;
    std::string m_password;
    uint16_t m_port = 0;
};
