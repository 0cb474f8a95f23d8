#pragma once
// Seals a secret so that only the signed-in user on this machine can unseal it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vek::platform {

using Bytes = std::vector<std::uint8_t>;

// Empty optional when sealing failed. description names the secret's owner
// (the application name) where the system records one.
std::optional<Bytes> SealForCurrentUser(const Bytes &plain, const std::string &description);

// Empty optional when the blob was sealed for another user or machine, or is damaged.
std::optional<Bytes> UnsealForCurrentUser(const Bytes &sealed);

}  // namespace vek::platform
