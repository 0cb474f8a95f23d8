#pragma once
// The options a CUPS queue offers, for the agent's own driver options sheet
// on Linux (where drivers have no settings dialog of their own), and the
// canonical settings block made from the choices in it.

#include "platform/driversettings.h"

#include <string>
#include <utility>
#include <vector>

namespace vek::platform::cups {

struct OptionChoice {
    std::string value;  // the IPP or PPD keyword
    std::string label;  // what the queue calls it, for people
};

struct DriverOption {
    std::string keyword;  // for example "media", "sides" or a PPD option such as "Darkness"
    std::string label;
    bool advanced = false;  // the driver's own options, shown apart from the common ones
    std::vector<OptionChoice> choices;
    std::string value;  // the choice in the settings block, or the queue's default
};

using OptionValues = std::vector<std::pair<std::string, std::string>>;

// The queue's options: paper size, source, type, quality or resolution,
// two-sided and colour where offered, then the driver's own options. Values
// come from settings where they fit, else from the queue's defaults. Empty
// when the queue cannot be asked.
std::vector<DriverOption> ListDriverOptions(const std::string &systemName, const Bytes &settings);

// The canonical block for these choices; empty when the queue is gone or
// offers no such option or value.
Bytes MakeDriverSettings(const std::string &systemName, const OptionValues &values);

// A sentence naming the options that conflict, or empty when they agree.
std::string DriverSettingsConflict(const std::string &systemName, const OptionValues &values);

}  // namespace vek::platform::cups
