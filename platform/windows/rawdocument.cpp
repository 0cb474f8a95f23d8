#include "platform/windows/rawdocument.h"

#include <atomic>

namespace vek::platform::win {

namespace {

std::atomic<EndDocPrinterFunction> endDocPrinter { nullptr };

BOOL EndDocument(HANDLE printer)
{
    const EndDocPrinterFunction replacement = endDocPrinter.load();
    return replacement ? replacement(printer) : EndDocPrinter(printer);
}

}  // namespace

EndDocPrinterFunction SetEndDocPrinterForTesting(EndDocPrinterFunction function)
{
    return endDocPrinter.exchange(function);
}

RawDocument::~RawDocument()
{
    // A path that gave up: the job's outcome is already reported.
    DWORD ignored = 0;
    finish(ignored);
}

DWORD RawDocument::start(const wchar_t *title, DWORD &error)
{
    wchar_t dataType[] = L"RAW";
    DOC_INFO_1W info { const_cast<wchar_t *>(title), nullptr, dataType };
    const DWORD jobId = StartDocPrinterW(printer_, 1, reinterpret_cast<BYTE *>(&info));
    if (jobId == 0)
        error = GetLastError();
    documentOpen_ = jobId != 0;
    return jobId;
}

bool RawDocument::startPage(DWORD &error)
{
    pageOpen_ = StartPagePrinter(printer_) != FALSE;
    if (!pageOpen_)
        error = GetLastError();
    return pageOpen_;
}

void RawDocument::endPage()
{
    if (pageOpen_)
        EndPagePrinter(printer_);
    pageOpen_ = false;
}

bool RawDocument::finish(DWORD &error)
{
    endPage();
    if (!documentOpen_)
        return false;
    documentOpen_ = false;
    if (EndDocument(printer_))
        return true;
    error = GetLastError();
    return false;
}

}  // namespace vek::platform::win
