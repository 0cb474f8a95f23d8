// The options sheet's view of a queue, and the settings blocks it makes.

#include "platform/linux/driveroptions.h"

#include "queuecapabilities.h"

namespace vek::platform::cups {

using linuxbackend::QueueCapabilities;

namespace {

// The queue's defaults with values chosen over them.
OptionValues WithDefaults(const QueueCapabilities &caps, const OptionValues &values)
{
    OptionValues merged = caps.defaults();
    for (const auto &[keyword, value] : values) {
        bool replaced = false;
        for (auto &entry : merged) {
            if (entry.first == keyword) {
                entry.second = value;
                replaced = true;
            }
        }
        if (!replaced)
            merged.emplace_back(keyword, value);
    }
    return merged;
}

}  // namespace

std::vector<DriverOption> ListDriverOptions(const std::string &systemName, const Bytes &settings)
{
    const auto caps = QueueCapabilities::Open(systemName);
    if (!caps)
        return {};
    std::vector<DriverOption> options = caps->options();
    const auto block = linuxbackend::DecodeSettingsBlock(settings);
    const bool forThisQueue = block && block->driver == caps->makeAndModel();
    for (const auto &[keyword, value] : caps->defaults()) {
        for (DriverOption &option : options) {
            if (option.keyword != keyword)
                continue;
            option.value = value;
            if (!forThisQueue)
                continue;
            const auto saved = block->options.find(keyword);
            if (saved != block->options.end() && caps->offers(keyword, saved->second))
                option.value = saved->second;
        }
    }
    return options;
}

Bytes MakeDriverSettings(const std::string &systemName, const OptionValues &values)
{
    const auto caps = QueueCapabilities::Open(systemName);
    return caps ? caps->makeBlock(values) : Bytes();
}

std::string DriverSettingsConflict(const std::string &systemName, const OptionValues &values)
{
    const auto caps = QueueCapabilities::Open(systemName);
    if (!caps)
        return {};
    const std::vector<std::string> keywords = caps->conflicts(WithDefaults(*caps, values));
    if (keywords.empty())
        return {};
    std::string sentence = "These options cannot be used together: ";
    for (std::size_t i = 0; i < keywords.size(); ++i) {
        if (i > 0)
            sentence += ", ";
        sentence += caps->option(keywords[i])->label;
    }
    return sentence + ".";
}

}  // namespace vek::platform::cups
