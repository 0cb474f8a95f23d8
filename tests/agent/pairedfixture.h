#pragma once
// Shared pieces of the paired-servers tests: the desktop printing paths, a
// print order for a PDF, the CUPS jobs of a queue, and a saved profile.

#include "agent/clinicapi.h"
#include "tests/harness/cupsjobs.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUuid>

namespace vek::test {

inline QString DesktopPath(const char *name)
{
    return QString(agent::clinic::kDesktopPrintingPrefix) + name;
}

inline QJsonObject PdfOrder(const QString &id, const QByteArray &pdf, const QString &queue,
    const QString &profileId, const QString &profileVersion)
{
    return QJsonObject { { "id", id }, { "claimToken", "claim-" + id },
        { "printer", QJsonObject { { "systemName", queue } } },
        { "profile", QJsonObject { { "id", profileId }, { "version", profileVersion } } },
        { "documentBase64", QString::fromLatin1(pdf.toBase64()) },
        { "contentHash",
            QString::fromLatin1(
                QCryptographicHash::hash(pdf, QCryptographicHash::Sha256).toHex()) } };
}

inline QList<int> CupsJobsTitled(const char *queue, const QString &title)
{
    QList<int> ids;
    for (const CupsJob &job : CupsJobs(queue)) {
        if (job.title == title)
            ids.append(job.id);
    }
    return ids;
}

}  // namespace vek::test
