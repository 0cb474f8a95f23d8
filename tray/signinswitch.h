#pragma once
// The "Start when I sign in" switch for this program.

#include <QString>

namespace vek::agent {

// True when the system starts this program at sign-in.
bool RunAtSignInEnabled();
// Switches it on or off; true when the system accepted the change.
bool SetRunAtSignInEnabled(bool enabled);

// What the user reads when the change was refused; it names the place the
// setting lives in on this system.
QString RunAtSignInFailureText();

}  // namespace vek::agent
