#pragma once
// The Authenticode check of a downloaded installer: a valid signature whose
// chain ends in the code-signing root with the expected SHA-1 thumbprint.

#include <string>

namespace vek::platform {

enum class SignatureVerdict {
    Accepted = 0,
    NotSigned = 1,
    NotVerified = 2,
    WrongAuthority = 3,
    Uncheckable = 4,
};

// expectedRootSha1 is the root's SHA-1 in hexadecimal, any case, separators
// allowed. An empty or malformed pin never accepts: the verdict is then
// WrongAuthority for an otherwise valid signature.
SignatureVerdict VerifyInstallerSignature(
    const std::wstring &path, const std::string &expectedRootSha1);

// The hexadecimal digits of text, in order, lower-cased; all else dropped.
std::string NormalizeThumbprint(const std::string &text);

// "signature accepted", "not signed", ...; "unknown" for any other value.
const char *VerdictText(SignatureVerdict verdict);

}  // namespace vek::platform
