#pragma once
// Lists the optical disc writers of this workstation as plain facts; the
// burner records sent to the clinic are built from these by portable code.

#include <cstddef>
#include <string>
#include <vector>

namespace vek::platform {

struct DiscWriter {
    std::string uniqueId;  // stable across calls and restarts; never empty
    std::string vendorId;  // as the system reports it, padding included
    std::string productId;
    std::vector<std::string> volumes;  // mount points or drive roots, in order
};

struct DiscWriterScan {
    std::string adapter;  // names the discovery service, e.g. "WINDOWS_IMAPI2"
    std::vector<DiscWriter> writers;  // only writers that can record data discs
};

// Examines at most maxWriters of the system's writers (by index). Never fails:
// a missing discovery service yields no writers.
DiscWriterScan ListDiscWriters(std::size_t maxWriters);

}  // namespace vek::platform
