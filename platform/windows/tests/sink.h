#pragma once
// The test printer's sink: every job a queue receives lands in
// <sink>/<queue>/<n>.job, complete once the file exists.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace vek::platform::test {

using Bytes = std::vector<std::uint8_t>;

// The sink directory (given as a Unix path) as Wine's Z: drive shows it;
// empty when the environment does not name one.
std::wstring SinkDirectory();

// A text no other job of this or another run contains.
std::string UniqueMarker();

// Waits until a job with exactly these bytes has reached the queue's sink.
bool WaitForJob(const std::string &queue, const Bytes &expected,
    std::chrono::seconds timeout = std::chrono::seconds(30));

}  // namespace vek::platform::test
