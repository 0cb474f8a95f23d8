#pragma once
// Shared pieces of the paired-servers tests: the desktop printing paths, a
// print order for a PDF, the CUPS jobs of a queue, and a saved profile.

#include "agent/clinicapi.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUuid>

#include <cups/cups.h>

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

struct CupsJobInfo {
    int id = 0;
    QString title;
};

inline QList<CupsJobInfo> CupsJobs(const char *queue)
{
    cups_job_t *jobs = nullptr;
    const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queue, 0, CUPS_WHICHJOBS_ALL);
    QList<CupsJobInfo> list;
    for (int i = 0; i < count; ++i)
        list.append({ jobs[i].id, QString::fromUtf8(jobs[i].title) });
    cupsFreeJobs(count, jobs);
    return list;
}

inline QList<int> CupsJobsTitled(const char *queue, const QString &title)
{
    QList<int> ids;
    for (const CupsJobInfo &job : CupsJobs(queue)) {
        if (job.title == title)
            ids.append(job.id);
    }
    return ids;
}

}  // namespace vek::test
