#include "platform/windows/devcontext.h"

#include "platform/printjobtext.h"
#include "platform/windows/devmode.h"
#include "platform/windows/wintext.h"

namespace vek::platform::win {

DeviceContext OpenPrinterDevice(const std::string &systemName, const Bytes &settings)
{
    const DEVMODEW *devMode = AsDevMode(settings);
    if (systemName.empty() || IsUnusableQueueName(systemName) || devMode == nullptr)
        return DeviceContext();
    const std::wstring name = ToWide(systemName);
    return DeviceContext(CreateDCW(L"WINSPOOL", name.c_str(), nullptr, devMode));
}

}  // namespace vek::platform::win
