#pragma once
// Reads what the test printer (printsink) received through the private CUPS daemon.

#include <QByteArray>
#include <QList>
#include <QString>

namespace vek::test {

// Waits until a job containing marker arrived at queue's sink; returns its
// bytes, or an empty array after timeoutMs.
QByteArray WaitForSinkJob(const QString &queue, const QByteArray &marker, int timeoutMs = 30000);

// Every job queue's sink received so far, oldest first.
QList<QByteArray> SinkJobs(const QString &queue);

// The CUPS server the tests print through (CUPS_SERVER).
QString CupsServer();

}  // namespace vek::test
