// Authenticode through WinVerifyTrust, then the pin: the root at the end of
// the signer's chain must have the expected SHA-1 thumbprint. The portable
// table rules run first, since WinVerifyTrust accepts data hidden inside the
// signature block unless the system opted in to the stricter check.

#include "platform/installersignature.h"
#include "platform/installertable.h"
#include "platform/pefile.h"

#include <windows.h>

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstring>
#include <filesystem>
#include <vector>

namespace vek::platform {
namespace {

// Releases the verification state on every path.
class TrustState {
public:
    TrustState(const std::wstring &path)
    {
        file.cbStruct = sizeof file;
        file.pcwszFilePath = path.c_str();
        data.cbStruct = sizeof data;
        data.dwUIChoice = WTD_UI_NONE;
        data.fdwRevocationChecks = WTD_REVOKE_NONE;
        data.dwUnionChoice = WTD_CHOICE_FILE;
        data.pFile = &file;
        data.dwStateAction = WTD_STATEACTION_VERIFY;
        data.dwProvFlags = WTD_SAFER_FLAG;
    }
    TrustState(const TrustState &) = delete;
    TrustState &operator=(const TrustState &) = delete;
    ~TrustState()
    {
        if (!verified)
            return;
        data.dwStateAction = WTD_STATEACTION_CLOSE;
        WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    }

    LONG Verify()
    {
        verified = true;
        return WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    }
    HANDLE State() const { return data.hWVTStateData; }

private:
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO file {};
    WINTRUST_DATA data {};
    bool verified = false;
};

std::string Sha1Hex(PCCERT_CONTEXT certificate)
{
    BYTE hash[20];
    DWORD size = sizeof hash;
    if (!CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, hash, &size)
        || size != sizeof hash)
        return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (const BYTE byte : hash) {
        text.push_back(kHex[byte >> 4]);
        text.push_back(kHex[byte & 0xF]);
    }
    return text;
}

bool HasCodeSigningUsage(PCCERT_CONTEXT certificate)
{
    DWORD size = 0;
    if (!CertGetEnhancedKeyUsage(certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, nullptr, &size)
        || size == 0)
        return false;
    std::vector<BYTE> buffer(size);
    auto *usage = reinterpret_cast<CERT_ENHKEY_USAGE *>(buffer.data());
    if (!CertGetEnhancedKeyUsage(certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, usage, &size))
        return false;
    for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) {
        if (std::strcmp(usage->rgpszUsageIdentifier[i], szOID_PKIX_KP_CODE_SIGNING) == 0)
            return true;
    }
    return false;
}

}  // namespace

SignatureVerdict VerifyInstallerSignature(
    const std::wstring &path, const std::string &expectedRootSha1)
{
    const auto bytes = PeBytesOfFile(std::filesystem::path(path));
    if (!bytes)
        return SignatureVerdict::Uncheckable;
    if (const auto verdict = VerdictOfTable(ReadPeSignature(*bytes).state))
        return *verdict;

    TrustState trust(path);
    const LONG result = trust.Verify();
    if (result != 0) {
        switch (static_cast<DWORD>(result)) {
        case static_cast<DWORD>(TRUST_E_NOSIGNATURE):
            return SignatureVerdict::NotSigned;
        case static_cast<DWORD>(TRUST_E_PROVIDER_UNKNOWN):
        case static_cast<DWORD>(TRUST_E_SUBJECT_FORM_UNKNOWN):
            return SignatureVerdict::Uncheckable;
        default:
            return SignatureVerdict::NotVerified;
        }
    }
    CRYPT_PROVIDER_DATA *provider = WTHelperProvDataFromStateData(trust.State());
    CRYPT_PROVIDER_SGNR *signer
        = provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    if (!signer || signer->csCertChain == 0)
        return SignatureVerdict::WrongAuthority;
    CRYPT_PROVIDER_CERT *leaf = WTHelperGetProvCertFromChain(signer, 0);
    if (!leaf || !leaf->pCert || !HasCodeSigningUsage(leaf->pCert))
        return SignatureVerdict::NotVerified;
    // An empty or malformed pin never accepts.
    const std::string pin = NormalizeThumbprint(expectedRootSha1);
    CRYPT_PROVIDER_CERT *root = WTHelperGetProvCertFromChain(signer, signer->csCertChain - 1);
    if (pin.size() != 40 || !root || !root->pCert)
        return SignatureVerdict::WrongAuthority;
    return Sha1Hex(root->pCert) == pin ? SignatureVerdict::Accepted
                                       : SignatureVerdict::WrongAuthority;
}

}  // namespace vek::platform
