#pragma once
// What the user reads when the system refused the "Start when I sign in"
// change; it names the place the setting lives in on this system.

#include <QString>

namespace vek::agent {

QString RunAtSignInFailureText();

}  // namespace vek::agent
