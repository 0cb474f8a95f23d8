// Update manifests come from the network: whatever the bytes, an offer must
// carry a well-formed version, a trusted URL, a digest and a size in range.

#include "update/updatemanifest.h"

#include <QRegularExpression>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString domain = QStringLiteral("vekworks.example");
    const auto check = vek::update::ParseUpdateManifest(body, 1, QStringLiteral("1.0.38"), domain);
    if (check.outcome == vek::update::ManifestOutcome::UpdateOffered) {
        static const QRegularExpression version(QStringLiteral("\\A[0-9]+\\.[0-9]+\\.[0-9]+\\z"));
        if (!version.match(check.version).hasMatch() || check.sha256.size() != 64
            || !vek::update::IsTrustedUpdateUrlFor(check.url, domain) || check.sizeBytes == 0
            || check.sizeBytes > vek::update::kMaxInstallerBytes
            || vek::update::CompareVersions(check.version, QStringLiteral("1.0.38")) <= 0)
            __builtin_trap();
    }
    return 0;
}
