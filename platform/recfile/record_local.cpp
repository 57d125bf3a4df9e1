#include "platform/recfile/record_local.h"

#include "common/logfile.h"
#include "common/textfield.h"
#include "platform/recfile/filelist.h"
#include "platform/recfile/recordreader.h"
#include "platform/recfile/recordwriter.h"
#include "platform/recfile/repair.h"

#include <QDateTime>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace varno::recfile;

namespace {

enum class Kind { Writer, Reader };

struct HandleEntry
{
    Kind kind = Kind::Writer;
    std::mutex mutex;
    std::unique_ptr<RecordWriter> writer;
    std::unique_ptr<RecordReader> reader;
    std::string dir;
    std::string fullPath;
    std::string devId;
    MEDIA_FILE_S record {};
};

std::mutex g_handleMutex;
std::map<RECORD_HANDLE, std::shared_ptr<HandleEntry>> g_handles;
RECORD_HANDLE g_nextHandle = 1;
int g_initCount = 0;

// Parameter sets of each device's last closed file.
std::mutex g_paramMutex;
std::map<std::string, std::vector<uint8_t>> g_params;

thread_local std::vector<MEDIA_FILE_S> t_queryResult;

std::shared_ptr<HandleEntry> findHandle(RECORD_HANDLE handle)
{
    std::lock_guard<std::mutex> lock(g_handleMutex);
    const auto it = g_handles.find(handle);
    return it == g_handles.end() ? nullptr : it->second;
}

std::shared_ptr<HandleEntry> takeHandle(RECORD_HANDLE handle)
{
    std::lock_guard<std::mutex> lock(g_handleMutex);
    const auto it = g_handles.find(handle);
    if (it == g_handles.end())
        return nullptr;
    auto entry = it->second;
    g_handles.erase(it);
    return entry;
}

RECORD_HANDLE addHandle(const std::shared_ptr<HandleEntry> &entry)
{
    std::lock_guard<std::mutex> lock(g_handleMutex);
    RECORD_HANDLE h = g_nextHandle;
    while (g_handles.count(h) || h <= 0)
        h = h >= 0x7FFFFFFF || h <= 0 ? 1 : h + 1;
    g_nextHandle = h >= 0x7FFFFFFF ? 1 : h + 1;
    g_handles.emplace(h, entry);
    return h;
}

std::string folderOf(const char *text, size_t size)
{
    std::string dir(text, ::strnlen(text, size));
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

bool isDirectory(const std::string &dir)
{
    struct stat st {};
    return !dir.empty() && ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool fileExists(const std::string &path, uint64_t *size = nullptr)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (size)
        *size = static_cast<uint64_t>(st.st_size);
    return true;
}

// The device ID as a file name part: no '/', no control characters.
std::string nameSafe(const char *devId)
{
    std::string out(devId, ::strnlen(devId, 64));
    for (char &c : out)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '-';
    if (out.empty())
        out = "unknown";
    return out;
}

bool nameListed(const std::vector<MEDIA_FILE_S> &records, const std::string &name)
{
    for (const MEDIA_FILE_S &r : records)
        if (std::strncmp(r.fileName, name.c_str(), sizeof(r.fileName)) == 0)
            return true;
    return false;
}

std::string recordName(const MEDIA_FILE_S &r)
{
    return std::string(r.fileName, ::strnlen(r.fileName, sizeof(r.fileName)));
}

} // namespace

std::set<std::string> varno::recfile::filesBeingWritten()
{
    std::set<std::string> paths;
    std::lock_guard<std::mutex> lock(g_handleMutex);
    for (const auto &[h, entry] : g_handles)
        if (entry->kind == Kind::Writer)
            paths.insert(entry->fullPath);
    return paths;
}

extern "C" {

int Record_local_InitSdk()
{
    std::lock_guard<std::mutex> lock(g_handleMutex);
    ++g_initCount;
    return 0;
}

int Record_local_UnInitSdk()
{
    std::vector<RECORD_HANDLE> open;
    {
        std::lock_guard<std::mutex> lock(g_handleMutex);
        if (g_initCount > 0)
            --g_initCount;
        if (g_initCount > 0)
            return 0;
        for (const auto &[h, entry] : g_handles)
            open.push_back(h);
    }
    for (RECORD_HANDLE h : open)
        Record_local_MediaFileClose(h);
    return 0;
}

void Record_local_LockFilelist()
{
    filelistMutex().lock();
}

void Record_local_UnlockFilelist()
{
    filelistMutex().unlock();
}

int Record_local_IsFileBeingWritten(const char *path)
{
    if (!path)
        return 0;
    std::string p(path);
    return filesBeingWritten().count(p) ? 1 : 0;
}

int Record_local_MediaFileCreat(const RECORD_INFO_S *info, char *path, RECORD_HANDLE *file, uint64_t *startTick)
{
    if (!info || !path || !file)
        return RECORD_LOCAL_ERR_PARAM;
    const std::string dir = folderOf(path, RECORD_LOCAL_PATH_SIZE);
    if (dir.empty())
        return RECORD_LOCAL_ERR_PARAM;
    if (!isDirectory(dir)) {
        WriteLog(2, "%s(%d):Record dir(%s) not exist!!!", "Record_local_MediaFileCreat", __LINE__, dir.c_str());
        return RECORD_LOCAL_ERR_DIR;
    }

    auto entry = std::make_shared<HandleEntry>();
    entry->kind = Kind::Writer;
    entry->dir = dir;
    entry->devId.assign(info->devId, ::strnlen(info->devId, sizeof(info->devId)));
    entry->writer = std::make_unique<RecordWriter>();

    std::vector<uint8_t> cached;
    {
        std::lock_guard<std::mutex> lock(g_paramMutex);
        const auto it = g_params.find(entry->devId);
        if (it != g_params.end())
            cached = it->second;
    }

    const QDateTime now = QDateTime::currentDateTime();
    const MEDIA_TIME_S start = mediaTime(now);
    MEDIA_FILE_S &record = entry->record;
    {
        std::lock_guard<std::mutex> lock(filelistMutex());
        std::vector<MEDIA_FILE_S> listed;
        readFilelist(dir, listed);
        const std::string base = nameSafe(info->devId) + "_" + now.toString(QStringLiteral("yyyyMMdd_hhmmss")).toStdString();
        std::string name = base + ".mkv";
        for (int n = 1; fileExists(dir + "/" + name) || nameListed(listed, name); ++n)
            name = base + "-" + std::to_string(n) + ".mkv";
        entry->fullPath = dir + "/" + name;
        if (entry->fullPath.size() >= RECORD_LOCAL_PATH_SIZE || name.size() >= sizeof(record.fileName))
            return RECORD_LOCAL_ERR_PARAM;

        if (entry->writer->open(entry->fullPath, *info, start, cached) < 0) {
            entry->writer.reset();
            ::unlink(entry->fullPath.c_str());
            WriteLog(2, "%s(%d):Create file(%s) failed!!!", "Record_local_MediaFileCreat", __LINE__,
                     entry->fullPath.c_str());
            return RECORD_LOCAL_ERR_CREATE;
        }

        std::memset(&record, 0, sizeof(record));
        varno::setText(record.devId, info->devId);
        varno::setText(record.fileName, name.c_str());
        record.state = MEDIA_FILE_STATE_OPEN;
        record.alarmType = info->alarmType;
        record.channel = info->channel;
        record.startTime = start;
        record.endTime = start;
        record.audioType = entry->writer->audioType();
        record.videoType = info->videoCodec == static_cast<int32_t>(MEDIA_VIDEO_H265) ? MEDIA_VIDEO_H265
                                                                                      : MEDIA_VIDEO_H264;
        record.frameRate = entry->writer->frameRate();
        record.width = info->width;
        record.height = info->height;
        if (entry->writer->hasAudio()) {
            record.sampleRate = static_cast<uint32_t>(info->sampleRate);
            record.bits = 16;
            record.channels = info->channels > 0 ? static_cast<uint32_t>(info->channels) : 1;
        }
        if (!appendRecord(dir, record)) {
            entry->writer.reset();
            ::unlink(entry->fullPath.c_str());
            WriteLog(2, "%s(%d):Append filelist of dir(%s) failed!!!", "Record_local_MediaFileCreat", __LINE__,
                     dir.c_str());
            return RECORD_LOCAL_ERR_CREATE;
        }
    }

    varno::setText(path, RECORD_LOCAL_PATH_SIZE, entry->fullPath.c_str());
    *file = addHandle(entry);
    if (startTick)
        *startTick = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now().time_since_epoch())
                                               .count());
    return 0;
}

int Record_local_MediaFileWrite(RECORD_HANDLE file, uint32_t type, const unsigned char *data, uint32_t size)
{
    if (!data || size == 0)
        return RECORD_LOCAL_ERR_PARAM;
    const auto entry = findHandle(file);
    if (!entry || entry->kind != Kind::Writer)
        return RECORD_LOCAL_ERR_HANDLE;
    std::lock_guard<std::mutex> lock(entry->mutex);
    if (!entry->writer)
        return RECORD_LOCAL_ERR_HANDLE;
    return entry->writer->write(type, data, size) < 0 ? RECORD_LOCAL_ERR_WRITE : 0;
}

int Record_local_setMediaFileAlarmType(RECORD_HANDLE file, int type)
{
    const auto entry = findHandle(file);
    if (!entry || entry->kind != Kind::Writer)
        return RECORD_LOCAL_ERR_HANDLE;
    std::lock_guard<std::mutex> lock(entry->mutex);
    entry->record.alarmType = static_cast<uint16_t>(type);
    std::lock_guard<std::mutex> listLock(filelistMutex());
    updateRecord(entry->dir, entry->record);
    return 0;
}

int Record_local_MediaFileClose(RECORD_HANDLE handle)
{
    const auto entry = takeHandle(handle);
    if (!entry)
        return RECORD_LOCAL_ERR_HANDLE;
    std::lock_guard<std::mutex> lock(entry->mutex);
    if (entry->kind == Kind::Reader) {
        entry->reader.reset();
        return 0;
    }
    if (!entry->writer)
        return RECORD_LOCAL_ERR_HANDLE;

    RecordWriter &writer = *entry->writer;
    const int finished = writer.finish();
    const std::vector<uint8_t> params = writer.parameterSets();
    if (!params.empty()) {
        std::lock_guard<std::mutex> paramLock(g_paramMutex);
        g_params[entry->devId] = params;
    }

    MEDIA_FILE_S &record = entry->record;
    std::lock_guard<std::mutex> listLock(filelistMutex());
    if (writer.empty()) {
        // Nothing decodable arrived: the file and its record go.
        ::unlink(entry->fullPath.c_str());
        std::vector<MEDIA_FILE_S> records;
        if (readFilelist(entry->dir, records)) {
            const std::string name = recordName(record);
            const auto it = std::find_if(records.rbegin(), records.rend(),
                                         [&](const MEDIA_FILE_S &r) { return recordName(r) == name; });
            if (it != records.rend()) {
                records.erase(std::next(it).base());
                writeFilelist(entry->dir, records);
            }
        }
        return 0;
    }

    uint64_t size = 0;
    fileExists(entry->fullPath, &size);
    FileFacts facts;
    facts.videoType = record.videoType;
    facts.frameRate = writer.frameRate();
    facts.width = record.width;
    facts.height = record.height;
    // An AAC stream's own settings may differ from the record information's.
    facts.sampleRate = record.sampleRate ? static_cast<uint32_t>(writer.sampleRate()) : 0;
    facts.channels = record.sampleRate ? static_cast<uint32_t>(writer.channels()) : 0;
    facts.audioType = writer.audioType();
    facts.lengthMs = writer.lengthMs();
    facts.videoMs = static_cast<int64_t>(writer.frameSlots()) * 1000 / std::max<uint32_t>(1, writer.frameRate());
    fillRecord(record, facts, size);
    record.frameCount = writer.frameSlots();
    record.state = finished == 0 ? MEDIA_FILE_STATE_CLOSED : MEDIA_FILE_STATE_OPEN;
    updateRecord(entry->dir, record);
    if (finished != 0) {
        WriteLog(2, "%s(%d):Close file(%s) failed!!!", "Record_local_MediaFileClose", __LINE__, entry->fullPath.c_str());
        return RECORD_LOCAL_ERR_WRITE;
    }
    return 0;
}

int Record_local_MediaFileQuery(MEDIA_QUERY_S query, MEDIA_LIST_S *list)
{
    if (!list)
        return RECORD_LOCAL_ERR_PARAM;
    list->count = 0;
    list->files = nullptr;
    const std::string dir = folderOf(query.dir, sizeof(query.dir));
    if (!isDirectory(dir))
        return RECORD_LOCAL_ERR_DIR;

    std::vector<MEDIA_FILE_S> records;
    bool rebuild = false;
    {
        std::lock_guard<std::mutex> lock(filelistMutex());
        if (!readFilelist(dir, records, nullptr, &rebuild))
            return RECORD_LOCAL_ERR_READ;
    }
    if (rebuild) {
        // The list could not be read and was set aside: the folder's
        // recordings are listed again from the files themselves.
        Record_local_MediaFileRepair(dir.c_str());
        std::lock_guard<std::mutex> lock(filelistMutex());
        if (!readFilelist(dir, records))
            return RECORD_LOCAL_ERR_READ;
    }
    const std::set<std::string> writing = filesBeingWritten();
    const size_t devLength = ::strnlen(query.devId, sizeof(query.devId));
    const int64_t from = timeKey(query.startTime);
    const int64_t to = timeKey(query.endTime);
    const int64_t nowKey = timeKey(mediaTime(QDateTime::currentDateTime()));

    t_queryResult.clear();
    for (const MEDIA_FILE_S &r : records) {
        if (!isPlainFileName(r.fileName, sizeof(r.fileName)))
            continue;
        if (devLength && (::strnlen(r.devId, sizeof(r.devId)) != devLength
                          || std::memcmp(r.devId, query.devId, devLength) != 0))
            continue;
        const int64_t start = timeKey(r.startTime);
        int64_t end = timeKey(r.endTime);
        if (r.state == MEDIA_FILE_STATE_OPEN && writing.count(dir + "/" + recordName(r)))
            end = nowKey;
        if (end < start)
            end = start;
        if (start > to || end < from)
            continue;
        t_queryResult.push_back(r);
    }
    list->count = static_cast<int32_t>(t_queryResult.size());
    list->files = t_queryResult.empty() ? nullptr : t_queryResult.data();
    return 0;
}

int Record_local_MediaFileOpen(const char *path, RECORD_HANDLE *handle, uint32_t *length, uint32_t *totalFrames,
                               uint32_t *frameRate)
{
    if (!path || !*path || !handle)
        return RECORD_LOCAL_ERR_PARAM;
    auto entry = std::make_shared<HandleEntry>();
    entry->kind = Kind::Reader;
    entry->fullPath = path;
    entry->reader = std::make_unique<RecordReader>();
    if (entry->reader->open(path) < 0) {
        WriteLog(2, "%s(%d):Open file(%s) failed!!!", "Record_local_MediaFileOpen", __LINE__, path);
        return RECORD_LOCAL_ERR_OPEN;
    }
    if (length)
        *length = entry->reader->lengthMs();
    if (totalFrames)
        *totalFrames = entry->reader->totalFrames();
    if (frameRate)
        *frameRate = entry->reader->frameRate();
    *handle = addHandle(entry);
    return 0;
}

int Record_local_MediaFileGetNextFrame(RECORD_HANDLE handle, uint32_t *type, unsigned char **data, uint32_t *size)
{
    if (!type || !data || !size)
        return RECORD_LOCAL_ERR_PARAM;
    const auto entry = findHandle(handle);
    if (!entry || entry->kind != Kind::Reader)
        return RECORD_LOCAL_ERR_HANDLE;
    std::lock_guard<std::mutex> lock(entry->mutex);
    if (!entry->reader)
        return RECORD_LOCAL_ERR_HANDLE;
    const uint8_t *bytes = nullptr;
    const int ret = entry->reader->next(type, &bytes, size);
    if (ret != 0)
        return ret > 0 ? RECORD_LOCAL_ERR_END : RECORD_LOCAL_ERR_READ;
    *data = const_cast<unsigned char *>(bytes);
    return 0;
}

int Record_local_MediaFileSeek(RECORD_HANDLE handle, int64_t offset, int mode)
{
    if (mode != RECORD_LOCAL_SEEK_TIME)
        return RECORD_LOCAL_ERR_PARAM;
    const auto entry = findHandle(handle);
    if (!entry || entry->kind != Kind::Reader)
        return RECORD_LOCAL_ERR_HANDLE;
    std::lock_guard<std::mutex> lock(entry->mutex);
    if (!entry->reader)
        return RECORD_LOCAL_ERR_HANDLE;
    return entry->reader->seekMs(offset) < 0 ? RECORD_LOCAL_ERR_SEEK : 0;
}

int Record_local_MediaFileRepair(const char *dirText)
{
    if (!dirText)
        return RECORD_LOCAL_ERR_PARAM;
    const std::string dir = folderOf(dirText, RECORD_LOCAL_PATH_SIZE);
    if (!isDirectory(dir))
        return RECORD_LOCAL_ERR_DIR;

    // 1. Under the lock: what needs work.
    std::vector<MEDIA_FILE_S> records;
    std::set<std::string> writing;
    {
        std::lock_guard<std::mutex> lock(filelistMutex());
        if (!readFilelist(dir, records))
            return RECORD_LOCAL_ERR_READ;
        writing = filesBeingWritten();
    }
    std::set<std::string> listed;
    std::vector<std::string> toRepair;
    for (const MEDIA_FILE_S &r : records) {
        if (!isPlainFileName(r.fileName, sizeof(r.fileName)))
            continue;
        const std::string name = recordName(r);
        listed.insert(name);
        if (r.state == MEDIA_FILE_STATE_OPEN && !writing.count(dir + "/" + name) && fileExists(dir + "/" + name))
            toRepair.push_back(name);
    }
    std::vector<std::string> lost;
    if (DIR *d = ::opendir(dir.c_str())) {
        while (const dirent *e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name.size() > 11 && name.compare(name.size() - 11, 11, ".mkv.repair") == 0) {
                ::unlink((dir + "/" + name).c_str()); // left by a repair that was cut short
                continue;
            }
            std::string devId;
            MEDIA_TIME_S start {};
            if (!listed.count(name) && !writing.count(dir + "/" + name) && parseRecordName(name, &devId, &start)
                && fileExists(dir + "/" + name))
                lost.push_back(name);
        }
        ::closedir(d);
    }

    // 2. Without the lock: rewrite files cut short, read the lost ones.
    struct Result
    {
        FileFacts facts;
        uint64_t size = 0;
        uint32_t state = MEDIA_FILE_STATE_DAMAGED;
    };
    std::map<std::string, Result> results;
    auto repairOne = [&](const std::string &name, bool knownCut) {
        const std::string path = dir + "/" + name;
        Result result;
        FileFacts facts = knownCut ? FileFacts {} : probeFile(path);
        if (facts.readable && facts.complete) {
            result.state = MEDIA_FILE_STATE_CLOSED;
            result.facts = facts;
        } else {
            const std::string tmp = path + ".repair";
            if (remuxFile(path, tmp, &result.facts) == 0 && ::rename(tmp.c_str(), path.c_str()) == 0) {
                result.state = MEDIA_FILE_STATE_REPAIRED;
                WriteLog(0, "[RECORD]Repaired file(%s)!!!", path.c_str());
            } else {
                ::unlink(tmp.c_str());
                result.state = MEDIA_FILE_STATE_DAMAGED;
                WriteLog(3, "%s(%d):File(%s) holds nothing readable!!!", "Record_local_MediaFileRepair", __LINE__,
                         path.c_str());
            }
        }
        fileExists(path, &result.size);
        results[name] = result;
    };
    for (const std::string &name : toRepair)
        repairOne(name, true);
    for (const std::string &name : lost)
        repairOne(name, false);

    // 3. Under the lock again: apply to the list as it is now.
    std::lock_guard<std::mutex> lock(filelistMutex());
    std::vector<MEDIA_FILE_S> current;
    size_t tail = 0;
    if (!readFilelist(dir, current, &tail))
        return RECORD_LOCAL_ERR_READ;
    writing = filesBeingWritten();
    std::vector<MEDIA_FILE_S> out;
    std::set<std::string> present;
    for (MEDIA_FILE_S r : current) {
        if (!isPlainFileName(r.fileName, sizeof(r.fileName)))
            continue; // a garbage record names no file of this folder
        const std::string name = recordName(r);
        const std::string path = dir + "/" + name;
        if (!writing.count(path) && !fileExists(path))
            continue; // its file is gone
        if (present.count(name))
            continue; // listed twice
        const auto it = results.find(name);
        if (it != results.end() && r.state == MEDIA_FILE_STATE_OPEN) {
            fillRecord(r, it->second.facts, it->second.size);
            r.state = it->second.state;
        }
        present.insert(name);
        out.push_back(r);
    }
    for (const std::string &name : lost) {
        if (present.count(name) || !fileExists(dir + "/" + name))
            continue;
        const Result &result = results[name];
        MEDIA_FILE_S r {};
        std::string devId;
        MEDIA_TIME_S start {};
        parseRecordName(name, &devId, &start);
        varno::setText(r.devId, result.facts.devId.empty() ? devId : result.facts.devId);
        varno::setText(r.fileName, name.c_str());
        r.startTime = result.facts.hasStart ? result.facts.start : start;
        r.channel = static_cast<uint16_t>(result.facts.channel);
        fillRecord(r, result.facts, result.size);
        r.state = result.state;
        // Oldest first: before the first record that started later.
        const auto at = std::find_if(out.begin(), out.end(), [&](const MEDIA_FILE_S &o) {
            return timeKey(o.startTime) > timeKey(r.startTime);
        });
        out.insert(at, r);
        present.insert(name);
    }
    const bool same = tail == 0 && out.size() == current.size()
        && (out.empty() || std::memcmp(out.data(), current.data(), out.size() * sizeof(MEDIA_FILE_S)) == 0);
    if (!same && !writeFilelist(dir, out))
        return RECORD_LOCAL_ERR_WRITE;
    return 0;
}

} // extern "C"
