#pragma once
// The record that says how this workstation talks to the clinic, and the
// states in which the worker and the tray speak about the agent.

#include <QMetaType>
#include <QString>
#include <QStringList>

namespace vek::agent {

struct AgentConfig {
    QString nodeBaseUrl;  // as typed in setup, trimmed; empty: not set up
    QString deviceId;  // "vekpa-" and 32 hexadecimal digits
    QString displayName;
    QString token;  // the credential in clear text; empty: not enrolled
    bool managed = false;  // set up with a pairing code: serve paired servers
    QStringList servers;  // further paired servers, canonical, no repeats

    // The tray starts the worker only for a record that is set up.
    bool isSetUp() const { return !nodeBaseUrl.isEmpty() && !token.isEmpty(); }
};

enum class AgentState : qint32 {
    NotConfigured = 0,
    NotEnrolled = 1,
    Connecting = 2,
    Ready = 3,
    Printing = 4,
    SignedOut = 5,
    Unreachable = 6,
};

// Registers both types for queued connections between the tray and the
// worker, under their full names and "AgentConfig" as used in signatures.
void RegisterAgentMetaTypes();

}  // namespace vek::agent

Q_DECLARE_METATYPE(vek::agent::AgentConfig)
Q_DECLARE_METATYPE(vek::agent::AgentState)
