// Driver settings blocks of CUPS queues: the queue's defaults, checked
// against the queue before a job, and the sheet size they give.

#include "platform/driversettings.h"

#include "queuecapabilities.h"

namespace vek::platform {

using linuxbackend::QueueCapabilities;

Bytes CaptureDriverSettings(
    const std::string &systemName, std::uintptr_t /*window*/, bool showDialog, const Bytes &seed)
{
    // Queues have no settings dialog of their own; the options sheet edits the block.
    if (showDialog)
        return {};
    const auto caps = QueueCapabilities::Open(systemName);
    if (!caps)
        return {};
    cups::OptionValues chosen;
    if (const auto block = caps->accept(seed)) {
        for (const auto &[keyword, value] : block->options)
            chosen.emplace_back(keyword, value);
    }
    return caps->makeBlock(chosen);
}

std::optional<Bytes> SettingsForPrinting(const std::string &systemName, const Bytes &saved)
{
    const auto caps = QueueCapabilities::Open(systemName);
    // The block never holds a copy count: the sheet offers none.
    if (!caps || !caps->accept(saved))
        return std::nullopt;
    return saved;
}

PaperSize PhysicalPaperSize(const std::string &systemName, const Bytes &settings)
{
    const auto caps = QueueCapabilities::Open(systemName);
    if (!caps)
        return {};
    const auto block = caps->accept(settings);
    if (!block)
        return {};
    const auto size = caps->mediaSize(*block);
    if (!size)
        return {};
    return { true, size->width / 100.0, size->length / 100.0 };
}

}  // namespace vek::platform
