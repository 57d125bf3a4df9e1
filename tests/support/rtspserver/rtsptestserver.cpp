// GLib headers first: they use "signals", which Qt defines as a keyword.
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>

#include "rtsptestserver.h"

#include "tools/camsim/medialoop.h"

#include <chrono>

namespace varno::test {

namespace {

int64_t steadyUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void onMediaConfigure(GstRTSPMediaFactory *, GstRTSPMedia *media, gpointer user)
{
    static_cast<RtspTestServer *>(user)->mediaConfigured(media);
}

GstRTSPFilterResult closeClient(GstRTSPServer *, GstRTSPClient *, gpointer)
{
    return GST_RTSP_FILTER_REMOVE;
}

} // namespace

RtspTestServer::~RtspTestServer()
{
    stop();
}

bool RtspTestServer::start(const Options &options)
{
    m_options = options;
    gst_init(nullptr, nullptr);
    EncodeOptions v = options.video;
    if (v.frames <= 0)
        v.frames = 2 * v.gop;
    m_frames = encodeStream(v);
    if (m_frames.empty())
        return false;
    m_pushTimes.assign(m_frames.size(), 0);

    auto *context = g_main_context_new();
    auto *loop = g_main_loop_new(context, FALSE);
    g_main_context_push_thread_default(context);
    GstRTSPServer *server = gst_rtsp_server_new();
    gst_rtsp_server_set_address(server, "127.0.0.1");
    const std::string port = std::to_string(options.port);
    gst_rtsp_server_set_service(server, port.c_str());
    GstRTSPMountPoints *mounts = gst_rtsp_server_get_mount_points(server);
    GstRTSPMediaFactory *factory = gst_rtsp_media_factory_new();
    std::string launch = "( appsrc name=vsrc is-live=true do-timestamp=true format=time "
                         "caps=video/x-h264,stream-format=byte-stream,alignment=au "
                         "! rtph264pay name=pay0 pt=96 config-interval=-1 ";
    if (options.audio)
        launch += "appsrc name=asrc is-live=true do-timestamp=true format=time "
                  "caps=audio/x-alaw,rate=8000,channels=1 ! rtppcmapay name=pay1 pt=8 ";
    launch += ")";
    gst_rtsp_media_factory_set_launch(factory, launch.c_str());
    gst_rtsp_media_factory_set_shared(factory, TRUE);
    g_signal_connect(factory, "media-configure", G_CALLBACK(onMediaConfigure), this);
    gst_rtsp_mount_points_add_factory(mounts, "/live", factory);
    g_object_unref(mounts);
    const guint id = gst_rtsp_server_attach(server, context);
    g_main_context_pop_thread_default(context);
    if (id == 0) {
        g_object_unref(server);
        g_main_loop_unref(loop);
        g_main_context_unref(context);
        return false;
    }
    m_options.port = int(gst_rtsp_server_get_bound_port(server));
    m_server = server;
    m_loop = loop;
    m_context = context;
    m_stop = false;
    m_loopThread = std::thread([loop, context] {
        g_main_context_push_thread_default(context);
        g_main_loop_run(loop);
        g_main_context_pop_thread_default(context);
    });
    return true;
}

void RtspTestServer::stopFeeding()
{
    m_stop = true;
    std::lock_guard lock(m_feedMutex);
    for (auto &t : m_feeders)
        if (t.joinable())
            t.join();
    m_feeders.clear();
}

void RtspTestServer::freeze()
{
    stopFeeding();
    if (m_loop) {
        g_main_loop_quit(static_cast<GMainLoop *>(m_loop));
        if (m_loopThread.joinable())
            m_loopThread.join();
    }
}

void RtspTestServer::stop()
{
    freeze();
    if (m_loop) {
        auto *context = static_cast<GMainContext *>(m_context);
        g_main_context_push_thread_default(context);
        gst_rtsp_server_client_filter(static_cast<GstRTSPServer *>(m_server), &closeClient, nullptr);
        for (int i = 0; i < 200 && g_main_context_iteration(context, FALSE); ++i) {
        }
        g_main_context_pop_thread_default(context);
        g_object_unref(static_cast<GstRTSPServer *>(m_server));
        g_main_loop_unref(static_cast<GMainLoop *>(m_loop));
        g_main_context_unref(static_cast<GMainContext *>(m_context));
        m_loop = nullptr;
        m_server = nullptr;
        m_context = nullptr;
    }
}

std::string RtspTestServer::url() const
{
    return "rtsp://127.0.0.1:" + std::to_string(m_options.port) + "/live";
}

int64_t RtspTestServer::lastPushUs(size_t k) const
{
    std::lock_guard lock(m_timesMutex);
    return k < m_pushTimes.size() ? m_pushTimes[k] : 0;
}

void RtspTestServer::mediaConfigured(void *mediaPtr)
{
    auto *media = static_cast<GstRTSPMedia *>(mediaPtr);
    GstElement *element = gst_rtsp_media_get_element(media);
    GstElement *vsrc = gst_bin_get_by_name_recurse_up(GST_BIN(element), "vsrc");
    GstElement *asrc = m_options.audio ? gst_bin_get_by_name_recurse_up(GST_BIN(element), "asrc") : nullptr;
    gst_object_unref(element);
    std::lock_guard lock(m_feedMutex);
    m_feeders.emplace_back([this, vsrc, asrc] { feed(vsrc, asrc); });
}

void RtspTestServer::feed(void *videoSrc, void *audioSrc)
{
    auto *vsrc = static_cast<GstAppSrc *>(videoSrc);
    auto *asrc = static_cast<GstAppSrc *>(audioSrc);
    // The sources stamp buffers with the pipeline clock (do-timestamp), which
    // they have only once PLAYING. Buffers pushed earlier get stamps the sinks
    // may wait on for ever, and under load the first client sometimes got no
    // video at all. The media goes to PLAYING while it prepares (a live
    // pipeline cannot preroll), so wait for that.
    auto playing = [](GstAppSrc *src) {
        if (!src)
            return true;
        GstState state = GST_STATE_NULL;
        if (gst_element_get_state(GST_ELEMENT(src), &state, nullptr, 0) == GST_STATE_CHANGE_FAILURE
            || state != GST_STATE_PLAYING)
            return false;
        GstClock *clock = gst_element_get_clock(GST_ELEMENT(src));
        if (clock)
            gst_object_unref(clock);
        return clock != nullptr;
    };
    while (!m_stop.load() && !(playing(vsrc) && playing(asrc)))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const int fps = std::max(1, m_options.video.fps);
    const int64_t frameUs = 1000000 / fps;
    int64_t start = steadyUs();
    const std::vector<uint8_t> tone = camsim::alawTone(440); // a second: 25 frames of 40 ms
    int64_t nextAudio = start;
    uint64_t audioIndex = 0;
    for (uint64_t i = 0; !m_stop.load(); ++i) {
        const int64_t due = start + static_cast<int64_t>(i) * frameUs;
        while (!m_stop.load()) {
            if (asrc && nextAudio <= due) {
                const uint8_t *frame = tone.data() + (audioIndex++ % 25) * 320;
                nextAudio += 40000;
                if (!playing(asrc))
                    continue; // dropped, as a camera drops what no one takes
                GstBuffer *b = gst_buffer_new_memdup(frame, 320);
                GST_BUFFER_DURATION(b) = 40 * GST_MSECOND;
                if (gst_app_src_push_buffer(asrc, b) != GST_FLOW_OK)
                    goto done;
                continue;
            }
            const int64_t wait = due - steadyUs();
            if (wait <= 0)
                break;
            std::this_thread::sleep_for(std::chrono::microseconds(std::min<int64_t>(wait, 20000)));
        }
        if (m_stop.load())
            break;
        // Late by more than half a frame (a busy machine): go on from now as a
        // camera does, not with the missed frames at once, whose time stamps
        // (taken at the push) would then be all but equal.
        const int64_t late = steadyUs() - due;
        if (late > frameUs / 2)
            start += late;
        if (playing(vsrc)) {
            const size_t k = i % m_frames.size();
            const auto &f = m_frames[k];
            GstBuffer *b = gst_buffer_new_memdup(f.data.data(), f.data.size());
            GST_BUFFER_DURATION(b) = GST_SECOND / fps;
            {
                std::lock_guard lock(m_timesMutex);
                m_pushTimes[k] = steadyUs();
            }
            if (gst_app_src_push_buffer(vsrc, b) != GST_FLOW_OK)
                break;
            m_pushed.fetch_add(1);
        }
    }
done:
    gst_object_unref(vsrc);
    if (asrc)
        gst_object_unref(asrc);
}

} // namespace varno::test
