#pragma once
// A print queue's driver settings as one block of bytes that the agent stores
// in a print profile and hands back to the driver for every job. The block is
// opaque above this layer. On Windows it is the driver's DEVMODEW with its
// private bytes; on Linux it is canonical UTF-8 text naming the queue's make
// and model and the options chosen for it, so the same settings always give
// the same bytes.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vek::platform {

using Bytes = std::vector<std::uint8_t>;

// The largest block a driver may report; anything larger is implausible.
inline constexpr std::size_t kMaxDriverSettingsBytes = 1048576;

// The queue's settings block, or empty bytes on any failure or cancellation.
// With no dialog and no seed: the driver's current defaults. A seed is used
// as the starting point only when it is a block of the driver's own shape
// (otherwise the driver starts from its defaults). With showDialog the
// driver's own settings dialog opens, owned by window (an HWND, 0 for none);
// systems without driver dialogs edit the block in the agent's own options
// sheet instead and return empty bytes here.
Bytes CaptureDriverSettings(
    const std::string &systemName, std::uintptr_t window, bool showDialog, const Bytes &seed);

// The saved block made ready for one job: checked against the installed
// driver's current block (same shape, same driver version, every option
// still supported) and with the driver's own copy count forced to 1, since
// the agent prints copies itself. Empty when the saved block no longer fits
// the driver ("Printer driver changed; save the profile again").
std::optional<Bytes> SettingsForPrinting(const std::string &systemName, const Bytes &saved);

// The physical sheet these settings give, read from a device made with them.
struct PaperSize {
    bool deviceOpened = false;  // false: the driver rejected the settings
    double widthMm = 0;  // may be 0 or not finite when the driver reports nonsense
    double heightMm = 0;
};
PaperSize PhysicalPaperSize(const std::string &systemName, const Bytes &settings);

}  // namespace vek::platform
