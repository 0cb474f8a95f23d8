#pragma once
// The user's print profiles and the queues the agent may print on, kept in
// the framework's per-user settings store. Every operation opens the store
// afresh and every writer flushes it, so the worker thread and the profiles
// dialog (main thread, or a "--printers" process) can use it side by side.
//
// Layout, per queue group Q = QueueSettingsKey(systemName):
//   Q/enabled                    bool, the user allows the agent to print here
//   Q/id                         the queue's local id (lower-case UUID)
//   Q/profiles/P/name            the profile's name, 1 to 100 characters
//   Q/profiles/P/devmode         the driver settings block
//   Q/profiles/P/version         SHA-256 of that block, lower-case hex
//   Q/profiles/P/widthMm         physical paper width in millimetres
//   Q/profiles/P/heightMm        physical paper height in millimetres

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace vek::printing {

// "printing/queues/" and the SHA-256 of the name's UTF-8 bytes in lower-case
// hex; the name is hashed exactly as written.
QString QueueSettingsKey(const QString &systemName);

// The form of every stored id: a lower-case UUID with dashes, no braces.
bool IsStoredIdForm(const QString &id);

// A profile's description for the announce: id, name, version, widthMm,
// heightMm, ready.
QJsonObject ProfileDescription(const QString &systemName, const QString &profileId);

// One description per queue that the printer enumeration lists, in its
// order; creates a queue's local id the first time it is described.
QJsonArray BuildQueueDescriptions();

bool IsQueueEnabled(const QString &systemName);
void SetQueueEnabled(const QString &systemName, bool enabled);

// The profile ids of a queue, in the store's order.
QStringList ProfileIds(const QString &systemName);

struct StoredProfile {
    QString name;
    QByteArray devmode;  // the driver settings block
    QString version;
    double widthMm = 0;
    double heightMm = 0;
};

// Missing keys read as empty text, empty bytes or 0.
StoredProfile ReadProfile(const QString &systemName, const QString &profileId);

// Writes name, devmode, version (computed here from devmode), widthMm and
// heightMm in this order and flushes. False when the store reports an error.
bool WriteProfile(const QString &systemName, const QString &profileId, const QString &name,
    const QByteArray &devmode, double widthMm, double heightMm);

// SHA-256 of the bytes as 64 lower-case hexadecimal characters.
QString SettingsVersion(const QByteArray &devmode);

}  // namespace vek::printing
