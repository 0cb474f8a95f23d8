#pragma once
// Starting the agent when the user signs in: the user's own Run list in the
// registry on Windows, an XDG autostart entry on Linux. No administrator
// rights are needed on either.

#include <string>

namespace vek::platform {

// The command the system runs at sign-in for the program at programPath
// (UTF-8, native separators): the whole path in double quotes on Windows,
// the Exec value of the autostart entry on Linux.
std::string RunAtSignInCommand(const std::string &programPath);

// True exactly when the entry exists and starts this program at programPath;
// an entry for another copy or location reads as off.
bool IsRunAtSignInEnabled(const std::string &programPath);

// Writes or removes the entry; true when the system accepted the change.
// Removing an entry that does not exist succeeds.
bool SetRunAtSignIn(bool enabled, const std::string &programPath);

}  // namespace vek::platform
