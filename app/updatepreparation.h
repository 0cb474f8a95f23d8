#pragma once
// The installer's side of the command channel: a "--prepare-update" run asks
// the running agent to finish its print job and exit, and waits for its lock.

#include <QString>

#include <chrono>

class QLockFile;

namespace vek::app {

// Exit codes of a "--prepare-update" run.
enum PrepareUpdateResult : int {
    kNoAgent = 0,  // no agent held the lock, or it ended without answering
    kAgentDrained = 10,  // the agent answered "draining" and ended in time
    kAgentStillPrinting = 20,  // it answered but still ran when the limit passed
    kAgentNotEnded = 21,  // no answer, another answer, or no channel, and it did not end
};

// 0 once the lock is taken within timeout, else 21.
int WaitForAgentLock(QLockFile &lock, std::chrono::milliseconds timeout);

// Never 0 while an agent holds the lock: only a lock this run took counts.
// The lock is released again before returning.
int PrepareForUpdate(const QString &dataDirectory, std::chrono::milliseconds limit);

}  // namespace vek::app
