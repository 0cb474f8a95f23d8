#include "platform/durablefile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace vek::platform {

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd)
        : fd_(fd)
    {
    }
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

bool SyncPath(const std::string &path, int flags)
{
    Descriptor fd(::open(path.c_str(), flags | O_CLOEXEC));
    if (fd.get() < 0)
        return false;
    int rc;
    do
        rc = ::fsync(fd.get());
    while (rc != 0 && errno == EINTR);
    return rc == 0;
}

std::string DirectoryOf(const std::string &path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool ReplaceFileDurably(const std::string &tempPath, const std::string &targetPath)
{
    if (!SyncPath(tempPath, O_RDONLY))
        return false;
    if (std::rename(tempPath.c_str(), targetPath.c_str()) != 0)
        return false;
    // The rename lives in the directory: without this a power cut may bring
    // back the old file although the new one was reported as in place.
    return SyncPath(DirectoryOf(targetPath), O_RDONLY | O_DIRECTORY);
}

}  // namespace vek::platform
