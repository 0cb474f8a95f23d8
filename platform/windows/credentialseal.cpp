#include "platform/credentialseal.h"

#include "platform/windows/localmemory.h"
#include "platform/windows/wintext.h"

#include <limits>
#include <windows.h>

#include <dpapi.h>

namespace vek::platform {

namespace {

bool FitsBlob(const Bytes &bytes)
{
    return bytes.size() <= std::numeric_limits<DWORD>::max();
}

DATA_BLOB InputBlob(const Bytes &bytes)
{
    return DATA_BLOB { static_cast<DWORD>(bytes.size()), const_cast<BYTE *>(bytes.data()) };
}

}  // namespace

std::optional<Bytes> SealForCurrentUser(const Bytes &plain, const std::string &description)
{
    if (!FitsBlob(plain))
        return std::nullopt;
    DATA_BLOB in = InputBlob(plain);
    const std::wstring wideDescription = win::ToWide(description);
    DATA_BLOB out {};
    // Flags 0: only this user on this machine can unseal.
    if (!CryptProtectData(&in, wideDescription.empty() ? nullptr : wideDescription.c_str(), nullptr,
            nullptr, nullptr, 0, &out))
        return std::nullopt;
    const win::LocalPtr<BYTE> owner(out.pbData);
    if (out.pbData == nullptr || out.cbData == 0)
        return std::nullopt;
    return Bytes(out.pbData, out.pbData + out.cbData);
}

std::optional<Bytes> UnsealForCurrentUser(const Bytes &sealed)
{
    if (sealed.empty() || !FitsBlob(sealed))
        return std::nullopt;
    DATA_BLOB in = InputBlob(sealed);
    DATA_BLOB out {};
    if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, 0, &out))
        return std::nullopt;
    const win::LocalPtr<BYTE> owner(out.pbData);
    Bytes plain(out.pbData, out.pbData + out.cbData);
    if (out.pbData != nullptr)
        SecureZeroMemory(out.pbData, out.cbData);  // the secret stays only in the returned copy
    return plain;
}

}  // namespace vek::platform
