#include "tests/contract/rawspoolcontract.h"

#include "platform/printjobtext.h"

namespace vek::platform::contract {
namespace {

std::vector<std::uint8_t> Bytes(const std::string &text)
{
    return { text.begin(), text.end() };
}

}  // namespace

std::vector<RawSpoolCase> RawSpoolCases(const std::string &queue, const std::string &marker)
{
    const std::string missing = "NoSuchQueue-" + marker;
    const std::string withNul = queue + std::string(1, '\0') + "Other";
    // 254 ASCII bytes and a two-byte character: the character must not be split.
    const std::string longTitle = std::string(254, 'T') + "\xC3\xA9" + "tail";
    std::vector<RawSpoolCase> cases;
    cases.push_back({ "missing queue", missing, "doc", Bytes(marker),
        RawPrintStatus::PrinterMissing, text::OpenPrinterFailed(missing), false, {} });
    cases.push_back({ "NUL inside the queue name", withNul, "doc", Bytes(marker),
        RawPrintStatus::PrinterMissing, text::OpenPrinterFailed(withNul), false, {} });
    cases.push_back({ "no data", queue, "doc", {}, RawPrintStatus::PrinterMissing,
        text::kNothingToPrint, true, {} });
    cases.push_back({ "no queue name", "", "doc", Bytes(marker), RawPrintStatus::PrinterMissing,
        text::kNothingToPrint, true, {} });
    cases.push_back({ "title over 255 bytes", queue, longTitle, Bytes(marker + " long title\r\n"),
        RawPrintStatus::Sent, "", true, std::string(254, 'T') });
    cases.push_back({ "control characters in the title", queue, "a\tb\nc",
        Bytes(marker + " control title\r\n"), RawPrintStatus::Sent, "", true, "a b c" });
    cases.push_back({ "no title", queue, "", Bytes(marker + " untitled\r\n"), RawPrintStatus::Sent,
        "", true, kDefaultJobTitle });
    return cases;
}

std::string CheckRawSpoolResult(const RawSpoolCase &c, const RawPrintResult &result)
{
    if (result.status != c.status)
        return "status " + std::to_string(int(result.status)) + ", expected "
            + std::to_string(int(c.status));
    if (c.exact) {
        if (result.message != c.message)
            return "message '" + result.message + "', expected '" + c.message + "'";
    } else if (result.message.rfind(c.message + " (", 0) != 0 || result.message.back() != ')') {
        return "message '" + result.message + "', expected '" + c.message + " (...)'";
    }
    const bool sent = c.status == RawPrintStatus::Sent;
    if (sent != (result.jobId != 0))
        return "job number " + std::to_string(result.jobId);
    return {};
}

}  // namespace vek::platform::contract
