#pragma once
// Print profiles saved by the tests, as the profiles dialog saves them.

#include <QByteArray>
#include <QString>

namespace vek::test {

// The queue's current default driver settings.
QByteArray CapturedSettings(const char *queue);

struct TestProfile {
    QString id;  // empty when saving failed
    QString version;
};

// Saves the queue's current default settings as a new profile "Default"
// (210 × 297 mm) and allows the agent to print on the queue.
TestProfile SaveDefaultProfile(const char *queue);

}  // namespace vek::test
