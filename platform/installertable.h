#pragma once
// The verdict an installer's certificate table decides on its own, before
// any signature is checked; both backends start from it.

#include "platform/installersignature.h"
#include "platform/pefile.h"

#include <optional>

namespace vek::platform {

// Empty for a table that holds a signature to check.
std::optional<SignatureVerdict> VerdictOfTable(PeSignatureState state);

}  // namespace vek::platform
