#include "platform/rawspool.h"

#include "platform/windows/printerhandle.h"
#include "platform/windows/rawdocument.h"
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

    const std::wstring title = win::ToWide(JobTitle(documentName));
    win::RawDocument document(printer.get());
    DWORD code = 0;
    const DWORD jobId = document.start(title.c_str(), code);
    if (jobId == 0)
        return Failure(RawPrintStatus::StartFailed,
            win::FormatWindowsError(text::StartJobFailed(printerName), code));

    if (!document.startPage(code))
        return Failure(RawPrintStatus::WriteFailed,
            win::FormatWindowsError(text::kStartPageFailed, code), jobId);

    // The byte count is 32-bit; a larger block is written short and reported so.
    constexpr std::size_t kMaxCount = std::numeric_limits<DWORD>::max();
    const DWORD count = static_cast<DWORD>(data.size() < kMaxCount ? data.size() : kMaxCount);
    DWORD written = 0;
    if (!WritePrinter(printer.get(), const_cast<std::uint8_t *>(data.data()), count, &written)) {
        code = GetLastError();
        return Failure(
            RawPrintStatus::WriteFailed, win::FormatWindowsError(text::kWriteFailed, code), jobId);
    }
    if (written < data.size())
        return Failure(RawPrintStatus::WriteFailed, text::kPartialWrite, jobId);

    // Only a document the spooler took counts as sent: a label that may
    // never print must not be reported as printed.
    if (!document.finish(code))
        return Failure(
            RawPrintStatus::WriteFailed, win::FormatWindowsError(text::kFinishFailed, code), jobId);
    return RawPrintResult { RawPrintStatus::Sent, jobId, {} };
}

}  // namespace vek::platform
