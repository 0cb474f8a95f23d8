// Installers come from the network: the header, certificate table and
// version resource reader must stay inside the bytes it is given, and what it
// accepts as signed must follow the table rules.

#include "platform/pefile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const vek::platform::PeBytes bytes = vek::platform::PeBytesOfMemory(data, size);
    const vek::platform::PeSignature signature = vek::platform::ReadPeSignature(bytes);
    if (signature.state == vek::platform::PeSignatureState::Signed) {
        if (signature.signedData.empty() || signature.signedData[0] != 0x30)
            __builtin_trap();
        std::uint64_t end = 0;
        for (const auto &range : signature.hashedRanges) {
            if (range.offset < end || range.offset + range.size > size)
                __builtin_trap();
            end = range.offset + range.size;
        }
    }
    vek::platform::ReadPeFileVersion(bytes);
    return 0;
}
