#include "updatemanifest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QRegularExpression>
#include <QVersionNumber>

#include <cmath>

namespace vek::update {
namespace {

// \A and \z anchor at the very ends: "$" would also match before a final
// newline, letting "1.2.3\n" pass as a version.
const QRegularExpression &VersionPattern()
{
    static const QRegularExpression pattern(QStringLiteral("\\A[0-9]+\\.[0-9]+\\.[0-9]+\\z"));
    return pattern;
}

const QRegularExpression &Sha256Pattern()
{
    static const QRegularExpression pattern(QStringLiteral("\\A[a-f0-9]{64}\\z"));
    return pattern;
}

const QRegularExpression &ThumbprintPattern()
{
    static const QRegularExpression pattern(QStringLiteral("\\A[a-f0-9]{40,64}\\z"));
    return pattern;
}

QString ExpectedProductName(int product)
{
    return product == kPrintAgentProduct ? QStringLiteral("Vek Print Agent")
                                         : QStringLiteral("Vek Diagnostic Viewer");
}

bool Matches(const QRegularExpression &pattern, const QString &text)
{
    return pattern.match(text).hasMatch();
}

// "sizeBytes" arrives as a double; it is range-checked before any conversion
// so that negative, huge or non-finite values cannot reach an integer cast.
bool SizeInRange(double size, quint64 *bytes)
{
    if (!std::isfinite(size) || size < 1.0 || size >= double(kMaxInstallerBytes) + 1.0)
        return false;
    *bytes = quint64(size);
    return *bytes >= 1 && *bytes <= kMaxInstallerBytes;
}

}  // namespace

bool IsTrustedUpdateUrlFor(const QUrl &url, const QString &trustedDomain)
{
    if (!url.isValid() || trustedDomain.isEmpty())
        return false;
    if (url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0)
        return false;
    const QString host = url.host(QUrl::FullyDecoded).toLower();
    return host == trustedDomain || host.endsWith(QLatin1Char('.') + trustedDomain);
}

bool IsVersionParsable(const QString &version)
{
    return !QVersionNumber::fromString(version).isNull();
}

int CompareVersions(const QString &left, const QString &right)
{
    const int order = QVersionNumber::compare(
        QVersionNumber::fromString(left), QVersionNumber::fromString(right));
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

ManifestCheck ParseUpdateManifest(const QByteArray &body, int product,
    const QString &currentVersion, const QString &trustedDomain)
{
    ManifestCheck check;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return check;
    const QJsonObject manifest = document.object();
    const QString version = manifest.value(QLatin1String("version")).toString();
    const QUrl url(manifest.value(QLatin1String("url")).toString(), QUrl::TolerantMode);
    const QString sha256 = manifest.value(QLatin1String("sha256")).toString();

    check.outcome = ManifestOutcome::FailedValidation;
    if (manifest.value(QLatin1String("schemaVersion")).toInt() != 1
        || manifest.value(QLatin1String("product")).toString() != ExpectedProductName(product)
        || manifest.value(QLatin1String("platform")).toString() != QLatin1String("windows-x64")
        || manifest.value(QLatin1String("installerType")).toString() != QLatin1String("exe")
        || !Matches(VersionPattern(), version) || !IsTrustedUpdateUrlFor(url, trustedDomain)
        || !Matches(Sha256Pattern(), sha256)
        || !Matches(
            ThumbprintPattern(), manifest.value(QLatin1String("signerThumbprint")).toString()))
        return check;

    if (!IsVersionParsable(currentVersion) || !IsVersionParsable(version)) {
        check.outcome = ManifestOutcome::VersionInvalid;
        return check;
    }
    if (CompareVersions(version, currentVersion) <= 0) {
        check.outcome = ManifestOutcome::NoUpdate;
        return check;
    }
    if (!SizeInRange(manifest.value(QLatin1String("sizeBytes")).toDouble(0.0), &check.sizeBytes))
        return check;

    check.outcome = ManifestOutcome::UpdateOffered;
    check.version = version;
    check.url = url;
    check.sha256 = sha256;
    return check;
}

QString ManifestFailureText(ManifestOutcome outcome)
{
    switch (outcome) {
    case ManifestOutcome::Invalid:
        return QStringLiteral("The update response is invalid.");
    case ManifestOutcome::FailedValidation:
        return QStringLiteral("The update response failed security validation.");
    case ManifestOutcome::VersionInvalid:
        return QStringLiteral("The update version is invalid.");
    case ManifestOutcome::NoUpdate:
    case ManifestOutcome::UpdateOffered:
        break;
    }
    return {};
}

}  // namespace vek::update
