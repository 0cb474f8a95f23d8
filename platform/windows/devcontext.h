#pragma once
// A printer device context, deleted when it goes out of scope.

#include "platform/driversettings.h"

#include <string>
#include <utility>
#include <windows.h>

namespace vek::platform::win {

class DeviceContext {
public:
    explicit DeviceContext(HDC dc = nullptr)
        : dc_(dc)
    {
    }
    ~DeviceContext()
    {
        if (dc_ != nullptr)
            DeleteDC(dc_);
    }
    DeviceContext(DeviceContext &&other) noexcept
        : dc_(std::exchange(other.dc_, nullptr))
    {
    }
    DeviceContext(const DeviceContext &) = delete;
    DeviceContext &operator=(const DeviceContext &) = delete;
    DeviceContext &operator=(DeviceContext &&) = delete;

    HDC get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

private:
    HDC dc_;
};

// A device for the queue made with the settings block; empty when the name
// cannot be a queue's, the block has no consistent shape, or the driver
// refuses it.
DeviceContext OpenPrinterDevice(const std::string &systemName, const Bytes &settings);

}  // namespace vek::platform::win
