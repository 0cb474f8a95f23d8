#include "installersignature.h"
#include "installertable.h"

#include <cctype>

namespace vek::platform {

std::string NormalizeThumbprint(const std::string &text)
{
    std::string digits;
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (std::isxdigit(byte))
            digits.push_back(char(std::tolower(byte)));
    }
    return digits;
}

std::optional<SignatureVerdict> VerdictOfTable(PeSignatureState state)
{
    switch (state) {
    case PeSignatureState::NotPe:
        return SignatureVerdict::Uncheckable;
    case PeSignatureState::Unsigned:
        return SignatureVerdict::NotSigned;
    case PeSignatureState::Malformed:
        return SignatureVerdict::NotVerified;
    case PeSignatureState::Signed:
        break;
    }
    return std::nullopt;
}

const char *VerdictText(SignatureVerdict verdict)
{
    switch (verdict) {
    case SignatureVerdict::Accepted:
        return "signature accepted";
    case SignatureVerdict::NotSigned:
        return "not signed";
    case SignatureVerdict::NotVerified:
        return "signature did not verify";
    case SignatureVerdict::WrongAuthority:
        return "signed by a different authority";
    case SignatureVerdict::Uncheckable:
        return "signature could not be checked";
    }
    return "unknown";
}

}  // namespace vek::platform
