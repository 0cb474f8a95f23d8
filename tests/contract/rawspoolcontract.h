#pragma once
// What every backend's PrintRaw promises, as one table that the Linux tests
// (QtTest) and the Windows tests (doctest under Wine) both run. Standard C++
// only, so the cross-built Windows tests compile it too.

#include "platform/rawspool.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vek::platform::contract {

struct RawSpoolCase {
    std::string name;
    std::string printer;
    std::string document;
    std::vector<std::uint8_t> data;
    RawPrintStatus status = RawPrintStatus::Sent;
    // The whole message when exact, else the sentence it starts with; a
    // message that is not exact ends with the system's error in brackets.
    std::string message;
    bool exact = false;
    std::string title;  // the job's title when it is sent
};

// queue is a test queue that prints raw; marker makes each job's bytes and
// missing names unique to this run.
std::vector<RawSpoolCase> RawSpoolCases(const std::string &queue, const std::string &marker);

// Empty when result keeps the case's promise; otherwise what differs.
std::string CheckRawSpoolResult(const RawSpoolCase &c, const RawPrintResult &result);

}  // namespace vek::platform::contract
