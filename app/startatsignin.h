#pragma once
// Start at sign-in for this program: the tray's check box.

#include <QString>

namespace vek::agent {

// What the system runs at sign-in: this program's full path, quoted.
QString RunAtLogonCommand();

// True when the entry exists and starts this very program file; an entry
// left by another copy or an old location reads as off.
bool IsRunAtLogonEnabled();

// Writes or removes the entry; true when the system accepted the change.
bool SetRunAtLogon(bool enabled);

}  // namespace vek::agent
