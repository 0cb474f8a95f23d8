// The manifest rules and the version comparison, on the pure parser.

#include "update/updatemanifest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using vek::update::ManifestOutcome;

Q_DECLARE_METATYPE(ManifestOutcome)

namespace {

const QString kDomain = QStringLiteral("vekworks.example");

QJsonObject ValidManifest()
{
    return {
        { "schemaVersion", 1 },
        { "product", "Vek Print Agent" },
        { "platform", "windows-x64" },
        { "installerType", "exe" },
        { "version", "1.0.39" },
        { "url", "https://downloads.vekworks.example/agent/Vek-1.0.39.exe" },
        { "sha256", QString(64, QLatin1Char('a')) },
        { "signerThumbprint", QString(40, QLatin1Char('0')) },
        { "sizeBytes", 1234567 },
    };
}

QByteArray With(const QString &key, const QJsonValue &value)
{
    QJsonObject manifest = ValidManifest();
    if (value.isUndefined())
        manifest.remove(key);
    else
        manifest.insert(key, value);
    return QJsonDocument(manifest).toJson();
}

}  // namespace

class UpdateManifestTest : public QObject {
    Q_OBJECT
private slots:
    void outcomes_data();
    void outcomes();
    void offerCarriesTheManifestValues();
    void trustedUrls_data();
    void trustedUrls();
    void versionOrder_data();
    void versionOrder();
};

void UpdateManifestTest::outcomes_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("current");
    QTest::addColumn<int>("product");
    QTest::addColumn<ManifestOutcome>("expected");
    const QString current = QStringLiteral("1.0.38");
    const ManifestOutcome rejected = ManifestOutcome::FailedValidation;
    const QJsonValue absent(QJsonValue::Undefined);

    QTest::newRow("valid newer") << With("x", 1) << current << 1 << ManifestOutcome::UpdateOffered;
    QTest::newRow("not json") << QByteArray("{") << current << 1 << ManifestOutcome::Invalid;
    QTest::newRow("array") << QByteArray("[]") << current << 1 << ManifestOutcome::Invalid;
    QTest::newRow("schema as string") << With("schemaVersion", "1") << current << 1 << rejected;
    QTest::newRow("schema 1.0") << QByteArray(
        With("schemaVersion", 1).replace("\"schemaVersion\": 1", "\"schemaVersion\": 1.0"))
                                << current << 1 << ManifestOutcome::UpdateOffered;
    QTest::newRow("schema 2") << With("schemaVersion", 2) << current << 1 << rejected;
    QTest::newRow("viewer manifest for the agent")
        << With("product", "Vek Diagnostic Viewer") << current << 1 << rejected;
    QTest::newRow("viewer product kind") << With("product", "Vek Diagnostic Viewer") << current << 2
                                         << ManifestOutcome::UpdateOffered;
    QTest::newRow("platform") << With("platform", "windows-x86") << current << 1 << rejected;
    QTest::newRow("installer type") << With("installerType", "msi") << current << 1 << rejected;
    QTest::newRow("version 1.2") << With("version", "1.2") << current << 1 << rejected;
    QTest::newRow("version 1.2.3.4") << With("version", "1.2.3.4") << current << 1 << rejected;
    QTest::newRow("version with newline") << With("version", "1.2.3\n") << current << 1 << rejected;
    QTest::newRow("version with arabic digits")
        << With("version", QString::fromUtf8("\u0661.0.40")) << current << 1 << rejected;
    QTest::newRow("plain http url")
        << With("url", "http://downloads.vekworks.example/a.exe") << current << 1 << rejected;
    QTest::newRow("lookalike host")
        << With("url", "https://evilvekworks.example/a.exe") << current << 1 << rejected;
    QTest::newRow("upper-case sha256")
        << With("sha256", QString(64, QLatin1Char('A'))) << current << 1 << rejected;
    QTest::newRow("sha256 with newline")
        << With("sha256", QString(64, QLatin1Char('a')) + "\n") << current << 1 << rejected;
    QTest::newRow("short thumbprint")
        << With("signerThumbprint", QString(39, QLatin1Char('0'))) << current << 1 << rejected;
    QTest::newRow("thumbprint as number")
        << With("signerThumbprint", 12) << current << 1 << rejected;
    QTest::newRow("same version") << With("version", "1.0.38") << current << 1
                                  << ManifestOutcome::NoUpdate;
    QTest::newRow("same version, no size")
        << With("version", "1.0.38").replace("\"sizeBytes\": 1234567", "\"x\": 0") << current << 1
        << ManifestOutcome::NoUpdate;
    QTest::newRow("older 1.0.4") << With("version", "1.0.4") << current << 1
                                 << ManifestOutcome::NoUpdate;
    QTest::newRow("1.1.0") << With("version", "1.1.0") << current << 1
                           << ManifestOutcome::UpdateOffered;
    QTest::newRow("empty current version")
        << With("x", 1) << QString() << 1 << ManifestOutcome::VersionInvalid;
    QTest::newRow("size 512 MiB") << With("sizeBytes", 536870912.0) << current << 1
                                  << ManifestOutcome::UpdateOffered;
    QTest::newRow("size one more") << With("sizeBytes", 536870913.0) << current << 1 << rejected;
    QTest::newRow("size 0") << With("sizeBytes", 0) << current << 1 << rejected;
    QTest::newRow("size negative") << With("sizeBytes", -5) << current << 1 << rejected;
    QTest::newRow("size huge") << With("sizeBytes", 1e300) << current << 1 << rejected;
    QTest::newRow("size fraction below one") << With("sizeBytes", 0.5) << current << 1 << rejected;
    QTest::newRow("size missing") << With("sizeBytes", absent) << current << 1 << rejected;
    QTest::newRow("size as string") << With("sizeBytes", "100") << current << 1 << rejected;
}

void UpdateManifestTest::outcomes()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, current);
    QFETCH(int, product);
    QFETCH(ManifestOutcome, expected);
    QCOMPARE(vek::update::ParseUpdateManifest(body, product, current, kDomain).outcome, expected);
}

void UpdateManifestTest::offerCarriesTheManifestValues()
{
    const auto check
        = vek::update::ParseUpdateManifest(With("x", 1), 1, QStringLiteral("1.0.38"), kDomain);
    QCOMPARE(check.outcome, ManifestOutcome::UpdateOffered);
    QCOMPARE(check.version, QStringLiteral("1.0.39"));
    QCOMPARE(
        check.url, QUrl(QStringLiteral("https://downloads.vekworks.example/agent/Vek-1.0.39.exe")));
    QCOMPARE(check.sha256, QString(64, QLatin1Char('a')));
    QCOMPARE(check.sizeBytes, quint64(1234567));
    QCOMPARE(vek::update::ManifestFailureText(ManifestOutcome::FailedValidation),
        QStringLiteral("The update response failed security validation."));
}

void UpdateManifestTest::trustedUrls_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("trusted");
    QTest::newRow("domain itself") << "https://vekworks.example/x" << true;
    QTest::newRow("deep subdomain") << "https://a.b.c.vekworks.example:8443/x?q#f" << true;
    QTest::newRow("scheme in capitals") << "HTTPS://Downloads.VEKWORKS.example/x" << true;
    QTest::newRow("plain http") << "http://vekworks.example/x" << false;
    QTest::newRow("same letters, no dot") << "https://evilvekworks.example/x" << false;
    QTest::newRow("domain as a label") << "https://vekworks.example.attacker.test/x" << false;
    QTest::newRow("user information") << "https://vekworks.example@attacker.test/x" << false;
    QTest::newRow("percent-encoded dot") << "https://attacker%2Evekworks.example/x" << true;
    QTest::newRow("ftp") << "ftp://vekworks.example/x" << false;
    QTest::newRow("empty") << "" << false;
}

void UpdateManifestTest::trustedUrls()
{
    QFETCH(QString, url);
    QFETCH(bool, trusted);
    QCOMPARE(vek::update::IsTrustedUpdateUrlFor(QUrl(url, QUrl::TolerantMode), kDomain), trusted);
}

void UpdateManifestTest::versionOrder_data()
{
    QTest::addColumn<QString>("left");
    QTest::addColumn<QString>("right");
    QTest::addColumn<int>("order");
    QTest::newRow("numeric segments") << "1.0.10"
                                      << "1.0.9" << 1;
    QTest::newRow("equal") << "1.0.38"
                           << "1.0.38" << 0;
    QTest::newRow("more segments is greater") << "1.0.0"
                                              << "1.0" << 1;
    QTest::newRow("suffix stops parsing") << "1.2.3-beta"
                                          << "1.2.3" << 0;
}

void UpdateManifestTest::versionOrder()
{
    QFETCH(QString, left);
    QFETCH(QString, right);
    QFETCH(int, order);
    QCOMPARE(vek::update::CompareVersions(left, right), order);
}

QTEST_GUILESS_MAIN(UpdateManifestTest)
#include "test_updatemanifest.moc"
