#pragma once
// Reading a driver settings block (a DEVMODEW followed by the driver's
// private bytes) without trusting the sizes written inside it.

#include "platform/driversettings.h"

#include <optional>
#include <windows.h>

namespace vek::platform::win {

struct DevModeShape {
    WORD specVersion = 0;
    WORD driverVersion = 0;
    WORD size = 0;  // dmSize: the public part
    WORD driverExtra = 0;  // dmDriverExtra: the driver's private bytes after it

    bool sameSizes(const DevModeShape &other) const
    {
        return size == other.size && driverExtra == other.driverExtra;
    }
};

// The block's shape when its public part holds at least the fields up to
// dmCopies and its public and private parts together are exactly the block;
// a driver handed any other block would read past its end.
std::optional<DevModeShape> ReadDevModeShape(const Bytes &block);

// The block as the device interfaces take it, or nullptr when it has no
// consistent shape.
const DEVMODEW *AsDevMode(const Bytes &block);

// Makes the driver print one copy of each page: DM_COPIES set, dmCopies 1.
// The block must have a consistent shape.
void SetSingleCopy(Bytes &block);

}  // namespace vek::platform::win
