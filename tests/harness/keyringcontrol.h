#pragma once
// Drives the test keyring that keyringsession.sh starts: locks and unlocks
// its login collection as the desktop would, and stops its daemon so that it
// no longer answers, as a hung session bus does.

#include <QByteArray>
#include <QString>

namespace vek::test {

bool LockKeyring();
// With the password the session unlocked it with at sign-in.
bool UnlockKeyring();

// SIGSTOP and SIGCONT for the keyring daemon.
bool PauseKeyring();
bool ResumeKeyring();

// Files below dir (recursively) whose bytes contain needle.
QStringList FilesContaining(const QString &dir, const QByteArray &needle);

}  // namespace vek::test
