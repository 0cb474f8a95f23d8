#include "platform/sha256stream.h"

#include <openssl/evp.h>

namespace vek::platform {

struct Sha256Stream::State {
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    bool failed = false;
    ~State() { EVP_MD_CTX_free(context); }
};

Sha256Stream::Sha256Stream()
    : state(std::make_unique<State>())
{
    Reset();
}

Sha256Stream::~Sha256Stream() = default;

void Sha256Stream::Reset()
{
    state->failed
        = !state->context || EVP_DigestInit_ex(state->context, EVP_sha256(), nullptr) != 1;
}

void Sha256Stream::Add(const void *data, std::size_t size)
{
    if (!state->failed && size > 0)
        state->failed = EVP_DigestUpdate(state->context, data, size) != 1;
}

std::string Sha256Stream::FinishHex()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const bool ok = !state->failed && EVP_DigestFinal_ex(state->context, digest, &length) == 1;
    Reset();
    if (!ok)
        return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text.push_back(kHex[digest[i] >> 4]);
        text.push_back(kHex[digest[i] & 0xF]);
    }
    return text;
}

}  // namespace vek::platform
