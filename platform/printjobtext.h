#pragma once
// What every backend's print jobs say and how they are titled: the sentences
// of a raw job's failures and the title rule. System-free, so both backends
// share one copy; a backend appends its own error suffix to a sentence.

#include <string>

namespace vek::platform {

// The title a job gets when the caller gives no document name.
inline constexpr const char *kDefaultJobTitle = "Vek print job";

// Spoolers keep at most this many bytes of a job's title (IPP's name limit).
inline constexpr std::size_t kMaxJobTitleBytes = 255;

namespace text {
inline constexpr const char *kNothingToPrint = "There is no printer name or nothing to print.";
inline constexpr const char *kStartPageFailed = "The workstation could not start the page";
inline constexpr const char *kWriteFailed = "The workstation could not write the job";
inline constexpr const char *kPartialWrite = "The workstation wrote only part of the job.";
// The spooler did not take the finished job: it may never print.
inline constexpr const char *kFinishFailed = "The workstation could not finish the job";
std::string OpenPrinterFailed(const std::string &printerName);
std::string StartJobFailed(const std::string &printerName);
}  // namespace text

// documentName, or the default title when it is empty, with control
// characters replaced by spaces and cut to kMaxJobTitleBytes without
// splitting a UTF-8 sequence.
std::string JobTitle(const std::string &documentName);

// A queue name that the spooler could read as another queue's name.
bool IsUnusableQueueName(const std::string &printerName);

}  // namespace vek::platform
