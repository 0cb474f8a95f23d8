#pragma once
// What the agent sends to clinic servers and reads from their answers: the
// request paths, body keys and fixed values, in one place. Every request is
// a JSON POST through NodeClient.

namespace vek::agent::clinic {

// Local-node requests (a workstation enrolled with a node's enrolment secret).
inline constexpr char kEnrolPath[] = "/api/local-node/print-agent/enrol";
inline constexpr char kCheckInPath[] = "/api/local-node/desktop/print/agent";
inline constexpr char kClaimPath[] = "/api/local-node/desktop/print/claim";
inline constexpr char kReportPath[] = "/api/local-node/desktop/print/report";

// Desktop printing requests (paired servers): this prefix and one of the names.
inline constexpr char kDesktopPrintingPrefix[] = "/api/desktop/printing/";
inline constexpr char kDesktopEnrol[] = "enrol";
inline constexpr char kDesktopServers[] = "servers";
inline constexpr char kDesktopAnnounce[] = "announce";
inline constexpr char kDesktopClaim[] = "claim";
inline constexpr char kDesktopReport[] = "report";

// Body keys sent.
inline constexpr char kDeviceId[] = "deviceId";
inline constexpr char kDisplayName[] = "displayName";
inline constexpr char kAppVersion[] = "appVersion";
inline constexpr char kEnrolmentSecret[] = "enrolmentSecret";
inline constexpr char kCode[] = "code";
inline constexpr char kOrderId[] = "orderId";
inline constexpr char kOutcome[] = "outcome";
inline constexpr char kReason[] = "reason";
inline constexpr char kQueues[] = "queues";
inline constexpr char kBurners[] = "burners";
inline constexpr char kProtocol[] = "protocol";
inline constexpr char kServers[] = "servers";
inline constexpr char kClaimToken[] = "claimToken";
inline constexpr char kSpoolJobId[] = "spoolJobId";

// Keys read from answers.
inline constexpr char kToken[] = "token";
inline constexpr char kError[] = "error";
inline constexpr char kOrder[] = "order";
inline constexpr char kUrl[] = "url";
inline constexpr char kState[] = "state";
inline constexpr char kId[] = "id";
inline constexpr char kPrinter[] = "printer";
inline constexpr char kSystemName[] = "systemName";
inline constexpr char kProfile[] = "profile";
inline constexpr char kVersion[] = "version";
inline constexpr char kCopies[] = "copies";
inline constexpr char kDocumentBase64[] = "documentBase64";
inline constexpr char kContentHash[] = "contentHash";

// Outcomes of a report.
inline constexpr char kStarted[] = "STARTED";
inline constexpr char kCompleted[] = "COMPLETED";
inline constexpr char kFailed[] = "FAILED";
inline constexpr char kSpooled[] = "SPOOLED";

// Reasons of a desktop print report.
inline constexpr char kOutcomeUnknown[] = "PRINT_OUTCOME_UNKNOWN";
inline constexpr char kDocumentInvalid[] = "PRINT_DOCUMENT_INVALID";

// Error codes of pairing-code enrolment.
inline constexpr char kPairingExpired[] = "PRINT_PAIRING_EXPIRED";
inline constexpr char kPairingUnavailable[] = "PRINT_MODE_UNAVAILABLE";

}  // namespace vek::agent::clinic
