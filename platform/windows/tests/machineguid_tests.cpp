#include "platform/machineguid.h"

#include <cctype>
#include <doctest.h>

namespace vek::platform {
namespace {

bool IsGuidShaped(const std::string &text)
{
    if (text.size() != 36)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    }
    return true;
}

TEST_CASE("MachineGuid reads the installation's GUID, the same each time")
{
    const std::string guid = MachineGuid();
    CAPTURE(guid);
    CHECK(IsGuidShaped(guid));
    CHECK(MachineGuid() == guid);
}

}  // namespace
}  // namespace vek::platform
