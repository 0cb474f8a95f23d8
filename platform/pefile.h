#pragma once
// A bounds-checked reader of the parts of a Windows executable that the
// update check needs: the header fields that Authenticode leaves out of its
// hash, the certificate table with its signature, and the fixed file version
// of the version resource. Pure C++; every offset is checked against the file.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

namespace vek::platform {

// Random access to the bytes of a file: read fills exactly size bytes at
// offset or returns false.
struct PeBytes {
    std::uint64_t size = 0;
    std::function<bool(std::uint64_t offset, void *into, std::size_t size)> read;
};

PeBytes PeBytesOfMemory(const std::uint8_t *data, std::size_t size);

enum class PeSignatureState {
    NotPe,  // no readable executable headers
    Unsigned,  // no certificate table
    Malformed,  // a table that breaks the rules below
    Signed,
};

struct PeByteRange {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

struct PeSignature {
    PeSignatureState state = PeSignatureState::NotPe;
    // The byte ranges of the image hash: the whole file except the checksum
    // field, the certificate table's directory entry and the table itself.
    std::vector<PeByteRange> hashedRanges;
    std::vector<std::uint8_t> signedData;  // DER PKCS#7 SignedData, without padding
};

// A table is accepted only as exactly one WIN_CERTIFICATE (revision 0x0200,
// type PKCS_SIGNED_DATA) whose length equals the directory size, ending at
// the end of the file, holding one DER structure followed by at most seven
// zero bytes. Data hidden inside or after the table is refused, since the
// image hash does not cover it.
PeSignature ReadPeSignature(const PeBytes &bytes);

// The fixed file version (major, minor, build, revision) of the first
// version resource; nullopt when there is none or it is unreadable.
std::optional<std::array<std::uint16_t, 4>> ReadPeFileVersion(const PeBytes &bytes);

// Reads a file on disk through the functions above; nullopt when it cannot
// be opened. The stream stays open while the returned PeBytes lives.
std::optional<PeBytes> PeBytesOfFile(const std::filesystem::path &path);

}  // namespace vek::platform
