// Raw jobs through the CUPS scheduler: the bytes go to the queue with the
// raw document format, so no filter touches them on the way to the device.

#include "platform/rawspool.h"

#include <cups/cups.h>

#include <memory>
#include <string>

namespace vek::platform {
namespace {

struct DestDeleter {
    void operator()(cups_dest_t *dest) const { cupsFreeDests(1, dest); }
};
using DestPtr = std::unique_ptr<cups_dest_t, DestDeleter>;

// Ends the document that cupsStartDocument opened on the default connection.
// Its status matters only on the success path, which calls Finish itself.
class OpenDocument {
public:
    explicit OpenDocument(const char *queue)
        : m_queue(queue)
    {
    }
    OpenDocument(const OpenDocument &) = delete;
    OpenDocument &operator=(const OpenDocument &) = delete;
    ~OpenDocument()
    {
        if (m_queue)
            cupsFinishDocument(CUPS_HTTP_DEFAULT, m_queue);
    }

    ipp_status_t Finish()
    {
        const ipp_status_t status = cupsFinishDocument(CUPS_HTTP_DEFAULT, m_queue);
        m_queue = nullptr;
        return status;
    }

private:
    const char *m_queue;
};

// The scheduler's last status for this thread, in the shape " (CUPS error N: text)".
std::string CupsErrorSuffix()
{
    std::string suffix = " (CUPS error " + std::to_string(static_cast<unsigned>(cupsLastError()));
    const char *text = cupsLastErrorString();
    if (text && *text)
        suffix += std::string(": ") + text;
    return suffix + ")";
}

// Asks the scheduler itself whether it has the queue: cupsGetNamedDest and
// cupsCreateJob also fail with "not found" or a file error when the scheduler
// cannot be reached at all. Returns the request's status.
ipp_status_t LookUpQueue(const std::string &name)
{
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
        "/printers/%s", name.c_str());
    ipp_t *request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
        "printer-name");
    ippDelete(cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/"));
    return cupsLastError();
}

bool Failed(ipp_status_t status)
{
    return status > IPP_STATUS_OK_EVENTS_COMPLETE;
}

RawPrintResult Failure(RawPrintStatus status, std::uint32_t jobId, std::string message)
{
    return { status, jobId, std::move(message) };
}

}  // namespace

RawPrintResult PrintRaw(const std::string &printerName, const std::string &documentName,
    const std::vector<std::uint8_t> &data)
{
    if (printerName.empty() || data.empty())
        return Failure(RawPrintStatus::PrinterMissing, 0, text::kNothingToPrint);

    const std::string openFailed = text::OpenPrinterFailed(printerName);
    if (IsUnusableQueueName(printerName))
        return Failure(RawPrintStatus::PrinterMissing, 0,
            openFailed + " (CUPS error " + std::to_string(int(IPP_STATUS_ERROR_NOT_FOUND))
                + ": The printer name is not valid)");
    // The destination look-up also finds printers the system has discovered
    // on the network but not yet set up as queues; CUPS sets those up on use.
    const DestPtr dest(cupsGetNamedDest(CUPS_HTTP_DEFAULT, printerName.c_str(), nullptr));
    if (!dest) {
        const ipp_status_t status = LookUpQueue(printerName);
        if (status == IPP_STATUS_ERROR_NOT_FOUND)
            return Failure(RawPrintStatus::PrinterMissing, 0, openFailed + CupsErrorSuffix());
        if (Failed(status))
            return Failure(RawPrintStatus::StartFailed, 0, openFailed + CupsErrorSuffix());
    }

    const std::string title = JobTitle(documentName);
    const int job
        = cupsCreateJob(CUPS_HTTP_DEFAULT, printerName.c_str(), title.c_str(), 0, nullptr);
    if (job <= 0) {
        const std::string startFailed = text::StartJobFailed(printerName) + CupsErrorSuffix();
        // The queue can vanish between the look-up and the job.
        if (LookUpQueue(printerName) == IPP_STATUS_ERROR_NOT_FOUND)
            return Failure(RawPrintStatus::PrinterMissing, 0, openFailed + CupsErrorSuffix());
        return Failure(RawPrintStatus::StartFailed, 0, startFailed);
    }
    const auto jobId = static_cast<std::uint32_t>(job);
    const std::string writeFailed = text::kWriteFailed;

    if (cupsStartDocument(
            CUPS_HTTP_DEFAULT, printerName.c_str(), job, title.c_str(), CUPS_FORMAT_RAW, 1)
        != HTTP_STATUS_CONTINUE)
        return Failure(RawPrintStatus::WriteFailed, jobId, writeFailed + CupsErrorSuffix());

    OpenDocument document(printerName.c_str());
    if (cupsWriteRequestData(
            CUPS_HTTP_DEFAULT, reinterpret_cast<const char *>(data.data()), data.size())
        != HTTP_STATUS_CONTINUE)
        return Failure(RawPrintStatus::WriteFailed, jobId, writeFailed + CupsErrorSuffix());
    // The scheduler answers only once it holds the whole document; a refusal
    // here means the bytes did not become part of the job.
    if (Failed(document.Finish()))
        return Failure(RawPrintStatus::WriteFailed, jobId, text::kFinishFailed + CupsErrorSuffix());
    return { RawPrintStatus::Sent, jobId, {} };
}

}  // namespace vek::platform
