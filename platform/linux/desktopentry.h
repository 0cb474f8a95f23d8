#pragma once
// The autostart entry: a Desktop Entry file whose Exec line starts this
// program. Quoting follows the Desktop Entry rules in two layers: the path
// is one quoted argument ('"', '`', '$' and '\' escaped with '\', '%' as
// "%%"), and that value is then escaped as a string ('\' as "\\").

#include <optional>
#include <string>
#include <vector>

namespace vek::platform::linuxbackend {

// The Exec value for programPath, as it stands in the file.
std::string DesktopExecValue(const std::string &programPath);

// The arguments of an Exec value as it stands in the file; empty when the
// value breaks the quoting rules or holds a field code other than "%%".
std::optional<std::vector<std::string>> ParseDesktopExecValue(const std::string &value);

// The whole file that starts programPath at sign-in, shown as name.
std::string AutostartEntry(const std::string &name, const std::string &programPath);

// True when content is a Desktop Entry that starts exactly programPath, with
// no arguments, and is not hidden or switched off.
bool AutostartEntryRuns(const std::string &content, const std::string &programPath);

}  // namespace vek::platform::linuxbackend
