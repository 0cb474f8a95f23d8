// fork twice so the program is adopted by init and runs in its own session;
// every descriptor above the standard streams is marked close-on-exec in the
// child, so nothing of this process (lock files, sockets, connections) leaks
// into it. A close-on-exec pipe reports the exec's failure to the caller.

#include "platform/detachedstart.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <linux/close_range.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vek::platform {
namespace {

void MarkDescriptorsCloseOnExec(long openMax)
{
    if (syscall(SYS_close_range, 3u, ~0u, CLOSE_RANGE_CLOEXEC) == 0)
        return;
    for (long fd = 3; fd < openMax; ++fd)
        fcntl(int(fd), F_SETFD, FD_CLOEXEC);
}

bool WriteAll(int fd, const void *data, std::size_t size)
{
    const char *at = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t written = write(fd, at, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        at += written;
        size -= std::size_t(written);
    }
    return true;
}

std::size_t ReadAll(int fd, void *into, std::size_t size)
{
    char *at = static_cast<char *>(into);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = read(fd, at + done, size - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += std::size_t(got);
    }
    return done;
}

}  // namespace

bool StartDetached(
    const std::string &program, const std::vector<std::string> &arguments, std::int64_t *processId)
{
    const std::filesystem::path path(program);
    if (!path.is_absolute())
        return false;
    const std::string directory = path.parent_path().string();
    // Everything the children need is prepared before fork: between fork and
    // exec only async-signal-safe calls are made.
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    const long openMax = sysconf(_SC_OPEN_MAX) > 0 ? sysconf(_SC_OPEN_MAX) : 1024;

    // The middle child reports the program's process id on one pipe, the
    // program an exec failure on the other.
    int ids[2];
    int report[2];
    if (pipe2(ids, O_CLOEXEC) != 0)
        return false;
    if (pipe2(report, O_CLOEXEC) != 0) {
        close(ids[0]);
        close(ids[1]);
        return false;
    }
    const pid_t child = fork();
    if (child < 0) {
        for (const int fd : { ids[0], ids[1], report[0], report[1] })
            close(fd);
        return false;
    }
    if (child == 0) {
        setsid();
        const pid_t grandchild = fork();
        if (grandchild != 0) {
            const std::int64_t id = grandchild;
            WriteAll(ids[1], &id, sizeof id);
            _exit(0);
        }
        const int null = open("/dev/null", O_RDWR);
        if (null < 0 || dup2(null, 0) < 0 || dup2(null, 1) < 0 || dup2(null, 2) < 0
            || chdir(directory.c_str()) != 0) {
            const int error = errno;
            WriteAll(report[1], &error, sizeof error);
            _exit(127);
        }
        MarkDescriptorsCloseOnExec(openMax);
        // Signal masks and ignored signals survive exec; the program starts
        // with neither.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        execv(program.c_str(), argv.data());
        const int error = errno;
        WriteAll(report[1], &error, sizeof error);
        _exit(127);
    }
    close(ids[1]);
    close(report[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    std::int64_t id = 0;
    int error = 0;
    const bool forked = ReadAll(ids[0], &id, sizeof id) == sizeof id && id > 0;
    const bool execFailed = ReadAll(report[0], &error, sizeof error) != 0;
    close(ids[0]);
    close(report[0]);
    if (!forked || execFailed)
        return false;
    if (processId)
        *processId = id;
    return true;
}

}  // namespace vek::platform
