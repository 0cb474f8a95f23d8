#pragma once
// Windows installers made at test time: a tiny program built with mingw-w64,
// carrying a version resource, signed with osslsigncode under the test
// code-signing roots. Nothing signed is checked in.

#include <QByteArray>
#include <QString>

namespace vek::test {

enum class InstallerSigner {
    Unsigned,
    Trusted,  // the test code-signing root's signer
    OtherRoot,  // a signer under an unrelated root
    WithoutCodeSigningUsage,  // a leaf of the right root without the usage
};

// The bytes of an installer whose version resource says version (a.b.c);
// empty with a message in error when a tool failed. Results are cached for
// the process.
QByteArray MakeInstaller(const QString &version, InstallerSigner signer, QString *error = nullptr);

// Offsets in a PE32+ file, for tests that bend one on purpose.
struct PeOffsets {
    qsizetype checksum = -1;
    qsizetype certificateEntry = -1;  // the directory entry: offset, size
    qsizetype firstSection = -1;  // raw data of the first section
};
PeOffsets FindPeOffsets(const QByteArray &file);

quint32 ReadU32(const QByteArray &bytes, qsizetype offset);
void WriteU32(QByteArray &bytes, qsizetype offset, quint32 value);

QString Sha256Hex(const QByteArray &bytes);

// Ways to bend a signed installer, each one an attack on the signature
// check or, for ChangeChecksum, a change it must tolerate.
enum class Bend {
    None,
    FlipBodyByte,
    ChangeChecksum,
    JunkInsideBlock,
    AppendAfterTable,
    TruncateSignature,
    SecondCertificateEntry,
};
QByteArray Bent(QByteArray file, Bend bend);

}  // namespace vek::test
