#pragma once
// SHA-256 over data that arrives in pieces, through the system's own
// implementation (OpenSSL, Windows CNG), which uses the processor's SHA
// instructions where they exist.

#include <cstddef>
#include <memory>
#include <string>

namespace vek::platform {

class Sha256Stream {
public:
    Sha256Stream();
    ~Sha256Stream();
    Sha256Stream(const Sha256Stream &) = delete;
    Sha256Stream &operator=(const Sha256Stream &) = delete;

    // Starts a new digest, forgetting anything added before.
    void Reset();
    void Add(const void *data, std::size_t size);
    // The digest in lower-case hexadecimal, and a reset; empty when the
    // system failed at any step since the last reset.
    std::string FinishHex();

private:
    struct State;
    std::unique_ptr<State> state;
};

}  // namespace vek::platform
