#pragma once
// Serving several servers of one clinic with one credential: the result of
// serving one server, the record kept per further server, and its label.

#include <QPointer>
#include <QString>

#include <chrono>

namespace vek::agent {

class NodeClient;

enum class ServeResult {
    Idle = 0,  // reached; nothing printed
    Printed = 1,  // an order was carried out, successfully or not
    Failed = 2,  // not reachable, refused, or held up by its journal
    Unauthorized = 3,  // the announce was answered with 401
};

// What serving one server left to say besides its result.
struct ServeNote {
    QString message;
    bool journalHeld = false;  // the server's recovery journal held it up
};

// One further server (the primary has none).
struct ServerEntry {
    QString url;  // canonical, as in the list
    QPointer<NodeClient> client;  // a child of the worker
    QString statusText;  // translated
    QString state;  // "connected", "unreachable" or "waiting"
    std::chrono::milliseconds nextAttempt { 0 };  // on the worker's clock; 0 is due now
    int failures = 0;  // 0 to 5
};

// "Vek Cloud" for the cloud domain and its sub-domains, else the address's
// authority (host and port).
QString ServerLabel(const QString &url);

}  // namespace vek::agent
