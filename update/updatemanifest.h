#pragma once
// The update manifest that the maker publishes: its validation and the
// version comparison, as a pure function of the body and what the program
// knows about itself.

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace vek::update {

inline constexpr qsizetype kMaxManifestBytes = 65536;
inline constexpr quint64 kMaxInstallerBytes = 0x20000000;  // 512 MiB

enum class ManifestOutcome {
    Invalid,  // not JSON, or not an object
    FailedValidation,  // a rule broken, or the size out of range for a newer version
    VersionInvalid,  // the running or the offered version has no numeric segment
    NoUpdate,
    UpdateOffered,
};

struct ManifestCheck {
    ManifestOutcome outcome = ManifestOutcome::Invalid;
    QString version;  // set with UpdateOffered
    QUrl url;
    QString sha256;
    quint64 sizeBytes = 0;
};

// The print agent's product kind; any other value is the sibling product.
inline constexpr int kPrintAgentProduct = 1;

// True for an https URL whose host is trustedDomain or lies below it.
bool IsTrustedUpdateUrlFor(const QUrl &url, const QString &trustedDomain);

ManifestCheck ParseUpdateManifest(const QByteArray &body, int product,
    const QString &currentVersion, const QString &trustedDomain);

// The failure sentence of a check outcome; empty for NoUpdate and UpdateOffered.
QString ManifestFailureText(ManifestOutcome outcome);

// Dotted numeric versions: segment by segment, and with equal common
// segments the longer one is greater. A version without a leading numeric
// segment is not parsable.
bool IsVersionParsable(const QString &version);
int CompareVersions(const QString &left, const QString &right);

}  // namespace vek::update
