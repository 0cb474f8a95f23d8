// The signature check of installers made and signed at test time, and the
// portable reader of their headers.

#include "platform/installersignature.h"
#include "platform/pefile.h"
#include "signedinstaller.h"
#include "tests/harness/testca.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using vek::platform::SignatureVerdict;
using vek::test::Bend;
using vek::test::InstallerSigner;

Q_DECLARE_METATYPE(SignatureVerdict)
Q_DECLARE_METATYPE(InstallerSigner)

namespace {

QString WriteTemporary(QTemporaryDir &directory, const QByteArray &bytes)
{
    const QString path = directory.filePath(QStringLiteral("installer.exe"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return {};
    return path;
}

}  // namespace

Q_DECLARE_METATYPE(vek::test::Bend)

class InstallerSignatureTest : public QObject {
    Q_OBJECT
private slots:
    void verdicts_data();
    void verdicts();
    void fileVersionIsRead();
    void pinForms_data();
    void pinForms();
    void texts();
};

void InstallerSignatureTest::verdicts_data()
{
    QTest::addColumn<InstallerSigner>("signer");
    QTest::addColumn<Bend>("bend");
    QTest::addColumn<SignatureVerdict>("expected");
    QTest::newRow("signed under the pinned root")
        << InstallerSigner::Trusted << Bend::None << SignatureVerdict::Accepted;
    QTest::newRow("checksum field changed")
        << InstallerSigner::Trusted << Bend::ChangeChecksum << SignatureVerdict::Accepted;
    QTest::newRow("tampered body")
        << InstallerSigner::Trusted << Bend::FlipBodyByte << SignatureVerdict::NotVerified;
    QTest::newRow("unsigned") << InstallerSigner::Unsigned << Bend::None
                              << SignatureVerdict::NotSigned;
    QTest::newRow("another root") << InstallerSigner::OtherRoot << Bend::None
                                  << SignatureVerdict::WrongAuthority;
    QTest::newRow("leaf without code-signing usage")
        << InstallerSigner::WithoutCodeSigningUsage << Bend::None << SignatureVerdict::NotVerified;
    QTest::newRow("junk inside the signature block")
        << InstallerSigner::Trusted << Bend::JunkInsideBlock << SignatureVerdict::NotVerified;
    QTest::newRow("bytes after the table")
        << InstallerSigner::Trusted << Bend::AppendAfterTable << SignatureVerdict::NotVerified;
    QTest::newRow("truncated signature")
        << InstallerSigner::Trusted << Bend::TruncateSignature << SignatureVerdict::NotVerified;
    QTest::newRow("second certificate entry")
        << InstallerSigner::Trusted << Bend::SecondCertificateEntry
        << SignatureVerdict::NotVerified;
}

void InstallerSignatureTest::verdicts()
{
    QFETCH(InstallerSigner, signer);
    QFETCH(Bend, bend);
    QFETCH(SignatureVerdict, expected);
    QString error;
    const QByteArray installer = vek::test::MakeInstaller(QStringLiteral("2.0.0"), signer, &error);
    QVERIFY2(!installer.isEmpty(), qPrintable(error));
    QTemporaryDir directory;
    const QString path = WriteTemporary(directory, vek::test::Bent(installer, bend));
    QVERIFY(!path.isEmpty());
    const std::string pin = vek::test::CodeSigningCertificatesForProcess().rootSha1.toStdString();
    QCOMPARE(vek::platform::VerifyInstallerSignature(path.toStdWString(), pin), expected);
}

void InstallerSignatureTest::fileVersionIsRead()
{
    QString error;
    const QByteArray installer
        = vek::test::MakeInstaller(QStringLiteral("3.14.159"), InstallerSigner::Trusted, &error);
    QVERIFY2(!installer.isEmpty(), qPrintable(error));
    const auto bytes = vek::platform::PeBytesOfMemory(
        reinterpret_cast<const std::uint8_t *>(installer.constData()),
        std::size_t(installer.size()));
    const auto version = vek::platform::ReadPeFileVersion(bytes);
    QVERIFY(version);
    QCOMPARE((*version)[0], 3);
    QCOMPARE((*version)[1], 14);
    QCOMPARE((*version)[2], 159);
    QCOMPARE((*version)[3], 0);
    QCOMPARE(vek::platform::ReadPeSignature(bytes).state, vek::platform::PeSignatureState::Signed);
    QVERIFY(!vek::platform::ReadPeFileVersion(vek::platform::PeBytesOfMemory(nullptr, 0)));
}

void InstallerSignatureTest::pinForms_data()
{
    QTest::addColumn<QString>("pin");
    QTest::addColumn<SignatureVerdict>("expected");
    const QString root = vek::test::CodeSigningCertificatesForProcess().rootSha1;
    QTest::newRow("upper case with separators") << root.toUpper().replace(
        QRegularExpression(QStringLiteral("(..)")), QStringLiteral("\\1:"))
                                                << SignatureVerdict::Accepted;
    QTest::newRow("empty pin never accepts") << QString() << SignatureVerdict::WrongAuthority;
    QTest::newRow("prefix of the pin") << root.left(39) << SignatureVerdict::WrongAuthority;
    QTest::newRow("another root's pin")
        << vek::test::CodeSigningCertificatesForProcess().otherRootSha1
        << SignatureVerdict::WrongAuthority;
}

void InstallerSignatureTest::pinForms()
{
    QFETCH(QString, pin);
    QFETCH(SignatureVerdict, expected);
    const QByteArray installer
        = vek::test::MakeInstaller(QStringLiteral("2.0.0"), InstallerSigner::Trusted);
    QVERIFY(!installer.isEmpty());
    QTemporaryDir directory;
    const QString path = WriteTemporary(directory, installer);
    QCOMPARE(
        vek::platform::VerifyInstallerSignature(path.toStdWString(), pin.toStdString()), expected);
}

void InstallerSignatureTest::texts()
{
    QCOMPARE(vek::platform::NormalizeThumbprint("AB:cd 0x9-Z"), std::string("abcd09"));
    QCOMPARE(QLatin1String(vek::platform::VerdictText(SignatureVerdict::WrongAuthority)),
        QLatin1String("signed by a different authority"));
    QCOMPARE(
        QLatin1String(vek::platform::VerdictText(SignatureVerdict(7))), QLatin1String("unknown"));
    QTemporaryDir directory;
    QCOMPARE(vek::platform::VerifyInstallerSignature(
                 directory.filePath(QStringLiteral("missing.exe")).toStdWString(), "00"),
        SignatureVerdict::Uncheckable);
}

QTEST_GUILESS_MAIN(InstallerSignatureTest)
#include "test_installersignature.moc"
