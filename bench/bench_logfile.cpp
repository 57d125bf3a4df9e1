// Log facility throughput: lines per second through WriteLog from 1 and 8
// threads, against a plain loop of fopen/fputs/fclose of the same lines (the
// cost every log line must pay, since the file is opened and closed for each
// line). WriteLog also writes each line to the console, which is sent to
// /dev/null here.
//
// bench_logfile [lines]   (lines of the 1-thread run; 8 threads write twice as many)
//
// Runs in a temporary installation directory; the real home is not touched.

#include "common/installdir.h"
#include "common/logfile.h"

#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr char kMessage[] = "[PREVIEW]Device(%s) channel(%d) stream(%d) open ok, frames(%d)!!!";

double seconds(const std::function<void()> &work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs body(thread index) on n threads at once; returns the wall time.
double onThreads(int threads, const std::function<void(int)> &body)
{
    return seconds([&] {
        std::atomic<bool> go{false};
        std::vector<std::thread> pool;
        for (int t = 0; t < threads; ++t)
            pool.emplace_back([&, t] {
                while (!go.load())
                    std::this_thread::yield();
                body(t);
            });
        go = true;
        for (auto &th : pool)
            th.join();
    });
}

// The same line WriteLog writes, with a fixed time stamp.
std::string plainLine(int thread, int i)
{
    char message[256];
    std::snprintf(message, sizeof(message), kMessage, "VARNO-000123-ABCDE", thread, i & 1, i);
    return std::string("[2019-02-25 12:00:00][level:0]") + message + "\r\n";
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Figures
{
    double writeLog;
    double baseline;
};

Figures measure(int threads, int linesPerThread, const std::string &logPath, const std::string &plainPath)
{
    std::vector<double> writeLogRates;
    std::vector<double> baselineRates;
    const double total = double(threads) * linesPerThread;
    for (int round = 0; round < 3; ++round) {
        std::remove(logPath.c_str());
        const double a = onThreads(threads, [&](int t) {
            for (int i = 0; i < linesPerThread; ++i)
                WriteLog(0, kMessage, "VARNO-000123-ABCDE", t, i & 1, i);
        });
        writeLogRates.push_back(total / a);

        std::remove(plainPath.c_str());
        const double b = onThreads(threads, [&](int t) {
            for (int i = 0; i < linesPerThread; ++i) {
                const std::string line = plainLine(t, i);
                FILE *fp = std::fopen(plainPath.c_str(), "a");
                if (!fp)
                    continue;
                std::fputs(line.c_str(), fp);
                std::fclose(fp);
            }
        });
        baselineRates.push_back(total / b);
    }
    return {median(writeLogRates), median(baselineRates)};
}

} // namespace

int main(int argc, char **argv)
{
    const int linesPerThread = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20000;

    QTemporaryDir root;
    if (!root.isValid())
        return 1;
    // Before the installation directory is first asked for.
    ::setenv("XDG_DATA_HOME", root.path().toLocal8Bit().constData(), 1);
    const std::string logPath = CLogFile::instance().currentPath();
    const std::string plainPath = varno::installDir() + "/log/plain.log";

    // The console goes to /dev/null; the figures go to the real stdout.
    std::fflush(stdout);
    const int console = ::dup(STDOUT_FILENO);
    FILE *report = ::fdopen(console, "w");
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::close(null);

    std::fprintf(report, "log lines per second, median of 3 runs (%s)\n", logPath.c_str());
    std::fprintf(report, "%-8s %10s %14s %22s %8s\n", "threads", "lines", "WriteLog", "fopen/fputs/fclose", "ratio");
    for (int threads : {1, 8}) {
        // 8 threads share the same total number of lines as 2 single runs.
        const int perThread = threads == 1 ? linesPerThread : std::max(1, linesPerThread / 4);
        const Figures f = measure(threads, perThread, logPath, plainPath);
        std::fprintf(report, "%-8d %10d %14.0f %22.0f %8.2f\n", threads, threads * perThread, f.writeLog, f.baseline,
                     f.writeLog / f.baseline);
        std::fflush(report);
    }
    std::fclose(report);
    return 0;
}
