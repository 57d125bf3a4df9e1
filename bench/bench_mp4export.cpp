// MP4 export of a 10-minute 1080p25 camera recording file (H.264 at about
// 4 Mbit/s, G.711 A-law 8 kHz): wall and CPU time of saveMp4, as a multiple
// of real time, against `ffmpeg -c:v copy -c:a aac` on the same content
// (the same H.264 pictures and A-law samples in a Matroska file).
#include "common/camerafile.h"
#include "playback/camerafileconverter.h"
#include "tests/support/recmedia/camerafilewriter.h"
#include "tests/support/media/testmedia.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double wallNow()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double cpuOf(int who)
{
    rusage u {};
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The baseline's input: the same pictures and samples in Matroska.
bool writeMatroska(const std::string &path, const std::vector<varno::test::EncodedFrame> &pictures, int frames,
                   const std::vector<uint8_t> &alaw)
{
    AVFormatContext *ctx = nullptr;
    if (avformat_alloc_output_context2(&ctx, nullptr, "matroska", path.c_str()) < 0)
        return false;
    AVStream *v = avformat_new_stream(ctx, nullptr);
    v->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    v->codecpar->codec_id = AV_CODEC_ID_H264;
    v->codecpar->width = 1920;
    v->codecpar->height = 1080;
    v->time_base = {1, 25};
    // Annex B extradata from the first key picture.
    const auto units = varno::test::splitNals(pictures[0].data);
    std::vector<uint8_t> extra;
    for (const auto &u : units)
        if (varno::test::nalType(u, 1) == 7 || varno::test::nalType(u, 1) == 8)
            extra.insert(extra.end(), u.begin(), u.end());
    v->codecpar->extradata = static_cast<uint8_t *>(av_mallocz(extra.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(v->codecpar->extradata, extra.data(), extra.size());
    v->codecpar->extradata_size = int(extra.size());
    AVStream *a = avformat_new_stream(ctx, nullptr);
    a->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    a->codecpar->codec_id = AV_CODEC_ID_PCM_ALAW;
    a->codecpar->sample_rate = 8000;
    av_channel_layout_default(&a->codecpar->ch_layout, 1);
    a->codecpar->block_align = 1;
    a->codecpar->bits_per_coded_sample = 8;
    a->time_base = {1, 8000};
    if (avio_open(&ctx->pb, path.c_str(), AVIO_FLAG_WRITE) < 0 || avformat_write_header(ctx, nullptr) < 0)
        return false;
    AVPacket *p = av_packet_alloc();
    for (int i = 0; i < frames; ++i) {
        const auto &pic = pictures[size_t(i) % pictures.size()];
        av_new_packet(p, int(pic.data.size()));
        std::memcpy(p->data, pic.data.data(), pic.data.size());
        p->stream_index = v->index;
        p->pts = p->dts = av_rescale_q(i, {1, 25}, v->time_base);
        p->duration = av_rescale_q(1, {1, 25}, v->time_base);
        if (pic.key)
            p->flags |= AV_PKT_FLAG_KEY;
        av_interleaved_write_frame(ctx, p);
        av_new_packet(p, int(alaw.size()));
        std::memcpy(p->data, alaw.data(), alaw.size());
        p->stream_index = a->index;
        p->pts = p->dts = av_rescale_q(int64_t(i) * 320, {1, 8000}, a->time_base);
        p->flags |= AV_PKT_FLAG_KEY;
        av_interleaved_write_frame(ctx, p);
    }
    av_packet_free(&p);
    av_write_trailer(ctx);
    avio_closep(&ctx->pb);
    avformat_free_context(ctx);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 600;
    const int frames = seconds * 25;
    av_log_set_level(AV_LOG_ERROR);
    std::printf("encoding 10 s of 1920x1080 H.264 at 4 Mbit/s ...\n");
    fflush(stdout);
    const auto pictures = varno::test::encodeStream(
        {.width = 1920, .height = 1080, .frames = 250, .busy = true, .bitRate = 4000000});
    if (pictures.size() != 250)
        return 1;
    double phase = 0;
    const std::vector<int16_t> pcm = varno::test::tone(8000, 440, 320, &phase);
    std::vector<uint8_t> alaw(pcm.size());
    for (size_t i = 0; i < pcm.size(); ++i)
        alaw[i] = varno::test::linearToAlaw(pcm[i]);

    QTemporaryDir tmp;
    const std::string cam = (tmp.path() + QStringLiteral("/camera.tmp")).toStdString();
    const std::string mkv = (tmp.path() + QStringLiteral("/same.mkv")).toStdString();
    const std::string ours = (tmp.path() + QStringLiteral("/ours.mp4")).toStdString();
    const std::string theirs = (tmp.path() + QStringLiteral("/ffmpeg.mp4")).toStdString();
    {
        varno::test::CameraFileWriter w(8000, 25, varno::camfile::kRes1920x1080);
        const uint64_t t0 = 1700000000ull * 1000000ull;
        for (int i = 0; i < frames; ++i) {
            const auto &pic = pictures[size_t(i) % pictures.size()];
            w.video(pic.data, t0 + uint64_t(i) * 40000, pic.key);
            w.audio(alaw, t0 + uint64_t(i) * 40000);
        }
        if (!w.save(cam))
            return 1;
        std::printf("camera file: %d s, %.1f MB\n", seconds, w.size() / 1e6);
    }
    if (!writeMatroska(mkv, pictures, frames, alaw))
        return 1;

    double bestOurs = 1e9, bestOursCpu = 0, bestTheirs = 1e9, bestTheirsCpu = 0;
    for (int round = 0; round < 2; ++round) {
        double c0 = cpuOf(RUSAGE_SELF), w0 = wallNow();
        // saveMp4 logs progress lines; the conversion itself dominates.
        if (varno::playback::saveMp4(cam.c_str(), ours.c_str()) != 0)
            std::printf("saveMp4 reported a failure\n");
        const double ow = wallNow() - w0, oc = cpuOf(RUSAGE_SELF) - c0;
        if (ow < bestOurs) {
            bestOurs = ow;
            bestOursCpu = oc;
        }
        c0 = cpuOf(RUSAGE_CHILDREN);
        w0 = wallNow();
        const pid_t pid = fork();
        if (pid == 0) {
            execlp("ffmpeg", "ffmpeg", "-y", "-v", "error", "-i", mkv.c_str(), "-c:v", "copy", "-c:a", "aac",
                   theirs.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        const double tw = wallNow() - w0, tc = cpuOf(RUSAGE_CHILDREN) - c0;
        if (tw < bestTheirs) {
            bestTheirs = tw;
            bestTheirsCpu = tc;
        }
    }
    std::printf("MP4 export of %d s of 1080p25:\n", seconds);
    std::printf("  saveMp4:          %.2f s wall (%.0fx real time), %.2f s cpu\n", bestOurs, seconds / bestOurs,
                bestOursCpu);
    std::printf("  ffmpeg baseline:  %.2f s wall (%.0fx real time), %.2f s cpu\n", bestTheirs, seconds / bestTheirs,
                bestTheirsCpu);
    std::printf("  ratio saveMp4/ffmpeg: wall %.2f, cpu %.2f (target <= 1.2: %s)\n", bestOurs / bestTheirs,
                bestOursCpu / bestTheirsCpu, bestOurs / bestTheirs <= 1.2 ? "met" : "NOT met");
    return 0;
}
