#pragma once
// A raw document on an open printer and its one page, ended exactly once on
// every path: by finish(), whose result says whether the spooler took the
// job, or by the destructor on a path that gives up.

#include <windows.h>

#include <winspool.h>

namespace vek::platform::win {

class RawDocument {
public:
    explicit RawDocument(HANDLE printer)
        : printer_(printer)
    {
    }
    ~RawDocument();
    RawDocument(const RawDocument &) = delete;
    RawDocument &operator=(const RawDocument &) = delete;

    // Each call below that fails leaves the code the system gave in error,
    // read before anything else ran.

    // The spooler's job number, or 0 when the document could not start.
    DWORD start(const wchar_t *title, DWORD &error);
    bool startPage(DWORD &error);
    // Ends the page and the document; false when the spooler did not take
    // the document, which may then never print.
    bool finish(DWORD &error);

private:
    void endPage();

    HANDLE printer_;
    bool documentOpen_ = false;
    bool pageOpen_ = false;
};

// Tests replace the spooler's EndDocPrinter to make it refuse a finished
// job, a fault no test queue produces on demand. nullptr restores the real
// one; the previous function is returned.
using EndDocPrinterFunction = BOOL(WINAPI *)(HANDLE);
EndDocPrinterFunction SetEndDocPrinterForTesting(EndDocPrinterFunction function);

}  // namespace vek::platform::win
