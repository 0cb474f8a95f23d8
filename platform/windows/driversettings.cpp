#include "platform/driversettings.h"

#include "platform/printjobtext.h"
#include "platform/windows/devcontext.h"
#include "platform/windows/devmode.h"
#include "platform/windows/printerhandle.h"
#include "platform/windows/wintext.h"

namespace vek::platform {

namespace {

// The smallest block the printing path accepts: the fixed DEVMODEW.
constexpr std::size_t kMinSavedSettingsBytes = 220;
static_assert(sizeof(DEVMODEW) == kMinSavedSettingsBytes);

// The driver's settings block, filled by DocumentPropertiesW in mode from
// input (nullptr for none); empty when the driver does not answer IDOK.
Bytes DriverBlock(HWND window, HANDLE printer, std::wstring &name, std::size_t size,
    const Bytes *input, DWORD mode)
{
    Bytes block(size, 0);
    const LONG result = DocumentPropertiesW(window, printer, name.data(),
        reinterpret_cast<DEVMODEW *>(block.data()),
        input ? const_cast<DEVMODEW *>(reinterpret_cast<const DEVMODEW *>(input->data())) : nullptr,
        mode);
    return result == IDOK ? block : Bytes();
}

}  // namespace

Bytes CaptureDriverSettings(
    const std::string &systemName, std::uintptr_t window, bool showDialog, const Bytes &seed)
{
    if (systemName.empty() || IsUnusableQueueName(systemName))
        return {};
    std::wstring name = win::ToWide(systemName);
    win::PrinterHandle printer;
    if (!OpenPrinterW(name.data(), printer.receive(), nullptr) || !printer)
        return {};

    const auto owner = reinterpret_cast<HWND>(window);
    const LONG size = DocumentPropertiesW(owner, printer.get(), name.data(), nullptr, nullptr, 0);
    if (size < 1 || std::size_t(size) > kMaxDriverSettingsBytes)
        return {};

    // A seed starts the driver only when it has the driver's own shape: the
    // driver reads as many bytes as the block says it holds.
    const Bytes *input = nullptr;
    if (seed.size() == std::size_t(size)) {
        const auto seedShape = win::ReadDevModeShape(seed);
        const auto current = win::ReadDevModeShape(
            DriverBlock(owner, printer.get(), name, seed.size(), nullptr, DM_OUT_BUFFER));
        if (seedShape && current && seedShape->sameSizes(*current))
            input = &seed;
    }
    DWORD mode = DM_OUT_BUFFER;
    if (input)
        mode |= DM_IN_BUFFER;
    if (showDialog)
        mode |= DM_IN_PROMPT;
    return DriverBlock(owner, printer.get(), name, std::size_t(size), input, mode);
}

std::optional<Bytes> SettingsForPrinting(const std::string &systemName, const Bytes &saved)
{
    if (saved.size() < kMinSavedSettingsBytes)
        return std::nullopt;
    const Bytes current = CaptureDriverSettings(systemName, 0, false, {});
    if (current.size() != saved.size())
        return std::nullopt;
    const auto savedShape = win::ReadDevModeShape(saved);
    const auto currentShape = win::ReadDevModeShape(current);
    if (!savedShape || !currentShape || !savedShape->sameSizes(*currentShape)
        || savedShape->specVersion != currentShape->specVersion
        || savedShape->driverVersion != currentShape->driverVersion)
        return std::nullopt;
    Bytes settings = saved;
    win::SetSingleCopy(settings);
    return settings;
}

PaperSize PhysicalPaperSize(const std::string &systemName, const Bytes &settings)
{
    const win::DeviceContext device = win::OpenPrinterDevice(systemName, settings);
    if (!device)
        return {};
    // A driver that reports no resolution gives 0 here, never a division by 0.
    const auto millimetres = [&](int dotsIndex, int dpiIndex) {
        const int dpi = GetDeviceCaps(device.get(), dpiIndex);
        return dpi == 0 ? 0.0 : GetDeviceCaps(device.get(), dotsIndex) * 25.4 / dpi;
    };
    return PaperSize { true, millimetres(PHYSICALWIDTH, LOGPIXELSX),
        millimetres(PHYSICALHEIGHT, LOGPIXELSY) };
}

}  // namespace vek::platform
