// Claim replies come from the network: reading one never fails, and an order
// it yields always carries an id and a claim token.

#include "agent/desktoporder.h"

#include <QCryptographicHash>
#include <QJsonDocument>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto order = vek::agent::ReadDesktopOrder(QJsonDocument::fromJson(bytes).object());
    if (!order)
        return 0;
    if (order->id.isEmpty() || order->claimToken.isEmpty())
        __builtin_trap();
    if (order->hashMatches
        && QCryptographicHash::hash(order->document, QCryptographicHash::Sha256).size() != 32)
        __builtin_trap();
    return 0;
}
