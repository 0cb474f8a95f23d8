// Windows keeps the credential in the configuration file, sealed with the
// system's data protection for the signed-in user, so there is no store here.

#include "platform/secretstore.h"

namespace vek::platform {

namespace {
SecretStoreResult NoStore()
{
    return SecretStoreResult { SecretStoreStatus::NoStore, {}, {} };
}
}  // namespace

bool HasSecretStore()
{
    return false;
}

SecretStoreResult StoreSecret(const std::string &, const std::string &, const std::string &)
{
    return NoStore();
}

SecretStoreResult ReadSecret(const std::string &, const std::string &)
{
    return NoStore();
}

SecretStoreResult RemoveSecret(const std::string &, const std::string &)
{
    return NoStore();
}

}  // namespace vek::platform
