// Journal files are read back after crashes and outside influence: a record
// that is sent must be a complete report, and a STARTED record is never sent
// as it stands.

#include "agent/clinicapi.h"
#include "agent/printjournal.h"

#include <cstddef>
#include <cstdint>

namespace clinic = vek::agent::clinic;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const vek::agent::JournalRecord record = vek::agent::ParseJournalRecord(bytes);
    if (record.kind != vek::agent::JournalRecord::Report)
        return 0;
    const QJsonObject &report = record.report;
    const QString outcome = report.value(clinic::kOutcome).toString();
    if (report.value(clinic::kOrderId).toString().isEmpty()
        || report.value(clinic::kClaimToken).toString().isEmpty()
        || (outcome != QLatin1String(clinic::kSpooled) && outcome != QLatin1String(clinic::kFailed))
        || bytes.size() > vek::agent::kMaxJournalBytes)
        __builtin_trap();
    return 0;
}
