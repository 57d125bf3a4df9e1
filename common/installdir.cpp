#include "common/installdir.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace varno {

namespace {

std::string computeInstallDir()
{
    // Same rule as QStandardPaths::GenericDataLocation, without needing an
    // application object: XDG_DATA_HOME when absolute, else ~/.local/share.
    std::string base;
    const char *xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char *home = std::getenv("HOME");
        base = std::string(home && home[0] ? home : "/tmp") + "/.local/share";
    }
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    return base + "/varno";
}

} // namespace

namespace {

bool insideInstallDir(const std::string &path)
{
    const std::string &dir = installDir();
    return path.compare(0, dir.size(), dir) == 0 && (path.size() == dir.size() || path[dir.size()] == '/');
}

} // namespace

const std::string &installDir()
{
    static const std::string dir = computeInstallDir();
    return dir;
}

void keepNewFilesPrivate()
{
    ::umask(077);
}

bool makePath(const std::string &path)
{
    if (path.empty())
        return false;
    std::string partial;
    partial.reserve(path.size());
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || (path[i] == '/' && i > 0)) {
            if (::mkdir(partial.c_str(), insideInstallDir(partial) ? 0700 : 0755) != 0 && errno != EEXIST)
                return false;
        }
        if (i < path.size())
            partial.push_back(path[i]);
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool makePrivate(const std::string &path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    if ((st.st_mode & 077) == 0)
        return true;
    return ::chmod(path.c_str(), 0700) == 0;
}

bool enterInstallDir()
{
    const std::string &dir = installDir();
    if (!makePath(dir))
        return false;
    makePrivate(dir);
    return ::chdir(dir.c_str()) == 0;
}

} // namespace varno
