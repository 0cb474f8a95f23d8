#include "cupsjobs.h"

#include <cups/cups.h>

namespace vek::test {

QList<CupsJob> CupsJobs(const char *queue)
{
    cups_job_t *jobs = nullptr;
    const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queue, 0, CUPS_WHICHJOBS_ALL);
    QList<CupsJob> list;
    for (int i = 0; i < count; ++i)
        list.append({ jobs[i].id, QString::fromUtf8(jobs[i].title), int(jobs[i].state) });
    cupsFreeJobs(count, jobs);
    return list;
}

std::optional<CupsJob> FindCupsJob(const char *queue, int id)
{
    for (const CupsJob &job : CupsJobs(queue)) {
        if (job.id == id)
            return job;
    }
    return std::nullopt;
}

}  // namespace vek::test
