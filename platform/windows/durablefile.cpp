#include "platform/durablefile.h"

#include "platform/windows/wintext.h"

#include <windows.h>

namespace vek::platform {

namespace {

class FileHandle {
public:
    explicit FileHandle(HANDLE handle)
        : handle_(handle)
    {
    }
    ~FileHandle()
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

}  // namespace

bool ReplaceFileDurably(const std::string &tempPath, const std::string &targetPath)
{
    const std::wstring from = win::ToWide(tempPath);
    const std::wstring to = win::ToWide(targetPath);
    {
        FileHandle file(CreateFileW(from.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.get() == INVALID_HANDLE_VALUE || !FlushFileBuffers(file.get()))
            return false;
    }
    // Write-through: the call returns only once the rename is on the disk.
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
        != FALSE;
}

}  // namespace vek::platform
