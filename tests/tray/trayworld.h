#pragma once
// What every tray test stands in: a home of its own for the agent's files, a
// fake clinic server, and the notices the tray shows, each answered as the
// test says.

#include "agent/agentconfig.h"
#include "tests/harness/fakeclinicserver.h"
#include "tray/notices.h"

#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace vek::test {

// A notice as one comparable line: kind, title, text and time-out.
QString NoticeText(const agent::Notice &notice);

// A workstation enrolled with a local node at nodeBaseUrl.
agent::AgentConfig EnrolledConfig(const QString &nodeBaseUrl);

class TrayWorld {
public:
    // Makes the home and starts the server (over TLS when https); false when
    // either failed. Called from a test's init().
    bool setUp(bool https = false);
    // Called from a test's cleanup(), after the tray is gone.
    void tearDown();

    std::unique_ptr<QTemporaryDir> home;
    std::unique_ptr<FakeClinicServer> server;
    QStringList notices;  // NoticeText of each notice shown
    bool answerYes = false;  // the answer to a notice that asks
};

}  // namespace vek::test
