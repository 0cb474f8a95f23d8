#include "platform/printers.h"

#include "platform/windows/wintext.h"

#include <algorithm>
#include <doctest.h>
#include <windows.h>

#include <winspool.h>

namespace vek::platform {
namespace {

TEST_CASE("EnumeratePrinters lists the test queues as the spooler reports them")
{
    const std::vector<PrinterInfo> printers = EnumeratePrinters();
    for (const std::string name : { "VekLabel", "VekOffice" }) {
        CAPTURE(name);
        const auto found = std::find_if(
            printers.begin(), printers.end(), [&](const PrinterInfo &p) { return p.name == name; });
        REQUIRE(found != printers.end());
        // Wine names the driver after the queue and the port after its CUPS queue.
        CHECK(found->driverName == name);
        CHECK(found->portName == "CUPS:" + name);
        CHECK_FALSE(found->needsAttention);  // idle queues
    }
    CHECK(EnumeratePrinters() == printers);
}

TEST_CASE("EnumeratePrinters marks exactly the default printer")
{
    const std::vector<PrinterInfo> printers = EnumeratePrinters();
    const auto defaults = std::count_if(
        printers.begin(), printers.end(), [](const PrinterInfo &p) { return p.isDefault; });
    CHECK(defaults <= 1);

    wchar_t name[256];
    DWORD length = 256;
    if (GetDefaultPrinterW(name, &length)) {
        CHECK(defaults == 1);
        const std::string defaultName = win::ToUtf8(name);
        for (const PrinterInfo &p : printers) {
            CAPTURE(p.name);
            CHECK(p.isDefault == (p.name == defaultName));
        }
    }
}

}  // namespace
}  // namespace vek::platform
