// Feeds arbitrary bytes to the check that every PDF order passes before it is
// journaled.

#include "printing/pdfprint.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    std::string error;
    const bool printable = vek::printing::ValidatePdf(bytes, &error);
    // Exactly one of the two outcomes: a printable document or a reason.
    if (printable != error.empty())
        __builtin_trap();
    return 0;
}
