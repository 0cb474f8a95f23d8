#pragma once
// Lists the print queues visible to the signed-in user.

#include <string>
#include <vector>

namespace vek::platform {

struct PrinterInfo {
    std::string name;  // the queue's identity everywhere (UTF-8)
    std::string driverName;  // drives the label/document classification
    std::string portName;
    bool isDefault = false;
    bool needsAttention = false;  // a problem a person must fix (jam, no paper, offline, ...)

    bool operator==(const PrinterInfo &) const = default;
};

// In the order the system lists the queues; never fails, problems shrink the list.
std::vector<PrinterInfo> EnumeratePrinters();

}  // namespace vek::platform
