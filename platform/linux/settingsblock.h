#pragma once
// The text form of a CUPS queue's driver settings block:
//   vek-cups-settings 1
//   driver <the queue's make and model>
//   option <name>=<value>        one line per option, sorted by name
// Each line ends with a line feed. Exactly one text is accepted for a set of
// settings, so equal settings always give equal bytes.

#include "platform/driversettings.h"

#include <map>
#include <optional>
#include <string>

namespace vek::platform::linuxbackend {

struct SettingsBlock {
    std::string driver;
    std::map<std::string, std::string> options;
};

// Whether text can stand in a block: UTF-8 without control characters, and
// for an option name also without '=' and not empty.
bool IsBlockText(const std::string &text);
bool IsOptionName(const std::string &name);

// Empty bytes when a driver or option text cannot stand in a block.
Bytes EncodeSettingsBlock(const SettingsBlock &block);

// The block, or nothing when bytes are not exactly its canonical text.
std::optional<SettingsBlock> DecodeSettingsBlock(const Bytes &bytes);

}  // namespace vek::platform::linuxbackend
