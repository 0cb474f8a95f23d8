#pragma once
// Putting a file in place so that it survives a power cut: the new content
// is forced to the disk before it replaces the old file, and the replacement
// itself is forced to the disk before the call returns.

#include <string>

namespace vek::platform {

// Forces tempPath's content to the disk, renames it over targetPath (both in
// the same directory, paths in UTF-8) and forces the rename to the disk.
// False when any step failed; tempPath is then left for the caller to remove.
bool ReplaceFileDurably(const std::string &tempPath, const std::string &targetPath);

}  // namespace vek::platform
