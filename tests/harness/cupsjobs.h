#pragma once
// What the private CUPS daemon knows about a queue's jobs, in every state.

#include <QList>
#include <QString>

#include <optional>

namespace vek::test {

struct CupsJob {
    int id = 0;
    QString title;
    int state = 0;  // ipp_jstate_t
};

QList<CupsJob> CupsJobs(const char *queue);
std::optional<CupsJob> FindCupsJob(const char *queue, int id);

}  // namespace vek::test
