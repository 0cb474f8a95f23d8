#include "platform/rawspool.h"

#include "platform/windows/rawdocument.h"
#include "platform/windows/winerror.h"
#include "sink.h"
#include "tests/contract/rawspoolcontract.h"

#include <doctest.h>

namespace vek::platform {
namespace {

using test::Bytes;

Bytes ToBytes(const std::string &text)
{
    return Bytes(text.begin(), text.end());
}

Bytes Concat(Bytes head, const Bytes &tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

TEST_CASE("PrintRaw hands the bytes to the queue unchanged")
{
    REQUIRE_MESSAGE(!test::SinkDirectory().empty(), "VEK_TEST_SINK_DIR names the printer sink");

    Bytes everyByte;
    for (int value = 0; value < 256; ++value)
        everyByte.push_back(static_cast<std::uint8_t>(value));
    Bytes large;  // the largest block an order may carry
    for (std::size_t i = 0; large.size() < 262144; ++i)
        large.push_back(static_cast<std::uint8_t>(i * 7919 % 251));

    // Under Wine the spooler hands jobs to CUPS without naming them raw, so
    // CUPS guesses their type: plain text is refused by the label queue's
    // driver and goes to the raw office queue here.
    struct Case {
        std::string what;
        std::string queue;
        std::string document;
        Bytes payload;
    };
    const Case cases[] = {
        { "NUL, 0xFF and CR LF", "VekLabel", "label.zpl",
            Bytes { 0x00, 0xFF, '\r', '\n', 0x1B, 'E', 0x00, 0x00, 0xFF, 0xFE, '\r', '\n' } },
        { "all 256 byte values", "VekOffice", "every byte", everyByte },
        { "UTF-8 text and document name", "VekOffice",
            "\xC3\x89tiquette \xE2\x84\x96"
            "1",
            ToBytes("^XA^FD\xC3\x89tiquette \xE2\x80\x93 \xE6\x9D\xB1\xE4\xBA\xAC^FS^XZ\r\n") },
        { "the largest block", "VekLabel", "large.prn", large },
        { "no document name", "VekLabel", "",
            Bytes { 0x00, 'n', 'o', ' ', 't', 'i', 't', 'l', 'e', 0xFF } },
        { "no document name, text", "VekOffice", "", ToBytes("untitled job\r\n") },
    };
    for (const Case &c : cases) {
        CAPTURE(c.what);
        const Bytes sent = Concat(ToBytes(test::UniqueMarker()), c.payload);
        const RawPrintResult result = PrintRaw(c.queue, c.document, sent);
        CHECK(result.status == RawPrintStatus::Sent);
        CHECK(result.message.empty());
        CHECK(result.jobId != 0);
        CHECK(test::WaitForJob(c.queue, sent));
    }
}

TEST_CASE("PrintRaw reports a queue that does not exist as missing, quoting its name")
{
    const std::string marker = test::UniqueMarker();
    const std::string names[]
        = { "NoSuchQueue-" + marker, "\xC3\x89tiquette \xE6\x9D\xB1\xE4\xBA\xAC " + marker };
    for (const std::string &name : names) {
        CAPTURE(name);
        const RawPrintResult result = PrintRaw(name, "doc", ToBytes("data"));
        CHECK(result.status == RawPrintStatus::PrinterMissing);
        CHECK(result.jobId == 0);
        const std::string prefix = "The workstation could not open printer '" + name + "'";
        CHECK(result.message.rfind(prefix + " (Windows error 1801", 0) == 0);
        CHECK(result.message.back() == ')');
    }
}

TEST_CASE("PrintRaw keeps the promises both backends make")
{
    const std::string queue = "VekOffice";
    for (const contract::RawSpoolCase &c : contract::RawSpoolCases(queue, test::UniqueMarker())) {
        SUBCASE(c.name.c_str())
        {
            const RawPrintResult result = PrintRaw(c.printer, c.document, c.data);
            CHECK(contract::CheckRawSpoolResult(c, result) == "");
            // Names the spooler cannot have are refused as it refuses them.
            if (c.status == RawPrintStatus::PrinterMissing && !c.exact)
                CHECK(result.message.find("(Windows error 1801") != std::string::npos);
            // Wine gives no way to read a job's title back, so only the
            // bytes are checked here.
            if (c.status == RawPrintStatus::Sent)
                CHECK(test::WaitForJob(queue, c.data));
        }
    }
}

// Ends each document as the spooler does, then reports that the spooler
// refused it, as a spooler that lost the job on the way out would.
int refusedEndDocs = 0;
BOOL WINAPI RefusingEndDocPrinter(HANDLE printer)
{
    ++refusedEndDocs;
    EndDocPrinter(printer);
    SetLastError(ERROR_PRINT_CANCELLED);
    return FALSE;
}

TEST_CASE("PrintRaw reports a job the spooler did not take at the end as not sent")
{
    struct Restore {
        win::EndDocPrinterFunction previous
            = win::SetEndDocPrinterForTesting(RefusingEndDocPrinter);
        ~Restore() { win::SetEndDocPrinterForTesting(previous); }
    } restore;
    refusedEndDocs = 0;

    const RawPrintResult result
        = PrintRaw("VekOffice", "refused", ToBytes(test::UniqueMarker() + " refused\r\n"));
    CHECK(result.status == RawPrintStatus::WriteFailed);
    CHECK(result.jobId != 0);
    CHECK(result.message
        == win::FormatWindowsError(
            "The workstation could not finish the job", ERROR_PRINT_CANCELLED));
    CHECK(refusedEndDocs == 1);  // the document is ended once, not again on the way out
}

}  // namespace
}  // namespace vek::platform
