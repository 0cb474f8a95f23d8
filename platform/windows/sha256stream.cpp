#include "platform/sha256stream.h"

#include <windows.h>

#include <bcrypt.h>

namespace vek::platform {

struct Sha256Stream::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool failed = false;

    State()
    {
        failed = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0;
    }
    ~State()
    {
        CloseHash();
        if (algorithm)
            BCryptCloseAlgorithmProvider(algorithm, 0);
    }
    void CloseHash()
    {
        if (hash)
            BCryptDestroyHash(hash);
        hash = nullptr;
    }
};

Sha256Stream::Sha256Stream()
    : state(std::make_unique<State>())
{
    Reset();
}

Sha256Stream::~Sha256Stream() = default;

void Sha256Stream::Reset()
{
    state->CloseHash();
    state->failed = !state->algorithm
        || BCryptCreateHash(state->algorithm, &state->hash, nullptr, 0, nullptr, 0, 0) < 0;
}

void Sha256Stream::Add(const void *data, std::size_t size)
{
    // CNG takes at most a ULONG per call.
    const auto *at = static_cast<const unsigned char *>(data);
    while (!state->failed && size > 0) {
        const ULONG piece = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
        state->failed = BCryptHashData(state->hash, const_cast<PUCHAR>(at), piece, 0) < 0;
        at += piece;
        size -= piece;
    }
}

std::string Sha256Stream::FinishHex()
{
    unsigned char digest[32];
    const bool ok = !state->failed && BCryptFinishHash(state->hash, digest, sizeof digest, 0) >= 0;
    Reset();
    if (!ok)
        return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : digest) {
        text.push_back(kHex[byte >> 4]);
        text.push_back(kHex[byte & 0xF]);
    }
    return text;
}

}  // namespace vek::platform
