#include "sink.h"

#include "platform/windows/wintext.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>
#include <windows.h>

namespace vek::platform::test {

namespace {

// Closes a handle of the kind that Close takes, on every path.
template <BOOL(WINAPI *Close)(HANDLE)> class ScopedHandle {
public:
    explicit ScopedHandle(HANDLE handle)
        : handle_(handle)
    {
    }
    ~ScopedHandle()
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            Close(handle_);
    }
    ScopedHandle(const ScopedHandle &) = delete;
    ScopedHandle &operator=(const ScopedHandle &) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};
using FileHandle = ScopedHandle<CloseHandle>;
using FindHandle = ScopedHandle<FindClose>;

std::optional<Bytes> ReadFileBytes(const std::wstring &path)
{
    const FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE)
        return std::nullopt;
    LARGE_INTEGER size {};
    if (!GetFileSizeEx(file.get(), &size))
        return std::nullopt;
    Bytes bytes(static_cast<std::size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty()
        && (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)
            || read != bytes.size()))
        return std::nullopt;
    return bytes;
}

std::wstring QueueDirectory(const std::string &queue)
{
    return SinkDirectory() + L"\\" + win::ToWide(queue);
}

// The bytes of the first job in the queue's sink that matches.
template <typename Matches>
std::optional<Bytes> FindJob(const std::string &queue, const Matches &matches)
{
    const std::wstring directory = QueueDirectory(queue);
    WIN32_FIND_DATAW entry {};
    const FindHandle find(FindFirstFileW((directory + L"\\*.job").c_str(), &entry));
    if (find.get() == INVALID_HANDLE_VALUE)
        return std::nullopt;
    do {
        const std::uint64_t size = (std::uint64_t(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
        if (!matches.size(size))
            continue;
        std::optional<Bytes> bytes = ReadFileBytes(directory + L"\\" + entry.cFileName);
        if (bytes && matches.bytes(*bytes))
            return bytes;
    } while (FindNextFileW(find.get(), &entry));
    return std::nullopt;
}

struct Exactly {
    const Bytes &expected;
    bool size(std::uint64_t size) const { return size == expected.size(); }
    bool bytes(const Bytes &bytes) const { return bytes == expected; }
};

struct Containing {
    const std::string &marker;
    bool size(std::uint64_t size) const { return size >= marker.size(); }
    bool bytes(const Bytes &bytes) const
    {
        return std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end()) != bytes.end();
    }
};

template <typename Matches>
std::optional<Bytes> WaitForMatch(
    const std::string &queue, const Matches &matches, std::chrono::seconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (std::optional<Bytes> job = FindJob(queue, matches))
            return job;
        if (std::chrono::steady_clock::now() > deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

}  // namespace

std::wstring SinkDirectory()
{
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"VEK_TEST_SINK_DIR", buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    std::wstring path = L"Z:" + std::wstring(buffer, length);
    for (wchar_t &c : path) {
        if (c == L'/')
            c = L'\\';
    }
    return path;
}

std::string UniqueMarker()
{
    static std::atomic<unsigned> counter { 0 };
    return "VEK-TEST-" + std::to_string(GetCurrentProcessId()) + "-"
        + std::to_string(GetTickCount64()) + "-" + std::to_string(++counter);
}

bool WaitForJob(const std::string &queue, const Bytes &expected, std::chrono::seconds timeout)
{
    return WaitForMatch(queue, Exactly { expected }, timeout).has_value();
}

std::optional<Bytes> WaitForJobContaining(
    const std::string &queue, const std::string &marker, std::chrono::seconds timeout)
{
    return WaitForMatch(queue, Containing { marker }, timeout);
}

bool HasJobContaining(const std::string &queue, const std::string &marker)
{
    return FindJob(queue, Containing { marker }).has_value();
}

}  // namespace vek::platform::test
