#include "tools/camsim/rtspserver.h"

#include "common/logfile.h"

#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>

#include <cstdio>
#include <memory>
#include <mutex>

// The "viewbox" elements of the playing turnable streams, one ref each.
// Shared with the signal handlers of the factories and media, which may
// outlive the server (a media is unprepared after the server is gone).
struct BoxTable
{
    std::mutex mutex;
    std::vector<GstElement *> boxes;
};

struct CRtspServer::Impl
{
    GMainContext *context = nullptr;
    GMainLoop *loop = nullptr;
    GstRTSPServer *server = nullptr;
    guint sourceId = 0;
    guint offsetSourceId = 0;
    std::thread thread;
    ViewOffset offset;
    std::shared_ptr<BoxTable> table = std::make_shared<BoxTable>();
};

namespace {

void initGstOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

GstRTSPFilterResult removeClient(GstRTSPServer *, GstRTSPClient *, gpointer)
{
    return GST_RTSP_FILTER_REMOVE;
}

// A camera's stream is live: where a PLAY asks it to begin ("Range:
// npt=0.000-", which most clients send) means nothing to it. The server
// would seek the stream's shared pipeline there, and the seek's flush cuts
// the packets in flight of everyone watching (a fragment lost in the
// middle of a NAL unit, a unit cut short). Real cameras answer such a PLAY
// and go on sending; so does the simulator.
GstRTSPStatusCode playFromNow(GstRTSPClient *, GstRTSPContext *ctx, gpointer)
{
    if (ctx && ctx->request)
        gst_rtsp_message_remove_header(ctx->request, GST_RTSP_HDR_RANGE, -1);
    return GST_RTSP_STS_OK;
}

void clientConnected(GstRTSPServer *, GstRTSPClient *client, gpointer)
{
    g_signal_connect(client, "pre-play-request", G_CALLBACK(playFromNow), nullptr);
}

void dropBox(GstRTSPMedia *, gpointer user);

gpointer tableRef(const std::shared_ptr<BoxTable> &table)
{
    return new std::shared_ptr<BoxTable>(table);
}

void freeTableRef(gpointer data, GClosure *)
{
    delete static_cast<std::shared_ptr<BoxTable> *>(data);
}

// A turnable stream's pipeline came up: its box follows the view offset.
void mediaConfigure(GstRTSPMediaFactory *, GstRTSPMedia *media, gpointer user)
{
    const std::shared_ptr<BoxTable> table = *static_cast<std::shared_ptr<BoxTable> *>(user);
    GstElement *element = gst_rtsp_media_get_element(media);
    if (!element)
        return;
    GstElement *box = gst_bin_get_by_name(GST_BIN(element), "viewbox");
    gst_object_unref(element);
    if (!box)
        return;
    {
        std::lock_guard<std::mutex> lock(table->mutex);
        table->boxes.push_back(box);
    }
    g_object_set_data(G_OBJECT(media), "varno-viewbox", box);
    g_signal_connect_data(media, "unprepared", G_CALLBACK(dropBox), tableRef(table), &freeTableRef,
                          GConnectFlags(0));
}

void dropBox(GstRTSPMedia *media, gpointer user)
{
    BoxTable &table = **static_cast<std::shared_ptr<BoxTable> *>(user);
    auto *box = static_cast<GstElement *>(g_object_get_data(G_OBJECT(media), "varno-viewbox"));
    if (!box)
        return;
    g_object_set_data(G_OBJECT(media), "varno-viewbox", nullptr);
    std::lock_guard<std::mutex> lock(table.mutex);
    for (auto it = table.boxes.begin(); it != table.boxes.end(); ++it) {
        if (*it == box) {
            table.boxes.erase(it);
            gst_object_unref(box);
            break;
        }
    }
}

// Shifts every playing turnable picture: the scene moves against the turn
// (a third of the picture at the end of the range), the edge left black.
gboolean applyOffset(gpointer user)
{
    auto *impl = static_cast<CRtspServer::Impl *>(user);
    double pan = 0;
    double tilt = 0;
    impl->offset(&pan, &tilt);
    std::lock_guard<std::mutex> lock(impl->table->mutex);
    for (GstElement *box : impl->table->boxes) {
        GstPad *pad = gst_element_get_static_pad(box, "sink");
        GstCaps *caps = pad ? gst_pad_get_current_caps(pad) : nullptr;
        int width = 0;
        int height = 0;
        if (caps) {
            const GstStructure *st = gst_caps_get_structure(caps, 0);
            gst_structure_get_int(st, "width", &width);
            gst_structure_get_int(st, "height", &height);
            gst_caps_unref(caps);
        }
        if (pad)
            gst_object_unref(pad);
        const int dx = static_cast<int>(-pan * width / 3) & ~1;
        const int dy = static_cast<int>(tilt * height / 3) & ~1;
        g_object_set(box, "left", -dx, "right", dx, "top", -dy, "bottom", dy, nullptr);
    }
    return G_SOURCE_CONTINUE;
}

} // namespace

CRtspServer::CRtspServer() = default;

CRtspServer::~CRtspServer()
{
    stop();
}

std::vector<CRtspServer::Stream> CRtspServer::cameraStreams(const std::string &uuid, int index, bool h265)
{
    static const uint32_t colours[] = {0xffff4040, 0xff40ff40, 0xff4040ff, 0xffffff40,
                                       0xffff40ff, 0xff40ffff, 0xffffa000, 0xffa0a0a0};
    Stream hd;
    hd.path = "/" + uuid + "/main";
    hd.width = 640;
    hd.height = 360;
    hd.motion = index % 3;
    hd.foreground = colours[index % 8];
    hd.background = 0xff000000 | (static_cast<uint32_t>(index * 37 % 128) << 8);
    hd.h265 = h265;
    if (h265) { // x265 costs several times what x264 does: smaller pictures
        hd.width = 320;
        hd.height = 180;
    }
    Stream sd = hd;
    sd.path = "/" + uuid + "/sub";
    sd.width = h265 ? 160 : 320;
    sd.height = h265 ? 90 : 180;
    return {hd, sd};
}

void CRtspServer::addStream(const Stream &s)
{
    m_streams.push_back(s);
}

void CRtspServer::setCredentials(const std::string &user, const std::string &password)
{
    m_user = user;
    m_password = password;
}

std::string CRtspServer::launchLine(const Stream &s)
{
    char video[768];
    const char *box = s.turnable ? "videobox name=viewbox ! " : "";
    if (s.h265)
        std::snprintf(video, sizeof(video),
                      "videotestsrc is-live=true pattern=ball motion=%d foreground-color=%u background-color=%u ! "
                      "video/x-raw,width=%d,height=%d,framerate=%d/1 ! %svideoconvert ! "
                      "x265enc tune=zerolatency speed-preset=ultrafast key-int-max=%d bitrate=600 "
                      "option-string=\"repeat-headers=1:aud=1:slices=2:info=1\" ! "
                      "video/x-h265,profile=main ! rtph265pay name=pay0 pt=96 config-interval=1",
                      s.motion, s.foreground, s.background, s.width, s.height, s.fps, box, s.fps);
    else
        std::snprintf(video, sizeof(video),
                  "videotestsrc is-live=true pattern=ball motion=%d foreground-color=%u background-color=%u ! "
                  "video/x-raw,width=%d,height=%d,framerate=%d/1 ! %svideoconvert ! "
                  "x264enc tune=zerolatency speed-preset=ultrafast key-int-max=%d bitrate=600 ! "
                  "video/x-h264,profile=baseline ! rtph264pay name=pay0 pt=96 config-interval=1",
                  s.motion, s.foreground, s.background, s.width, s.height, s.fps, box, s.fps);
    std::string line = std::string("( ") + video;
    if (s.audio)
        line += " audiotestsrc is-live=true wave=sine freq=440 samplesperbuffer=160 ! "
                "audio/x-raw,rate=8000,channels=1 ! alawenc ! rtppcmapay name=pay1 pt=8";
    return line + " )";
}

bool CRtspServer::start(uint16_t port)
{
    stop();
    initGstOnce();
    auto impl = std::make_unique<Impl>();
    impl->context = g_main_context_new();
    impl->loop = g_main_loop_new(impl->context, FALSE);
    impl->server = gst_rtsp_server_new();
    gst_rtsp_server_set_address(impl->server, "127.0.0.1");
    gst_rtsp_server_set_service(impl->server, std::to_string(port).c_str());

    GstRTSPMountPoints *mounts = gst_rtsp_server_get_mount_points(impl->server);
    for (const auto &s : m_streams) {
        GstRTSPMediaFactory *factory = gst_rtsp_media_factory_new();
        gst_rtsp_media_factory_set_launch(factory, launchLine(s).c_str());
        gst_rtsp_media_factory_set_shared(factory, TRUE);
        if (s.turnable && m_offset)
            g_signal_connect_data(factory, "media-configure", G_CALLBACK(mediaConfigure), tableRef(impl->table),
                                  &freeTableRef, GConnectFlags(0));
        if (!m_user.empty())
            gst_rtsp_media_factory_add_role(factory, "viewer", GST_RTSP_PERM_MEDIA_FACTORY_ACCESS, G_TYPE_BOOLEAN,
                                            TRUE, GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT, G_TYPE_BOOLEAN, TRUE,
                                            nullptr);
        gst_rtsp_mount_points_add_factory(mounts, s.path.c_str(), factory);
    }
    g_object_unref(mounts);

    if (!m_user.empty()) {
        GstRTSPAuth *auth = gst_rtsp_auth_new();
        GstRTSPToken *token =
            gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, "viewer", nullptr);
        gchar *basic = gst_rtsp_auth_make_basic(m_user.c_str(), m_password.c_str());
        gst_rtsp_auth_add_basic(auth, basic, token);
        g_free(basic);
        gst_rtsp_auth_add_digest(auth, m_user.c_str(), m_password.c_str(), token);
        gst_rtsp_token_unref(token);
        gst_rtsp_auth_set_supported_methods(auth,
                                            static_cast<GstRTSPAuthMethod>(GST_RTSP_AUTH_BASIC | GST_RTSP_AUTH_DIGEST));
        gst_rtsp_server_set_auth(impl->server, auth);
        g_object_unref(auth);
    }

    g_signal_connect(impl->server, "client-connected", G_CALLBACK(clientConnected), nullptr);
    impl->sourceId = gst_rtsp_server_attach(impl->server, impl->context);
    if (impl->sourceId == 0) {
        WriteLog(2, "%s(%d):RTSP server cannot listen on port %u!!!", "CRtspServer::start", __LINE__, port);
        g_object_unref(impl->server);
        g_main_loop_unref(impl->loop);
        g_main_context_unref(impl->context);
        return false;
    }
    m_port = static_cast<uint16_t>(gst_rtsp_server_get_bound_port(impl->server));
    if (m_offset) {
        impl->offset = m_offset;
        GSource *tick = g_timeout_source_new(100);
        g_source_set_callback(tick, &applyOffset, impl.get(), nullptr);
        impl->offsetSourceId = g_source_attach(tick, impl->context);
        g_source_unref(tick);
    }
    GMainLoop *loop = impl->loop;
    GMainContext *ctx = impl->context;
    impl->thread = std::thread([loop, ctx] {
        g_main_context_push_thread_default(ctx);
        g_main_loop_run(loop);
        g_main_context_pop_thread_default(ctx);
    });
    m_impl = std::move(impl);
    return true;
}

void CRtspServer::stop()
{
    if (!m_impl)
        return;
    Impl &d = *m_impl;
    // Wait until the loop runs so that quitting it cannot be missed.
    while (!g_main_loop_is_running(d.loop))
        g_usleep(1000);
    g_main_loop_quit(d.loop);
    d.thread.join();

    // The loop is ours now: drop clients and the listening source, then
    // let the pending clean-up run.
    g_main_context_push_thread_default(d.context);
    gst_rtsp_server_client_filter(d.server, &removeClient, nullptr);
    if (GSource *src = g_main_context_find_source_by_id(d.context, d.sourceId))
        g_source_destroy(src);
    if (d.offsetSourceId != 0) {
        if (GSource *src = g_main_context_find_source_by_id(d.context, d.offsetSourceId))
            g_source_destroy(src);
    }
    GstRTSPSessionPool *pool = gst_rtsp_server_get_session_pool(d.server);
    gst_rtsp_session_pool_cleanup(pool);
    g_object_unref(pool);
    for (int i = 0; i < 200 && g_main_context_iteration(d.context, FALSE); ++i) {
    }
    g_object_unref(d.server);
    for (int i = 0; i < 200 && g_main_context_iteration(d.context, FALSE); ++i) {
    }
    g_main_context_pop_thread_default(d.context);
    {
        std::lock_guard<std::mutex> lock(d.table->mutex);
        for (GstElement *box : d.table->boxes)
            gst_object_unref(box);
        d.table->boxes.clear();
    }
    g_main_loop_unref(d.loop);
    g_main_context_unref(d.context);
    m_impl.reset();
}

bool CRtspServer::restart()
{
    return start(m_port);
}

bool CRtspServer::running() const
{
    return m_impl != nullptr;
}
