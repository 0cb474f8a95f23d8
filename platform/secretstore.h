#pragma once
// The signed-in user's secret store: a keyring that the desktop unlocks with
// the user's sign-in, where the system has one. Each call waits for the
// store's answer, for a bounded time.

#include <string>

namespace vek::platform {

enum class SecretStoreStatus {
    Done,  // stored, read or removed
    NotFound,  // the store answered and holds no such secret
    NoStore,  // no store runs for this user
    Locked,  // the store holds the secret but is locked
    Failed,  // the store refused, failed or did not answer in time
};

struct SecretStoreResult {
    SecretStoreStatus status = SecretStoreStatus::Failed;
    std::string secret;  // what a read found
    std::string error;  // the store's own words when it failed
};

// True when a store runs, or would be started on first use, for this user.
bool HasSecretStore();

// A secret is named by the service that owns it and a key within that service;
// storing replaces an earlier secret of the same name.
SecretStoreResult StoreSecret(
    const std::string &service, const std::string &key, const std::string &secret);
SecretStoreResult ReadSecret(const std::string &service, const std::string &key);
// Removing a secret that is not there is Done.
SecretStoreResult RemoveSecret(const std::string &service, const std::string &key);

}  // namespace vek::platform
