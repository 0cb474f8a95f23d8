#include "claimreply.h"

#include "clinicapi.h"

#include <QJsonDocument>

namespace vek::agent {

ClaimOutcome ReadClaimReply(const QJsonObject &reply)
{
    const QByteArray text = QJsonDocument(reply).toJson(QJsonDocument::Compact);
    const nlohmann::json envelope = nlohmann::json::parse(
        text.constBegin(), text.constEnd(), nullptr, /*allow_exceptions=*/false);

    OrderParse parsed = ParseOrder(envelope);
    if (std::holds_alternative<NoOrder>(parsed))
        return NoOrder {};
    if (auto *refusal = std::get_if<OrderRefusal>(&parsed))
        return std::move(*refusal);

    PrintOrder &order = std::get<PrintOrder>(parsed);
    // A valid order came from the reply's "order" object; look it up rather
    // than assume it.
    const auto orderObject = envelope.find(clinic::kOrder);
    if (orderObject == envelope.end())
        return NoOrder {};
    auto spool = ParseSpool(*orderObject);
    if (const auto *error = std::get_if<SpoolError>(&spool))
        return OrderRefusal { order.id, SpoolErrorMessage(*error).toStdString() };
    return RawPrintOrder { std::move(order), std::move(std::get<SpoolPayload>(spool)) };
}

}  // namespace vek::agent
