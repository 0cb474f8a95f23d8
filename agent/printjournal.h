#pragma once
// The print recovery journal: per server and workstation one small file that
// holds the report the agent still owes that server, so that the outcome of a
// print that may have put paper out survives a crash or a lost connection.

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace vek::agent {

// A record larger than this cannot be one the agent wrote.
inline constexpr qint64 kMaxJournalBytes = 64 * 1024;

// "print-journal-<sha256 of serverUrl|deviceId>.json" in the per-user
// application data directory, which is created when missing.
QString PrintJournalPath(const QString &serverUrl, const QString &deviceId);

// Puts the compact JSON of record at path so that it survives a power cut:
// the file is readable by its owner only, its content and the replace are
// synced to the disk. False leaves the old file, if any, untouched.
bool WriteJournalAtomically(const QString &path, const QJsonObject &record);

struct JournalRecord {
    enum Kind { Absent, Unreadable, Damaged, Report };
    Kind kind = Absent;
    QJsonObject report;  // the body to send, for Report
};

// What a journal file's bytes hold: a report body (a STARTED record already
// turned into FAILED with PRINT_OUTCOME_UNKNOWN), or Damaged for anything
// that cannot be a record the agent wrote.
JournalRecord ParseJournalRecord(const QByteArray &bytes);

// Reads the file at path: Absent, Unreadable, or what ParseJournalRecord says.
JournalRecord ReadJournal(const QString &path);

}  // namespace vek::agent
