#include "agent/orderenvelope.h"

#include <QCoreApplication>

#include <limits>

namespace vek::agent {
namespace {

using Json = nlohmann::json;

// The member's value when obj is an object holding key; nullptr otherwise.
const Json *Member(const Json &obj, const char *key)
{
    if (!obj.is_object())
        return nullptr;
    const auto it = obj.find(key);
    return it == obj.end() ? nullptr : &*it;
}

std::string StringMember(const Json &obj, const char *key)
{
    const Json *value = Member(obj, key);
    return value && value->is_string() ? value->get_ref<const std::string &>() : std::string();
}

// An integral JSON number that fits 32 bits; anything else reads 0 (also a
// value that would wrap into the port range when narrowed).
std::int32_t PortMember(const Json &obj, const char *key)
{
    const Json *value = Member(obj, key);
    if (!value)
        return 0;
    constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
    constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
    if (value->is_number_unsigned()) {
        const auto n = value->get_ref<const Json::number_unsigned_t &>();
        return n <= static_cast<Json::number_unsigned_t>(kMax) ? static_cast<std::int32_t>(n) : 0;
    }
    if (value->is_number_integer()) {
        const auto n = value->get_ref<const Json::number_integer_t &>();
        return n >= kMin && n <= kMax ? static_cast<std::int32_t>(n) : 0;
    }
    return 0;
}

std::optional<OrderKind> KindFrom(const std::string &text)
{
    if (text == "LABEL")
        return OrderKind::Label;
    if (text == "DOCUMENT")
        return OrderKind::Document;
    if (text == "FILM")
        return OrderKind::Film;
    return std::nullopt;
}

std::optional<PrinterTransport> TransportFrom(const std::string &text)
{
    if (text == "SYSTEM")
        return PrinterTransport::System;
    if (text == "ZPL_TCP")
        return PrinterTransport::ZplTcp;
    if (text == "DICOM_SCU")
        return PrinterTransport::DicomScu;
    return std::nullopt;
}

bool IsUsablePort(std::int32_t port)
{
    return port >= 1 && port <= 65535;
}

// Empty when the printer can be reached by its transport.
std::string AddressProblem(const PrintOrder &order)
{
    switch (order.transport) {
    case PrinterTransport::System:
        if (order.systemName.empty())
            return "The printer has no queue name on this workstation.";
        break;
    case PrinterTransport::ZplTcp:
        if (order.host.empty() || !IsUsablePort(order.port))
            return "The label printer has no usable address.";
        break;
    case PrinterTransport::DicomScu:
        if (order.host.empty() || !IsUsablePort(order.port))
            return "The film printer has no usable address.";
        if (order.aeTitle.empty())
            return "The film printer has no called AE title.";
        break;
    }
    return {};
}

int Base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

bool IsBase64Blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

OrderParse ParseOrder(const Json &reply)
{
    const Json *order = Member(reply, "order");
    if (!order || !order->is_object())
        return NoOrder {};
    const std::string id = StringMember(*order, "id");
    if (id.empty())
        return NoOrder {};

    const Json *kindValue = Member(*order, "kind");
    const auto kind = kindValue && kindValue->is_string()
        ? KindFrom(kindValue->get_ref<const std::string &>())
        : std::nullopt;
    if (!kind)
        return OrderRefusal { id, "This workstation does not understand the job type." };

    const Json *printer = Member(*order, "printer");
    if (!printer || !printer->is_object())
        return OrderRefusal { id, "The order arrived without a printer." };

    const Json *transportValue = Member(*printer, "transport");
    const auto transport = transportValue && transportValue->is_string()
        ? TransportFrom(transportValue->get_ref<const std::string &>())
        : std::nullopt;
    if (!transport)
        return OrderRefusal { id, "This workstation does not support that printer connection." };

    PrintOrder result;
    result.id = id;
    result.kind = *kind;
    result.transport = *transport;
    result.name = StringMember(*printer, "name");
    result.systemName = StringMember(*printer, "systemName");
    result.host = StringMember(*printer, "host");
    result.port = PortMember(*printer, "port");
    result.aeTitle = StringMember(*printer, "aeTitle");

    if (std::string problem = AddressProblem(result); !problem.empty())
        return OrderRefusal { id, std::move(problem) };

    if (const Json *payload = Member(*order, "payload"))
        result.payload = *payload;
    return result;
}

std::variant<SpoolPayload, SpoolError> ParseSpool(const Json &order)
{
    const Json *spool = Member(order, "spool");
    if (!spool || spool->is_null())
        return SpoolError::NoSpool;
    if (!spool->is_object())
        return SpoolError::NothingToPrint;

    const Json *datatype = Member(*spool, "datatype");
    if (!datatype || !datatype->is_string() || datatype->get_ref<const std::string &>() != "RAW")
        return SpoolError::UnknownDatatype;

    const Json *encoded = Member(*spool, "dataBase64");
    if (!encoded || !encoded->is_string())
        return SpoolError::NothingToPrint;

    auto data = DecodeBase64Strict(encoded->get_ref<const std::string &>());
    if (!data)
        return SpoolError::Unreadable;
    if (data->empty())
        return SpoolError::NothingToPrint;
    if (data->size() > kMaxSpoolBytes)
        return SpoolError::TooLarge;

    SpoolPayload payload;
    payload.datatype = SpoolDatatype::Raw;
    // An empty name is kept: the spooler gives such a job its default title.
    const Json *documentName = Member(*spool, "documentName");
    payload.documentName = documentName && documentName->is_string()
        ? documentName->get_ref<const std::string &>()
        : std::string("Vek print job");
    payload.data = std::move(*data);
    return payload;
}

std::optional<std::vector<std::uint8_t>> DecodeBase64Strict(std::string_view text)
{
    std::vector<std::uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t pending = 0;  // the low pendingBits bits are not yet emitted
    int pendingBits = 0;
    int padding = 0;
    for (const char c : text) {
        if (IsBase64Blank(c))
            continue;
        if (c == '=') {
            ++padding;
            continue;
        }
        if (padding > 0)
            return std::nullopt;
        const int value = Base64Value(c);
        if (value < 0)
            return std::nullopt;
        pending = (pending << 6) | static_cast<std::uint32_t>(value);
        pendingBits += 6;
        if (pendingBits >= 8) {
            pendingBits -= 8;
            out.push_back(static_cast<std::uint8_t>(pending >> pendingBits));
            pending &= (1u << pendingBits) - 1u;
        }
    }
    if (padding > 2 || pendingBits == 6 || pending != 0)
        return std::nullopt;
    return out;
}

QString SpoolErrorMessage(SpoolError error)
{
    switch (error) {
    case SpoolError::NoSpool:
        return QCoreApplication::translate(
            "vek::agent", "This job arrived without anything to send to the printer.");
    case SpoolError::UnknownDatatype:
        return QStringLiteral("This workstation does not understand how the job was prepared.");
    case SpoolError::NothingToPrint:
        return QStringLiteral("The job arrived with nothing to print.");
    case SpoolError::Unreadable:
        return QStringLiteral("The job's data could not be read.");
    case SpoolError::TooLarge:
        return QStringLiteral("The job is too large for this workstation to spool.");
    }
    return QStringLiteral("The job's data could not be read.");
}

}  // namespace vek::agent
