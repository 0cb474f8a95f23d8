#include "platform/windows/devmode.h"

#include <cstddef>
#include <cstring>

namespace vek::platform::win {

namespace {

template <typename T> T ReadField(const Bytes &block, std::size_t offset)
{
    T value {};
    std::memcpy(&value, block.data() + offset, sizeof value);
    return value;
}

template <typename T> void WriteField(Bytes &block, std::size_t offset, T value)
{
    std::memcpy(block.data() + offset, &value, sizeof value);
}

constexpr std::size_t kFieldsEnd = offsetof(DEVMODEW, dmCopies) + sizeof(short);

}  // namespace

std::optional<DevModeShape> ReadDevModeShape(const Bytes &block)
{
    if (block.size() < kFieldsEnd)
        return std::nullopt;
    DevModeShape shape;
    shape.specVersion = ReadField<WORD>(block, offsetof(DEVMODEW, dmSpecVersion));
    shape.driverVersion = ReadField<WORD>(block, offsetof(DEVMODEW, dmDriverVersion));
    shape.size = ReadField<WORD>(block, offsetof(DEVMODEW, dmSize));
    shape.driverExtra = ReadField<WORD>(block, offsetof(DEVMODEW, dmDriverExtra));
    if (shape.size < kFieldsEnd || std::size_t(shape.size) + shape.driverExtra != block.size())
        return std::nullopt;
    return shape;
}

const DEVMODEW *AsDevMode(const Bytes &block)
{
    // The allocator aligns the block for any fundamental type.
    return ReadDevModeShape(block) ? reinterpret_cast<const DEVMODEW *>(block.data()) : nullptr;
}

void SetSingleCopy(Bytes &block)
{
    const auto fields = ReadField<DWORD>(block, offsetof(DEVMODEW, dmFields));
    WriteField<DWORD>(block, offsetof(DEVMODEW, dmFields), fields | DM_COPIES);
    WriteField<short>(block, offsetof(DEVMODEW, dmCopies), 1);
}

}  // namespace vek::platform::win
