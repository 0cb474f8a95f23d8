#include "printerstate.h"

#include <algorithm>
#include <array>

namespace vek::platform::linuxbackend {
namespace {

// Conditions that stop the printer until someone fixes them. IPP treats a
// keyword without a severity suffix as an error.
constexpr std::array<std::string_view, 10> kProblems = {
    "media-empty",
    "media-needed",
    "media-jam",
    "toner-empty",
    "marker-supply-empty",
    "door-open",
    "cover-open",
    "offline",
    "shutdown",
    "offline-report",
};

bool EndsWith(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string_view Trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool ReasonNeedsAttention(std::string_view reason)
{
    if (EndsWith(reason, "-error"))
        return true;
    // CUPS reports an unreachable device as "offline-report"; every other
    // report or warning is advice.
    return std::find(kProblems.begin(), kProblems.end(), reason) != kProblems.end();
}

}  // namespace

bool StateReasonsNeedAttention(std::string_view reasons)
{
    while (!reasons.empty()) {
        const auto comma = reasons.find(',');
        if (ReasonNeedsAttention(Trimmed(reasons.substr(0, comma))))
            return true;
        if (comma == std::string_view::npos)
            break;
        reasons.remove_prefix(comma + 1);
    }
    return false;
}

}  // namespace vek::platform::linuxbackend
