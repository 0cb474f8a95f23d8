#include "pefile.h"

#include <cstring>
#include <fstream>
#include <memory>

namespace vek::platform {
namespace {

constexpr std::uint32_t kSecurityDirectory = 4;
constexpr std::uint32_t kResourceDirectory = 2;
constexpr std::uint16_t kCertificateRevision = 0x0200;
constexpr std::uint16_t kCertificateTypePkcsSignedData = 0x0002;
constexpr std::uint64_t kMaxSignatureBytes = 16u << 20;
constexpr std::uint32_t kVersionResourceType = 16;
constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BD;
constexpr std::uint16_t kMaxSections = 96;
constexpr std::uint32_t kMaxResourceEntries = 4096;

std::optional<std::uint64_t> Read(const PeBytes &bytes, std::uint64_t offset, std::size_t size)
{
    if (offset > bytes.size || size > bytes.size - offset || size > 8)
        return std::nullopt;
    std::uint8_t buffer[8] = {};
    if (!bytes.read(offset, buffer, size))
        return std::nullopt;
    std::uint64_t value = 0;
    for (std::size_t i = size; i > 0; --i)
        value = (value << 8) | buffer[i - 1];
    return value;
}

struct Headers {
    std::uint64_t checksumOffset = 0;
    std::uint64_t directoriesOffset = 0;  // the data directory array
    std::uint32_t directoryCount = 0;
    std::uint64_t sectionsOffset = 0;
    std::uint16_t sectionCount = 0;
};

std::optional<Headers> ReadHeaders(const PeBytes &bytes)
{
    const auto mz = Read(bytes, 0, 2);
    const auto peOffset = Read(bytes, 0x3C, 4);
    if (!mz || *mz != 0x5A4D || !peOffset)
        return std::nullopt;
    const auto pe = Read(bytes, *peOffset, 4);
    if (!pe || *pe != 0x00004550)
        return std::nullopt;
    const std::uint64_t coff = *peOffset + 4;
    const auto sections = Read(bytes, coff + 2, 2);
    const auto optionalSize = Read(bytes, coff + 16, 2);
    const std::uint64_t optional = coff + 20;
    const auto magic = Read(bytes, optional, 2);
    if (!sections || !optionalSize || !magic || *sections > kMaxSections)
        return std::nullopt;
    Headers headers;
    std::uint64_t countOffset = 0;
    if (*magic == 0x10B) {
        countOffset = optional + 92;
    } else if (*magic == 0x20B) {
        countOffset = optional + 108;
    } else {
        return std::nullopt;
    }
    const auto count = Read(bytes, countOffset, 4);
    if (!count)
        return std::nullopt;
    headers.checksumOffset = optional + 64;
    headers.directoriesOffset = countOffset + 4;
    headers.directoryCount = std::uint32_t(*count);
    // The directories must lie inside the optional header that declares them.
    const std::uint64_t optionalEnd = optional + *optionalSize;
    if (headers.directoryCount > 16
        || headers.directoriesOffset + 8ull * headers.directoryCount > optionalEnd
        || optionalEnd > bytes.size)
        return std::nullopt;
    headers.sectionsOffset = optionalEnd;
    headers.sectionCount = std::uint16_t(*sections);
    if (headers.sectionsOffset + 40ull * headers.sectionCount > bytes.size)
        return std::nullopt;
    return headers;
}

// The length of the DER element at the start of data (header included), or
// nullopt when it does not fit.
std::optional<std::uint64_t> DerLength(const std::vector<std::uint8_t> &data)
{
    if (data.size() < 2 || data[0] != 0x30)
        return std::nullopt;
    std::uint64_t length = data[1];
    std::uint64_t header = 2;
    if (length & 0x80) {
        const std::uint64_t octets = length & 0x7F;
        if (octets == 0 || octets > 4 || data.size() < 2 + octets)
            return std::nullopt;
        length = 0;
        for (std::uint64_t i = 0; i < octets; ++i)
            length = (length << 8) | data[2 + i];
        header += octets;
    }
    if (header + length > data.size())
        return std::nullopt;
    return header + length;
}

// Maps a relative virtual address to a file offset through the section table.
std::optional<std::uint64_t> FileOffset(
    const PeBytes &bytes, const Headers &headers, std::uint64_t rva, std::uint64_t size)
{
    for (std::uint16_t i = 0; i < headers.sectionCount; ++i) {
        const std::uint64_t section = headers.sectionsOffset + 40ull * i;
        const auto address = Read(bytes, section + 12, 4);
        const auto rawSize = Read(bytes, section + 16, 4);
        const auto rawOffset = Read(bytes, section + 20, 4);
        if (!address || !rawSize || !rawOffset)
            return std::nullopt;
        if (rva >= *address && rva - *address < *rawSize && size <= *rawSize - (rva - *address)) {
            const std::uint64_t offset = *rawOffset + (rva - *address);
            if (offset > bytes.size || size > bytes.size - offset)
                return std::nullopt;
            return offset;
        }
    }
    return std::nullopt;
}

// The entry of a resource directory: the first one with the given id, or the
// first one of all when id is nullopt. Returns its raw OffsetToData.
std::optional<std::uint32_t> ResourceEntry(const PeBytes &bytes, std::uint64_t base,
    std::uint64_t sectionSize, std::uint64_t directory, std::optional<std::uint32_t> id)
{
    if (directory > sectionSize || sectionSize - directory < 16)
        return std::nullopt;
    const auto named = Read(bytes, base + directory + 12, 2);
    const auto ids = Read(bytes, base + directory + 14, 2);
    if (!named || !ids)
        return std::nullopt;
    const std::uint64_t entries = *named + *ids;
    if (entries > kMaxResourceEntries)
        return std::nullopt;
    for (std::uint64_t i = 0; i < entries; ++i) {
        const std::uint64_t entry = directory + 16 + 8 * i;
        if (entry > sectionSize || sectionSize - entry < 8)
            return std::nullopt;
        const auto name = Read(bytes, base + entry, 4);
        const auto data = Read(bytes, base + entry + 4, 4);
        if (!name || !data)
            return std::nullopt;
        if (!id || *name == *id)
            return std::uint32_t(*data);
    }
    return std::nullopt;
}

}  // namespace

PeBytes PeBytesOfMemory(const std::uint8_t *data, std::size_t size)
{
    PeBytes bytes;
    bytes.size = size;
    bytes.read = [data, size](std::uint64_t offset, void *into, std::size_t count) {
        if (offset > size || count > size - offset)
            return false;
        if (count)
            std::memcpy(into, data + offset, count);
        return true;
    };
    return bytes;
}

std::optional<PeBytes> PeBytesOfFile(const std::filesystem::path &path)
{
    auto file = std::make_shared<std::ifstream>(path, std::ios::binary);
    if (!*file)
        return std::nullopt;
    file->seekg(0, std::ios::end);
    const std::streamoff end = file->tellg();
    if (end < 0)
        return std::nullopt;
    PeBytes bytes;
    bytes.size = std::uint64_t(end);
    bytes.read = [file, total = bytes.size](std::uint64_t offset, void *into, std::size_t count) {
        if (offset > total || count > total - offset)
            return false;
        file->clear();
        file->seekg(std::streamoff(offset));
        file->read(static_cast<char *>(into), std::streamsize(count));
        return bool(*file);
    };
    return bytes;
}

PeSignature ReadPeSignature(const PeBytes &bytes)
{
    PeSignature signature;
    const auto headers = ReadHeaders(bytes);
    if (!headers)
        return signature;
    signature.state = PeSignatureState::Unsigned;
    if (headers->directoryCount <= kSecurityDirectory)
        return signature;
    const std::uint64_t entry = headers->directoriesOffset + 8ull * kSecurityDirectory;
    const auto tableOffset = Read(bytes, entry, 4);
    const auto tableSize = Read(bytes, entry + 4, 4);
    if (!tableOffset || !tableSize)
        return signature;
    if (*tableOffset == 0 && *tableSize == 0)
        return signature;

    signature.state = PeSignatureState::Malformed;
    const std::uint64_t headersEnd = headers->sectionsOffset + 40ull * headers->sectionCount;
    if (*tableOffset < headersEnd || *tableOffset > bytes.size
        || *tableSize != bytes.size - *tableOffset || *tableSize < 8
        || *tableSize - 8 > kMaxSignatureBytes)
        return signature;
    const auto length = Read(bytes, *tableOffset, 4);
    const auto revision = Read(bytes, *tableOffset + 4, 2);
    const auto type = Read(bytes, *tableOffset + 6, 2);
    if (!length || *length != *tableSize || !revision || *revision != kCertificateRevision || !type
        || *type != kCertificateTypePkcsSignedData)
        return signature;
    std::vector<std::uint8_t> block(*tableSize - 8);
    if (!bytes.read(*tableOffset + 8, block.data(), block.size()))
        return signature;
    const auto derLength = DerLength(block);
    if (!derLength || block.size() - *derLength > 7)
        return signature;
    for (std::uint64_t i = *derLength; i < block.size(); ++i) {
        if (block[i] != 0)
            return signature;
    }
    block.resize(*derLength);

    signature.state = PeSignatureState::Signed;
    signature.signedData = std::move(block);
    signature.hashedRanges = {
        { 0, headers->checksumOffset },
        { headers->checksumOffset + 4, entry - (headers->checksumOffset + 4) },
        { entry + 8, *tableOffset - (entry + 8) },
    };
    return signature;
}

std::optional<std::array<std::uint16_t, 4>> ReadPeFileVersion(const PeBytes &bytes)
{
    const auto headers = ReadHeaders(bytes);
    if (!headers || headers->directoryCount <= kResourceDirectory)
        return std::nullopt;
    const std::uint64_t entry = headers->directoriesOffset + 8ull * kResourceDirectory;
    const auto rva = Read(bytes, entry, 4);
    const auto size = Read(bytes, entry + 4, 4);
    if (!rva || !size || *size == 0)
        return std::nullopt;
    const auto base = FileOffset(bytes, *headers, *rva, *size);
    if (!base)
        return std::nullopt;

    // Type, then name, then language; the high bit marks a subdirectory.
    std::uint64_t directory = 0;
    std::optional<std::uint32_t> wanted = kVersionResourceType;
    for (int level = 0; level < 3; ++level) {
        const auto next = ResourceEntry(bytes, *base, *size, directory, wanted);
        if (!next)
            return std::nullopt;
        const bool subdirectory = (*next & 0x80000000u) != 0;
        if (subdirectory != (level < 2))
            return std::nullopt;
        directory = *next & 0x7FFFFFFFu;
        wanted.reset();
    }
    if (directory > *size || *size - directory < 16)
        return std::nullopt;
    const auto dataRva = Read(bytes, *base + directory, 4);
    const auto dataSize = Read(bytes, *base + directory + 4, 4);
    if (!dataRva || !dataSize || *dataSize < 92)
        return std::nullopt;
    const auto data = FileOffset(bytes, *headers, *dataRva, *dataSize);
    if (!data)
        return std::nullopt;

    // VS_VERSIONINFO: three words, the key "VS_VERSION_INFO" in UTF-16 with
    // its terminator, padding to 32 bits, then VS_FIXEDFILEINFO.
    static constexpr char16_t kKey[] = u"VS_VERSION_INFO";
    const auto valueLength = Read(bytes, *data + 2, 2);
    if (!valueLength || *valueLength < 52)
        return std::nullopt;
    for (std::size_t i = 0; i < std::size(kKey); ++i) {
        const auto unit = Read(bytes, *data + 6 + 2 * i, 2);
        if (!unit || *unit != std::uint64_t(kKey[i]))
            return std::nullopt;
    }
    const std::uint64_t fixed = *data + 40;
    const auto magic = Read(bytes, fixed, 4);
    const auto high = Read(bytes, fixed + 8, 4);
    const auto low = Read(bytes, fixed + 12, 4);
    if (!magic || *magic != kFixedFileInfoSignature || !high || !low)
        return std::nullopt;
    return std::array<std::uint16_t, 4> { std::uint16_t(*high >> 16), std::uint16_t(*high & 0xFFFF),
        std::uint16_t(*low >> 16), std::uint16_t(*low & 0xFFFF) };
}

}  // namespace vek::platform
