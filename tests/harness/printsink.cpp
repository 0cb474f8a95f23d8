#include "printsink.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

namespace vek::test {

QList<QByteArray> SinkJobs(const QString &queue)
{
    QList<QByteArray> jobs;
    const QDir dir(qEnvironmentVariable("VEK_TEST_SINK_DIR") + '/' + queue);
    for (const QString &name :
        dir.entryList({ QStringLiteral("*.job") }, QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            jobs.append(file.readAll());
    }
    return jobs;
}

QByteArray WaitForSinkJob(const QString &queue, const QByteArray &marker, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    do {
        for (const QByteArray &job : SinkJobs(queue)) {
            if (job.contains(marker))
                return job;
        }
        // Keep this thread's servers (a fake clinic, say) answering meanwhile.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    } while (!deadline.hasExpired());
    return {};
}

QString CupsServer()
{
    return qEnvironmentVariable("CUPS_SERVER");
}

}  // namespace vek::test
