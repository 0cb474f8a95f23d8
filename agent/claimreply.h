#pragma once
// What a local node's claim reply asks of this workstation: nothing, a
// refusal to report, or a raw print order with its decoded bytes. Pure: the
// worker does the printing and the reporting.

#include "orderenvelope.h"

#include <QJsonObject>

#include <variant>

namespace vek::agent {

struct RawPrintOrder {
    PrintOrder order;
    SpoolPayload spool;
};

using ClaimOutcome = std::variant<NoOrder, OrderRefusal, RawPrintOrder>;

// reply is the claim reply as the clinic client read it. The order checks
// run on the JSON library's values: the reply is handed over as its compact
// text, so what is checked is exactly what the framework parsed.
ClaimOutcome ReadClaimReply(const QJsonObject &reply);

}  // namespace vek::agent
