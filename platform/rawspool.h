#pragma once
// Sends printer-ready bytes unchanged to a print queue as one raw job.

#include "platform/printjobtext.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vek::platform {

enum class RawPrintStatus : std::uint8_t {
    Sent = 0,
    PrinterMissing = 1,
    StartFailed = 2,
    WriteFailed = 3,
};

struct RawPrintResult {
    RawPrintStatus status = RawPrintStatus::Sent;
    std::uint32_t jobId = 0;  // the spooler's job number; 0 when no job was started
    std::string message;  // UTF-8; empty on success
};

// Blocks until the spooler has accepted or refused the job. Names are UTF-8;
// the job is titled JobTitle(documentName). The failure sentences are those
// of printjobtext.h with the system's error appended.
RawPrintResult PrintRaw(const std::string &printerName, const std::string &documentName,
    const std::vector<std::uint8_t> &data);

}  // namespace vek::platform
