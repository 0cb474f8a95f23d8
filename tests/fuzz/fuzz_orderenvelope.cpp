// Claim replies from a node are outside data: whatever arrives must end in
// no order, a refusal or an order, never in a crash or an exception.

#include "agent/orderenvelope.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    vek::agent::DecodeBase64Strict(text);

    const nlohmann::json reply = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    const auto parsed = vek::agent::ParseOrder(reply);
    if (std::holds_alternative<vek::agent::PrintOrder>(parsed)) {
        const auto spool = vek::agent::ParseSpool(*reply.find("order"));
        if (const auto *payload = std::get_if<vek::agent::SpoolPayload>(&spool)) {
            if (payload->data.empty() || payload->data.size() > vek::agent::kMaxSpoolBytes)
                __builtin_trap();
        }
    }
    return 0;
}
