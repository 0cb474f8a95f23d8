#include "platform/rawspool.h"

#include "platform/windows/printerhandle.h"
#include "platform/windows/winerror.h"
#include "platform/windows/wintext.h"

#include <limits>

namespace vek::platform {

namespace {

RawPrintResult Failure(RawPrintStatus status, std::string message, std::uint32_t jobId = 0)
{
    return RawPrintResult { status, jobId, std::move(message) };
}

}  // namespace

RawPrintResult PrintRaw(const std::string &printerName, const std::string &documentName,
    const std::vector<std::uint8_t> &data)
{
    if (printerName.empty() || data.empty())
        return Failure(RawPrintStatus::PrinterMissing, text::kNothingToPrint);

    const std::string openText = text::OpenPrinterFailed(printerName);
    if (IsUnusableQueueName(printerName))
        return Failure(RawPrintStatus::PrinterMissing,
            win::FormatWindowsError(openText, ERROR_INVALID_PRINTER_NAME));

    // Each Windows error code is read right after the failing call: building
    // the message, or ending the document, may replace it.
    std::wstring wideName = win::ToWide(printerName);
    win::PrinterHandle printer;
    if (!OpenPrinterW(wideName.data(), printer.receive(), nullptr) || !printer) {
        const DWORD code = GetLastError();
        const auto status = code == ERROR_INVALID_PRINTER_NAME ? RawPrintStatus::PrinterMissing
                                                               : RawPrintStatus::StartFailed;
        return Failure(status, win::FormatWindowsError(openText, code));
    }

    std::wstring title = win::ToWide(JobTitle(documentName));
    wchar_t dataType[] = L"RAW";
    DOC_INFO_1W docInfo { title.data(), nullptr, dataType };
    const DWORD jobId = StartDocPrinterW(printer.get(), 1, reinterpret_cast<BYTE *>(&docInfo));
    if (jobId == 0) {
        const DWORD code = GetLastError();
        return Failure(RawPrintStatus::StartFailed,
            win::FormatWindowsError(text::StartJobFailed(printerName), code));
    }

    if (!StartPagePrinter(printer.get())) {
        const DWORD code = GetLastError();
        EndDocPrinter(printer.get());
        return Failure(RawPrintStatus::WriteFailed,
            win::FormatWindowsError(text::kStartPageFailed, code), jobId);
    }

    // The byte count is 32-bit; a larger block is written short and reported so.
    constexpr std::size_t kMaxCount = std::numeric_limits<DWORD>::max();
    const DWORD count = static_cast<DWORD>(data.size() < kMaxCount ? data.size() : kMaxCount);
    DWORD written = 0;
    std::string message;
    if (!WritePrinter(printer.get(), const_cast<std::uint8_t *>(data.data()), count, &written)) {
        const DWORD code = GetLastError();
        message = win::FormatWindowsError(text::kWriteFailed, code);
    } else if (written < data.size())
        message = text::kPartialWrite;
    EndPagePrinter(printer.get());
    EndDocPrinter(printer.get());

    if (!message.empty())
        return Failure(RawPrintStatus::WriteFailed, std::move(message), jobId);
    return RawPrintResult { RawPrintStatus::Sent, jobId, {} };
}

}  // namespace vek::platform
