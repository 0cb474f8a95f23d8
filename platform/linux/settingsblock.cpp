#include "settingsblock.h"

#include <string_view>

namespace vek::platform::linuxbackend {
namespace {

constexpr std::string_view kHeader = "vek-cups-settings 1\n";
constexpr std::string_view kDriver = "driver ";
constexpr std::string_view kOption = "option ";

// Length of the well-formed UTF-8 sequence at text[i], or 0.
std::size_t Utf8SequenceLength(const std::string &text, std::size_t i)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    char32_t code = 0;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
        code = lead & 0x1f;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        code = lead & 0x0f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xc0) != 0x80)
            return 0;
        code = (code << 6) | (next & 0x3f);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    const bool surrogate = code >= 0xd800 && code <= 0xdfff;
    if (overlong || surrogate || code > 0x10ffff)
        return 0;
    // C1 control characters.
    if (code >= 0x80 && code <= 0x9f)
        return 0;
    return length;
}

}  // namespace

bool IsBlockText(const std::string &text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f)
            return false;
        const std::size_t length = Utf8SequenceLength(text, i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

bool IsOptionName(const std::string &name)
{
    return !name.empty() && name.find('=') == std::string::npos
        && name.find(' ') == std::string::npos && IsBlockText(name);
}

Bytes EncodeSettingsBlock(const SettingsBlock &block)
{
    if (!IsBlockText(block.driver))
        return {};
    std::string text(kHeader);
    text += kDriver;
    text += block.driver;
    text += '\n';
    for (const auto &[name, value] : block.options) {
        if (!IsOptionName(name) || !IsBlockText(value))
            return {};
        text += kOption;
        text += name;
        text += '=';
        text += value;
        text += '\n';
    }
    if (text.size() > kMaxDriverSettingsBytes)
        return {};
    return Bytes(text.begin(), text.end());
}

std::optional<SettingsBlock> DecodeSettingsBlock(const Bytes &bytes)
{
    if (bytes.empty() || bytes.size() > kMaxDriverSettingsBytes)
        return std::nullopt;
    const std::string text(bytes.begin(), bytes.end());
    if (text.compare(0, kHeader.size(), kHeader) != 0)
        return std::nullopt;

    SettingsBlock block;
    std::size_t at = kHeader.size();
    bool driverSeen = false;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            return std::nullopt;
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!driverSeen) {
            if (line.compare(0, kDriver.size(), kDriver) != 0)
                return std::nullopt;
            block.driver = line.substr(kDriver.size());
            driverSeen = true;
            continue;
        }
        if (line.compare(0, kOption.size(), kOption) != 0)
            return std::nullopt;
        const std::size_t equals = line.find('=', kOption.size());
        if (equals == std::string::npos)
            return std::nullopt;
        block.options.insert_or_assign(
            line.substr(kOption.size(), equals - kOption.size()), line.substr(equals + 1));
    }
    if (!driverSeen)
        return std::nullopt;
    // Unsorted, repeated or unprintable entries do not survive the round trip.
    if (EncodeSettingsBlock(block) != bytes)
        return std::nullopt;
    return block;
}

}  // namespace vek::platform::linuxbackend
