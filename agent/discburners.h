#pragma once
// The workstation's CD/DVD writers as burner records for the clinic server.

#include "platform/discwriters.h"

#include <QJsonArray>

#include <cstddef>

namespace vek::agent {

// At most this many writers are examined and reported.
inline constexpr std::size_t kMaxDiscWriters = 32;

// One record per writer, each with exactly the keys "recorderId",
// "destinationKey", "code", "name", "volumes" and "adapter". Never fails: no
// discovery service means an empty array.
QJsonArray EnumerateDiscBurners();

// The records of a scan; writers without an identifier are skipped.
QJsonArray BurnerRecords(const vek::platform::DiscWriterScan &scan);

}  // namespace vek::agent
