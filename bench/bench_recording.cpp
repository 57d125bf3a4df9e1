// Recording cost: one 4 Mbit/s H.264 stream (1280x720, 25 fps) with 8 kHz
// 16-bit PCM audio written through Record_local_* as the recorder does (one
// NAL unit per call), as fast as possible. Prints the CPU time per second of
// stream (as a share of one core at real time) and the MB/s written, against
// the baseline of writing the same bytes with plain write() calls.
#include "platform/recfile/record_local.h"
#include "common/textfield.h"
#include "tests/support/recmedia/testmedia.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

double threadCpu()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + ts.tv_nsec / 1e9;
}

double wallNow()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

int main(int argc, char **argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 180;
    const int fps = 25;
    std::printf("encoding 10 s of 1280x720 H.264 at 4 Mbit/s ...\n");
    const auto pictures = varno::test::encodeStream(
        {.width = 1280, .height = 720, .frames = 250, .fps = fps, .gop = fps, .busy = true, .bitRate = 4000000});
    if (pictures.size() != 250) {
        std::printf("encoder failed\n");
        return 1;
    }
    std::vector<std::vector<std::vector<uint8_t>>> units;
    size_t gopBytes = 0;
    for (const auto &p : pictures) {
        units.push_back(varno::test::splitNals(p.data));
        gopBytes += p.data.size();
    }
    std::printf("stream: %.2f Mbit/s\n", gopBytes * 8.0 / 10 / 1e6);
    std::vector<int16_t> pcm(320, 1000); // 40 ms at 8 kHz

    QTemporaryDir tmp;
    const int frames = seconds * fps;

    // Library.
    RECORD_INFO_S info {};
    varno::setText(info.devId, "bench-camera");
    info.version = RECORD_INFO_VERSION;
    info.videoCodec = MEDIA_VIDEO_H264;
    info.frameRate = fps;
    info.width = 1280;
    info.height = 720;
    info.sampleRate = 8000;
    info.channels = 1;
    char path[RECORD_LOCAL_PATH_SIZE] {};
    varno::setText(path, tmp.path());
    Record_local_InitSdk();
    double cpu0 = threadCpu(), wall0 = wallNow();
    RECORD_HANDLE h = 0;
    if (Record_local_MediaFileCreat(&info, path, &h, nullptr) != 0)
        return 1;
    for (int i = 0; i < frames; ++i) {
        for (const auto &u : units[size_t(i % 250)])
            Record_local_MediaFileWrite(h, varno::test::recorderFrameType(varno::test::nalType(u, 1)), u.data(),
                                        uint32_t(u.size()));
        Record_local_MediaFileWrite(h, MEDIA_FRAME_AUDIO, reinterpret_cast<const unsigned char *>(pcm.data()),
                                    uint32_t(pcm.size() * 2));
    }
    Record_local_MediaFileClose(h);
    const double libCpu = threadCpu() - cpu0, libWall = wallNow() - wall0;
    const double libBytes = double(QFileInfo(QString::fromUtf8(path)).size());

    // Baseline: the same bytes with one write() per NAL unit and per audio block.
    const std::string raw = (tmp.path() + QStringLiteral("/raw.bin")).toStdString();
    cpu0 = threadCpu();
    wall0 = wallNow();
    const int fd = ::open(raw.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    double rawBytes = 0;
    for (int i = 0; i < frames; ++i) {
        for (const auto &u : units[size_t(i % 250)])
            rawBytes += double(::write(fd, u.data(), u.size()));
        rawBytes += double(::write(fd, pcm.data(), pcm.size() * 2));
    }
    ::close(fd);
    const double rawCpu = threadCpu() - cpu0, rawWall = wallNow() - wall0;
    Record_local_UnInitSdk();

    std::printf("recording %d s of stream (%d frames)\n", seconds, frames);
    std::printf("  Record_local: cpu %.3f s = %.3f %% of one core at real time; %.1f MB written in %.3f s = %.1f MB/s\n",
                libCpu, libCpu / seconds * 100, libBytes / 1e6, libWall, libBytes / 1e6 / libWall);
    std::printf("  baseline write(): cpu %.3f s = %.3f %% of one core; %.1f MB in %.3f s = %.1f MB/s\n", rawCpu,
                rawCpu / seconds * 100, rawBytes / 1e6, rawWall, rawBytes / 1e6 / rawWall);
    std::printf("  cpu ratio library/baseline %.2f; target: library under 1 %% of a core per stream: %s\n",
                libCpu / rawCpu, libCpu / seconds * 100 < 1.0 ? "met" : "NOT met");
    return 0;
}
