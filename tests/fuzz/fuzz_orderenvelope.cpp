// Claim replies from a node are outside data. They reach the order checks
// the way production reads them: parsed by the framework, then checked by
// ReadClaimReply. Whatever arrives must end in no order, a refusal or an
// order with 1 to 256 KiB of bytes, never in a crash or an exception.

#include "agent/claimreply.h"

#include <QByteArray>
#include <QJsonDocument>

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    vek::agent::DecodeBase64Strict(std::string_view(bytes.constData(), size));

    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isObject())
        return 0;
    const auto outcome = vek::agent::ReadClaimReply(document.object());
    if (const auto *order = std::get_if<vek::agent::RawPrintOrder>(&outcome)) {
        if (order->order.id.empty() || order->spool.data.empty()
            || order->spool.data.size() > vek::agent::kMaxSpoolBytes)
            __builtin_trap();
    }
    return 0;
}
