#pragma once
// The demo's verdict: what the simulator heard from the agents, set beside
// what the sink printer received.

#include <QString>

namespace vek::demo {

struct SummaryInputs {
    QString adminUrl;  // the simulator's admin server
    QString eventsPath;  // its event lines, each after the time it was read (epoch seconds)
    QString manifestPath;  // "ORDER-ID FILE" per queued order
    QString sinkDirectory;  // the sink printer's folder, one subfolder per queue
    QString outputDirectory;  // receives labels/ and pages/
};

// Prints one block per order and a last line with the verdict; true when
// every order was reported SPOOLED or COMPLETED, every label reached the
// sink byte for byte and every document's pages arrived in order.
bool WriteSummary(const SummaryInputs &inputs);

}  // namespace vek::demo
