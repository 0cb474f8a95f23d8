#include "sink.h"

#include "platform/windows/wintext.h"

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

bool QueueHasJob(const std::wstring &queueDirectory, const Bytes &expected)
{
    WIN32_FIND_DATAW entry {};
    const FindHandle find(FindFirstFileW((queueDirectory + L"\\*.job").c_str(), &entry));
    if (find.get() == INVALID_HANDLE_VALUE)
        return false;
    do {
        if (entry.nFileSizeHigh != 0 || entry.nFileSizeLow != expected.size())
            continue;
        if (ReadFileBytes(queueDirectory + L"\\" + entry.cFileName) == expected)
            return true;
    } while (FindNextFileW(find.get(), &entry));
    return false;
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
    const std::wstring directory = SinkDirectory() + L"\\" + win::ToWide(queue);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!QueueHasJob(directory, expected)) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

}  // namespace vek::platform::test
