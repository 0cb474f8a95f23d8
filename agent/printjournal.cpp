#include "printjournal.h"

#include "clinicapi.h"

#include "platform/durablefile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QTemporaryFile>

Q_LOGGING_CATEGORY(lcJournal, "vek.journal", QtWarningMsg)

namespace vek::agent {

namespace {

bool IsDecimal(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

}  // namespace

QString PrintJournalPath(const QString &serverUrl, const QString &deviceId)
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    QDir().mkpath(dir);
    const QByteArray hash = QCryptographicHash::hash(
        (serverUrl + QLatin1Char('|') + deviceId).toUtf8(), QCryptographicHash::Sha256);
    return QDir(dir).filePath(
        QStringLiteral("print-journal-%1.json").arg(QString::fromLatin1(hash.toHex())));
}

bool WriteJournalAtomically(const QString &path, const QJsonObject &record)
{
    // A temporary file is created for the owner only; it takes the journal's
    // place only once its content is on the disk.
    QTemporaryFile temp(path + QStringLiteral(".XXXXXX"));
    if (!temp.open()) {
        qCWarning(lcJournal) << "cannot create" << temp.fileTemplate() << temp.errorString();
        return false;
    }
    const QByteArray text = QJsonDocument(record).toJson(QJsonDocument::Compact);
    if (temp.write(text) != text.size() || !temp.flush()) {
        qCWarning(lcJournal) << "cannot write" << temp.fileName() << temp.errorString();
        return false;
    }
    temp.close();
    if (!platform::ReplaceFileDurably(QFile::encodeName(temp.fileName()).toStdString(),
            QFile::encodeName(path).toStdString())) {
        qCWarning(lcJournal) << "cannot put" << path << "durably in place";
        return false;
    }
    temp.setAutoRemove(false);  // it is the journal now
    return true;
}

JournalRecord ParseJournalRecord(const QByteArray &bytes)
{
    const JournalRecord damaged { JournalRecord::Damaged, {} };
    if (bytes.size() > kMaxJournalBytes)
        return damaged;
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isObject())
        return damaged;
    QJsonObject record = document.object();
    if (record.value(clinic::kOrderId).toString().isEmpty()
        || record.value(clinic::kClaimToken).toString().isEmpty())
        return damaged;
    const QString outcome = record.value(clinic::kOutcome).toString();
    if (outcome == QLatin1String(clinic::kStarted)) {
        // The print may or may not have put paper out.
        record.insert(clinic::kOutcome, QLatin1String(clinic::kFailed));
        record.insert(clinic::kReason, QLatin1String(clinic::kOutcomeUnknown));
        return { JournalRecord::Report, record };
    }
    if (outcome != QLatin1String(clinic::kSpooled) && outcome != QLatin1String(clinic::kFailed))
        return damaged;
    if (!IsDecimal(record.value(clinic::kSpoolJobId).toString()))
        return damaged;
    return { JournalRecord::Report, record };
}

JournalRecord ReadJournal(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return { JournalRecord::Absent, {} };
    if (!file.open(QIODevice::ReadOnly))
        return { JournalRecord::Unreadable, {} };
    // One byte past the limit is enough to tell an oversized file.
    const QByteArray bytes = file.read(kMaxJournalBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return { JournalRecord::Unreadable, {} };
    return ParseJournalRecord(bytes);
}

}  // namespace vek::agent
