#pragma once
// The test printer's sink: every job a queue receives lands in
// <sink>/<queue>/<n>.job, complete once the file exists.

#include <chrono>
#include <cstdint>
#include <optional>
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

// Waits until a job whose bytes contain marker has reached the queue's sink,
// and returns its bytes; nothing when none came in time.
std::optional<Bytes> WaitForJobContaining(const std::string &queue, const std::string &marker,
    std::chrono::seconds timeout = std::chrono::seconds(30));

// Whether a job whose bytes contain marker has reached the queue's sink. To
// show that a job never came, first wait for a later job to the same queue:
// the queue delivers its jobs in order.
bool HasJobContaining(const std::string &queue, const std::string &marker);

}  // namespace vek::platform::test
