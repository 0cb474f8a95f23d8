#pragma once
// The print order a local node hands out in its claim reply: the checks an
// order passes before any printer is touched, its spool payload, and the
// reasons sent back with a "FAILED" report. Pure data handling; never throws.

#include <QString>

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vek::agent {

enum class OrderKind { Label = 0, Document = 1, Film = 2 };
enum class PrinterTransport { System = 0, ZplTcp = 1, DicomScu = 2 };

// Strings are UTF-8.
struct PrintOrder {
    std::string id;
    OrderKind kind = OrderKind::Label;
    PrinterTransport transport = PrinterTransport::System;
    std::string name, systemName, host;
    std::int32_t port = 0;
    std::string aeTitle;
    nlohmann::json payload;
};

// Nothing to print this time, or an order without an id that cannot be reported.
struct NoOrder { };

// An order that must be reported as failed with this reason.
struct OrderRefusal {
    std::string orderId;
    std::string message;
};

using OrderParse = std::variant<NoOrder, PrintOrder, OrderRefusal>;

// reply is the node's whole claim reply.
OrderParse ParseOrder(const nlohmann::json &reply);

// The largest decoded spool payload that is accepted (256 KiB).
inline constexpr std::size_t kMaxSpoolBytes = 262144;

enum class SpoolDatatype { Raw = 0 };

struct SpoolPayload {
    SpoolDatatype datatype = SpoolDatatype::Raw;
    std::string documentName;
    std::vector<std::uint8_t> data;  // 1 to kMaxSpoolBytes bytes
};

enum class SpoolError { NoSpool = 0, UnknownDatatype, NothingToPrint, Unreadable, TooLarge };

// order is the reply's "order" object.
std::variant<SpoolPayload, SpoolError> ParseSpool(const nlohmann::json &order);

// Standard Base64; blanks are skipped anywhere and padding is optional.
// Nothing when the text is not valid Base64.
std::optional<std::vector<std::uint8_t>> DecodeBase64Strict(std::string_view text);

// The reason sent with the "FAILED" report.
QString SpoolErrorMessage(SpoolError error);

}  // namespace vek::agent
