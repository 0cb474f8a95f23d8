#pragma once
// An open print queue, closed when it goes out of scope.

#include <windows.h>

#include <winspool.h>

namespace vek::platform::win {

class PrinterHandle {
public:
    PrinterHandle() = default;
    ~PrinterHandle()
    {
        if (handle_ != nullptr)
            ClosePrinter(handle_);
    }
    PrinterHandle(const PrinterHandle &) = delete;
    PrinterHandle &operator=(const PrinterHandle &) = delete;

    HANDLE get() const { return handle_; }
    HANDLE *receive() { return &handle_; }  // for OpenPrinterW on an empty handle
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HANDLE handle_ = nullptr;
};

}  // namespace vek::platform::win
