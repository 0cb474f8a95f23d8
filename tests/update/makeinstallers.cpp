// Writes the installers of the signature attack table, built and signed at
// test time, into a folder for the Windows backend's tests under Wine, with
// the pins of the two test roots.
//   vek_makeinstallers <folder>

#include "signedinstaller.h"
#include "tests/harness/testca.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>

using vek::test::Bend;
using vek::test::InstallerSigner;

namespace {

bool Write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return !bytes.isEmpty() && file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(bytes) == bytes.size();
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: vek_makeinstallers <folder>\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral(".")))
        return 1;
    struct Made {
        const char *name;
        InstallerSigner signer;
        Bend bend;
    };
    const Made table[] = {
        { "trusted.exe", InstallerSigner::Trusted, Bend::None },
        { "checksum-changed.exe", InstallerSigner::Trusted, Bend::ChangeChecksum },
        { "tampered.exe", InstallerSigner::Trusted, Bend::FlipBodyByte },
        { "unsigned.exe", InstallerSigner::Unsigned, Bend::None },
        { "other-root.exe", InstallerSigner::OtherRoot, Bend::None },
        { "no-code-signing.exe", InstallerSigner::WithoutCodeSigningUsage, Bend::None },
        { "junk-in-block.exe", InstallerSigner::Trusted, Bend::JunkInsideBlock },
        { "appended.exe", InstallerSigner::Trusted, Bend::AppendAfterTable },
        { "truncated.exe", InstallerSigner::Trusted, Bend::TruncateSignature },
        { "second-entry.exe", InstallerSigner::Trusted, Bend::SecondCertificateEntry },
    };
    for (const Made &made : table) {
        QString error;
        const QByteArray installer
            = vek::test::MakeInstaller(QStringLiteral("2.0.0"), made.signer, &error);
        if (!Write(
                folder.filePath(QLatin1String(made.name)), vek::test::Bent(installer, made.bend))) {
            std::fprintf(stderr, "%s: %s\n", made.name, qPrintable(error));
            return 1;
        }
    }
    const auto &material = vek::test::CodeSigningCertificatesForProcess();
    return Write(folder.filePath(QStringLiteral("root.sha1")), material.rootSha1.toLatin1())
            && Write(folder.filePath(QStringLiteral("other-root.sha1")),
                material.otherRootSha1.toLatin1())
        ? 0
        : 1;
}
