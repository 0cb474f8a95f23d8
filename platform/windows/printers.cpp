#include "platform/printers.h"

#include "platform/windows/wintext.h"

#include <cstdint>
#include <cwchar>
#include <optional>
#include <windows.h>

#include <winspool.h>

namespace vek::platform {

namespace {

// Error, paper jam, paper out, offline, not available, no toner, user
// intervention, out of memory, door open.
constexpr DWORD kProblemStatusMask = 0x0074109A;

// Queues added between the size query and the read make the buffer too small;
// a few more rounds keep such a moment from yielding an empty list.
constexpr int kEnumerationRounds = 3;

std::string Utf8OrEmpty(const wchar_t *text)
{
    return text == nullptr ? std::string() : win::ToUtf8(text);
}

std::optional<std::wstring> DefaultPrinterName()
{
    DWORD length = 0;
    GetDefaultPrinterW(nullptr, &length);
    if (length <= 1)
        return std::nullopt;
    std::wstring name(length, L'\0');
    if (!GetDefaultPrinterW(name.data(), &length))
        return std::nullopt;
    name.resize(wcsnlen(name.c_str(), name.size()));
    return name;
}

}  // namespace

std::vector<PrinterInfo> EnumeratePrinters()
{
    const DWORD flags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
    std::vector<std::uint64_t> buffer;  // 8-byte units keep the records aligned
    DWORD count = 0;
    bool listed = false;
    for (int round = 0; round < kEnumerationRounds && !listed; ++round) {
        DWORD needed = 0;
        EnumPrintersW(flags, nullptr, 2, nullptr, 0, &needed, &count);
        if (needed == 0)
            return {};
        buffer.assign((needed + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t), 0);
        listed = EnumPrintersW(
            flags, nullptr, 2, reinterpret_cast<BYTE *>(buffer.data()), needed, &needed, &count);
        if (!listed && GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return {};
    }
    if (!listed)
        return {};

    const std::optional<std::wstring> defaultName = DefaultPrinterName();
    const auto *entries = reinterpret_cast<const PRINTER_INFO_2W *>(buffer.data());
    std::vector<PrinterInfo> printers;
    printers.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
        const PRINTER_INFO_2W &entry = entries[i];
        PrinterInfo info;
        info.name = Utf8OrEmpty(entry.pPrinterName);
        if (info.name.empty())
            continue;
        info.driverName = Utf8OrEmpty(entry.pDriverName);
        info.portName = Utf8OrEmpty(entry.pPortName);
        info.isDefault = defaultName && *defaultName == entry.pPrinterName;
        info.needsAttention = (entry.Status & kProblemStatusMask) != 0;
        printers.push_back(std::move(info));
    }
    return printers;
}

}  // namespace vek::platform
