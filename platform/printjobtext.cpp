#include "platform/printjobtext.h"

namespace vek::platform {

std::string text::OpenPrinterFailed(const std::string &printerName)
{
    return "The workstation could not open printer '" + printerName + "'";
}

std::string text::StartJobFailed(const std::string &printerName)
{
    return "The workstation could not start a job on '" + printerName + "'";
}

std::string JobTitle(const std::string &documentName)
{
    std::string title = documentName.empty() ? kDefaultJobTitle : documentName;
    for (char &c : title) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            c = ' ';
    }
    if (title.size() > kMaxJobTitleBytes) {
        std::size_t end = kMaxJobTitleBytes;
        // Step back over continuation bytes to the start of the cut character.
        while (end > 0 && (static_cast<unsigned char>(title[end]) & 0xC0) == 0x80)
            --end;
        title.resize(end);
    }
    return title;
}

bool IsUnusableQueueName(const std::string &printerName)
{
    // Both spoolers take the name as a C string: a NUL would end it early
    // and select the queue named by the text before it.
    return printerName.find('\0') != std::string::npos;
}

}  // namespace vek::platform
