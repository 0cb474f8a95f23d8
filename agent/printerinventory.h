#pragma once
// The workstation's print queues as the clinic sees them: one record per
// queue with its kind, and a fingerprint that tells when the list changed.

#include <QJsonArray>
#include <QString>

namespace vek::agent {

// "LABEL" when the driver name names a label printer maker or model family,
// else "DOCUMENT". The queue name itself is not examined.
QString ClassifyQueue(const QString &driverName);

// Lists the printers afresh: {"systemName", "name", "kind"} per queue, in
// the system's order.
QJsonArray BuildQueueList();

// Lower-case hexadecimal SHA-256 of the compact JSON text of the list.
QString InventoryFingerprint(const QJsonArray &queues);

}  // namespace vek::agent
